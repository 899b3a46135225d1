// The frame, entity and client hooks, and what the per-frame paths allocate.
#include <atomic>
#include <cstdlib>
#include <new>

#include "broadcast/connections.h"
#include "capture_fixture.h"

// Counting allocator: every operator new of the test binary goes through malloc as before; only
// the thread that asked for counting counts, so other tests and threads see no difference.
namespace {
thread_local bool t_counting = false;
thread_local long t_allocations = 0;
void* counted(size_t size) {
    if (t_counting) ++t_allocations;
    void* p = malloc(size ? size : 1);
    if (!p) throw std::bad_alloc();
    return p;
}
}  // namespace
void* operator new(size_t size) { return counted(size); }
void* operator new[](size_t size) { return counted(size); }
void* operator new(size_t size, const std::nothrow_t&) noexcept { return malloc(size ? size : 1); }
void* operator new[](size_t size, const std::nothrow_t&) noexcept { return malloc(size ? size : 1); }
void operator delete(void* p) noexcept { free(p); }
void operator delete[](void* p) noexcept { free(p); }
void operator delete(void* p, size_t) noexcept { free(p); }
void operator delete[](void* p, size_t) noexcept { free(p); }
void operator delete(void* p, const std::nothrow_t&) noexcept { free(p); }
void operator delete[](void* p, const std::nothrow_t&) noexcept { free(p); }

namespace {

class CaptureHooks : public CaptureTest {
protected:
    edict_t* player(int index, float x, float y, float yaw) {
        edict_t* e = entity(index);
        e->v.health = 100;
        e->v.movetype = MOVETYPE_WALK;
        e->v.origin[0] = x;
        e->v.origin[1] = y;
        e->v.v_angle[1] = yaw;
        return e;
    }
    // A grenade entity thrown by player 1; class names are offsets into m_strings.
    edict_t* grenade(int index) {
        strcpy(m_strings + 1, "grenade");
        edict_t* e = entity(index);
        e->v.classname = 1;
        e->v.owner = entity(1);
        return e;
    }
    GrenadePacketChunk* lastGrenade() const { return lastEvent<GrenadePacketChunk>(CHUNK_GRENADE); }
};

}  // namespace

TEST_F(CaptureHooks, PlayerPostThinkSamplesWalkersOnlyAndReportsDeaths) {
    PlayerPostThink(player(1, -1.9f, 1024.7f, 359.9f));
    PlayerState& p = slotOf(1);
    EXPECT_EQ(p.m_x, -1);
    EXPECT_EQ(p.m_y, 1024);
    EXPECT_EQ(p.m_yaw, 359);
    EXPECT_EQ(p.m_state, STATE_ALIVE);
    EXPECT_EQ(p.m_changed, CHANGED_ICONS | CHANGED_STATE | CHANGED_POSITION);

    edict_t* ladder_less = player(2, 5, 5, 5);
    ladder_less->v.movetype = MOVETYPE_NOCLIP;
    PlayerPostThink(ladder_less);
    EXPECT_EQ(slotOf(2).m_changed, CHANGED_ICONS);

    g_players[2].m_died = 1;  // its last Health said 0
    PlayerPostThink(player(3, 1, 1, 1));
    nextSlot();
    PlayerPostThink(player(3, 1, 1, 1));
    EXPECT_EQ(slotOf(3).m_state, STATE_DIED | STATE_ALIVE);
    EXPECT_EQ(slotOf(3).m_x, 0);
    entity(4)->v.deadflag = DEAD_RESPAWNABLE;
    PlayerPostThink(entity(4));
    EXPECT_EQ(slotOf(4).m_state, STATE_DEAD);
}

TEST_F(CaptureHooks, StartFrameTicksTheRoundClockOncePerSecondDownToMinusOne) {
    g_roundtime.m_seconds = 2;
    g_roundtime.m_last_second = 1;
    for (float t : {1.2f, 1.99f, 2.0f, 2.5f, 3.0f, 4.0f, 5.0f}) {
        m_globals.time = t;
        StartFrame();
    }
    int ticks = 0, last = 99;
    for (int s = 0; s < 15; ++s)
        for (EventNode* n = g_statemgr.slot(s)->m_events.m_head; n; n = n->m_next, ++ticks)
            last = static_cast<RTimePacketChunk*>(n->m_chunk)->m_seconds;
    EXPECT_EQ(ticks, 3);  // 1, 0, -1
    EXPECT_EQ(last, -1);
    EXPECT_EQ(g_roundtime.m_seconds, -1);
}

TEST_F(CaptureHooks, TheVersionVariableFollowsTheSpectatorCount) {
    int count = g_connmgr.m_count, max = g_connmgr.m_max;
    g_spectators = 0;
    s_cvar_sets = 0;
    g_connmgr.m_count = 3;
    g_connmgr.m_max = 20;
    StartFrame();
    StartFrame();
    EXPECT_EQ(s_cvar_set, std::string(KOVITV_VERSION) + " (3/20)");
    EXPECT_EQ(s_cvar_sets, 1);
    g_connmgr.m_count = count;
    g_connmgr.m_max = max;
    StartFrame();
    g_spectators = 0;
}

