// Map start and end with the encoder running: what the first elements of a map say, what a map
// change keeps, demo files per map, and unload.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <string>
#include <utility>
#include <vector>

#include "broadcast/buffer.h"
#include "capture/record.h"
#include "demo/demo.h"
#include "net/faults.h"
#include "net/globals.h"
#include "pipeline_helpers.h"
#include "plugin/lifecycle.h"
#include "state/state.h"
#include "stream/chunks.h"
#include "test_host.h"

namespace {

struct Element {
    int reset;
    std::vector<std::string> chunks;
    bool has(const std::string& chunk) const {
        return std::find(chunks.begin(), chunks.end(), chunk) != chunks.end();
    }
};

std::vector<Element> queued() {
    std::vector<Element> out;
    g_mut1.lock();
    for (PacketBuffer::BufferElement* e = g_pck_buffer.m_first; e != nullptr; e = e->m_next)
        out.push_back({e->m_reset, chunksOf(e->m_packets)});
    g_mut1.unlock();
    return out;
}

int queuedCount() {
    g_mut1.lock();
    int n = g_pck_buffer.m_count;
    g_mut1.unlock();
    return n;
}

class Lifecycle : public ::testing::Test {
protected:
    ScratchDir dir;
    std::unique_ptr<InProcessHost> h;

    void start(const std::string& extra = "") {
        dir.write("addons/kovitv/config.ini", "udp_port " + std::to_string(freeUdpPort()) + "\n" + extra);
        dir.write("addons/kovitv/overviews/de_kovi.txt",
                  "global\n{\n\tZOOM 0.5\n\tORIGIN -100.7 200.2 0\n\tROTATED 1\n}\n");
        h = std::make_unique<InProcessHost>(scratchOptions(dir));
        ASSERT_TRUE(h->load());
    }
    // Game time in steps, closing slots as the frame hook does, until the encoder has queued
    // `total` elements in all.
    bool play(int total) {
        for (int i = 0; i < 300 && queuedCount() < total; i++) {
            h->host().runFor(0.1);
            g_statemgr.advance();
            Thread::sleep(10);
        }
        return queuedCount() >= total;
    }
};

}  // namespace

TEST_F(Lifecycle, AMapOpensWithAFreshEmptyStateAndNamesItselfInTheSecondElement) {
    start();
    h->host().activateMap("de_kovi");
    EXPECT_GE(h->find("ServerActivate_Post :: Reading map info"), 0);
    EXPECT_EQ(h->find("ERROR"), -1) << h->text();
    EXPECT_TRUE(g_delay_thread.running());
    ASSERT_TRUE(play(2));
    std::vector<Element> e = queued();
    EXPECT_EQ(e[0].reset, 1);
    EXPECT_TRUE(e[0].has("map name=\"\" zoom=0 rotated=0 x=0 y=0"));
    EXPECT_TRUE(e[0].has("score t=0 ct=0"));
    EXPECT_TRUE(e[0].has("bomb x=0 y=0 state=0"));
    EXPECT_EQ(e[1].reset, 0);
    EXPECT_TRUE(e[1].has("map name=\"de_kovi\" zoom=50 rotated=1 x=-100 y=200"));
}

TEST_F(Lifecycle, AMapChangeKeepsTheQueueAndMarksTheNextMapsFirstElement) {
    start();
    h->host().activateMap("de_kovi");
    ASSERT_TRUE(play(3));
    h->host().deactivateMap();
    EXPECT_FALSE(g_delay_thread.running());
    EXPECT_TRUE(g_udp_thread.running());
    EXPECT_TRUE(g_tcp_thread.running());
    EXPECT_EQ(g_name_coll.count(), 0);
    int old_map = queuedCount();

    h->host().activateMap("de_other");
    // A map without an overview description is normal: one note, no error.
    EXPECT_EQ(h->count("ServerActivate_Post :: Map \"de_other\" has no overview description "
                       "(overviews/de_other.txt): spectators see it without its picture"),
              1)
        << h->text();
    EXPECT_EQ(h->find("ERROR"), -1) << h->text();
    ASSERT_TRUE(play(old_map + 2));
    std::vector<Element> e = queued();
    for (int i = 1; i < old_map; i++) EXPECT_EQ(e[size_t(i)].reset, 0) << i;
    EXPECT_EQ(e[size_t(old_map)].reset, 1);
    EXPECT_TRUE(e[size_t(old_map) + 1].has("map name=\"de_other\" zoom=100 rotated=0 x=0 y=0"));
}

