// Sending one element of two packets to N spectators on loopback, beside a bare sendto loop over
// the same socket and the same addresses: the machine's limit. The spectators are N addresses of
// 127/8 on one port, where one socket, never read, takes (or drops) whatever arrives, so the
// figures are the sending side's alone.
#include <benchmark/benchmark.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <chrono>
#include <cstdio>
#include <map>
#include <string>

#include "broadcast/sender.h"
#include "stream/chunks.h"

namespace {

constexpr int kSenderPort = 52901;
constexpr int kSpectatorPort = 52902;

std::map<int, double> g_sender_rate;  // datagrams per second by N
std::map<int, double> g_bare_rate;

uint32_t spectatorAddress(int i) { return INET_LOOPBACK + 1 + static_cast<uint32_t>(i); }

struct Setup {
    DatagramSocket m_socket;
    DatagramSocket m_sink;
    ConnectionManager m_connections;
    StateManager m_mirror;
    NamesCollection m_names;
    PacketBuffer::BufferElement m_element;
    bool m_ok = false;

    explicit Setup(int n) {
        InetAddress here, sink;
        here.setLoopback(kSenderPort);
        sink.setAny(kSpectatorPort);
        m_ok = m_socket.init(&here) == 0 && m_sink.init(&sink) == 0;
        m_mirror.allocate(0);
        m_connections.m_max = n;
        for (int i = 0; i < n; i++) {
            ConnectionManager::Connection* c =
                m_connections.admit(spectatorAddress(i), kSpectatorPort, 0);
            c->m_fullStates = 0;  // up to date: the regular sending path
        }
        std::string line(240, 'x');  // two packets of about 500 and 250 bytes
        for (int i = 0; i < 3; i++) m_element.m_packets.addChunk(ChatPacketChunk(2, 1, line.c_str()));
        m_ok = m_ok && m_element.m_packets.count() == 2;
    }
    ~Setup() {
        m_socket.stop();
        m_sink.stop();
    }
};

void report(benchmark::State& state, std::map<int, double>& rates, long long datagrams,
            double seconds) {
    double rate = datagrams / seconds;
    rates[static_cast<int>(state.range(0))] = rate;
    state.counters["datagrams/s"] = benchmark::Counter(rate);
    state.SetItemsProcessed(datagrams);
}

void BM_SenderElement(benchmark::State& state) {
    int n = static_cast<int>(state.range(0));
    Setup setup(n);
    if (!setup.m_ok) {
        state.SkipWithError("cannot open the loopback sockets");
        return;
    }
    SpectatorSender sender(&setup.m_socket, &setup.m_connections, &setup.m_mirror, &setup.m_names);
    long long datagrams = 0;
    auto start = std::chrono::steady_clock::now();
    for (auto _ : state) {
        sender.sendPhase(setup.m_element);
        datagrams += 2LL * n;
    }
    std::chrono::duration<double> spent = std::chrono::steady_clock::now() - start;
    report(state, g_sender_rate, datagrams, spent.count());
}

void BM_BareSendto(benchmark::State& state) {
    int n = static_cast<int>(state.range(0));
    Setup setup(n);
    if (!setup.m_ok) {
        state.SkipWithError("cannot open the loopback sockets");
        return;
    }
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(kSpectatorPort);
    long long datagrams = 0;
    auto start = std::chrono::steady_clock::now();
    for (auto _ : state) {
        for (int i = 0; i < n; i++) {
            to.sin_addr.s_addr = htonl(spectatorAddress(i));
            for (Packet* p = setup.m_element.m_packets.first(); p != nullptr; p = p->m_next)
                sendto(setup.m_socket.m_fd, p->m_ptr, static_cast<size_t>(p->m_length), 0,
                       reinterpret_cast<sockaddr*>(&to), sizeof(to));
        }
        datagrams += 2LL * n;
    }
    std::chrono::duration<double> spent = std::chrono::steady_clock::now() - start;
    report(state, g_bare_rate, datagrams, spent.count());
}

BENCHMARK(BM_SenderElement)->Arg(20)->Arg(200)->Arg(2000)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_BareSendto)->Arg(20)->Arg(200)->Arg(2000)->Unit(benchmark::kMicrosecond);

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    printf("\nspectators  sender datagrams/s  bare sendto datagrams/s  sender/bare\n");
    for (const auto& [n, rate] : g_sender_rate) {
        auto bare = g_bare_rate.find(n);
        if (bare == g_bare_rate.end() || bare->second <= 0) continue;
        printf("%10d  %18.0f  %23.0f  %10.2f\n", n, rate, bare->second, rate / bare->second);
    }
    return 0;
}
