// Message interception and the handlers, fed with Counter-Strike's message sequences.
#include "capture/handlers.h"
#include "capture_fixture.h"

namespace {
class CaptureMessages : public CaptureTest {};
}  // namespace

TEST_F(CaptureMessages, RegistrationFillsTheTablesAndLateResolutionWorksFromTheNextMapStart) {
    EXPECT_EQ(gmsgDeathMsg, 66);
    EXPECT_EQ(g_msg[gmsgDeathMsg], Client_DeathMsg);
    EXPECT_EQ(g_msg[gmsgResetHUD], nullptr);  // an end handler only
    EXPECT_EQ(g_msg_end[gmsgResetHUD], Client_ResetHUD);
    int known = gmsgHealth;
    registerMessage("Health", 300);  // no table entry for ids of 256 or more
    EXPECT_EQ(gmsgHealth, 300);
    EXPECT_EQ(g_msg[known], Client_Health);

    // Attached after the game registered: nothing until Metamod is asked at map start.
    forgetMessages();
    send(s_known_ids[7].second, 1, {55});
    EXPECT_EQ(slotOf(1).m_changed, 0);
    mapStart();
    send(gmsgHealth, 1, {55});
    EXPECT_EQ(slotOf(1).m_health, 55);
    EXPECT_EQ(gmsgCurWeapon, 64);
}

TEST_F(CaptureMessages, TargetsAndTypesOutsideTheTables) {
    MessageBegin(MSG_ALL, gmsgHealth, nullptr, nullptr);
    EXPECT_EQ(mPlayerIndex, -1);
    MessageBegin(MSG_ONE, gmsgHealth, nullptr, entity(1));
    EXPECT_EQ(mPlayerIndex, 0);
    MessageBegin(MSG_ONE, gmsgHealth, nullptr, entity(40));  // no player: nobody's
    EXPECT_EQ(mPlayerIndex, -1);
    EXPECT_EQ(m_meta.mres, MRES_IGNORED);

    g_msg[0] = Client_Health;
    send(300, 2, {70});
    EXPECT_EQ(slotOf(2).m_health, 70);
    send(-5, 3, {80});  // a negative type reads entry 0 too, never outside the table
    EXPECT_EQ(slotOf(3).m_health, 80);
}

TEST_F(CaptureMessages, AKillByTheWorldHasKiller0xFFAndMarksTheVictimDead) {
    send(gmsgDeathMsg, 0, {0, 4, 1, "worldspawn"});
    auto* kill = lastEvent<DeathPacketChunk>(CHUNK_DEATH);
    ASSERT_NE(kill, nullptr);
    EXPECT_EQ(kill->m_killer, 0xFF);
    EXPECT_EQ(kill->m_victim, 3);
    EXPECT_EQ(kill->m_headshot, 1);
    EXPECT_STREQ(kill->m_weapon, "worldspawn");
    EXPECT_EQ(kill->getSize(), 4 + 10);
    EXPECT_EQ(slotOf(4).m_state, STATE_DEAD);
    send(gmsgDeathMsg, 0, {2, 33, 0, "ak47"});  // victim out of range: nothing
    EXPECT_EQ(events().size(), 1u);
}

TEST_F(CaptureMessages, ChatIsCapturedOnceFromTheSendersCopyAndTeamChatOnlyWhenAllowed) {
    for (int to : {2, 3, 1})  // one copy per recipient, the sender's last
        send(gmsgSayText, to, {1, "#Cstrike_Chat_CT", "", "rush b\n"});
    ASSERT_EQ(events().size(), 1u);
    auto* line = lastEvent<ChatPacketChunk>(CHUNK_CHAT);
    EXPECT_EQ(line->m_kind, 0);
    EXPECT_EQ(line->m_sender, 0);
    EXPECT_STREQ(line->m_text, "rush b\n");

    g_limitchat = 0;
    send(gmsgSayText, 1, {1, "#Cstrike_Chat_CT", "", "team"});
    EXPECT_EQ(events().size(), 1u);
    send(gmsgSayText, 1, {1, "#Cstrike_Chat_All", "", "all"});
    ASSERT_EQ(events().size(), 2u);
    EXPECT_EQ(lastEvent<ChatPacketChunk>(CHUNK_CHAT)->m_kind, 2);
    send(gmsgSayText, 0, {0, "#Cstrike_Chat_All", "", "server"});  // sender 0 is nobody
    send(gmsgSayText, 1, {1, "#Cstrike_Name_Change", "a", "b"});
    EXPECT_EQ(events().size(), 2u);
}

