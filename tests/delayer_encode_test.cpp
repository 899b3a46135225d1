// The delta encoder against its baseline, the delay buffer's queue, and one encoder round on the
// capture ring.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "broadcast/buffer.h"
#include "broadcast/delayer.h"
#include "demo/demo.h"
#include "host/host.h"
#include "pipeline_helpers.h"
#include "stream/chunks.h"
#include "test_host.h"

namespace {

class Encoder : public ::testing::Test {
protected:
    NamesCollection names;
    StateManager::States slot, base;

    // A baseline that has told map, score and bomb already, so only what a test sets is sent.
    void SetUp() override {
        base.m_map.m_changed = base.m_score.m_changed = base.m_bomb.m_changed = 1;
    }
    std::vector<std::string> encode(int max_clients = 32) {
        PacketManager packets;
        encodeSlot(&slot, &base, &names, max_clients, &packets);
        return chunksOf(packets);
    }
    using Lines = std::vector<std::string>;
};

}  // namespace

TEST_F(Encoder, ASlotWithNothingInItIsOneSixByteHeartbeatPacket) {
    PacketManager packets;
    encodeSlot(&slot, &base, &names, 32, &packets);
    ASSERT_EQ(packets.count(), 1);
    Packet* p = packets.first();
    ASSERT_EQ(p->m_length, 6);
    EXPECT_EQ(std::string(p->m_data, 6), std::string("\0\0\x26\x02\0\0", 6));
}

TEST_F(Encoder, OnlyTheGroupsThatChangedAreSentAndTheBaselineFollows) {
    PlayerState& p = slot.m_players[3];
    base.m_players[3].m_x = 10;
    base.m_players[3].m_y = 20;
    p.m_x = 10, p.m_y = 20, p.m_yaw = 90;  // only the yaw differs
    p.m_deaths = 1;                      // only the deaths differ
    p.m_changed = CHANGED_POSITION | CHANGED_KILLS;
    EXPECT_EQ(encode(), (Lines{"player slot=3 mask=0x09 pos=10,20,90 kills=0 deaths=1"}));
    EXPECT_EQ(base.m_players[3].m_yaw, 90);
    EXPECT_EQ(base.m_players[3].m_changed, CHANGED_POSITION | CHANGED_KILLS);
    EXPECT_EQ(encode(), (Lines{"hbeat bytes=2,0,0"}));  // the baseline knows it now

    p.m_health = 50;
    p.m_name = static_cast<uint32_t>(names.put("alice"));
    p.m_changed = CHANGED_HEALTH | CHANGED_NAME;
    EXPECT_EQ(encode(), (Lines{"player slot=3 mask=0x22 health=50 name=\"alice\""}));
}

TEST_F(Encoder, RecordsNotWrittenThisSlotAreNeverEncoded) {
    slot.m_players[0].m_x = 5;  // differs from the baseline, but m_changed is 0
    slot.m_players[1].m_health = 7;
    slot.m_players[1].m_changed = CHANGED_POSITION;  // the bit of another group
    EXPECT_EQ(encode(), (Lines{"hbeat bytes=2,0,0"}));
    EXPECT_EQ(base.m_players[0].m_x, 0);
    EXPECT_EQ(base.m_players[1].m_health, 0);
}

TEST_F(Encoder, PlayersAtOrBeyondMaxClientsAreNeverLookedAt) {
    slot.m_players[3].m_team = 1;
    slot.m_players[3].m_changed = CHANGED_TEAM;
    slot.m_players[4].m_team = 2;
    slot.m_players[4].m_changed = CHANGED_TEAM;
    slot.m_players[4].m_index = 77;
    EXPECT_EQ(encode(4), (Lines{"player slot=3 mask=0x10 team=1"}));
    EXPECT_EQ(slot.m_players[4].m_index, 77);
    EXPECT_EQ(base.m_players[4].m_team, 0);
}

