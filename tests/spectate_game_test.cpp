// spectate's model of the game: what it keeps, what it forgets, and when it asks for a resync.
#include <gtest/gtest.h>

#include <string>

#include "broadcast/mirror.h"
#include "game.h"
#include "stream/chunks.h"
#include "view.h"

namespace {

// Packs chunks the way the server does and hands each packet to the game as one datagram.
class Stream {
public:
    Stream& player(int slot, const char* name, uint8_t mask, int team = 1, int kills = 0,
                   int deaths = 0) {
        PlayerState p{};
        p.m_kills = static_cast<uint8_t>(kills);
        p.m_deaths = static_cast<uint8_t>(deaths);
        p.m_index = static_cast<uint8_t>(slot);
        p.m_name = static_cast<uint32_t>(m_names.put(name));
        p.m_team = static_cast<uint8_t>(team);
        p.m_health = 100;
        p.m_state = STATE_ALIVE;
        PlayerPacketChunk chunk(&p, &m_names);
        chunk.m_full = false;
        chunk.m_mask = mask;
        m_packets.addChunk(chunk);
        return *this;
    }
    Stream& map(const char* name) {
        MapState m{};
        m.m_name = static_cast<uint32_t>(m_names.put(name));
        m_packets.addChunk(MapPacketChunk(&m, &m_names));
        return *this;
    }
    Stream& chunk(PacketChunk&& c) {
        m_packets.addChunk(c);
        return *this;
    }
    // Every packet as a datagram; false when the game found one damaged.
    bool sendTo(SpectatorGame& game) {
        bool sound = true;
        for (Packet* p = m_packets.first(); p != nullptr; p = p->m_next)
            sound = game.receive(p->m_ptr, p->m_length, 1.0) && sound;
        m_packets.clear();
        return sound;
    }

private:
    NamesCollection m_names;
    PacketManager m_packets;
};

int presentCount(const SpectatorGame& game) {
    int n = 0;
    for (int slot = 0; slot < MAX_PLAYERS; slot++) n += game.present(slot);
    return n;
}

TEST(SpectateGame, AnEmptyMapNameForgetsEveryPlayerAndTheOldMapsFeed) {
    SpectatorGame game;
    Stream s;
    s.map("de_kovi").player(3, "alice", 0xFF).player(7, "bob", 0xFF, 2);
    s.chunk(DeathPacketChunk(3, 7, 1, "ak47"));
    ASSERT_TRUE(s.sendTo(game));
    EXPECT_STREQ(game.mapName(), "de_kovi");
    EXPECT_EQ(presentCount(game), 2);
    ASSERT_EQ(game.m_feed.size(), 1u);
    EXPECT_EQ(game.m_feed[0].m_killer, "alice");

    // The first element of the next map: empty name, zero score and bomb, nobody on it yet.
    ScoreState score{};
    BombState bomb{};
    s.map("").chunk(ScorePacketChunk(&score)).chunk(BombPacketChunk(&bomb));
    ASSERT_TRUE(s.sendTo(game));
    EXPECT_EQ(presentCount(game), 0);
    EXPECT_TRUE(game.m_feed.empty());
    EXPECT_NE(jsonState(game, 2.0).find("\"players\":[]"), std::string::npos);
    ASSERT_FALSE(game.m_events.empty());
    EXPECT_EQ(jsonEvent(game.m_events.back(), 2.0), "{\"t\":2.00,\"type\":\"reset\",\"reason\":\"map\"}");
}

TEST(SpectateGame, PlayersOfANewMapsFirstElementSurviveItsResetWithTheirNames) {
    SpectatorGame game;
    Stream s;
    s.map("de_kovi").player(3, "alice", 0xFF).player(7, "bob", 0xFF, 2);
    ASSERT_TRUE(s.sendTo(game));
    // The encoder writes players before the map chunk: the reset must not wipe them.
    s.player(5, "carol", 0xFF, 2).map("");
    ASSERT_TRUE(s.sendTo(game));
    EXPECT_EQ(presentCount(game), 1);
    ASSERT_TRUE(game.present(5));
    EXPECT_NE(jsonState(game, 2.0).find("carol"), std::string::npos);
    EXPECT_EQ(jsonState(game, 2.0).find("alice"), std::string::npos);
}

TEST(SpectateGame, AFullStateReplacesThePlayersItDoesNotList) {
    SpectatorGame game;
    Stream s;
    s.map("de_kovi").player(20, "left over", 0xFF);
    ASSERT_TRUE(s.sendTo(game));
    ASSERT_TRUE(game.present(20));

    // What the sender sends a joining spectator: built from a mirror with four slots.
    StateManager mirror;
    mirror.allocate(0);
    NamesCollection names;
    mirror.slot(0)->m_map.m_name = static_cast<uint32_t>(names.put("de_kovi"));
    mirror.slot(0)->m_players[1].m_name = static_cast<uint32_t>(names.put("carol"));
    PacketManager full;
    buildFullState(full, *mirror.slot(0), names, 4);
    for (Packet* p = full.first(); p != nullptr; p = p->m_next)
        ASSERT_TRUE(game.receive(p->m_ptr, p->m_length, 1.0));
    EXPECT_EQ(game.m_full_states, 1);
    EXPECT_FALSE(game.present(20));
    EXPECT_TRUE(game.present(1));
    EXPECT_STREQ(game.mapName(), "de_kovi");
}

int scoreboards(const SpectatorGame& game) {
    int n = 0;
    for (const GameEvent& e : game.m_events) n += e.m_type == GameEvent::SCOREBOARD;
    return n;
}

TEST(SpectateGame, TheRunningStreamsScoreReportsTheScoreboardAFullStatesDoesNot) {
    SpectatorGame game;
    Stream s;
    ScoreState score{};
    score.m_score[1] = 4;
    score.m_score[2] = 1;
    score.m_changed = 1;
    s.map("de_kovi").player(3, "alice", 0xFF, 1, 5, 2).player(9, "bob", 0xFF, 2, 255, 7);
    s.chunk(ScorePacketChunk(&score));
    ASSERT_TRUE(s.sendTo(game));
    ASSERT_EQ(scoreboards(game), 1);
    game.m_events.back().m_wall = 1765200000.25;
    EXPECT_EQ(jsonEvent(game.m_events.back(), 2.0),
              "{\"t\":2.00,\"type\":\"scoreboard\",\"wall\":1765200000.250,\"map\":\"de_kovi\","
              "\"score\":{\"t\":4,\"ct\":1},\"players\":[[3,5,2],[9,255,7]]}");

    // A full state sends its score before its players: what it would report is half old.
    game.m_events.clear();
    StateManager mirror;
    mirror.allocate(0);
    NamesCollection names;
    mirror.slot(0)->m_map.m_name = static_cast<uint32_t>(names.put("de_kovi"));
    mirror.slot(0)->m_score = score;
    mirror.slot(0)->m_players[1].m_name = static_cast<uint32_t>(names.put("carol"));
    PacketManager full;
    buildFullState(full, *mirror.slot(0), names, 4);
    for (Packet* p = full.first(); p != nullptr; p = p->m_next)
        ASSERT_TRUE(game.receive(p->m_ptr, p->m_length, 1.0));
    EXPECT_EQ(game.m_full_states, 1);
    EXPECT_EQ(scoreboards(game), 0);
}

TEST(SpectateGame, AsksForAResyncOnUnknownPlayersAndDamagedDatagrams) {
    SpectatorGame game;
    Stream s;
    s.player(4, "dave", CHANGED_HEALTH);  // never introduced: its name went missing
    ASSERT_TRUE(s.sendTo(game));
    EXPECT_TRUE(game.m_gap);
    game.m_gap = false;
    s.player(4, "dave", CHANGED_NAME).player(4, "dave", CHANGED_HEALTH);
    ASSERT_TRUE(s.sendTo(game));
    EXPECT_FALSE(game.m_gap);

    const char cut[] = {0, 0, CHUNK_SCORE, 1};  // a score chunk one byte short
    EXPECT_FALSE(game.receive(cut, sizeof(cut), 1.0));
    const char unknown[] = {0, 0, 37, CHUNK_HBEAT, 2, 0, 0};
    EXPECT_FALSE(game.receive(unknown, sizeof(unknown), 1.0));
    EXPECT_FALSE(game.receive(cut, 1, 1.0));
}

TEST(SpectateGame, JsonLinesStayValidWhateverAPlayerIsCalled) {
    EXPECT_EQ(jsonString("a\"b\\c"), "\"a\\\"b\\\\c\"");
    EXPECT_EQ(jsonString(std::string("\x1b[2J\n", 5)), "\"\\u001b[2J\\u000a\"");
    EXPECT_EQ(jsonString("caf\xc3\xa9"), "\"caf\xc3\xa9\"");     // UTF-8 passes through
    EXPECT_EQ(jsonString("caf\xe9!"), "\"caf\\u00e9!\"");        // Latin-1 is escaped
    EXPECT_EQ(jsonString("\xe2\x82"), "\"\\u00e2\\u0082\"");     // a cut sequence too
}

}  // namespace

