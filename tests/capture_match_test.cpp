// The plugin in simhost through a scripted match: what the slots hold against the script's trace.
// The test takes the closed slots itself, in the encoder's place, so nothing is cleared unseen.
#include <gtest/gtest.h>

#include <fstream>
#include <map>
#include <sstream>

#include "capture/handlers.h"
#include "match.h"
#include "net/globals.h"
#include "state/names.h"
#include "stream/chunks.h"
#include "test_host.h"

namespace {

template <typename... T>
std::string words(const T&... parts) {
    std::ostringstream out;
    ((out << parts << ' '), ...);
    return out.str();
}

// The value of key in a trace line, strings unescaped.
std::string field(const std::string& line, const std::string& key) {
    size_t i = line.find("\"" + key + "\":");
    if (i == std::string::npos) return "";
    i += key.size() + 3;
    if (line[i] != '"') return line.substr(i, line.find_first_of(",}", i) - i);
    std::string out;
    for (++i; line[i] != '"'; ++i) out += line[i] == '\\' ? (line[++i] == 'n' ? '\n' : line[i]) : line[i];
    return out;
}

struct Story {
    std::vector<std::string> events, plants;  // the bomb is a record, apart from the events
    std::map<int, std::string> names;
    int score[3] = {};

    void absorb(const StateManager::States& s) {
        for (EventNode* n = s.m_events.m_head; n; n = n->m_next) {
            PacketChunk* chunk = n->m_chunk;
            if (chunk->getHeader() == CHUNK_DEATH) {
                auto* d = static_cast<DeathPacketChunk*>(chunk);
                events.push_back(words("kill", +d->m_killer, +d->m_victim, +d->m_headshot, d->m_weapon));
            } else if (chunk->getHeader() == CHUNK_CHAT) {
                auto* c = static_cast<ChatPacketChunk*>(chunk);
                events.push_back(words("chat", +c->m_kind, +c->m_sender, c->m_text));
            } else if (chunk->getHeader() == CHUNK_MSG) {
                events.push_back(words("radio", +static_cast<MsgPacketChunk*>(chunk)->m_code));
            } else if (chunk->getHeader() == CHUNK_GRENADE) {
                auto* g = static_cast<GrenadePacketChunk*>(chunk);
                if (g->m_event != GRENADE_MOVED) events.push_back(words("grenade", +g->m_event, +g->m_type));
            }
        }
        if (s.m_bomb.m_changed && s.m_bomb.m_state == 2) plants.push_back(words(s.m_bomb.m_x, s.m_bomb.m_y));
        if (s.m_score.m_changed) score[1] = s.m_score.m_score[1], score[2] = s.m_score.m_score[2];
        for (const PlayerState& p : s.m_players)
            if (p.m_changed & CHANGED_NAME) names[p.m_index + 1] = g_name_coll.get(int(p.m_name));
    }

    // The same from the trace's lines of the last map.
    void read(const std::string& path) {
        std::ifstream in(path);
        for (std::string line; std::getline(in, line);) {
            std::string e = field(line, "event"), action = field(line, "action"), type = field(line, "type");
            auto num = [&](const char* key) { return atoi(field(line, key).c_str()); };
            auto at = [&](const char* key) { return int16_t(atof(field(line, key).c_str())); };
            if (e == "map") *this = Story();
            if (e == "kill")
                events.push_back(words("kill", num("killer") ? num("killer") - 1 : 255, num("victim") - 1,
                                       num("headshot"), field(line, "weapon")));
            for (const ChatKind& k : g_chat_kinds)
                if (e == "chat" && field(line, "key") == k.key)
                    events.push_back(words("chat", k.kind, num("player") - 1, field(line, "text")));
            for (const RadioCode* r = g_radio_codes; r->code; ++r)
                if (e == "radio" && num("player") == 0 && field(line, "code") == r->code)
                    events.push_back(words("radio", r->message));
            int kind = type == "grenade" ? GRENADE_HE : type == "flashbang" ? GRENADE_FLASH : GRENADE_SMOKE;
            if (e == "grenade" && (action == "throw" || action == "explode"))
                events.push_back(words("grenade", action == "throw" ? GRENADE_THROWN : GRENADE_EXPLODED, kind));
            if (e == "bomb" && action == "plant") plants.push_back(words(at("x"), at("y")));
            if (e == "join") names[num("player")] = field(line, "name");
            if (e == "name") names[num("player")] = field(line, "new");
            if (e == "round_end") score[1] = num("score_t"), score[2] = num("score_ct");
        }
    }
};

void playAndCompare(bool attach_late) {
    ScratchDir dir;
    SimOptions options = scratchOptions(dir);
    options.cvars["mp_c4timer"] = "25";
    InProcessHost h(options);
    MatchOptions mo;
    mo.seed = 4;  // kills by the world, plants, a leave and a rename within 200 s
    mo.trace_path = dir.file("trace.jsonl");
    h.host().setGame(new Match(h.host(), mo));
    if (attach_late) h.host().activateMap("de_kovi");  // the game registers its messages unseen
    ASSERT_TRUE(h.load());
    h.host().activateMap(attach_late ? "de_kovi_two" : "de_kovi");
    g_delay_thread.stop();
    Story seen, script;
    for (int frame = 0; frame < 200 * 100; ++frame) {
        h.host().runFrame();
        while (StateManager::States* s = g_statemgr.take()) seen.absorb(*s);
    }
    seen.absorb(*g_current);
    for (int i = 1; i <= 10; ++i) {  // the open slot holds this frame's places
        const entvars_t& v = h.host().edict(i)->v;
        const PlayerState& p = g_current->m_players[i - 1];
        if (p.m_changed & CHANGED_POSITION) {
            EXPECT_EQ(words(p.m_x, p.m_yaw), words(int16_t(v.origin[0]), int16_t(v.v_angle[1]))) << i;
        }
    }
    h.host().shutdown();
    EXPECT_EQ(h.host().hookWarnings(), 0);
    script.read(mo.trace_path);
    ASSERT_GT(script.events.size(), 40u);
    size_t same = 0;
    while (same < script.events.size() && same < seen.events.size() && seen.events[same] == script.events[same]) ++same;
    EXPECT_EQ(same, script.events.size()) << "captured " << (same < seen.events.size() ? seen.events[same] : "nothing")
                                          << " where the script did " << (same < script.events.size() ? script.events[same] : "nothing");
    EXPECT_EQ(seen.events.size(), script.events.size());
    EXPECT_EQ(seen.plants, script.plants);
    EXPECT_EQ(seen.names, script.names);
    EXPECT_EQ(words(seen.score[1], seen.score[2]), words(script.score[1], script.score[2]));
}

}  // namespace

TEST(CaptureMatch, TheSlotsHoldWhatTheScriptDidWhenAttachedAtStartUp) { playAndCompare(false); }
TEST(CaptureMatch, TheSlotsHoldWhatTheScriptDidWhenAttachedAfterTheGameRegistered) { playAndCompare(true); }