TEST_F(Encoder, AnEmptyBaselineOpensWithMapScoreAndBombWhateverTheSlotHolds) {
    StateManager::States fresh;
    slot.m_map.m_origin_x = 999;  // left by an earlier map; not valid in this slot
    PacketManager packets;
    encodeSlot(&slot, &fresh, &names, 32, &packets);
    EXPECT_EQ(chunksOf(packets), (Lines{"map name=\"\" zoom=0 rotated=0 x=0 y=0", "score t=0 ct=0",
                                        "bomb x=0 y=0 state=0"}));

    // The real map follows; the same map again says nothing.
    slot.m_map = MapState{static_cast<uint32_t>(names.put("de_kovi")), -832, 2464, 130, 1, 1};
    packets.clear();
    encodeSlot(&slot, &fresh, &names, 32, &packets);
    EXPECT_EQ(chunksOf(packets), (Lines{"map name=\"de_kovi\" zoom=130 rotated=1 x=-832 y=2464"}));
    packets.clear();
    encodeSlot(&slot, &fresh, &names, 32, &packets);
    EXPECT_EQ(chunksOf(packets), (Lines{"hbeat bytes=2,0,0"}));
}

TEST_F(Encoder, ScoreAndBombAreSentWhenValidAndDifferent) {
    base.m_score.m_score[1] = 3;
    slot.m_score.m_score[1] = 5;  // not valid in this slot: nothing
    EXPECT_EQ(encode(), (Lines{"hbeat bytes=2,0,0"}));
    slot.m_score.m_score[0] = 9;  // entry 0 is neither compared nor sent
    slot.m_score.m_score[1] = 3;
    slot.m_score.m_changed = 1;
    EXPECT_EQ(encode(), (Lines{"hbeat bytes=2,0,0"}));
    slot.m_score.m_score[2] = 300;
    slot.m_bomb = BombState{-5, 6, 2, 1};
    EXPECT_EQ(encode(), (Lines{"score t=3 ct=44", "bomb x=-5 y=6 state=2"}));
    EXPECT_EQ(base.m_score.m_score[0], 0);
}

TEST_F(Encoder, EventsFollowTheStateChunksInTheOrderTheyHappened) {
    slot.m_events.emplace<RTimePacketChunk>(85);
    slot.m_events.emplace<DeathPacketChunk>(1, 2, 1, "ak47");
    slot.m_events.emplace<MsgPacketChunk>(MSG_TERWIN, 0, 0);
    slot.m_players[2].m_health = 1;
    slot.m_players[2].m_changed = CHANGED_HEALTH;
    slot.m_bomb = BombState{1, 1, 1, 1};
    EXPECT_EQ(encode(), (Lines{"player slot=2 mask=0x02 health=1", "bomb x=1 y=1 state=1",
                               "rtime seconds=85",
                               "death killer=1 victim=2 headshot=1 weapon=\"ak47\"",
                               "msg code=1 arg1=0 arg2=0"}));
}

TEST_F(Encoder, EventsThatWouldOpenPacket256AreDroppedAndSmallerOnesStillFit) {
    // 245-byte chats go two to a packet with 20 bytes to spare: 510 fill 255 packets.
    const std::string text(240, 'x');
    for (int i = 0; i < 600; i++) slot.m_events.emplace<ChatPacketChunk>(2, 1, text.c_str());
    slot.m_events.emplace<MsgPacketChunk>(MSG_CTWIN, 0, 0);
    PacketManager packets;
    EXPECT_EQ(encodeSlot(&slot, &base, &names, 32, &packets), 90);
    ASSERT_EQ(packets.count(), SNAPSHOT_PACKETS_MAX);
    EXPECT_EQ(chunksOf(packets).back(), "msg code=0 arg1=0 arg2=0");

    // The demo record of that snapshot holds every one of its packets.
    ScratchDir dir;
    DemoRecorder demo;
    ASSERT_EQ(demo.init(dir.path().c_str()), 0);
    ASSERT_EQ(demo.start("de_loud"), 0);
    ASSERT_EQ(demo.write(&packets), 0);
    demo.close();
    FILE* file = fopen(demo.path(), "rb");
    ASSERT_NE(file, nullptr);
    DemoReader reader(file);
    PacketManager back;
    ASSERT_TRUE(reader.begin());
    ASSERT_EQ(reader.next(&back), DemoStatus::record);
    EXPECT_EQ(chunksOf(back), chunksOf(packets));
    EXPECT_EQ(reader.next(&back), DemoStatus::end);
    fclose(file);
}

