// The whole broadcast on loopback: a scripted match in simhost, the plugin's own encoder, delay
// buffer and sender threads, and two spectators on real UDP sockets. What each spectator rebuilds
// must equal what the demo file (the same elements, undelayed) says after the elements that were
// sent. Named Concurrent so the ThreadSanitizer build runs it too.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <filesystem>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "broadcast/buffer.h"
#include "broadcast/connections.h"
#include "broadcast/mirror.h"
#include "demo/demo_reader.h"
#include "game.h"
#include "host/host.h"
#include "match.h"
#include "net/net.h"
#include "test_host.h"

namespace {

// One spectator: heartbeats every 200 ms from its own port, every datagram into its game.
class Spectator {
public:
    explicit Spectator(int server_port) {
        InetAddress local;
        local.setLoopback(0);
        m_ok = m_socket.init(&local) == 0;
        m_server.setLoopback(server_port);
        m_thread = std::thread([this] { run(); });
    }
    ~Spectator() { stop(); }

    void stop() {
        m_running = false;
        if (m_thread.joinable()) m_thread.join();
        m_socket.stop();
    }

    bool m_ok = false;
    SpectatorGame m_game;
    std::vector<std::string> m_kills;  // "victim/weapon", in arrival order
    int m_damaged = 0;
    std::atomic<int> m_datagrams{0};

private:
    void run() {
        char beat[6] = {0, 0, 38, 2, 0, 0};
        char buffer[PACKET_SIZE];
        InetAddress from;
        DatagramPacket in{&from, buffer, 0, sizeof buffer};
        DatagramPacket out{&m_server, beat, sizeof beat, sizeof beat};
        int64_t next_beat = 0;
        while (m_running) {
            int64_t now = monotonicMillis();
            if (now >= next_beat) {
                m_socket.send(&out, 50);
                next_beat = now + 200;
            }
            if (!m_socket.receive(&in, 10)) continue;
            if (!m_game.receive(buffer, in.m_length, now / 1000.0)) m_damaged++;
            for (const GameEvent& e : m_game.m_events)
                if (e.m_type == GameEvent::KILL)
                    m_kills.push_back(e.m_kill.m_victim + "/" + e.m_kill.m_weapon);
            m_game.m_events.clear();
            m_datagrams++;
        }
    }

    DatagramSocket m_socket;
    InetAddress m_server;
    std::atomic<bool> m_running{true};
    std::thread m_thread;
};

// The demo replayed into a mirror, up to `records` records, with the kills it carried.
struct Replay {
    StateManager mirror;
    NamesCollection names;
    std::vector<std::string> kills;
    int records = 0;

    Replay() { mirror.allocate(0); }

    bool play(const std::string& path, int limit) {
        FILE* file = fopen(path.c_str(), "rb");
        if (file == nullptr) return false;
        DemoReader demo(file);
        ChunkReader reader(&names);
        PacketManager record;
        bool sound = demo.begin();
        while (sound && records < limit) {
            DemoStatus status = demo.next(&record);
            if (status != DemoStatus::record) {
                sound = status == DemoStatus::end;
                break;
            }
            records++;
            for (Packet* p = record.first(); p != nullptr; p = p->m_next) {
                reader.begin(*p);
                while (PacketChunk* chunk = reader.next()) {
                    applyChunk(*mirror.slot(0), reader, chunk);
                    if (chunk == &reader.m_death)
                        kills.push_back(std::string(victimName(reader.m_death.m_victim)) + "/" +
                                        reader.m_death.m_received);
                }
            }
        }
        fclose(file);
        return sound;
    }
    const char* victimName(int slot) {
        if (slot < 0 || slot >= MAX_PLAYERS) return "";
        return names.get(static_cast<int>(mirror.slot(0)->m_players[slot].m_name));
    }
};

// Everything a spectator is shown, names as text (ids differ between collections).
template <typename Names>
std::string describe(const StateManager::States& s, Names name, int clients) {
    std::string out = std::string("map ") + name(s.m_map.m_name) + " " +
                      std::to_string(s.m_map.m_zoom) + " score " +
                      std::to_string(s.m_score.m_score[1]) + ":" +
                      std::to_string(s.m_score.m_score[2]) + " bomb " +
                      std::to_string(s.m_bomb.m_x) + "," + std::to_string(s.m_bomb.m_y) + "," +
                      std::to_string(s.m_bomb.m_state) + "\n";
    for (int i = 0; i < clients; i++) {
        const PlayerState& p = s.m_players[i];
        out += std::to_string(i) + " " + name(p.m_name) + " t" +
               std::to_string(p.m_team) + " " + std::to_string(p.m_x) + "," +
               std::to_string(p.m_y) + "," + std::to_string(p.m_yaw) + " h" +
               std::to_string(p.m_health) + " s" + std::to_string(p.m_state) + " k" +
               std::to_string(p.m_kills) + "/" + std::to_string(p.m_deaths) + " w" +
               std::to_string(p.m_weapon) + " i" + std::to_string(p.m_icons) + "\n";
    }
    return out;
}

std::string findDemo(const std::string& root) {
    for (const auto& entry : std::filesystem::recursive_directory_iterator(root))
        if (entry.path().extension() == ".kdem") return entry.path().string();
    return "";
}

// A scripted match of `players` with the plugin attached and the first map running.
struct Broadcast {
    ScratchDir dir;
    int udp = freeUdpPort();
    SimOptions options;
    std::unique_ptr<InProcessHost> host;

