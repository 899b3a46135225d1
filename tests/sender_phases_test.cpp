// The spectator sender's phases over real loopback sockets: admission, the drop clock, full
// states and regular sending, the mirror and its reset.
#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <string>
#include <vector>

#include "broadcast/mirror.h"
#include "broadcast/sender.h"
#include "net/faults.h"
#include "stream/chunks.h"
#include "test_host.h"

namespace {

int64_t g_fake_now = 1000000;
int64_t fakeClock() { return g_fake_now; }

using Datagrams = std::vector<std::string>;

// A spectator: its own socket on loopback that sends heartbeats and collects what arrives.
struct Spectator {
    DatagramSocket m_socket;
    int m_port = 0;

    Spectator() {
        for (int tries = 0; tries < 5 && m_port == 0; tries++) {
            InetAddress here;
            int port = freeUdpPort();
            here.setLoopback(port);
            if (m_socket.init(&here) == 0) m_port = port;
        }
    }
    ~Spectator() { m_socket.stop(); }

    void sendRaw(int server_port, const std::string& bytes) {
        InetAddress to;
        to.setLoopback(server_port);
        DatagramPacket out;
        out.m_address = &to;
        out.m_data = const_cast<char*>(bytes.data());
        out.m_length = static_cast<int>(bytes.size());
        m_socket.send(&out, 100);
    }
    void heartbeat(int server_port, bool resync) {
        sendRaw(server_port, std::string("\0\0\x26\x02", 4) + char(resync ? 1 : 0) + '\0');
    }
    Datagrams collect() {
        Datagrams got;
        char buffer[PACKET_SIZE + 16];
        InetAddress from;
        DatagramPacket in;
        in.m_address = &from;
        in.m_data = buffer;
        in.m_capacity = sizeof(buffer);
        while (m_socket.receive(&in, 100)) got.emplace_back(buffer, size_t(in.m_length));
        return got;
    }
};

Datagrams bytesOf(const PacketManager& packets) {
    Datagrams out;
    for (Packet* p = packets.first(); p != nullptr; p = p->m_next)
        out.emplace_back(p->m_ptr, size_t(p->m_length));
    return out;
}

// Header bytes of every chunk in a run of datagrams, read with the project's reader.
std::vector<int> headersOf(const Datagrams& datagrams) {
    NamesCollection names;
    ChunkReader reader(&names);
    std::vector<int> headers;
    for (const std::string& d : datagrams) {
        Packet packet;
        packet.reset();
        memcpy(packet.m_data, d.data(), d.size());
        packet.m_length = static_cast<int>(d.size());
        reader.begin(packet);
        while (reader.next() != nullptr) headers.push_back(reader.header());
    }
    return headers;
}

class Sender : public ::testing::Test {
protected:
    void SetUp() override {
        for (int tries = 0; tries < 5 && m_port == 0; tries++) {
            InetAddress here;
            int port = freeUdpPort();
            here.setLoopback(port);
            if (m_socket.init(&here) == 0) m_port = port;
        }
        ASSERT_NE(m_port, 0);
        m_mirror.allocate(0);
        m_connections.m_max = 8;
        m_sender.m_clock = fakeClock;
        m_sender.m_max_clients = 4;
    }
    void TearDown() override { m_socket.stop(); }

    // Serves the socket until the datagrams sent so far are read (loopback delivers at once).
    void serve() { m_sender.receivePhase(); }

