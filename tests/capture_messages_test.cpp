// Message interception and the handlers, fed with Counter-Strike's message sequences.
#include "capture/handlers.h"
#include "capture_fixture.h"

using CaptureMessages = CaptureTest;

TEST_F(CaptureMessages, RegistrationFillsTheTablesAndLateResolutionWorksFromTheNextMapStart) {
    EXPECT_EQ(g_msg[gmsgDeathMsg], Client_DeathMsg);
    EXPECT_EQ(g_msg[gmsgResetHUD], nullptr);
    EXPECT_EQ(g_msg_end[gmsgResetHUD], Client_ResetHUD);
    registerMessage("Health", 300);  // stored, but no table holds it
    EXPECT_EQ(gmsgHealth, 300);
    forgetMessages();  // attached after the game registered its messages
    send(71, 1, {55});
    EXPECT_EQ(slotOf(1).m_changed, 0);
    mapStart();
    send(71, 1, {55});
    EXPECT_EQ(slotOf(1).m_health, 55);
}

TEST_F(CaptureMessages, TargetsAndTypesOutsideTheTables) {
    MessageBegin(MSG_ALL, gmsgHealth, nullptr, nullptr);
    EXPECT_EQ(mPlayerIndex, -1);
    MessageBegin(MSG_ONE, gmsgHealth, nullptr, entity(1));
    EXPECT_EQ(mPlayerIndex, 0);
    MessageBegin(MSG_ONE, gmsgHealth, nullptr, entity(40));  // not a player: nobody's
    EXPECT_EQ(mPlayerIndex, -1);
    EXPECT_EQ(m_meta.mres, MRES_IGNORED);
    g_msg[0] = Client_Health;
    send(300, 2, {70});
    send(-5, 3, {80});  // negative types too: never outside the table
    EXPECT_EQ(slotOf(2).m_health, 70);
    EXPECT_EQ(slotOf(3).m_health, 80);
}

TEST_F(CaptureMessages, AKillByTheWorldHasKiller0xFF) {
    send(gmsgDeathMsg, 0, {0, 4, 1, "worldspawn"});
    auto* kill = lastEvent<DeathPacketChunk>(CHUNK_DEATH);
    ASSERT_NE(kill, nullptr);
    EXPECT_EQ(kill->m_killer, 0xFF);
    EXPECT_EQ(kill->m_victim, 3);
    EXPECT_EQ(kill->getSize(), 4 + 10);
    EXPECT_EQ(slotOf(4).m_state, STATE_DEAD);
    send(gmsgDeathMsg, 0, {2, 33, 0, "ak47"});  // no such victim
    EXPECT_EQ(eventCount(), 1);
}

TEST_F(CaptureMessages, AChatLineIsCapturedOnceAndTeamChatOnlyWhenAllowed) {
    for (int to : {2, 3, 1})  // a copy per recipient, the sender's last
        send(gmsgSayText, to, {1, "#Cstrike_Chat_CT", "", "rush b\n"});
    ASSERT_EQ(eventCount(), 1);
    EXPECT_STREQ(lastEvent<ChatPacketChunk>(CHUNK_CHAT)->m_text, "rush b\n");
    g_limitchat = 0;
    send(gmsgSayText, 1, {1, "#Cstrike_Chat_CT", "", "team"});
    EXPECT_EQ(eventCount(), 1);
    send(gmsgSayText, 1, {1, "#Cstrike_Chat_All", "", "all"});
    ASSERT_EQ(eventCount(), 2);
    EXPECT_EQ(lastEvent<ChatPacketChunk>(CHUNK_CHAT)->m_kind, 2);
}

TEST_F(CaptureMessages, OnlyTheHeldWeaponsClipGoingDownIsAShot) {
    const int ak = 28, deagle = 26, knife = 29;
    for (int repeat = 0; repeat < 2; ++repeat) {
        send(gmsgCurWeapon, 1, {1, ak, 30});
        send(gmsgCurWeapon, 1, {1, deagle, 7});
        send(gmsgCurWeapon, 1, {1, knife, -1});
    }
    send(gmsgCurWeapon, 1, {0, ak, 20});  // put away
    EXPECT_EQ(slotOf(1).m_state, 0);
    EXPECT_EQ(slotOf(1).m_weapon, knife);
    send(gmsgCurWeapon, 1, {1, ak, 29});
    EXPECT_EQ(slotOf(1).m_state, STATE_FIRED);
}

TEST_F(CaptureMessages, AfterResetHudNeitherIconShows) {
    send(gmsgStatusIcon, 1, {1, "c4", 0, 160, 0});
    send(gmsgStatusIcon, 1, {1, "defuser", 0, 160, 0});
    EXPECT_EQ(g_players[0].m_icons, ICON_C4 | ICON_DEFUSER);
    send(gmsgResetHUD, 1, {});
    EXPECT_EQ(slotOf(1).m_state, STATE_SPAWNED | STATE_ALIVE);
    nextSlot();
    PlayerPostThink(entity(1));
    EXPECT_EQ(slotOf(1).m_icons, 0);
}

