// The PacketSender thread against a producer that queues elements under g_mut1 the way the
// encoder does (linked first, filled after the lock is released).
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstring>
#include <thread>
#include <vector>

#include "broadcast/buffer.h"
#include "broadcast/sender.h"
#include "host/host.h"
#include "net/faults.h"
#include "net/globals.h"
#include "stream/chunks.h"
#include "test_host.h"

namespace {

// The globals PacketSender works on, set up for one test and put back whatever happens.
class SenderThread : public ::testing::Test {
protected:
    void SetUp() override {
        m_own_mutex = !g_mut1.m_valid;
        if (m_own_mutex) {
            ASSERT_TRUE(g_mut1.init());
        }
        m_server_port = bindFree(g_udp_socket);
        ASSERT_NE(m_server_port, 0);
        ASSERT_NE(bindFree(m_spectator), 0);
        g_connmgr.m_max = 1;
        g_pck_buffer.clear();  // an earlier test in this process may have left elements queued
        g_pck_buffer.m_delay = 4;
        l_statemgr.allocate(0);
        // The thread reads maxClients from the engine's globals; an earlier test's host is gone.
        m_engine.maxClients = 4;
        m_previous = gpGlobals;
        gpGlobals = &m_engine;
        m_sender.m_function = PacketSender;
        m_sender.m_argument = &m_sender;
    }
    void TearDown() override {
        m_sender.stop();
        m_spectator.stop();
        g_udp_socket.stop();
        g_pck_buffer.clear();
        g_pck_buffer.m_delay = 60;
        g_connmgr.m_max = 0;
        gpGlobals = m_previous;
        if (m_own_mutex) g_mut1.destroy();
    }
    static int bindFree(DatagramSocket& socket) {
        for (int tries = 0; tries < 5; tries++) {
            InetAddress here;
            int port = freeUdpPort();
            here.setLoopback(port);
            if (socket.init(&here) == 0) return port;
        }
        return 0;
    }

    // Heartbeats from the spectator's socket to the sender.
    void heartbeat() {
        InetAddress server;
        server.setLoopback(m_server_port);
        char beat[6] = {0, 0, CHUNK_HBEAT, 2, 0, 0};
        DatagramPacket out;
        out.m_address = &server;
        out.m_data = beat;
        out.m_length = sizeof(beat);
        m_spectator.send(&out, 100);
    }
    bool waitForCount(int n, int limit_ms) {
        for (int waited = 0; g_connmgr.count() != n; waited += 10) {
            if (waited >= limit_ms) return false;
            Thread::sleep(10);
        }
        return true;
    }

