// The frame, entity and client hooks, and what the per-frame paths allocate.
#include "allocations.h"
#include "broadcast/connections.h"
#include "capture_fixture.h"

namespace {

class CaptureHooks : public CaptureTest {
protected:
    edict_t* walker(int index) {
        edict_t* e = entity(index);
        e->v.health = 100;
        e->v.movetype = MOVETYPE_WALK;
        return e;
    }
    edict_t* grenade(int index) {  // thrown by player 1
        strcpy(m_strings + 1, "grenade");
        entity(index)->v.classname = 1;
        entity(index)->v.owner = entity(1);
        return entity(index);
    }
};

}  // namespace

TEST_F(CaptureHooks, OnlyWalkersAndClimbersGetAPositionAndADeadBodyStaysDead) {
    edict_t* noclip = walker(2);
    noclip->v.movetype = MOVETYPE_NOCLIP;
    PlayerPostThink(noclip);
    EXPECT_EQ(slotOf(2).m_changed, CHANGED_ICONS);
    g_players[2].m_died = 1;
    PlayerPostThink(walker(3));
    EXPECT_EQ(slotOf(3).m_state, STATE_DIED | STATE_ALIVE);
    EXPECT_EQ(slotOf(3).m_changed & CHANGED_POSITION, 0);
}

TEST_F(CaptureHooks, TheRoundClockTicksOncePerGameSecondDownToMinusOne) {
    g_roundtime.m_seconds = 1;
    for (float t : {1.2f, 1.99f, 2.0f, 2.5f, 3.0f, 4.0f}) {
        m_globals.time = t;
        StartFrame();
    }
    EXPECT_EQ(g_roundtime.m_seconds, -1);
    ASSERT_EQ(g_statemgr.slot(2)->m_events.m_count + g_statemgr.slot(3)->m_events.m_count, 2);
    EXPECT_EQ(static_cast<RTimePacketChunk*>(g_statemgr.slot(3)->m_events.m_tail->m_chunk)->m_seconds, -1);
}

TEST_F(CaptureHooks, TheVersionVariableChangesWithTheSpectatorCount) {
    int count = g_connmgr.m_count, max = g_connmgr.m_max, shown = g_spectators;
    g_connmgr.m_count = 3;
    g_connmgr.m_max = 20;
    StartFrame();
    EXPECT_EQ(s_cvar, std::string(KOVITV_VERSION) + " (3/20)");
    s_cvar.clear();
    StartFrame();
    EXPECT_EQ(s_cvar, "");
    // The text is formatted by hand: every width of both figures, and a limit the
    // configuration may hold but no count reaches.
    const struct { int count, max; const char* text; } cases[] = {
        {0, 0, " (0/0)"}, {9, 10, " (9/10)"}, {128, 2147483647, " (128/2147483647)"},
        {1, -1, " (1/-1)"}, {2, -2147483647 - 1, " (2/-2147483648)"}};
    for (const auto& c : cases) {
        g_connmgr.m_count = c.count;
        g_connmgr.m_max = c.max;
        StartFrame();
        EXPECT_EQ(s_cvar, std::string(KOVITV_VERSION) + c.text);
    }
    g_connmgr.m_count = count;
    g_connmgr.m_max = max;
    g_spectators = shown;
}

TEST_F(CaptureHooks, The32ndGrenadeGetsIdZeroAndAnExplodedOneIsDroppedAtItsNextThink) {
    for (int i = 1; i <= 32; ++i) SetModel(grenade(40 + i % 2), "models/w_hegrenade.mdl");
    EXPECT_EQ(lastEvent<GrenadePacketChunk>(CHUNK_GRENADE)->m_id, 0);
    EXPECT_EQ(lastEvent<GrenadePacketChunk>(CHUNK_GRENADE)->m_event, GRENADE_THROWN);
    EmitSound(grenade(40), 1, "weapons/debris2.wav", 1, 1, 0, 100);
    EmitSound(grenade(40), 1, "we", 1, 1, 0, 100);  // short samples are read safely
    EXPECT_EQ(lastEvent<GrenadePacketChunk>(CHUNK_GRENADE)->m_event, GRENADE_EXPLODED);
    Think(grenade(40));
    EXPECT_EQ(g_grenades.find(entity(40)), nullptr);
    EXPECT_NE(g_grenades.find(entity(41)), nullptr);
}

TEST_F(CaptureHooks, ADisconnectedPlayerIsDeadWithoutTeamOrIcons) {
    slotOf(5).m_team = 2;
    PlayerPostThink(walker(5));
    ClientDisconnect(entity(5));
    EXPECT_EQ(slotOf(5).m_state, 0xE8);
    EXPECT_EQ(slotOf(5).m_team, 0);
    char empty[] = "";  // an empty name: the entity's net name
    strcpy(m_strings + 20, "netname");
    entity(7)->v.netname = 20;
    ClientUserInfoChanged_Post(entity(7), empty);
    EXPECT_STREQ(g_name_coll.get(int(slotOf(7).m_name)), "netname");
}

TEST_F(CaptureHooks, PerFrameAndPerMessagePathsAndEventsAllocateNothing) {
    for (int i = 1; i <= 32; ++i) walker(i);
    g_roundtime.m_seconds = 100;
    g_roundtime.m_last_second = 1;
    send(gmsgDeathMsg, 0, {1, 2, 0, "ak47"});  // the weapon name is known from now on
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
        send(1, 0, {1, 2, "not read"});
    };
    auto allocations = [](auto&& calls) { return allocationsDuring(calls); };
    m_globals.time = 1.1f;
    EXPECT_EQ(allocations(frame), 0);
    m_globals.time = 2.0f;  // a new game second: the clock chunk is the slot's own
    EXPECT_EQ(allocations(frame), 0);
    // Events and a new weapon name are built in storage kept from attach on.
    EXPECT_EQ(allocations([&] { send(gmsgDeathMsg, 0, {0, 3, 0, "ak47"}); }), 0);
}