TEST_F(CaptureMessages, OnlyTheHeldWeaponsClipGoingDownIsAShot) {
    const int ak = 28, deagle = 26, knife = 29;
    auto fired = [&] { return (slotOf(1).m_state & STATE_FIRED) != 0; };
    send(gmsgCurWeapon, 1, {1, ak, 30});
    send(gmsgCurWeapon, 1, {1, deagle, 7});  // switching
    send(gmsgCurWeapon, 1, {1, ak, 30});
    EXPECT_FALSE(fired());
    EXPECT_EQ(slotOf(1).m_weapon, ak);
    send(gmsgCurWeapon, 1, {1, knife, -1});
    send(gmsgCurWeapon, 1, {1, knife, -1});
    EXPECT_FALSE(fired());
    send(gmsgCurWeapon, 1, {0, ak, 20});  // put away: ignored
    send(gmsgCurWeapon, 1, {1, ak, 29});
    EXPECT_TRUE(fired());
    EXPECT_EQ(g_players[0].m_clip[ak], 29);
    EXPECT_EQ(g_players[0].m_weapon, ak);
}

TEST_F(CaptureMessages, ResetHudTurnsBothIconsOffUntilTheNextStatusIcon) {
    send(gmsgStatusIcon, 1, {1, "c4", 0, 160, 0});
    send(gmsgStatusIcon, 1, {1, "defuser", 0, 160, 0});
    send(gmsgStatusIcon, 0, {0, "c4"});  // addressed to nobody
    EXPECT_EQ(g_players[0].m_icons, ICON_C4 | ICON_DEFUSER);
    g_players[0].m_health = 100;
    send(gmsgResetHUD, 1, {});
    EXPECT_EQ(g_players[0].m_icons, 0);
    EXPECT_EQ(slotOf(1).m_state, STATE_SPAWNED | STATE_ALIVE);
    EXPECT_EQ(slotOf(1).m_health, 100);
    nextSlot();
    PlayerPostThink(entity(1));
    EXPECT_EQ(slotOf(1).m_icons, 0);
    send(gmsgStatusIcon, 1, {1, "c4", 0, 160, 0});
    PlayerPostThink(entity(1));
    EXPECT_EQ(slotOf(1).m_icons, ICON_C4);
}

TEST_F(CaptureMessages, PlantingSetsTheRoundClockFromTheC4TimerAndDroppingDoesNot) {
    m_globals.time = 70.4f;
    send(gmsgRoundTime, 0, {115});
    send(gmsgBombDrop, 0, {-100.9, 250.5, 10.0, 0});
    EXPECT_EQ(g_roundtime.m_seconds, 115);
    EXPECT_EQ(g_current->m_bomb.m_state, 1);
    EXPECT_EQ(g_current->m_bomb.m_x, -100);
    m_globals.time = 80.7f;
    send(gmsgBombDrop, 0, {5.0, 6.0, 7.0, 1});
    EXPECT_EQ(g_roundtime.m_seconds, 35);
    EXPECT_EQ(g_roundtime.m_last_second, 80);
    EXPECT_EQ(g_current->m_bomb.m_state, 2);
    send(gmsgBombPickup, 0, {});
    EXPECT_EQ(g_current->m_bomb.m_state, 0);
    EXPECT_EQ(g_current->m_bomb.m_changed, 1);
}

TEST_F(CaptureMessages, ScoresTeamsDamageAndHealth) {
    send(gmsgTeamScore, 0, {"SPECTATOR", 4});
    send(gmsgTeamScore, 0, {"CT", 7});
    send(gmsgTeamScore, 2, {"TERRORIST", 9});  // a newcomer's own copy
    EXPECT_EQ(g_current->m_score.m_score[0], 4);
    EXPECT_EQ(g_current->m_score.m_score[2], 7);
    EXPECT_EQ(g_current->m_score.m_score[1], 0);

    send(gmsgDamage, 1, {0, 0, 0, 1.0, 2.0, 3.0});
    EXPECT_EQ(slotOf(1).m_changed, 0);
    send(gmsgDamage, 1, {5, 27, 2, 1.0, 2.0, 3.0});
    EXPECT_EQ(slotOf(1).m_state, STATE_HIT);

    send(gmsgScoreInfo, 0, {3, 300, 2, 0, 1});
    send(gmsgTeamInfo, 0, {4, "CT"});
    EXPECT_EQ(slotOf(3).m_kills, 44);
    EXPECT_EQ(slotOf(3).m_team, 1);
    EXPECT_EQ(slotOf(4).m_team, 2);

    send(gmsgHealth, 1, {0});
    EXPECT_EQ(g_players[0].m_died, 1);
    send(gmsgHealth, 0, {50});  // nobody's health
    send(gmsgHealth, 1, {100});
    EXPECT_EQ(g_players[0].m_died, 0);
    EXPECT_EQ(slotOf(1).m_health, 100);
}

TEST_F(CaptureMessages, RoundAnnouncementsAreBroadcastOnly) {
    send(gmsgSendAudio, 0, {0, "%!MRAD_terwin", 100});
    send(gmsgSendAudio, 2, {1, "%!MRAD_ctwin", 100});  // a player's radio
    send(gmsgSendAudio, 0, {0, "%!MRAD_GO", 100});
    ASSERT_EQ(events().size(), 1u);
    EXPECT_EQ(lastEvent<MsgPacketChunk>(CHUNK_MSG)->m_code, MSG_TERWIN);
}