TEST_F(CaptureMessages, PlantingSetsTheRoundClockFromTheC4TimerAndDroppingDoesNot) {
    m_globals.time = 70.4f;
    send(gmsgRoundTime, 0, {115});
    send(gmsgBombDrop, 0, {-100.9, 250.5, 10.0, 0});
    EXPECT_EQ(g_roundtime.m_seconds, 115);
    EXPECT_EQ(g_current->m_bomb.m_x, -100);
    send(gmsgBombDrop, 0, {5.0, 6.0, 7.0, 1});
    EXPECT_EQ(g_roundtime.m_seconds, 35);
    EXPECT_EQ(g_current->m_bomb.m_state, 2);
    // A player joining now is told the round's time; the clock stays on the bomb's.
    send(gmsgRoundTime, 3, {64});
    EXPECT_EQ(g_roundtime.m_seconds, 35);
    send(gmsgSendAudio, 0, {0, "%!MRAD_ctwin", 100});  // defused: the next round's time counts
    send(gmsgRoundTime, 0, {5});
    EXPECT_EQ(g_roundtime.m_seconds, 5);
    send(gmsgBombDrop, 0, {5.0, 6.0, 7.0, 1});
    send(gmsgSendAudio, 0, {0, "%!MRAD_BOMBPL", 100});  // the plant's own call decides nothing
    send(gmsgRoundTime, 0, {90});
    EXPECT_EQ(g_roundtime.m_seconds, 35);
}

TEST_F(CaptureMessages, AnUnknownTeamsScoreGoesToIndexZeroAndNoDamageChangesNothing) {
    send(gmsgTeamScore, 0, {"SPECTATOR", 4});
    send(gmsgTeamScore, 2, {"CT", 9});  // a newcomer's own copy
    EXPECT_EQ(g_current->m_score.m_score[0], 4);
    EXPECT_EQ(g_current->m_score.m_score[2], 0);
    send(gmsgDamage, 1, {0, 0, 0, 1.0, 2.0, 3.0});
    EXPECT_EQ(slotOf(1).m_changed, 0);
}

// The sequences of the real game (ReGameDLL_CS, seen on a real server).
TEST_F(CaptureMessages, TheGamesDefuseIsAnnouncedAsSuchThenTheCtsWinAndTheBombLeaves) {
    m_globals.time = 70.4f;
    send(gmsgBombDrop, 0, {5.0, 6.0, 7.0, 1});
    send(gmsgSendAudio, 0, {0, "%!MRAD_BOMBPL", 100});
    ASSERT_TRUE(g_roundtime.m_bomb);
    nextSlot();
    send(gmsgSendAudio, 0, {0, "%!MRAD_BOMBDEF", 100});
    EXPECT_FALSE(g_roundtime.m_bomb);  // the round is decided: the next RoundTime counts
    send(gmsgBombPickup, 0, {});
    send(gmsgSendAudio, 0, {0, "%!MRAD_ctwin", 100});
    std::vector<int> codes;
    for (EventNode* n = g_current->m_events.m_head; n != nullptr; n = n->m_next)
        if (n->m_chunk->getHeader() == CHUNK_MSG)
            codes.push_back(static_cast<MsgPacketChunk*>(n->m_chunk)->m_code);
    EXPECT_EQ(codes, (std::vector<int>{MSG_BOMBDEF, MSG_CTWIN}));
    EXPECT_EQ(g_current->m_bomb.m_state, 0);
    send(gmsgRoundTime, 0, {5});
    EXPECT_EQ(g_roundtime.m_seconds, 5);
}

TEST_F(CaptureMessages, TheBombsSecondDropMovesItToWhereItLiesWithoutAnEvent) {
    send(gmsgBombDrop, 0, {-100.9, 250.5, 36.0, 0});  // where the carrier fell
    EXPECT_EQ(eventCount(), 0);
    nextSlot();
    int ticks = eventCount();  // the round clock's
    send(gmsgBombDrop, 0, {-40.2, 260.7, 2.0, 0});  // a second later, at rest
    EXPECT_EQ(g_current->m_bomb.m_state, 1);
    EXPECT_EQ(g_current->m_bomb.m_x, -40);
    EXPECT_EQ(g_current->m_bomb.m_y, 260);
    EXPECT_EQ(eventCount(), ticks);
}

TEST_F(CaptureMessages, AnObserversHealthOfOneKeepsHimDead) {
    edict_t* e = entity(1);
    send(gmsgResetHUD, 1, {});
    send(gmsgHealth, 1, {100});
    e->v.health = 100;
    e->v.movetype = MOVETYPE_WALK;
    PlayerPostThink(e);
    send(gmsgHealth, 1, {0});
    send(gmsgDeathMsg, 0, {2, 1, 0, "ak47"});
    nextSlot();
    e->v.deadflag = DEAD_DEAD;
    PlayerPostThink(e);
    nextSlot();
    // A few seconds later the game makes him an observer.
    e->v.deadflag = DEAD_RESPAWNABLE;
    e->v.health = 1;
    e->v.movetype = MOVETYPE_NONE;
    send(gmsgHealth, 1, {1});
    PlayerPostThink(e);
    EXPECT_EQ(slotOf(1).m_health, 1);
    EXPECT_EQ(slotOf(1).m_state & (STATE_DEAD | STATE_ALIVE), STATE_DEAD);
}