// The chunks of every record of a demo file, record by record.
std::vector<std::vector<std::string>> demoChunks(const std::string& path) {
    std::vector<std::vector<std::string>> out;
    FILE* f = fopen(path.c_str(), "rb");
    if (f == nullptr) return out;
    DemoReader reader(f);
    PacketManager packets;
    if (reader.begin())
        while (reader.next(&packets) == DemoStatus::record) out.push_back(chunksOf(packets));
    fclose(f);
    return out;
}

bool contains(const std::vector<std::string>& chunks, const std::string& part) {
    for (const std::string& c : chunks)
        if (c.find(part) != std::string::npos) return true;
    return false;
}

TEST_F(Lifecycle, TheFrameOfAChangelevelReachesTheBroadcastAndTheDemoWithTheMapsFinalScore) {
    start("record_demos on\n");
    h->host().activateMap("de_kovi");
    ASSERT_TRUE(play(3));
    // The last frame: the round's deciding kill, the end's announcement and team scores, and a
    // chat line, as the handlers record them; then the changelevel, before the slot closes.
    h->host().runFrame();
    ASSERT_NE(g_current, nullptr);
    char* weapon = nullptr;
    g_name_coll.put("ak47", &weapon);
    capture::appendEvent<DeathPacketChunk>(0, 4, 1, weapon);
    capture::appendEvent<MsgPacketChunk>(MSG_TERWIN, 0, 0);
    g_current->m_score.m_score[1] = 4;
    g_current->m_score.m_score[2] = 1;
    g_current->m_score.m_changed = 1;
    capture::appendEvent<ChatPacketChunk>(2, 0, "hello from bot 10\n");
    std::string demo = g_demo.path();
    h->runCommand("changelevel de_other");
    ASSERT_TRUE(g_demo.recording());  // the next map's

    std::vector<Element> e = queued();
    size_t first_new = e.size();
    for (size_t i = 0; i < e.size(); i++)
        if (e[i].reset && i > 0) first_new = i;
    ASSERT_GT(first_new, size_t(0));
    const Element& last = e[first_new - 1];  // the old map's last element
    EXPECT_TRUE(last.has("death killer=0 victim=4 headshot=1 weapon=\"ak47\""))
        << ::testing::PrintToString(last.chunks);
    EXPECT_TRUE(last.has("msg code=1 arg1=0 arg2=0"));
    EXPECT_TRUE(last.has("score t=4 ct=1"));
    EXPECT_TRUE(contains(last.chunks, "chat kind=2 sender=0 text=\"hello from bot 10"));

    auto records = demoChunks(demo);
    ASSERT_FALSE(records.empty());
    EXPECT_EQ(records.back(), last.chunks);  // the demo ends where the broadcast's map does
    EXPECT_TRUE(contains(records.back(), "score t=4 ct=1"));
    EXPECT_EQ(h->find("ERROR"), -1) << h->text();
}

TEST_F(Lifecycle, EachRecordedMapGetsAFileAndAFailedWriteIsReportedOnce) {
    start("record_demos on\n");
    h->host().activateMap("de_kovi");
    ASSERT_TRUE(g_demo.recording());
    ASSERT_TRUE(play(3));
    h->host().deactivateMap();
    EXPECT_FALSE(g_demo.recording());
    int records = 0;
    EXPECT_EQ(readDemo(g_demo.path(), &records), -1);
    EXPECT_EQ(records, queuedCount());  // the same elements, without the delay

    h->host().activateMap("de_full");
    g_net_faults.demo_short_write = true;
    bool played = play(queuedCount() + 2);
    g_net_faults.demo_short_write = false;
    ASSERT_TRUE(played);
    EXPECT_FALSE(g_demo.recording());
    h->host().deactivateMap();
    int line = h->find("PacketDelayer :: Failed to write demo, recording stopped");
    EXPECT_GE(line, 0) << h->text();
    EXPECT_EQ(h->find("Failed to write demo", line + 1), -1);
    EXPECT_NE(std::string(g_demo.path()).find("_de_full.kdem"), std::string::npos);
    // The line names the file and the system's reason; the status tells the truth until a map
    // records again.
    EXPECT_NE(h->lines()[size_t(line)].find(std::string(": \"") + g_demo.path() +
                                            "\" (No space left on device)"),
              std::string::npos)
        << h->lines()[size_t(line)];
    EXPECT_NE(h->runCommand("kovitv").find(
                  "Demo recording: enabled, failing: No space left on device\n"),
              std::string::npos);

    h->host().activateMap("de_third");
    ASSERT_TRUE(g_demo.recording());
    EXPECT_NE(h->runCommand("kovitv").find("Demo recording: enabled\n"), std::string::npos);
    EXPECT_EQ(h->runCommand("kovitv record off"), "Demo recording is disabled.\n");
    ASSERT_TRUE(play(queuedCount() + 2));  // the encoder closes it before its next record
    EXPECT_FALSE(g_demo.recording());
}