TEST(DelayBuffer, ThirtySecondsKeepSixtyElementsQueued) {
    PacketBuffer buffer;
    buffer.setDelay(30);
    EXPECT_EQ(buffer.m_delay, 60);
    std::vector<PacketBuffer::BufferElement*> made;
    for (int i = 0; i < 60; i++) made.push_back(buffer.add());
    EXPECT_EQ(buffer.take(), nullptr);
    made.push_back(buffer.add());
    EXPECT_EQ(buffer.take(), made[0]);
    EXPECT_EQ(buffer.m_current, made[0]);
    EXPECT_EQ(buffer.m_count, 60);
    EXPECT_EQ(buffer.take(), nullptr);
    made.push_back(buffer.add());
    EXPECT_EQ(buffer.take(), made[1]);  // and the first is freed (ASan would see it otherwise)
}

TEST(DelayBuffer, OnlyTheFirstElementAfterAResetCarriesTheMark) {
    PacketBuffer buffer;
    PacketBuffer::BufferElement* old_map = buffer.add();
    buffer.m_reset = 1;
    PacketBuffer::BufferElement* first = new PacketBuffer::BufferElement;
    buffer.append(first);
    PacketBuffer::BufferElement* second = buffer.add();
    EXPECT_EQ(old_map->m_reset, 0);
    EXPECT_EQ(first->m_reset, 1);
    EXPECT_EQ(second->m_reset, 0);
    EXPECT_EQ(buffer.m_count, 3);
}

TEST(DelayBuffer, WithNobodyTakingOnlyTheOldestBeyondTheLongestDelayAreFreed) {
    PacketBuffer buffer;
    buffer.setDelay(300);
    buffer.m_reset = 1;  // a map starts: its first element will be among those dropped
    PacketBuffer::BufferElement* first = buffer.add();
    for (int i = 1; i < PACKET_BUFFER_MAX; i++) buffer.add();
    EXPECT_EQ(buffer.m_first, first);
    EXPECT_EQ(buffer.m_dropped, 0);
    PacketBuffer::BufferElement* newest = nullptr;
    for (int i = 0; i < 5; i++) newest = buffer.add();
    EXPECT_EQ(buffer.m_count, PACKET_BUFFER_MAX);
    EXPECT_EQ(buffer.m_dropped, 5);
    EXPECT_EQ(buffer.m_last, newest);
    EXPECT_EQ(buffer.m_first->m_prev, nullptr);
    EXPECT_EQ(buffer.m_first->m_reset, 1);  // the sender still starts its mirror afresh
    EXPECT_NE(buffer.take(), nullptr);      // more than the delay is queued
}

TEST(DelayBuffer, NoDelayStillLeavesTheNewestElementQueued) {
    PacketBuffer buffer;
    buffer.setDelay(0);
    buffer.add();
    EXPECT_EQ(buffer.take(), nullptr);  // the newest may still be in the making
    buffer.add();
    EXPECT_NE(buffer.take(), nullptr);
    EXPECT_EQ(buffer.m_count, 1);
}

TEST(DelayerRound, TakesASlotOnlyOnceTheGameHasOpenedANewerOne) {
    globalvars_t globals{};
    globals.maxClients = 8;
    globalvars_t* saved = gpGlobals;
    gpGlobals = &globals;
    float clock = 100.0f;
    g_pck_buffer.clear();
    g_statemgr.allocate(CAPTURE_RING_LAST);
    g_statemgr.restart(&clock);
    g_current->m_players[1].m_health = 90;
    g_current->m_players[1].m_changed = CHANGED_HEALTH;

    ASSERT_TRUE(delaySlot());   // slot 1, never written: the opening map, score and bomb
    EXPECT_FALSE(delaySlot());  // slot 2 is still open
    EXPECT_EQ(g_pck_buffer.m_count, 1);
    clock = 100.5f;
    g_statemgr.advance();  // not later than its closing time: still open
    EXPECT_FALSE(delaySlot());
    clock = 100.51f;
    g_statemgr.advance();
    ASSERT_TRUE(delaySlot());
    EXPECT_EQ(g_statemgr.m_done, 2);
    EXPECT_EQ(chunksOf(g_pck_buffer.m_last->m_packets), (std::vector<std::string>{"player slot=1 mask=0x02 health=90"}));
    EXPECT_EQ(g_pck_buffer.m_count, 2);

    g_pck_buffer.clear();
    g_statemgr.clear();
    gpGlobals = saved;
}