TEST(SpectateGame, TheRealGamesObserverHealthChatLineEndAndSecondBombDropShowAsMeant) {
    SpectatorGame game;
    Stream s;
    s.map("de_kovi").player(3, "alice", 0xFF);
    // Dead and watching: the game gives observers health 1; the state bits say dead.
    PlayerState dead{};
    dead.m_index = 3;
    dead.m_health = 1;
    dead.m_state = STATE_DEAD;
    PlayerPacketChunk observer(&dead, nullptr);
    observer.m_full = false;
    observer.m_mask = CHANGED_HEALTH | CHANGED_STATE;
    s.chunk(std::move(observer));
    s.chunk(ChatPacketChunk(2, 3, "hello from bot 10\n"));
    BombState bomb{};
    bomb.m_state = 1;
    bomb.m_x = -100;
    bomb.m_y = 250;
    s.chunk(BombPacketChunk(&bomb));  // where the carrier fell
    ASSERT_TRUE(s.sendTo(game));
    bomb.m_x = -40;
    bomb.m_y = 260;
    s.chunk(BombPacketChunk(&bomb));  // a second later, where it lies
    ASSERT_TRUE(s.sendTo(game));

    std::string json = jsonState(game, 2.0);
    EXPECT_NE(json.find("\"name\":\"alice\",\"team\":\"T\",\"alive\":false,\"health\":0,"),
              std::string::npos)
        << json;
    EXPECT_NE(json.find("\"bomb\":{\"state\":\"dropped\",\"x\":-40,\"y\":260}"), std::string::npos)
        << json;
    ASSERT_EQ(game.m_chat.size(), 1u);
    EXPECT_EQ(game.m_chat[0].m_text, "hello from bot 10");
    bool chat_event = false;
    for (const GameEvent& e : game.m_events)
        if (e.m_type == GameEvent::CHAT) {
            chat_event = true;
            EXPECT_NE(jsonEvent(e, 1.0).find("\"text\":\"hello from bot 10\"}"), std::string::npos);
        }
    EXPECT_TRUE(chat_event);
    Traffic traffic;
    ViewStatus status;
    status.m_traffic = &traffic;
    status.m_server = "127.0.0.1:1";
    std::string screen = renderTerminal(game, status);
    EXPECT_NE(screen.find("Bomb dropped at (-40, 260)"), std::string::npos) << screen;
    EXPECT_NE(screen.find("[all] alice: hello from bot 10\x1b[K\n"), std::string::npos) << screen;
    EXPECT_EQ(screen.find("bot 10?"), std::string::npos);
    EXPECT_NE(screen.find("alice                  0"), std::string::npos) << screen;
    EXPECT_NE(screen.find(" dead "), std::string::npos) << screen;
}

TEST(SpectateGame, ADefuseIsAnnouncedAsSuchBeforeTheCtsWin) {
    SpectatorGame game;
    Stream s;
    s.map("de_kovi").chunk(MsgPacketChunk(MSG_BOMBDEF)).chunk(MsgPacketChunk(MSG_CTWIN));
    ASSERT_TRUE(s.sendTo(game));
    std::vector<std::string> announced;
    for (const GameEvent& e : game.m_events)
        if (e.m_type == GameEvent::ANNOUNCE) announced.push_back(jsonEvent(e, 1.0));
    ASSERT_EQ(announced.size(), 2u);
    EXPECT_NE(announced[0].find("\"code\":3,\"text\":\"Bomb defused\""), std::string::npos) << announced[0];
    EXPECT_NE(announced[1].find("\"code\":0,\"text\":\"Counter-Terrorists win\""), std::string::npos);
}