    // An element of two packets: chat lines fill the first, a score chunk closes the second.
    void makeElement(PacketBuffer::BufferElement& e, int terrorists) {
        std::string line(200, 'x');
        for (int i = 0; i < 3; i++) e.m_packets.addChunk(ChatPacketChunk(2, 1, line.c_str()));
        ScoreState score{};
        score.m_score[1] = terrorists;
        e.m_packets.addChunk(ScorePacketChunk(&score));
        ASSERT_EQ(e.m_packets.count(), 2);
    }
    void addPlayer(PacketBuffer::BufferElement& e, int slot, const char* name) {
        NamesCollection names;
        PlayerState p{};
        p.m_index = static_cast<uint8_t>(slot);
        p.m_name = static_cast<uint32_t>(names.put(name));
        p.m_health = 100;
        e.m_packets.addChunk(PlayerPacketChunk(&p, &names));
        MapState map{};
        map.m_name = static_cast<uint32_t>(names.put("de_kovi"));
        e.m_packets.addChunk(MapPacketChunk(&map, &names));
    }

    DatagramSocket m_socket;
    int m_port = 0;
    ConnectionManager m_connections;
    StateManager m_mirror;
    NamesCollection m_names;
    SpectatorSender m_sender{&m_socket, &m_connections, &m_mirror, &m_names};
};

TEST_F(Sender, AdmitsByAddressAndPortUpToTheLimit) {
    Spectator a, b;
    a.heartbeat(m_port, false);  // resync 0 all the same awaits the full state
    serve();
    ASSERT_EQ(m_connections.count(), 1);
    ConnectionManager::Connection* first = m_connections.m_connections;
    EXPECT_EQ(first->m_address, INET_LOOPBACK);
    EXPECT_EQ(first->m_port, a.m_port);
    EXPECT_EQ(first->m_fullStates, 2);

    b.heartbeat(m_port, false);  // same address, another port: a second spectator
    a.heartbeat(m_port, false);  // known: no third
    serve();
    ASSERT_EQ(m_connections.count(), 2);
    EXPECT_EQ(first->m_next->m_port, b.m_port);

    ConnectionManager nobody;
    SpectatorSender closed(&m_socket, &nobody, &m_mirror, &m_names);
    a.heartbeat(m_port, true);
    closed.receivePhase();
    EXPECT_EQ(nobody.count(), 0);  // max_spec 0
    EXPECT_FALSE(closed.handleDatagram("\0\0\x26\x02\x01\x00", 6, 1, 2, 0));
}

TEST_F(Sender, OneAddressTakesNoMoreSeatsThanItsShare) {
    m_connections.m_max_per_address = 4;
    Spectator ports[5];
    for (Spectator& s : ports) s.heartbeat(m_port, false);
    serve();
    EXPECT_EQ(m_connections.count(), 4);  // the fifth port of 127.0.0.1 is refused
    EXPECT_EQ(m_connections.find(INET_LOOPBACK, ports[4].m_port), nullptr);
    for (Spectator& s : ports) s.heartbeat(m_port, true);  // the four keep their seats
    serve();
    EXPECT_EQ(m_connections.count(), 4);

    // Another address still gets in while 127.0.0.1 is at its share.
    EXPECT_TRUE(m_sender.handleDatagram("\0\0\x26\x02\x00\x00", 6, 0x0A000001, 27005, g_fake_now));
    EXPECT_EQ(m_connections.count(), 5);
    EXPECT_EQ(m_connections.countFrom(INET_LOOPBACK), 4);

    // A seat freed by the drop clock goes to the next port of that address.
    g_fake_now += CONNECTION_TIMEOUT_MS + 1;
    serve();
    ports[4].heartbeat(m_port, false);
    serve();
    ASSERT_EQ(m_connections.count(), 1);
    EXPECT_EQ(m_connections.m_connections->m_port, ports[4].m_port);

    m_connections.m_max_per_address = 0;
    EXPECT_FALSE(m_sender.handleDatagram("\0\0\x26\x02\x00\x00", 6, 0x0A000002, 1, g_fake_now));
}

TEST_F(Sender, ReadsOnlyTheFirstSixBytesOfAHeartbeat) {
    Spectator a, b, c;
    a.sendRaw(m_port, std::string("\0\0\x26\x02\x00", 5));  // one heartbeat byte short
    std::string long_one(40, '\x7f');
    long_one[2] = '\x26';
    long_one[4] = 0;
    b.sendRaw(m_port, long_one);  // cut to 16 bytes, still a heartbeat
    std::string late(40, '\0');
    late[20] = '\x26';  // a heartbeat header anywhere but offset 2 counts for nothing
    c.sendRaw(m_port, late);
    serve();
    ASSERT_EQ(m_connections.count(), 1);
    EXPECT_EQ(m_connections.m_connections->m_port, b.m_port);
}

TEST_F(Sender, DropsAConnectionOnlyWhenSilentForMoreThanFiveSeconds) {
    Spectator a, b;
    a.heartbeat(m_port, false);
    b.heartbeat(m_port, false);
    serve();
    ASSERT_EQ(m_connections.count(), 2);
    g_fake_now += 3000;
    b.heartbeat(m_port, false);
    serve();
    g_fake_now += 2000;  // a exactly 5 s silent
    serve();
    EXPECT_EQ(m_connections.count(), 2);
    g_fake_now += 1;
    serve();
    ASSERT_EQ(m_connections.count(), 1);
    EXPECT_EQ(m_connections.m_connections->m_port, b.m_port);
    EXPECT_EQ(m_connections.m_tail, m_connections.m_connections);
    g_fake_now += 3001;
    serve();
    EXPECT_EQ(m_connections.count(), 0);
    EXPECT_EQ(m_connections.m_tail, nullptr);
    a.heartbeat(m_port, false);  // the list is whole again after dropping its tail
    serve();
    EXPECT_EQ(m_connections.count(), 1);
}

TEST_F(Sender, SendFailuresToOneSpectatorLeaveTheOthersAndTheNextElementServed) {
    for (int error : {ENOBUFS, EPERM}) {
        Spectator failing, fine;
        failing.heartbeat(m_port, false);
        fine.heartbeat(m_port, false);
        serve();
        ASSERT_EQ(m_connections.count(), 2);
        for (auto* c = m_connections.m_connections; c != nullptr; c = c->m_next) c->m_fullStates = 0;

        PacketBuffer::BufferElement e1, e2;
        makeElement(e1, 1);
        makeElement(e2, 2);
        g_net_faults.udp_send_failures = 0;
        g_net_faults.udp_send_error_port = failing.m_port;
        g_net_faults.udp_send_error = error;
        m_sender.sendPhase(e1);
        g_net_faults.udp_send_error = 0;
        EXPECT_EQ(g_net_faults.udp_send_failures.load(), 2) << error;  // each packet tried once
        EXPECT_TRUE(failing.collect().empty());
        EXPECT_EQ(fine.collect(), bytesOf(e1.m_packets)) << error;

        m_sender.sendPhase(e2);  // the failure is over: both get the next element
        EXPECT_EQ(failing.collect(), bytesOf(e2.m_packets));
        EXPECT_EQ(fine.collect(), bytesOf(e2.m_packets));
        m_connections.clear();
    }
    g_net_faults.udp_send_error_port = 0;
}

TEST_F(Sender, SendsTwoFullStatesAfterAJoinThenTheRegularPackets) {
    Spectator a;
    a.heartbeat(m_port, false);
    serve();
    PacketBuffer::BufferElement e1, e2, e3, e4;
    makeElement(e1, 1);
    makeElement(e2, 2);
    makeElement(e3, 3);
    makeElement(e4, 4);

    m_sender.sendPhase(e1);
    Datagrams got = a.collect();
    std::vector<int> headers = headersOf(got);
    ASSERT_GE(headers.size(), 4u);
    EXPECT_EQ(headers[0], CHUNK_HBEAT);
    EXPECT_EQ(headers[1], CHUNK_MAP);
    EXPECT_EQ(std::count(headers.begin(), headers.end(), CHUNK_CHAT), 0);
    EXPECT_EQ(m_connections.m_connections->m_fullStates, 1);

    a.heartbeat(m_port, true);  // asks again halfway
    serve();
    EXPECT_EQ(m_connections.m_connections->m_fullStates, 2);
    m_sender.sendPhase(e2);
    m_sender.sendPhase(e3);
    got = a.collect();
    headers = headersOf(got);
    EXPECT_EQ(std::count(headers.begin(), headers.end(), CHUNK_HBEAT), 2);
    EXPECT_EQ(std::count(headers.begin(), headers.end(), CHUNK_CHAT), 0);

    m_sender.sendPhase(e4);
    EXPECT_EQ(a.collect(), bytesOf(e4.m_packets));
    EXPECT_EQ(m_sender.m_full_states_built, 3);
}

TEST_F(Sender, BuildsOneFullStateForEveryoneWhoNeedsItInAPhase) {
    Spectator a, b, c;
    a.heartbeat(m_port, false);
    serve();
    PacketBuffer::BufferElement e1, e2;
    makeElement(e1, 5);
    makeElement(e2, 6);
    m_sender.sendPhase(e1);
    m_sender.sendPhase(e1);  // a is up to date now
    a.collect();
    b.heartbeat(m_port, false);
    c.heartbeat(m_port, false);
    serve();
    int built = m_sender.m_full_states_built;
    m_sender.sendPhase(e2);
    EXPECT_EQ(m_sender.m_full_states_built, built + 1);
    Datagrams for_b = b.collect();
    EXPECT_FALSE(for_b.empty());
    EXPECT_EQ(for_b, c.collect());
    EXPECT_EQ(a.collect(), bytesOf(e2.m_packets));
    // The full state is as recent as the element the others got: the score of e2.
    EXPECT_EQ(m_mirror.slot(0)->m_score.m_score[1], 6);
}

TEST_F(Sender, FullStateListsEverySlotBelowMaxClientsInOrder) {
    Spectator a;
    a.heartbeat(m_port, false);
    serve();
    PacketBuffer::BufferElement e;
    addPlayer(e, 2, "alice");
    addPlayer(e, 31, "beyond");  // a slot the engine does not have: kept out of the full state
    m_sender.sendPhase(e);
    std::vector<int> headers = headersOf(a.collect());
    EXPECT_EQ(headers, (std::vector<int>{CHUNK_HBEAT, CHUNK_MAP, CHUNK_SCORE, CHUNK_BOMB, 0, 1, 2, 3}));
    EXPECT_STREQ(m_names.get(int(m_mirror.slot(0)->m_players[2].m_name)), "alice");
}

TEST_F(Sender, AResetElementClearsTheMirrorBeforeItsOwnPackets) {
    PacketBuffer::BufferElement old_map, fresh;
    addPlayer(old_map, 1, "alice");
    m_sender.sendPhase(old_map);
    ASSERT_STREQ(m_names.get(int(m_mirror.slot(0)->m_players[1].m_name)), "alice");

    Spectator a;
    a.heartbeat(m_port, false);
    serve();
    fresh.m_reset = 1;
    makeElement(fresh, 7);
    m_sender.sendPhase(fresh);

    // Decode the full state as a client would: alice and the old map are gone.
    NamesCollection names;
    ChunkReader reader(&names);
    StateManager seen;
    seen.allocate(0);
    for (const std::string& d : a.collect()) {
        Packet packet;
        packet.reset();
        memcpy(packet.m_data, d.data(), d.size());
        packet.m_length = static_cast<int>(d.size());
        applyPacket(*seen.slot(0), reader, packet);
    }
    EXPECT_STREQ(names.get(int(seen.slot(0)->m_players[1].m_name)), "");
    EXPECT_STREQ(names.get(int(seen.slot(0)->m_map.m_name)), "");
    EXPECT_EQ(seen.slot(0)->m_score.m_score[1], 7);
    EXPECT_EQ(m_names.count(), 0);
}

}  // namespace
