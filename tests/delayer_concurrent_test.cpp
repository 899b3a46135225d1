// The encoder thread between a game thread filling the ring and a sender taking elements under
// g_mut1, with the demo closed under them half way: nothing lost, doubled or reordered. Named
// Concurrent so that it also runs under ThreadSanitizer.
#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "broadcast/buffer.h"
#include "broadcast/delayer.h"
#include "demo/demo.h"
#include "host/host.h"
#include "net/net.h"
#include "pipeline_helpers.h"
#include "stream/chunks.h"
#include "test_host.h"

namespace {

// The element's round-clock events, in order.
void clockEvents(PacketBuffer::BufferElement* e, std::vector<std::string>* out) {
    for (const std::string& chunk : chunksOf(e->m_packets))
        if (chunk.rfind("rtime ", 0) == 0) out->push_back(chunk);
}

}  // namespace

TEST(DelayerConcurrent, EncoderGameThreadAndSenderShareTheRingAndTheQueue) {
    ScratchDir dir;
    bool own_mutex = !g_mut1.m_valid && g_mut1.init();
    globalvars_t globals{};
    globals.maxClients = 8;
    globalvars_t* saved = gpGlobals;
    gpGlobals = &globals;
    float clock = 10.0f;
    g_pck_buffer.clear();
    g_pck_buffer.setDelay(1);
    g_statemgr.allocate(CAPTURE_RING_LAST);
    g_statemgr.restart(&clock);
    ASSERT_EQ(g_demo.init(dir.path().c_str()), 0);
    ASSERT_EQ(g_demo.start("de_race"), 0);
    SnapshotRecorder recorder = g_snapshot_recorder;
    g_snapshot_recorder = recordSnapshot;

    Thread encoder;
    encoder.m_function = PacketDelayer;
    encoder.m_argument = &encoder;
    ASSERT_TRUE(encoder.start());

    std::atomic<bool> sending{true};
    std::vector<std::string> sent;
    std::thread sender([&] {
        while (sending.load()) {
            g_mut1.lock();
            PacketBuffer::BufferElement* e = g_pck_buffer.take();
            g_mut1.unlock();
            if (e == nullptr) {
                Thread::sleep(1);
                continue;
            }
            clockEvents(e, &sent);  // read outside the lock, as the sender does
        }
    });

    // The game thread: players move, names arrive, one clock event every few frames.
    int events = 0;
    for (int frame = 0; frame < 1500; frame++) {
        clock += 0.01f;
        for (int i = 0; i < 8; i++) {
            PlayerState& p = g_current->m_players[i];
            p.m_index = static_cast<uint8_t>(i);
            p.m_x = static_cast<int16_t>(frame + i);
            p.m_changed |= CHANGED_POSITION;
        }
        if (frame % 50 == 0) {
            PlayerState& p = g_current->m_players[frame % 8];
            p.m_name = static_cast<uint32_t>(g_name_coll.put(("player" + std::to_string(frame)).c_str()));
            p.m_changed |= CHANGED_NAME;
        }
        if (frame % 7 == 0) g_current->m_events.emplace<RTimePacketChunk>(events++);
        if (frame == 700) {
            g_mut1.lock();  // "kovitv record off" on the game thread
            g_demo.close();
            g_mut1.unlock();
        }
        g_statemgr.advance();
        Thread::sleep(1);
    }
    // Let the encoder catch up with every closed slot before everything stops.
    for (int i = 0; i < 200 && g_statemgr.m_read != g_statemgr.m_write; i++) Thread::sleep(10);
    encoder.stop();
    sending = false;
    sender.join();

    std::vector<std::string> seen = sent;
    for (PacketBuffer::BufferElement* e = g_pck_buffer.m_first; e != nullptr; e = e->m_next)
        clockEvents(e, &seen);
    for (EventNode* n = g_current->m_events.m_head; n != nullptr; n = n->m_next)  // still open
        seen.push_back("rtime seconds=" +
                       std::to_string(static_cast<RTimePacketChunk*>(n->m_chunk)->m_seconds));
    ASSERT_EQ(seen.size(), size_t(events));
    for (int i = 0; i < events; i++) ASSERT_EQ(seen[size_t(i)], "rtime seconds=" + std::to_string(i));
    EXPECT_GT(sent.size(), size_t(events) / 2);

    g_pck_buffer.clear();
    g_pck_buffer.setDelay(30);
    g_statemgr.clear();
    g_name_coll.clear();
    g_snapshot_recorder = recorder;
    gpGlobals = saved;
    if (own_mutex) g_mut1.destroy();
}
