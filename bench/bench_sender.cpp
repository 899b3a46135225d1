// Sending one element of two packets to N spectators on loopback, beside a bare sendto loop over
// the same socket and the same addresses: the machine's limit. The spectators are N addresses of
// 127/8 on one port, where one socket, never read, takes (or drops) whatever arrives, so the
// figures are the sending side's alone. BM_FanOut takes turns, one element each, so that a load
// coming and going on a shared machine weighs on both figures of its ratio alike.
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

std::map<int, double> g_sender_rate;  // datagrams per second by N
std::map<int, double> g_bare_rate;
// BM_FanOut's seconds in the sender and in the bare loop over all its runs, by N.
std::map<int, std::pair<double, double>> g_fan_out;

uint32_t spectatorAddress(int i) { return INET_LOOPBACK + 1 + static_cast<uint32_t>(i); }

// The port the system gave a socket bound to port 0 (fixed ports collide with other runs).
int boundPort(const DatagramSocket& socket) {
    sockaddr_in bound{};
    socklen_t length = sizeof(bound);
    if (getsockname(socket.m_fd, reinterpret_cast<sockaddr*>(&bound), &length) != 0) return 0;
    return ntohs(bound.sin_port);
}

struct Setup {
    DatagramSocket m_socket;
    DatagramSocket m_sink;
    int m_port = 0;  // the spectators'
    ConnectionManager m_connections;
    StateManager m_mirror;
    NamesCollection m_names;
    PacketBuffer::BufferElement m_element;
    bool m_ok = false;

    explicit Setup(int n) {
        InetAddress here, sink;
        here.setLoopback(0);
        sink.setAny(0);
        m_ok = m_socket.init(&here) == 0 && m_sink.init(&sink) == 0;
        m_port = m_ok ? boundPort(m_sink) : 0;
        m_ok = m_ok && m_port > 0;
        m_mirror.allocate(0);
        m_connections.m_max = n;
        m_connections.m_max_per_address = n;
        for (int i = 0; i < n; i++) {
            ConnectionManager::Connection* c =
                m_connections.admit(spectatorAddress(i), m_port, 0);
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
    to.sin_port = htons(static_cast<uint16_t>(setup.m_port));
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

// One element by the sender, then the same datagrams by the bare loop, in turn.
void BM_FanOut(benchmark::State& state) {
    int n = static_cast<int>(state.range(0));
    Setup setup(n);
    if (!setup.m_ok) {
        state.SkipWithError("cannot open the loopback sockets");
        return;
    }
    SpectatorSender sender(&setup.m_socket, &setup.m_connections, &setup.m_mirror, &setup.m_names);
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(static_cast<uint16_t>(setup.m_port));
    std::chrono::duration<double> in_sender{0}, in_bare{0};
    long long elements = 0;
    for (auto _ : state) {
        auto began = std::chrono::steady_clock::now();
        sender.sendPhase(setup.m_element);
        auto middle = std::chrono::steady_clock::now();
        for (int i = 0; i < n; i++) {
            to.sin_addr.s_addr = htonl(spectatorAddress(i));
            for (Packet* p = setup.m_element.m_packets.first(); p != nullptr; p = p->m_next)
                sendto(setup.m_socket.m_fd, p->m_ptr, static_cast<size_t>(p->m_length), 0,
                       reinterpret_cast<sockaddr*>(&to), sizeof(to));
        }
        in_bare += std::chrono::steady_clock::now() - middle;
        in_sender += middle - began;
        elements++;
    }
    double datagrams = 2.0 * n * elements;
    double sender_rate = datagrams / in_sender.count();
    double bare_rate = datagrams / in_bare.count();
    state.counters["sender/s"] = benchmark::Counter(sender_rate);
    state.counters["bare/s"] = benchmark::Counter(bare_rate);
    state.counters["ratio"] = benchmark::Counter(sender_rate / bare_rate);
    g_fan_out[n].first += in_sender.count();
    g_fan_out[n].second += in_bare.count();
}

BENCHMARK(BM_SenderElement)->Arg(20)->Arg(200)->Arg(2000)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_BareSendto)->Arg(20)->Arg(200)->Arg(2000)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_FanOut)->Arg(20)->Arg(200)->Arg(2000)->Unit(benchmark::kMicrosecond);

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
    printf("\nin turns, the same datagrams (BM_FanOut, all its runs)\n");
    printf("spectators  sender s  bare sendto s  sender/bare  goal\n");
    for (const auto& [n, seconds] : g_fan_out) {
        if (seconds.first <= 0) continue;
        double ratio = seconds.second / seconds.first;
        printf("%10d  %8.3f  %13.3f  %11.2f  >= 0.9 %s\n", n, seconds.first, seconds.second, ratio,
               ratio >= 0.9 ? "met" : "MISSED");
    }
    return 0;
}