TEST_F(Lifecycle, EventsOverASnapshotsRoomAreDroppedWithOneLinePerMap) {
    start();
    h->host().activateMap("de_kovi");
    ASSERT_TRUE(play(2));
    // A chat flood in one half second: the slot keeps 1024, the snapshot carries 510 of those.
    const std::string text(240, 'x');
    for (int i = 0; i < EVENTS_MAX + 76; i++)
        capture::appendEvent<ChatPacketChunk>(2, 1, text.c_str());
    int before = queuedCount();
    ASSERT_TRUE(play(before + 2));
    h->host().deactivateMap();
    int line = h->find("PacketDelayer :: 514 events dropped this map: a snapshot holds at most 255 packets");
    EXPECT_GE(line, 0) << h->text();
    EXPECT_GE(h->find("Capture :: 76 events dropped this map: a half-second slot holds at most 1024"), 0);
    int longest = 0;
    g_mut1.lock();
    for (PacketBuffer::BufferElement* el = g_pck_buffer.m_first; el; el = el->m_next)
        longest = std::max(longest, el->m_packets.count());
    g_mut1.unlock();
    EXPECT_EQ(longest, 255);

    h->host().activateMap("de_other");
    ASSERT_TRUE(play(queuedCount() + 2));
    h->host().deactivateMap();
    EXPECT_EQ(h->find("events dropped", line + 2), -1);  // counted afresh for each map
}

TEST_F(Lifecycle, ConcurrentAFullDiskClosesTheDemoReadableAndTheBroadcastGoesOn) {
    start("record_demos on\n");
    std::pair<std::atomic<bool>*, const char*> faults[] = {{&g_net_faults.demo_no_space, "de_nospace"},
                                                           {&g_net_faults.demo_short_write, "de_short"}};
    for (auto [fault, map] : faults) {
        h->host().activateMap(map);
        ASSERT_TRUE(g_demo.recording());
        ASSERT_TRUE(play(queuedCount() + 3));
        fault->store(true);
        bool played = play(queuedCount() + 2);
        fault->store(false);
        ASSERT_TRUE(played);
        EXPECT_FALSE(g_demo.recording());
        EXPECT_TRUE(play(queuedCount() + 4));  // the encoder goes on without its demo
        h->host().deactivateMap();
        std::string path = g_demo.path();
        RunResult verify = runProgram(std::string(KOVITV_KDEM) + " verify " + path);
        EXPECT_EQ(verify.status, 0) << verify.output;
        int records = 0;
        EXPECT_EQ(readDemo(path.c_str(), &records), -1);
        EXPECT_GE(records, 3) << map;
    }
    int line = h->find("PacketDelayer :: Failed to write demo, recording stopped");
    ASSERT_GE(line, 0) << h->text();
    line = h->find("PacketDelayer :: Failed to write demo", line + 1);
    ASSERT_GE(line, 0) << h->text();  // one line for each of the two maps
    EXPECT_EQ(h->find("Failed to write demo", line + 1), -1);
}

TEST_F(Lifecycle, AnUnwritableDemoFolderCostsOnlyTheDemosUntilItIsMended) {
    g_net_faults.folders_unwritable = true;
    start("record_demos on\n");
    EXPECT_GE(h->find("Failed to create folder for demos"), 0) << h->text();
    h->host().activateMap("de_kovi");
    EXPECT_GE(h->find("ServerActivate_Post :: Failed to start demo record"), 0) << h->text();
    EXPECT_FALSE(g_demo.recording());
    EXPECT_TRUE(g_delay_thread.running());
    EXPECT_TRUE(play(3));  // the broadcast is not affected
    h->host().deactivateMap();

    g_net_faults.folders_unwritable = false;  // the admin mends the permissions
    h->host().activateMap("de_other");
    EXPECT_TRUE(g_demo.recording());
    EXPECT_TRUE(play(queuedCount() + 2));
    h->host().deactivateMap();
    int records = 0;
    EXPECT_EQ(readDemo(g_demo.path(), &records), -1);
    EXPECT_GE(records, 2);
}

TEST_F(Lifecycle, UnloadStopsEveryThreadBeforeFreeingWhatTheyUse) {
    start();
    h->host().activateMap("de_kovi");
    ASSERT_TRUE(play(2));
    unloadPlugin();  // with the encoder, the sender and the web server running
    EXPECT_FALSE(g_delay_thread.running());
    EXPECT_FALSE(g_udp_thread.running());
    EXPECT_FALSE(g_tcp_thread.running());
    EXPECT_FALSE(g_statemgr.allocated());
    EXPECT_EQ(g_pck_buffer.m_count, 0);
    EXPECT_EQ(g_name_coll.count(), 0);
    unloadPlugin();  // and again, finding nothing
}