TEST_F(CaptureHooks, AGrenadesLifeFromThrowToRemoval) {
    player(1, 100, 200, 0);
    edict_t* g = grenade(40);
    SetModel(g, "models/w_flashbang.mdl");
    ASSERT_NE(lastGrenade(), nullptr);
    EXPECT_EQ(lastGrenade()->m_event, GRENADE_THROWN);
    EXPECT_EQ(lastGrenade()->m_type, GRENADE_FLASH);
    EXPECT_EQ(lastGrenade()->m_id, 1);
    EXPECT_EQ(lastGrenade()->m_x, 100);  // the thrower's position

    g->v.origin[0] = 300;
    for (int i = 0; i < 3; ++i) Think(g);
    EXPECT_EQ(events().size(), 2u);  // every third think
    EXPECT_EQ(lastGrenade()->m_event, GRENADE_MOVED);
    EXPECT_EQ(lastGrenade()->m_x, 300);
    EmitSound(g, 1, "weapons/grenade_hit1.wav", 1, 1, 0, 100);
    EmitSound(g, 1, "weapons/flashbang-1.wav", 1, 1, 0, 100);
    EXPECT_EQ(lastGrenade()->m_event, GRENADE_EXPLODED);
    EmitSound(g, 1, "weapons/he_bounce-1.wav", 1, 1, 0, 100);  // exploded, not yet dropped
    EXPECT_EQ(lastGrenade()->m_event, GRENADE_MOVED);
    EmitSound(g, 1, "we", 1, 1, 0, 100);  // short samples are read safely
    EXPECT_EQ(events().size(), 5u);
    Think(g);
    EXPECT_EQ(g_grenades.m_head, nullptr);
    for (int i = 0; i < 3; ++i) Think(g);
    EmitSound(g, 1, "weapons/he_bounce-1.wav", 1, 1, 0, 100);
    EXPECT_EQ(events().size(), 5u);

    SetModel(entity(41), "models/w_hegrenade.mdl");  // no owner: not thrown
    SetModel(grenade(41), "models/w_ak47.mdl");
    SetModel(grenade(41), "models/w_");
    EXPECT_EQ(events().size(), 5u);
}

TEST_F(CaptureHooks, GrenadeIdsRunFromOneAndThe32ndGetsZero) {
    player(1, 0, 0, 0);
    for (int i = 1; i <= 33; ++i) {
        SetModel(grenade(i % 2 ? 40 : 41), i % 3 ? "models/w_hegrenade.mdl" : "models/w_smokegrenade.mdl");
        int expected = i % 32;
        ASSERT_EQ(lastGrenade()->m_id, expected) << i;
    }
    EXPECT_EQ(lastGrenade()->m_type, GRENADE_SMOKE);
    EXPECT_EQ(g_grenades.find(entity(41))->m_type, GRENADE_HE);  // the 32nd, on a reused entity
    EXPECT_EQ(g_grenades.find(entity(41))->m_id, 0);
}

TEST_F(CaptureHooks, ConnectionsAndNames) {
    char reject[128];
    slotOf(5).m_team = 2;
    slotOf(5).m_icons = ICON_C4;
    PlayerPostThink(player(5, 1, 1, 1));
    g_players[4].m_died = 1;
    ClientDisconnect(entity(5));
    EXPECT_EQ(slotOf(5).m_state, 0xE8);
    EXPECT_EQ(slotOf(5).m_team, 0);
    EXPECT_EQ(slotOf(5).m_icons, 0);
    EXPECT_EQ(g_players[4].m_died, 0);
    EXPECT_EQ(ClientConnect(entity(6), "x", "1.2.3.4", reject), 1);
    EXPECT_EQ(slotOf(6).m_changed, 0x94);

    strcpy(m_strings + 20, "netname");
    entity(7)->v.netname = 20;
    char empty[] = "", named[] = "Kovi";
    ClientUserInfoChanged_Post(entity(7), empty);
    EXPECT_STREQ(g_name_coll.get(int(slotOf(7).m_name)), "netname");
    ClientUserInfoChanged_Post(entity(7), named);
    EXPECT_STREQ(g_name_coll.get(int(slotOf(7).m_name)), "Kovi");
    EXPECT_EQ(slotOf(7).m_changed, CHANGED_NAME);
}

TEST_F(CaptureHooks, PerFrameAndPerMessagePathsAllocateNothingButEvents) {
    g_players[0].m_icons = ICON_C4;
    for (int i = 1; i <= 32; ++i) player(i, float(i), 2, 3);
    g_roundtime.m_seconds = 100;
    g_roundtime.m_last_second = 1;
    send(gmsgDeathMsg, 0, {1, 2, 0, "ak47"});  // the weapon name is now known
    auto frame = [&] {
        StartFrame();
        for (int i = 1; i <= 32; ++i) PlayerPostThink(entity(i));
        send(gmsgCurWeapon, 1, {1, 28, 29});
        send(gmsgHealth, 1, {90});
        send(gmsgDamage, 1, {0, 10, 0, 1.0, 2.0, 3.0});
        send(gmsgStatusIcon, 2, {1, "defuser", 0, 160, 0});
        send(gmsgScoreInfo, 0, {3, 1, 2, 0, 1});
        send(gmsgTeamInfo, 0, {3, "TERRORIST"});
        send(gmsgTeamScore, 0, {"CT", 3});
        send(gmsgBombDrop, 0, {1.0, 2.0, 3.0, 0});
        send(1, 0, {1, 2, "not read"});  // a message nobody reads
    };
    auto count = [&](auto&& calls) {
        t_allocations = 0;
        t_counting = true;
        calls();
        t_counting = false;
        return t_allocations;
    };
    m_globals.time = 1.1f;
    EXPECT_EQ(count(frame), 0);
    m_globals.time = 2.0f;  // a new game second: one clock chunk and its node
    EXPECT_EQ(count(frame), 2);
    EXPECT_EQ(count([&] { send(gmsgDeathMsg, 0, {0, 3, 0, "ak47"}); }), 2);
}
