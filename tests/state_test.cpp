// The snapshot ring, the change tests and the names collection.
#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "allocations.h"
#include "sdk/engine.h"
#include "state/names.h"
#include "state/state.h"
#include "stream/chunks.h"

namespace {

class Ring : public ::testing::Test {
protected:
    void SetUp() override {
        m_ring.allocate(15);
        m_clock = 100.0f;
        m_ring.restart(&m_clock);
    }
    int index(StateManager::States* slot) { return static_cast<int>(slot - m_ring.m_states); }
    // Frames every 0.01 s up to and including `until`; the time of frame n is computed, not
    // summed, so 100.50 is exactly the float 100.5.
    void runTo(double until) {
        while (100.0 + (m_frame + 1) * 0.01 < until + 0.005) {
            m_frame++;
            m_clock = static_cast<float>(100.0 + m_frame * 0.01);
            m_ring.advance();
        }
    }
    int m_frame = 0;

    StateManager m_ring;
    float m_clock;
};

TEST_F(Ring, FollowsTheWorkedTimeline) {
    EXPECT_EQ(m_ring.m_write, 2);
    EXPECT_EQ(index(g_current), 2);
    EXPECT_FLOAT_EQ(m_ring.slot(2)->m_time, 100.5f);
    g_current->m_map.m_changed = 1;

    StateManager::States* first = m_ring.take();  // slot 1, never filled
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(index(first), 1);
    EXPECT_EQ(first->m_map.m_changed, 0);
    EXPECT_EQ(m_ring.take(), nullptr);  // slot 2 is still open

    runTo(100.50);
    EXPECT_EQ(m_ring.m_write, 2);  // 100.50 is not past 100.5
    runTo(100.51);
    EXPECT_EQ(m_ring.m_write, 3);
    EXPECT_NEAR(m_ring.slot(3)->m_time, 101.01f, 1e-4);

    StateManager::States* second = m_ring.take();
    ASSERT_NE(second, nullptr);
    EXPECT_EQ(index(second), 2);
    EXPECT_EQ(second->m_map.m_changed, 1);
    EXPECT_EQ(m_ring.m_done, 2);
    EXPECT_EQ(m_ring.m_read, 3);

    runTo(101.02);
    EXPECT_EQ(m_ring.m_write, 4);
    EXPECT_NEAR(m_ring.slot(4)->m_time, 101.52f, 1e-4);
}

TEST_F(Ring, TakingClearsTheSlotTakenBefore) {
    StateManager::States* a = m_ring.take();
    ASSERT_NE(a, nullptr);
    g_current->m_events.emplace<HBeatPacketChunk>();
    g_current->m_players[5].m_health = 42;
    g_current->m_players[5].m_changed = CHANGED_HEALTH;
    runTo(100.51);
    StateManager::States* b = m_ring.take();
    ASSERT_NE(b, nullptr);
    EXPECT_EQ(b->m_events.m_count, 1);
    runTo(101.02);
    ASSERT_NE(m_ring.take(), nullptr);
    // The slot taken before is cleared by the next take, the player's own index kept.
    EXPECT_EQ(b->m_events.m_count, 0);
    EXPECT_EQ(b->m_events.m_head, nullptr);
    EXPECT_EQ(b->m_players[5].m_health, 0);
    EXPECT_EQ(b->m_players[5].m_index, 5);
    EXPECT_EQ(b->m_time, 0.0f);
}

// With the encoder stalled, the game thread stays in its slot instead of entering the slot
// the encoder takes next or the one it still reads; the slot closes once the encoder moves on.
TEST_F(Ring, AFullRingKeepsTheCurrentSlot) {
    StateManager::States* reading = m_ring.take();  // m_done 1, m_read 2
    ASSERT_NE(reading, nullptr);
    reading->m_players[0].m_kills = 9;  // what the encoder is looking at
    runTo(110.0);
    // Slots 2..14 and 0 are the ring ahead; 1 (m_done) and 2 (m_read) are off limits.
    EXPECT_EQ(m_ring.m_write, 0);
    int stuck = m_ring.m_write;
    g_current->m_players[0].m_health = 1;
    runTo(111.0);
    EXPECT_EQ(m_ring.m_write, stuck);
    EXPECT_EQ(reading->m_players[0].m_kills, 9);  // never overwritten

    ASSERT_NE(m_ring.take(), nullptr);  // clears slot 1, takes 2
    EXPECT_EQ(m_ring.m_write, stuck);
    runTo(111.01);
    EXPECT_EQ(m_ring.m_write, 1);  // the slot just released
}

TEST(RingRecords, ChangeTestsNeedTheBitAndADifference) {
    PlayerState slot{}, base{};
    slot.m_yaw = 10;
    EXPECT_FALSE(slot.changedPosition(&base));  // differs, but never written
    slot.m_changed = CHANGED_POSITION;
    EXPECT_TRUE(slot.changedPosition(&base));  // yaw alone
    slot.m_yaw = 0;
    EXPECT_FALSE(slot.changedPosition(&base));  // written, but the same

    slot.m_changed = CHANGED_KILLS;
    slot.m_deaths = 1;
    EXPECT_TRUE(slot.changedKills(&base));  // deaths alone
    slot.m_name = 4;
    EXPECT_FALSE(slot.changedName(&base));
    slot.m_changed |= CHANGED_NAME;
    EXPECT_TRUE(slot.changedName(&base));

    slot.m_index = 7;
    slot.clear();
    EXPECT_EQ(slot.m_index, 7);
    EXPECT_EQ(slot.m_changed, 0);
    EXPECT_EQ(slot.m_deaths, 0);

    MapState map{};
    map.m_zoom = 50;
    map.m_name = 3;
    map.m_changed = 1;
    map.clear();
    EXPECT_EQ(map.m_name, 0u);
    EXPECT_EQ(map.m_changed, 0);
    EXPECT_EQ(map.m_zoom, 50);  // geometry survives
}

TEST(RingRecords, PlayerSlotAndGrenadeIds) {
    static edict_t entities[4];
    edict_t* saved = g_first_player;
    g_first_player = &entities[0];
    EXPECT_EQ(playerSlot(&entities[1]), 0);
    EXPECT_EQ(playerSlot(&entities[3]), 2);
    g_first_player = saved;

    Grenades grenades;
    int ids[33];
    for (int i = 0; i < 33; i++) ids[i] = grenades.add(&entities[1], GRENADE_HE)->m_id;
    EXPECT_EQ(ids[0], 1);
    EXPECT_EQ(ids[31], 0);  // the 32nd
    EXPECT_EQ(ids[32], 1);
    // Unlinking through the iterator, newest first.
    Grenades::iterator it = grenades.begin();
    it.unlink();
    EXPECT_EQ(grenades.m_head->m_id, 0);
    grenades.clear();
    EXPECT_EQ(grenades.m_head, nullptr);
    EXPECT_EQ(grenades.m_last_id, 1);
}

TEST(Names, IdsAreUniqueAndNeverReused) {
    NamesCollection a, b;
    int bob = a.put("Bob");
    EXPECT_EQ(a.put("Bob"), bob);
    EXPECT_EQ(a.count(), 1);
    EXPECT_NE(a.put("bob"), bob);
    EXPECT_EQ(a.put(nullptr), a.put(""));
    EXPECT_NE(b.put("Bob"), bob);  // another collection, another id
    EXPECT_STREQ(a.get(0), "");
    EXPECT_STREQ(a.get(b.put("Bob")), "");

    char* stored = nullptr;
    a.put("Bob", &stored);
    EXPECT_STREQ(stored, "Bob");
    EXPECT_EQ(a.find("Bob"), a.find(bob));

    int highest = NamesCollection::m_name_gen.load();
    a.clear();
    EXPECT_EQ(a.count(), 0);
    EXPECT_STREQ(a.get(bob), "");
    EXPECT_GT(a.put("Bob"), highest);

    // Texts are looked up by hash first: two that share one (FNV-1a) are still two names.
    NamesCollection c;
    int costarring = c.put("costarring"), declinate = c.put("declinate");
    int liquid = c.put("liquid"), macallums = c.put("macallums");
    EXPECT_NE(costarring, liquid);
    EXPECT_NE(declinate, macallums);
    EXPECT_EQ(c.put("liquid"), liquid);
    EXPECT_EQ(c.put("costarring"), costarring);
    EXPECT_STREQ(c.get(macallums), "macallums");
    EXPECT_EQ(c.count(), 4);
}

TEST(Names, BeyondTheLimitANewNameReadsBackEmptyAndTheOthersStay) {
    NamesCollection names;
    int first = names.put("name0");
    for (int i = 1; i < NAMES_MAX; i++) names.put(("name" + std::to_string(i)).c_str());
    char* stored = nullptr;
    EXPECT_EQ(names.put("one too many", &stored), 0);
    ASSERT_NE(stored, nullptr);
    EXPECT_STREQ(stored, "");
    EXPECT_EQ(names.count(), NAMES_MAX);
    EXPECT_EQ(names.refused(), 1);
    EXPECT_EQ(names.put("name0"), first);  // known names are still found
    names.clear();
    EXPECT_EQ(names.refused(), 0);
    EXPECT_NE(names.put("one too many"), 0);
}

int blockCount(const Events& events) {
    int n = 0;
    for (EventBlock* b = events.m_blocks; b != nullptr; b = b->m_next) n++;
    return n;
}

TEST(RingRecords, ASlotKeepsAtMostEventsMaxEventsAndItsStorageAcrossClears) {
    Events events;
    for (int i = 0; i < EVENTS_MAX; i++) ASSERT_TRUE(events.emplace<MsgPacketChunk>(i, 0, 0));
    EXPECT_FALSE(events.emplace<MsgPacketChunk>(1, 0, 0));
    EXPECT_EQ(events.m_count, EVENTS_MAX);
    events.clear();
    EXPECT_TRUE(events.emplace<MsgPacketChunk>(1, 0, 0));
    events.clear();

    // Chat lines of every length, to and past a block's end: each reads back whole, in order,
    // and a second fill of the same size takes no new block.
    std::string text;
    int first_fill_blocks = 0;
    for (int round = 0; round < 2; round++) {
        for (int i = 0; i < 300; i++) {
            text.assign(size_t(i % 300), char('a' + i % 26));
            ASSERT_TRUE(events.emplace<ChatPacketChunk>(2, i % 32, text.c_str()));
        }
        int i = 0;
        for (EventNode* node = events.m_head; node != nullptr; node = node->m_next, i++) {
            auto* chat = static_cast<ChatPacketChunk*>(node->m_chunk);
            ASSERT_EQ(reinterpret_cast<uintptr_t>(node) % 16, 0u);
            EXPECT_EQ(chat->m_sender, i % 32);
            EXPECT_EQ(chat->m_length, i % 300 > TEXT_MAX ? TEXT_MAX : i % 300);
            EXPECT_EQ(std::string(chat->m_text), std::string(size_t(chat->m_length), char('a' + i % 26)));
        }
        EXPECT_EQ(i, 300);
        if (round == 0) first_fill_blocks = blockCount(events);
        EXPECT_EQ(blockCount(events), first_fill_blocks);
        EXPECT_GT(first_fill_blocks, 10);
        events.clear();
        EXPECT_EQ(events.m_head, nullptr);
    }
}

TEST(RingRecords, GrenadeNodesComeFromTheStockAndGoBackToIt) {
    static edict_t entities[GRENADE_STOCK + 8];
    Grenades grenades;
    for (int i = 0; i < GRENADE_STOCK + 8; i++) ASSERT_NE(grenades.add(&entities[i], GRENADE_HE), nullptr);
    int in_stock = 0;
    for (GrenadeNode* n = grenades.m_head; n != nullptr; n = n->m_next)
        if (n >= grenades.m_stock && n < grenades.m_stock + GRENADE_STOCK) in_stock++;
    EXPECT_EQ(in_stock, GRENADE_STOCK);  // the stock first, then allocated ones (freed by ASan's count)
    for (Grenades::iterator it = grenades.begin(); !it.atEnd();) it.unlink();
    EXPECT_EQ(grenades.m_head, nullptr);
    GrenadeNode* again = grenades.add(&entities[0], GRENADE_SMOKE);
    EXPECT_EQ(again->m_entity, &entities[0]);
    EXPECT_EQ(again->m_type, GRENADE_SMOKE);
    EXPECT_EQ(again->m_exploded, 0);
    EXPECT_EQ(again->m_next, nullptr);
    EXPECT_EQ(grenades.find(&entities[1]), nullptr);
}

TEST(Names, ClearedEntriesServeTheNextTextsWhenTheyFit) {
    NamesCollection names;
    ASSERT_TRUE(names.reserve(2, 8));
    ASSERT_TRUE(names.reserve(2, 8));  // tops up, never adds beyond
    char* short_text = nullptr;
    int a = names.put("short", &short_text);
    std::string long_name(40, 'x');
    int b = names.put(long_name.c_str());
    names.clear();
    EXPECT_EQ(names.find(a), nullptr);
    char* again = nullptr;
    int c = names.put("tiny", &again);
    EXPECT_NE(c, a);  // ids never repeat, even in a kept entry
    EXPECT_STREQ(names.get(c), "tiny");
    int d = names.put(long_name.c_str());  // longer than any kept entry holds: a new one
    EXPECT_NE(d, b);
    EXPECT_STREQ(names.get(d), long_name.c_str());
    EXPECT_EQ(names.put("short"), names.put("short"));
    EXPECT_EQ(names.count(), 3);
}

// Every map brings names longer than the last map's: each takes a kept entry and only its buffer
// is new, so the kept entries stay as many as one map's names; a map like one before allocates
// nothing.
TEST(Names, KeptEntriesNeverOutnumberTheBusiestMapsNames) {
    NamesCollection names;
    auto map = [&](size_t length) {
        std::vector<std::string> texts;
        for (char c = 'a'; c < 'a' + 10; c++) texts.emplace_back(length, c);
        return allocationsDuring([&] {
            for (const std::string& text : texts) names.put(text.c_str());
        });
    };
    EXPECT_EQ(map(20), 20);  // ten entries, ten buffers
    names.clear();
    EXPECT_EQ(map(40), 10);  // the ten entries again, with bigger buffers
    names.clear();
    EXPECT_EQ(map(60), 10);
    names.clear();
    EXPECT_EQ(map(60), 0);
    names.clear();
    EXPECT_EQ(map(20), 0);
    EXPECT_EQ(names.count(), 10);
}

// One game thread fills slots, names and events and advances; one encoder takes each slot and
// checks that everything in it came from the same slot. Run under ThreadSanitizer.
TEST(StateConcurrent, EncoderSeesWholeSlotsAndNames) {
    StateManager ring;
    NamesCollection names;
    ring.allocate(15);
    float engine_clock = 100.0f;
    ring.restart(&engine_clock);
    std::atomic<bool> done{false};
    const int frames = 20000;

    std::thread encoder([&] {
        int taken = 0;
        int last_seq = -1;
        while (true) {
            bool finished = done.load(std::memory_order_acquire);
            StateManager::States* slot = ring.take();
            if (slot == nullptr) {
                if (finished) break;
                std::this_thread::yield();
                continue;
            }
            taken++;
            // Every player record of a slot was written with the same frame's sequence number.
            int seq = slot->m_players[0].m_x;
            if (!(slot->m_players[0].m_changed & CHANGED_POSITION)) continue;
            for (int i = 1; i < MAX_PLAYERS; i++) ASSERT_EQ(slot->m_players[i].m_x, seq);
            ASSERT_GT(seq, last_seq);
            last_seq = seq;
            ASSERT_EQ(slot->m_events.m_count, static_cast<int>(slot->m_players[0].m_health));
            // The name was published before the slot: its text is complete.
            const char* text = names.get(static_cast<int>(slot->m_players[1].m_name));
            ASSERT_EQ(strncmp(text, "name", 4), 0);
        }
        EXPECT_GT(taken, 10);
    });

    for (int frame = 0; frame < frames; frame++) {
        engine_clock += 0.01f;
        ring.advance();
        StateManager::States* slot = g_current;
        int id = names.put(("name" + std::to_string(frame / 50)).c_str());
        for (PlayerState& player : slot->m_players) {
            player.m_x = static_cast<int16_t>(frame / 2);
            player.m_name = static_cast<uint32_t>(id);
            player.m_changed |= CHANGED_POSITION;
        }
        if (slot->m_events.m_count < 200) {
            slot->m_events.emplace<HBeatPacketChunk>();
            slot->m_players[0].m_health = static_cast<uint8_t>(slot->m_events.m_count);
        }
    }
    done.store(true, std::memory_order_release);
    encoder.join();
}

}  // namespace