    bool m_own_mutex = false;
    int m_server_port = 0;
    DatagramSocket m_spectator;
    globalvars_t m_engine{};
    globalvars_t* m_previous = nullptr;
    Thread m_sender;
};

TEST_F(SenderThread, ConcurrentProducerIsSentInOrderAndStopFreesTheConnections) {
    DatagramSocket& spectator = m_spectator;
    Thread& sender = m_sender;
    int server_port = m_server_port;
    ASSERT_TRUE(sender.start());

    // The spectator joins before anything is due, so it sees every element from the first.
    InetAddress server;
    server.setLoopback(server_port);
    char beat[6] = {0, 0, CHUNK_HBEAT, 2, 0, 0};
    DatagramPacket out;
    out.m_address = &server;
    out.m_data = beat;
    out.m_length = sizeof(beat);
    for (int i = 0; i < 200 && g_connmgr.count() == 0; i++) {
        spectator.send(&out, 100);
        Thread::sleep(10);
    }
    ASSERT_EQ(g_connmgr.count(), 1);

    const int elements = 300;
    std::thread producer([] {
        for (int i = 0; i < elements; i++) {
            g_mut1.lock();
            PacketBuffer::BufferElement* e = g_pck_buffer.add();
            g_mut1.unlock();
            e->m_packets.addChunk(RTimePacketChunk(i));  // numbers the elements
            if (i % 50 == 0) std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
    });

    // Round clocks in the regular packets count up without a gap once the full states are over.
    std::vector<int> seen;
    int full_states = 0;
    NamesCollection names;
    ChunkReader reader(&names);
    char buffer[PACKET_SIZE];
    InetAddress from;
    DatagramPacket in;
    in.m_address = &from;
    in.m_data = buffer;
    in.m_capacity = sizeof(buffer);
    while ((seen.empty() || seen.back() < elements - 1 - 4) && spectator.receive(&in, 2000)) {
        Packet packet;
        packet.reset();
        memcpy(packet.m_data, buffer, size_t(in.m_length));
        packet.m_length = in.m_length;
        reader.begin(packet);
        while (PacketChunk* chunk = reader.next()) {
            if (chunk == &reader.m_rtime) seen.push_back(reader.m_rtime.m_seconds);
            if (chunk == &reader.m_map) full_states++;
        }
        spectator.send(&out, 100);  // stays connected however long this runs
    }
    producer.join();
    sender.stop();

    EXPECT_EQ(full_states, 2);
    ASSERT_FALSE(seen.empty());
    EXPECT_EQ(seen.front(), 2);  // elements 0 and 1 went out as the full states
    for (size_t i = 1; i < seen.size(); i++) ASSERT_EQ(seen[i], seen[i - 1] + 1);
    EXPECT_EQ(seen.back(), elements - 1 - 4);  // the last m_delay stay queued
    EXPECT_EQ(g_connmgr.count(), 0);
    EXPECT_EQ(g_connmgr.m_connections, nullptr);
}

TEST_F(SenderThread, ConcurrentReceiveFailuresNeitherSpinTheLoopNorEndIt) {
    g_net_faults.udp_receive_failures = 0;
    g_net_faults.udp_receive_error = ECONNREFUSED;  // every receive fails at once
    ASSERT_TRUE(m_sender.start());
    Thread::sleep(500);
    int failures = g_net_faults.udp_receive_failures.load();
    g_net_faults.udp_receive_error = 0;
    // Paced at one receive per 10 ms wait, about 50; a spinning loop makes millions.
    EXPECT_GT(failures, 10);
    EXPECT_LT(failures, 120);
    EXPECT_FALSE(m_sender.finished());
    heartbeat();  // and the socket is served again once the failure is over
    EXPECT_TRUE(waitForCount(1, 2000));
}

TEST_F(SenderThread, ConcurrentWallClockJumpsNeitherDropTheLiveNorKeepTheDead) {
    g_connmgr.m_max = 2;
    DatagramSocket silent;
    ASSERT_NE(bindFree(silent), 0);
    ASSERT_TRUE(m_sender.start());
    InetAddress server;
    server.setLoopback(m_server_port);
    char beat[6] = {0, 0, CHUNK_HBEAT, 2, 0, 0};
    DatagramPacket out{&server, beat, sizeof beat, sizeof beat};
    silent.send(&out, 100);  // one heartbeat, then nothing
    heartbeat();
    ASSERT_TRUE(waitForCount(2, 2000));

    // Hours forward and back while the live one keeps beating every half second; it is never
    // dropped, and the silent one goes after five seconds of the monotonic clock, not never.
    const int64_t jumps[] = {6 * 3600, -6 * 3600, -30 * 3600, 3600};
    int lowest = 2;
    int64_t began = monotonicMillis();
    for (int i = 0; i < 14; i++) {
        g_net_faults.wall_clock_offset_s = jumps[i % 4];
        heartbeat();
        Thread::sleep(500);
        if (monotonicMillis() - began < 4500) {
            EXPECT_EQ(g_connmgr.count(), 2) << i;
        }
        lowest = std::min(lowest, g_connmgr.count());
    }
    g_net_faults.wall_clock_offset_s = 0;
    EXPECT_EQ(lowest, 1);
    EXPECT_EQ(g_connmgr.count(), 1);  // the live one, which was never dropped on the way
    silent.stop();
}

}  // namespace
