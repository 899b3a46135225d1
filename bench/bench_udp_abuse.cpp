// What a forged heartbeat can make the spectator sender do, from a recorded match (a demo file:
// the encoder's own elements).
//
// 1. Amplification: one heartbeat with a forged source makes the sender stream to that source
//    until the 5-second drop: two full states, then the regular packets. Measured at many
//    moments of the match (the sender's real phases over loopback, on a simulated clock), as
//    bytes sent per byte received.
// 2. A flood: heartbeats from many ports of one address, as fast as one thread sends them, while
//    spectators on other addresses watch. The sender thread runs for real, fed two elements a
//    second; each spectator's elements per second, their delay behind the feed and whether any
//    spectator lost its seat are printed without and with the flood.
#include <poll.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <memory>
#include <thread>
#include <vector>

#include "broadcast/mirror.h"
#include "broadcast/sender.h"
#include "demo/demo_reader.h"
#include "stream/chunks.h"

namespace {

constexpr int UDP_OVERHEAD = 28;  // IPv4 and UDP headers per datagram
constexpr int HEARTBEAT_BYTES = 6;
constexpr int ELEMENT_MS = 500;
constexpr int SPECTATORS = 8;
constexpr int FLOOD_PORTS = 512;
constexpr int PHASE_SECONDS = 8;
const char kBeat[HEARTBEAT_BYTES] = {0, 0, static_cast<char>(CHUNK_HBEAT), 2, 0, 0};

using Clock = std::chrono::steady_clock;

int64_t g_sim_now = 0;
int64_t simClock() { return g_sim_now; }

// Each socket its own port: with SO_REUSEADDR a second UDP socket could share a busy one.
bool bindLoopback(DatagramSocket& socket, uint32_t address, int* port) {
    static int next = 53100;
    for (; next < 60000;) {
        int p = next++;
        InetAddress here;
        here.set(address, p);
        if (socket.init(&here) == 0) {
            *port = p;
            return true;
        }
    }
    return false;
}

bool sendTo(DatagramSocket& socket, uint32_t address, int port, const char* data, int length) {
    InetAddress to;
    to.set(address, port);
    DatagramPacket out{&to, const_cast<char*>(data), length, length};
    return socket.send(&out, 100);
}

// Every record of the demo as an element (no reset marks: one map, played through).
std::vector<std::unique_ptr<PacketBuffer::BufferElement>> loadElements(const char* path) {
    std::vector<std::unique_ptr<PacketBuffer::BufferElement>> elements;
    FILE* file = fopen(path, "rb");
    if (file == nullptr) return elements;
    DemoReader demo(file);
    PacketManager record;
    if (demo.begin()) {
        while (demo.next(&record) == DemoStatus::record) {
            auto e = std::make_unique<PacketBuffer::BufferElement>();
            for (Packet* p = record.first(); p != nullptr; p = p->m_next)
                e->m_packets.addRaw(p->m_ptr, p->m_length);
            elements.push_back(std::move(e));
        }
    }
    fclose(file);
    return elements;
}

// Reads whatever is queued on socket; bytes and datagrams counted, IP and UDP headers included.
void drain(DatagramSocket& socket, long* bytes, long* datagrams) {
    char buffer[PACKET_SIZE + 16];
    InetAddress from;
    DatagramPacket in{&from, buffer, 0, sizeof buffer};
    while (socket.receive(&in, 0)) {
        *bytes += in.m_length + UDP_OVERHEAD;
        ++*datagrams;
    }
}

// --- 1. amplification ----------------------------------------------------------------------

struct Amplification {
    long bytes = 0;
    long datagrams = 0;
    int elements = 0;
};

// The forged source joins at element `join` (after the elements before it built the mirror) and
// never beats again. The clock ticks by 10 ms, as the idle receive phase does; the heartbeat
// arrives just before an element is due, the worst case.
Amplification forgedJoin(const std::vector<std::unique_ptr<PacketBuffer::BufferElement>>& elements,
                         size_t join, DatagramSocket& server, int server_port,
                         DatagramSocket& victim) {
    ConnectionManager connections;
    connections.m_max = 20;
    StateManager mirror;
    mirror.allocate(0);
    NamesCollection names;
    SpectatorSender sender(&server, &connections, &mirror, &names);
    sender.m_clock = simClock;
    sender.m_max_clients = MAX_PLAYERS;
    g_sim_now = 0;
    for (size_t i = 0; i < join; i++) sender.sendPhase(*elements[i]);

    Amplification a;
    sendTo(victim, INET_LOOPBACK, server_port, kBeat, HEARTBEAT_BYTES);
    sender.receivePhase();
    if (connections.count() != 1) return a;
    for (size_t i = join; i < elements.size() && connections.count() > 0; i++) {
        sender.sendPhase(*elements[i]);
        a.elements++;
        drain(victim, &a.bytes, &a.datagrams);
        for (int tick = 0; tick < ELEMENT_MS / SENDER_RECEIVE_WAIT_MS; tick++) {
            g_sim_now += SENDER_RECEIVE_WAIT_MS;
            connections.dropSilent(g_sim_now);
        }
    }
    return a;
}

bool measureAmplification(const std::vector<std::unique_ptr<PacketBuffer::BufferElement>>& elements) {
    DatagramSocket server, victim;
    int server_port = 0, victim_port = 0;
    if (!bindLoopback(server, INET_LOOPBACK, &server_port) ||
        !bindLoopback(victim, INET_LOOPBACK, &victim_port)) {
        fprintf(stderr, "bench_udp_abuse: cannot open loopback sockets\n");
        return false;
    }
    std::vector<double> ratios;
    long most = 0, least = -1, total = 0;
    int joins = 0, elements_sent = 0;
    // One join every 30 s of game time, each with the 5 s that follow inside the match.
    for (size_t join = 10; join + 12 < elements.size(); join += 60) {
        Amplification a = forgedJoin(elements, join, server, server_port, victim);
        if (a.elements == 0) continue;
        joins++;
        elements_sent += a.elements;
        total += a.bytes;
        most = std::max(most, a.bytes);
        least = least < 0 ? a.bytes : std::min(least, a.bytes);
    }
    server.stop();
    victim.stop();
    if (joins == 0) {
        fprintf(stderr, "bench_udp_abuse: the demo is too short (needs 40 s of game)\n");
        return false;
    }
    const int wire_in = HEARTBEAT_BYTES + UDP_OVERHEAD;
    double mean = double(total) / joins;
    printf("1. One forged heartbeat (%d bytes, %d on the wire), at %d moments of the match\n",
           HEARTBEAT_BYTES, wire_in, joins);
    printf("   elements sent before the drop  %.1f (2 full states, then regular packets)\n",
           double(elements_sent) / joins);
    printf("   bytes sent in the 5 s after    mean %.0f, least %ld, most %ld (IP+UDP included)\n",
           mean, least, most);
    printf("   amplification, wire bytes      mean %.0fx, most %.0fx\n", mean / wire_in,
           double(most) / wire_in);
    printf("   amplification, payload bytes   mean %.0fx\n", mean / HEARTBEAT_BYTES);
    printf("   sustained: one heartbeat per 5 s keeps %.0f bytes/s flowing to the forged source\n",
           mean / 5.0);
    return true;
}

// --- 2. a flood beside live spectators -----------------------------------------------------

struct Spectator {
    DatagramSocket m_socket;
    uint32_t m_address = 0;
    int m_port = 0;
    long m_elements = 0;
    int m_full_states = 0;
    std::vector<double> m_delays_ms;
};

struct Feed {
    std::vector<Clock::time_point> m_added;  // by element number
};

void* runSender(void* argument) {
    auto* pair = static_cast<std::pair<Thread*, SpectatorSender*>*>(argument);
    pair->second->run(pair->first);
    return nullptr;
}

void spectatorLoop(Spectator& s, int server_port, const Feed& feed, std::atomic<bool>& running) {
    NamesCollection names;
    ChunkReader reader(&names);
    char buffer[PACKET_SIZE + 16];
    InetAddress from;
    DatagramPacket in{&from, buffer, 0, sizeof buffer};
    auto next_beat = Clock::now();
    while (running.load()) {
        if (Clock::now() >= next_beat) {
            sendTo(s.m_socket, INET_LOOPBACK, server_port, kBeat, HEARTBEAT_BYTES);
            next_beat += std::chrono::seconds(1);
        }
        if (!s.m_socket.receive(&in, 20)) continue;
        auto arrived = Clock::now();
        Packet packet;
        packet.reset();
        memcpy(packet.m_data, buffer, size_t(in.m_length));
        packet.m_length = in.m_length;
        reader.begin(packet);
        bool first = true;
        while (PacketChunk* chunk = reader.next()) {
            if (first && chunk == &reader.m_hbeat) {
                PacketChunk* second = reader.next();
                if (second == &reader.m_map) s.m_full_states++;
            }
            first = false;
            if (chunk == &reader.m_rtime && reader.m_rtime.m_seconds < 0) {  // our mark
                size_t n = size_t(-1 - reader.m_rtime.m_seconds);
                if (n < feed.m_added.size()) {
                    s.m_elements++;
                    s.m_delays_ms.push_back(
                        std::chrono::duration<double, std::milli>(arrived - feed.m_added[n]).count());
                }
            }
        }
    }
}

void floodLoop(uint32_t address, int server_port, std::atomic<bool>& running, long* sent) {
    std::vector<std::unique_ptr<DatagramSocket>> sockets;
    for (int i = 0; i < FLOOD_PORTS; i++) {
        auto s = std::make_unique<DatagramSocket>();
        InetAddress any;
        any.set(address, 0);  // the system picks the port
        if (s->init(&any) == 0) sockets.push_back(std::move(s));
    }
    size_t i = 0;
    while (running.load() && !sockets.empty()) {
        if (sendTo(*sockets[i], INET_LOOPBACK, server_port, kBeat, HEARTBEAT_BYTES)) ++*sent;
        i = (i + 1) % sockets.size();
    }
    for (auto& s : sockets) s->stop();
}

double percentile(std::vector<double> v, double p) {
    if (v.empty()) return 0;
    std::sort(v.begin(), v.end());
    return v[std::min(v.size() - 1, size_t(p * double(v.size())))];
}

struct FloodResult {
    double flood_rate = 0;
    double elements_per_s = 0;  // per spectator, mean
    double p50 = 0, p99 = 0, worst = 0;
    int rejoined = 0;  // spectators that were dropped and joined again
    int seats = 0;     // connections at the end, spectators and flood
};

FloodResult floodPhase(const std::vector<std::unique_ptr<PacketBuffer::BufferElement>>& elements,
                       bool flood, int per_address) {
    FloodResult r;
    DatagramSocket server;
    int server_port = 0;
    if (!bindLoopback(server, INET_LOOPBACK, &server_port)) return r;
    ConnectionManager connections;
    connections.m_max = 20;
    connections.m_max_per_address = per_address;
    StateManager mirror;
    mirror.allocate(0);
    NamesCollection names;
    SpectatorSender sender(&server, &connections, &mirror, &names);
    sender.m_max_clients = MAX_PLAYERS;
    g_pck_buffer.clear();
    g_pck_buffer.m_delay = 0;  // every element is due as soon as it is queued

    Thread thread;
    std::pair<Thread*, SpectatorSender*> argument{&thread, &sender};
    thread.m_function = runSender;
    thread.m_argument = &argument;
    if (!thread.start()) return r;

    const int count = PHASE_SECONDS * 1000 / ELEMENT_MS;
    Feed feed;
    feed.m_added.resize(size_t(count));
    std::vector<std::unique_ptr<Spectator>> spectators;
    std::atomic<bool> running{true};
    std::vector<std::thread> threads;
    for (int i = 0; i < SPECTATORS; i++) {
        auto s = std::make_unique<Spectator>();
        s->m_address = INET_LOOPBACK + 2 + uint32_t(i);  // 127.0.0.3 on: each its own address
        if (!bindLoopback(s->m_socket, s->m_address, &s->m_port)) continue;
        spectators.push_back(std::move(s));
    }
    for (auto& s : spectators)
        threads.emplace_back(spectatorLoop, std::ref(*s), server_port, std::cref(feed), std::ref(running));
    std::this_thread::sleep_for(std::chrono::milliseconds(300));  // all have joined

    long flood_sent = 0;
    std::atomic<bool> flooding{flood};
    std::thread flooder;
    if (flood)
        flooder = std::thread(floodLoop, INET_LOOPBACK + 1, server_port, std::ref(flooding), &flood_sent);
    auto began = Clock::now();
    for (int n = 0; n < count; n++) {
        auto* e = new PacketBuffer::BufferElement;
        const PacketManager& source = elements[size_t(n) % elements.size()]->m_packets;
        for (Packet* p = source.first(); p != nullptr; p = p->m_next) e->m_packets.addRaw(p->m_ptr, p->m_length);
        // Numbers the element for the delay: a round clock below zero, which the game never says.
        e->m_packets.addChunk(RTimePacketChunk(-1 - n));
        feed.m_added[size_t(n)] = Clock::now();
        g_mut1.lock();
        g_pck_buffer.append(e);
        g_mut1.unlock();
        std::this_thread::sleep_until(began + std::chrono::milliseconds(ELEMENT_MS * (n + 1)));
    }
    double seconds = std::chrono::duration<double>(Clock::now() - began).count();
    flooding = false;
    if (flooder.joinable()) flooder.join();
    r.seats = connections.count();
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    running = false;
    for (auto& t : threads) t.join();
    thread.stop();
    server.stop();
    g_pck_buffer.clear();

    std::vector<double> delays;
    long received = 0;
    for (auto& s : spectators) {
        received += s->m_elements;
        delays.insert(delays.end(), s->m_delays_ms.begin(), s->m_delays_ms.end());
        if (s->m_full_states > 2) r.rejoined++;
        s->m_socket.stop();
    }
    r.flood_rate = flood_sent / seconds;
    r.elements_per_s = spectators.empty() ? 0 : double(received) / double(spectators.size()) / seconds;
    r.p50 = percentile(delays, 0.50);
    r.p99 = percentile(delays, 0.99);
    r.worst = delays.empty() ? 0 : *std::max_element(delays.begin(), delays.end());
    return r;
}

void printFlood(const char* label, const FloodResult& r) {
    printf("   %-30s %9.0f %9.2f %8.2f %8.2f %8.2f %8d %6d\n", label, r.flood_rate, r.elements_per_s,
           r.p50, r.p99, r.worst, r.rejoined, r.seats);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2 || strcmp(argv[1], "--help") == 0) {
        fprintf(stderr,
                "usage: bench_udp_abuse DEMOFILE\n"
                "Prints the amplification of one forged heartbeat (bytes the sender streams in\n"
                "the 5 s before its drop, per byte received) and how a heartbeat flood from many\n"
                "ports affects spectators already watching, from a recorded match.\n"
                "scripts/udp-abuse.sh records a 32-player match and runs this.\n");
        return 2;
    }
    auto elements = loadElements(argv[1]);
    if (elements.size() < 80) {
        fprintf(stderr, "bench_udp_abuse: %s is not a demo of 40 s or more\n", argv[1]);
        return 1;
    }
    if (!measureAmplification(elements)) return 3;

    if (!g_mut1.init()) {
        fprintf(stderr, "bench_udp_abuse: no mutex\n");
        return 3;
    }
    printf("\n2. %d spectators (each its own address) watching for %d s, 2 elements/s; a flood of\n"
           "   heartbeats from %d ports of one other address, sent as fast as one thread can\n",
           SPECTATORS, PHASE_SECONDS, FLOOD_PORTS);
    printf("   %-30s %9s %9s %8s %8s %8s %8s %6s\n", "", "flood/s", "elem/s", "p50 ms", "p99 ms",
           "max ms", "rejoined", "seats");
    printFlood("no flood", floodPhase(elements, false, DEFAULT_MAX_SPEC_PER_IP));
    printFlood("flood, max_spec_per_ip 4", floodPhase(elements, true, DEFAULT_MAX_SPEC_PER_IP));
    printFlood("flood, max_spec_per_ip 20", floodPhase(elements, true, 20));
    printf("   (seats: connections held at the end of 20; the flood's address holds the rest)\n");
    g_mut1.destroy();
    return 0;
}