    Broadcast(int players, uint64_t seed, const std::string& config) {
        dir.write("addons/kovitv/config.ini",
                  "udp_port " + std::to_string(udp) + "\ndelay 30\n" + config);
        options = scratchOptions(dir);
        options.speed = 40;  // 40 game seconds a second: the 30 s delay passes in under a second
        options.max_clients = 12;
        host = std::make_unique<InProcessHost>(options);
        MatchOptions match;
        match.players = players;
        match.seed = seed;
        host->host().setGame(new Match(host->host(), match));
        if (host->load()) host->host().activateMap("de_kovi");
    }
    // The delay buffer is the process's: leave no elements of this match for the next test.
    ~Broadcast() {
        host.reset();
        g_pck_buffer.clear();
    }
    bool ok() { return host->host().mapRunning(); }
};

TEST(BroadcastConcurrent, SpectatorsRebuildWhatTheDemoSays) {
    Broadcast b(10, 4, "record_demos on\nmax_spec 4\n");
    ASSERT_TRUE(b.ok());
    InProcessHost& h = *b.host;
    ScratchDir& dir = b.dir;
    const SimOptions& options = b.options;
    int udp = b.udp;

    Spectator early(udp);
    ASSERT_TRUE(early.m_ok);
    h.host().runFor(60);
    Spectator late(udp);  // joins while the stream is flowing
    ASSERT_TRUE(late.m_ok);
    h.host().runFor(60);
    h.host().shutdown();  // closes the demo with the map; the sender sends nothing after it
    // The last datagrams arrive when they arrive: a fixed 400 ms lost one on a loaded machine.
    int64_t quiet_since = monotonicMillis();
    int last = -1;
    for (int64_t start = quiet_since; monotonicMillis() - start < 5000;) {
        int now = early.m_datagrams.load() + late.m_datagrams.load();
        if (now != last) quiet_since = monotonicMillis();
        last = now;
        if (monotonicMillis() - quiet_since >= 300) break;
        Thread::sleep(20);
    }
    early.stop();
    late.stop();
    EXPECT_EQ(h.host().hookWarnings(), 0);

    int queued = g_pck_buffer.m_count;  // made but never sent
    std::string demo = findDemo(dir.path());
    ASSERT_FALSE(demo.empty());
    Replay all;
    ASSERT_TRUE(all.play(demo, 1 << 30));
    EXPECT_NEAR(all.records, 240, 8);  // two a second of the 120 game seconds
    EXPECT_GE(queued, 60);             // the delay: 60 elements always held back

    Replay sent;
    ASSERT_TRUE(sent.play(demo, all.records - queued));
    auto replayName = [&](uint32_t id) { return sent.names.get(static_cast<int>(id)); };
    std::string expected = describe(*sent.mirror.slot(0), replayName, options.max_clients);
    ASSERT_FALSE(sent.kills.empty()) << "the match should have had kills in its first minute";

    for (Spectator* s : {&early, &late}) {
        EXPECT_EQ(s->m_damaged, 0);
        EXPECT_EQ(s->m_game.m_full_states, 2);
        auto name = [&](uint32_t id) { return s->m_game.text(id); };
        std::string seen = describe(s->m_game.state(), name, options.max_clients);
        EXPECT_EQ(seen, expected);
    }
    // Every kill once and in order; the late spectator sees the tail of the same list.
    EXPECT_EQ(early.m_kills, sent.kills);
    ASSERT_LE(late.m_kills.size(), sent.kills.size());
    EXPECT_TRUE(std::equal(late.m_kills.rbegin(), late.m_kills.rend(), sent.kills.rbegin()));
}

}  // namespace

namespace {

// A map change keeps the spectator connected (no new full state) and its first element clears
// what the spectator knew, so the new map shows only its own players.
TEST(BroadcastConcurrent, AMapChangeKeepsSpectatorsAndStartsAFreshState) {
    const int players = 8;
    Broadcast b(players, 2, "");
    ASSERT_TRUE(b.ok());
    InProcessHost& h = *b.host;
    Spectator spectator(b.udp);
    ASSERT_TRUE(spectator.m_ok);
    h.host().runFor(45);
    h.host().command("changelevel de_kovi_b");
    h.host().runFor(75);
    Thread::sleep(400);
    spectator.stop();
    h.host().shutdown();

    EXPECT_EQ(spectator.m_damaged, 0);
    EXPECT_EQ(spectator.m_game.m_full_states, 2);  // only when it joined
    EXPECT_STREQ(spectator.m_game.mapName(), "de_kovi_b");
    int present = 0;
    for (int i = 0; i < b.options.max_clients; i++) present += spectator.m_game.present(i);
    EXPECT_EQ(present, players);
    EXPECT_EQ(g_connmgr.m_count, 0);  // the stopped sender let everyone go
}

}  // namespace
