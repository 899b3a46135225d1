// The capture's hot paths, called as the engine calls them: one argument of a message nobody
// reads and of one the capture reads, the start of a message, one player's PlayerPostThink and a
// StartFrame that neither opens a slot nor ticks the clock. Goals: 5 ns, 20 ns, 50 ns.
// BM_StartFrameWithViewers/N runs that StartFrame while the plugin's web server answers N
// connections asking for /live/sync and fragment bodies as fast as they can.
#include <benchmark/benchmark.h>

#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "broadcast/connections.h"
#include "broadcast/fragments.h"
#include "broadcast/sender.h"
#include "capture/messages.h"
#include "host/host.h"
#include "net/globals.h"
#include "plugin/hooks.h"
#include "state/state.h"
#include "stream/chunks.h"
#include "web/applet_server.h"

namespace {

struct Host {
    globalvars_t globals{};
    meta_globals_t meta{};
    edict_t edicts[33]{};
    char strings[1] = "";

    Host() {
        gpGlobals = &globals;
        gpMetaGlobals = &meta;
        globals.pStringBase = strings;
        globals.time = 1.0f;
        int id = 64 + 7;  // Health, registered by the game
        meta.orig_ret = &id;
        RegUserMsg_Post("Health", 1);
        meta.orig_ret = nullptr;
        g_first_player = &edicts[0];
        g_statemgr.allocate(15);
        g_statemgr.restart(&globals.time);
        g_roundtime.m_seconds = -1;  // a stopped clock: no chunk per second
        edict_t& e = edicts[1];
        e.v.health = 100;
        e.v.movetype = MOVETYPE_WALK;
        e.v.origin[0] = 1234.5f;
        e.v.origin[1] = -876.25f;
        e.v.v_angle[1] = 90.7f;
    }
};

Host& host() {
    static Host h;
    return h;
}

void BM_WriteNotIntercepted(benchmark::State& state) {
    host();
    MessageBegin(MSG_ALL, 200, nullptr, nullptr);
    int value = 0;
    for (auto _ : state) WriteByte(value++);
}
BENCHMARK(BM_WriteNotIntercepted);

void BM_WriteIntercepted(benchmark::State& state) {
    Host& h = host();
    MessageBegin(MSG_ONE, gmsgHealth, nullptr, &h.edicts[1]);
    int value = 0;
    for (auto _ : state) {
        mState = 0;  // every call takes the acting path
        WriteByte(value++ & 0x7F);
    }
}
BENCHMARK(BM_WriteIntercepted);

void BM_MessageBegin(benchmark::State& state) {
    Host& h = host();
    for (auto _ : state) MessageBegin(MSG_ONE, gmsgHealth, nullptr, &h.edicts[1]);
}
BENCHMARK(BM_MessageBegin);

void BM_PlayerPostThink(benchmark::State& state) {
    Host& h = host();
    for (auto _ : state) {
        PlayerPostThink(&h.edicts[1]);
        h.edicts[1].v.origin[0] += 0.5f;
    }
}
BENCHMARK(BM_PlayerPostThink);

void BM_StartFrameNoSlotChange(benchmark::State& state) {
    Host& h = host();
    h.globals.time = g_current->m_time.load() - 0.25f;
    for (auto _ : state) StartFrame();
}
BENCHMARK(BM_StartFrameNoSlotChange);

void noOverview(const char*, char* out, int size) {
    if (size > 0) out[0] = '\0';
}

// The plugin's web server on a loopback port, with ten 32-player fragments in the store.
int webServer() {
    static int port = [] {
        int probe = socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof(a);
        bind(probe, reinterpret_cast<sockaddr*>(&a), sizeof(a));
        getsockname(probe, reinterpret_cast<sockaddr*>(&a), &length);
        int chosen = ntohs(a.sin_port);
        close(probe);
        InetAddress address;
        address.setLoopback(chosen);
        if (g_tcp_socket.init(&address) != 0 || !g_tcp_socket.listen(64)) return 0;
        g_tcp_thread.m_function = AppletSender;
        g_tcp_thread.m_argument = &g_tcp_thread;
        if (!g_tcp_thread.start()) return 0;

        static DatagramSocket udp;
        static ConnectionManager connections;
        static StateManager mirror, game;
        static NamesCollection names, game_names;
        mirror.allocate(0);
        game.allocate(0);
        g_fragments.m_find_overview = noOverview;
        static SpectatorSender sender(&udp, &connections, &mirror, &names);
        sender.m_max_clients = 32;
        sender.m_fragments = &g_fragments;
        static PacketBuffer::BufferElement element;
        for (int i = 0; i < 32; i++) {
            PlayerState& p = game.slot(0)->m_players[i];
            p.m_index = uint8_t(i);
            p.m_name = uint32_t(game_names.put(("player" + std::to_string(i)).c_str()));
            element.m_packets.addChunk(PlayerPacketChunk(&p, &game_names));
        }
        for (int i = 0; i < 10 * FRAGMENT_ELEMENTS; i++) sender.sendPhase(element);
        return chosen;
    }();
    return port;
}

// One keep-alive viewer: sync, the newest body, again, until told to stop.
void viewer(int port, const std::atomic<bool>* stop, std::atomic<long>* answers) {
    int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(uint16_t(port));
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof(a)) != 0) {
        close(fd);
        return;
    }
    std::string newest = "/live/" + std::to_string(g_fragments.newestNumber()) + "/body";
    std::string requests[2] = {"GET /live/sync HTTP/1.1\r\n\r\n", "GET " + newest + " HTTP/1.1\r\n\r\n"};
    char buffer[16384];
    for (int i = 0; !stop->load(std::memory_order_relaxed); i ^= 1) {
        const std::string& r = requests[i];
        if (send(fd, r.data(), r.size(), MSG_NOSIGNAL) != ssize_t(r.size())) break;
        // One answer: its header, then Content-Length bytes.
        std::string got;
        size_t end = std::string::npos, want = 0;
        while (end == std::string::npos || got.size() < want) {
            ssize_t n = recv(fd, buffer, sizeof(buffer), 0);
            if (n <= 0) break;
            got.append(buffer, size_t(n));
            if (end == std::string::npos && (end = got.find("\r\n\r\n")) != std::string::npos) {
                size_t field = got.find("Content-Length: ");
                want = end + 4 + (field < end ? std::stoul(got.substr(field + 16)) : 0);
            }
        }
        if (end == std::string::npos || got.size() < want) break;
        answers->fetch_add(1, std::memory_order_relaxed);
    }
    close(fd);
}

void BM_StartFrameWithViewers(benchmark::State& state) {
    Host& h = host();
    int port = webServer();
    if (port == 0) {
        state.SkipWithError("the web server did not start");
        return;
    }
    std::atomic<bool> stop{false};
    std::atomic<long> answers{0};
    std::vector<std::thread> viewers;
    for (int i = 0; i < state.range(0); i++) viewers.emplace_back(viewer, port, &stop, &answers);
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    long before = answers.load();
    auto began = std::chrono::steady_clock::now();
    h.globals.time = g_current->m_time.load() - 0.25f;
    for (auto _ : state) StartFrame();
    double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - began).count();
    state.counters["answers_per_s"] = double(answers.load() - before) / seconds;
    stop = true;
    for (std::thread& t : viewers) t.join();
}
BENCHMARK(BM_StartFrameWithViewers)->Arg(0)->Arg(8)->Arg(48);

}  // namespace

BENCHMARK_MAIN();
