#include "game_facts.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>

#include "capture/handlers.h"
#include "demo/demo_reader.h"
#include "game.h"
#include "state/events.h"
#include "trace_lines.h"

namespace {

std::string teamOfLog(const std::string& team) {
    if (team == "TERRORIST") return "T";
    if (team == "CT") return "CT";
    if (team == "SPECTATOR") return "SPECTATOR";
    return "";
}

std::string withoutLineEnd(std::string text) {
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
    return text;
}

std::string killLine(const std::string& killer, const std::string& victim, const std::string& weapon) {
    return killer + " > " + victim + " with " + weapon;
}

std::string chatLine(const std::string& name, int kind, const std::string& text) {
    return name + " [" + chatKindName(kind) + "]: " + withoutLineEnd(text);
}

// The kind the plugin gives a SayText key; -1 for one it does not capture.
int chatKind(const std::string& key) {
    for (const ChatKind& k : g_chat_kinds)
        if (key == k.key) return k.kind;
    return -1;
}

// Kind of a log's chat line: its command, the speaker's team, and whether he was dead.
int chatKindOfLog(bool team_only, const std::string& team, bool dead) {
    if (team == "SPECTATOR") return team_only ? 7 : 6;
    if (!team_only) return dead ? 5 : 2;
    if (team == "CT") return dead ? 3 : 0;
    return dead ? 4 : 1;
}

void resetScores(MapFacts& m) {
    for (auto& p : m.players) p.second.kills = p.second.deaths = 0;
    m.score_t = m.score_ct = 0;
}

}  // namespace

namespace {

// A log line read from left to right: each step checks what comes next and moves past it.
class LogCursor {
public:
    explicit LogCursor(const std::string& text) : m_s(text) {}
    bool atEnd() const { return m_i >= m_s.size(); }
    bool word(const char* text) {
        size_t n = strlen(text);
        if (m_s.compare(m_i, n, text) != 0) return false;
        m_i += n;
        return true;
    }
    bool quoted(std::string* out) {  // "..." without a quote inside
        if (m_i >= m_s.size() || m_s[m_i] != '"') return false;
        size_t end = m_s.find('"', m_i + 1);
        if (end == std::string::npos) return false;
        *out = m_s.substr(m_i + 1, end - m_i - 1);
        m_i = end + 1;
        return true;
    }
    // "name<userid><steamid><team>": the name may hold anything; the three fields follow it.
    bool player(std::string* name, std::string* team) {
        if (m_i >= m_s.size() || m_s[m_i] != '"') return false;
        size_t end = m_s.find(">\"", m_i + 1);
        if (end == std::string::npos) return false;
        std::string token = m_s.substr(m_i + 1, end - m_i);  // up to the last '>'
        size_t t3 = token.rfind('<');
        size_t t2 = t3 == std::string::npos || t3 == 0 ? std::string::npos : token.rfind('<', t3 - 1);
        size_t t1 = t2 == std::string::npos || t2 == 0 ? std::string::npos : token.rfind('<', t2 - 1);
        if (t1 == std::string::npos) return false;
        *name = token.substr(0, t1);
        *team = teamOfLog(token.substr(t3 + 1, token.size() - t3 - 2));
        m_i = end + 2;
        return true;
    }
    std::string rest() const { return m_i < m_s.size() ? m_s.substr(m_i) : ""; }

private:
    const std::string& m_s;
    size_t m_i = 0;
};

// ' (CT "a") (T "b")' at the end of a round's line.
bool teamScores(const std::string& rest, int* ct, int* t) {
    size_t c = rest.find("(CT \""), r = rest.find("(T \"");
    if (c == std::string::npos || r == std::string::npos) return false;
    *ct = atoi(rest.c_str() + c + 5);
    *t = atoi(rest.c_str() + r + 4);
    return true;
}

}  // namespace

std::vector<MapFacts> factsOfLogs(const std::vector<std::string>& paths) {
    std::vector<MapFacts> maps;
    // A map ends for the plugin at ServerDeactivate, where Metamod re-reads its plugins list:
    // at a quit the server drops its clients only after it (a round may end then), in no demo.
    bool ended = false;
    // The game commencing and a restart clear the scores when the round they call for starts.
    bool reset = false;
    for (const std::string& path : paths) {
        std::ifstream in(path);
        for (std::string line; std::getline(in, line);) {
            if (!line.empty() && line.back() == '\r') line.pop_back();
            // "L 12/09/2026 - 23:00:35: " and the event
            if (line.size() <= 25 || line[0] != 'L' || line.compare(23, 2, ": ") != 0) continue;
            const std::string body = line.substr(25);
            LogCursor c(body);
            std::string a, a_team, b, b_team, what;
            if (c.word("Loading map ")) {
                maps.emplace_back();
                ended = reset = false;
                continue;
            }
            if (body.rfind("[META] ini: Begin re-reading plugins list", 0) == 0) ended = true;
            if (maps.empty() || ended) continue;
            MapFacts& map = maps.back();
            if (c.word("Team ") && c.quoted(&a) && c.word(" triggered ") && c.quoted(&what)) {
                if (teamScores(c.rest(), &map.score_ct, &map.score_t)) map.rounds.push_back(teamOfLog(a));
                continue;
            }
            LogCursor w(body);
            if (w.word("World triggered ") && w.quoted(&what)) {
                int ct = 0, t = 0;
                if (what == "Game_Commencing" || what.rfind("Restart_Round_", 0) == 0) {
                    reset = true;
                } else if (what == "Round_Start" && reset) {
                    resetScores(map);
                    reset = false;
                } else if (what == "Round_Draw" && teamScores(w.rest(), &ct, &t)) {
                    map.rounds.push_back("draw");
                    map.score_ct = ct;
                    map.score_t = t;
                }
                continue;
            }
            LogCursor p(body);
            if (!p.player(&a, &a_team)) continue;
            if (p.word(" killed ") && p.player(&b, &b_team) && p.word(" with ") && p.quoted(&what)) {
                PlayerFacts &k = map.players[a], &v = map.players[b];
                k.team = a_team;
                v.team = b_team;
                k.kills += a_team == b_team ? -1 : 1;  // a team mate's kill costs a frag
                v.deaths++;
                map.kills.push_back(killLine(a, b, what));
            } else if (p.word(" committed suicide with ") && p.quoted(&what)) {
                // Neither a death by the world (a fall, a train) nor the kill command (weapon
                // "world") costs a frag, as the real game's scoreboard shows; the player's own
                // grenade does.
                bool world = p.word(" (world)");
                PlayerFacts& v = map.players[a];
                v.team = a_team;
                v.kills -= world || what == "world" ? 0 : 1;
                v.deaths++;
                map.kills.push_back(killLine(world ? "(world)" : a, a, what));
            } else if (p.word(" joined team ") && p.quoted(&what)) {
                map.players[a].team = teamOfLog(what);
            } else if (bool team_only = p.word(" say_team \""); team_only || p.word(" say \"")) {
                std::string text = p.rest();
                bool dead = text.size() >= 7 && text.compare(text.size() - 7, 7, " (dead)") == 0;
                if (dead) text.resize(text.size() - 7);
                if (text.empty() || text.back() != '"') continue;
                text.pop_back();
                map.chats.push_back(chatLine(a, chatKindOfLog(team_only, a_team, dead), text));
            } else if (p.word(" triggered ") && p.quoted(&what)) {
                map.plants += what == "Planted_The_Bomb";
                map.defuses += what == "Defused_The_Bomb";
            }
        }
    }
    return maps;
}

std::vector<MapFacts> factsOfTrace(const std::string& path) {
    std::vector<MapFacts> maps;
    std::map<std::string, std::string> names;  // player -> name; clients stay across maps
    std::ifstream in(path);
    for (std::string text; std::getline(in, text);) {
        TraceLine t = parseTraceLine(text);
        const std::string& e = t["event"];
        if (e == "map") {
            maps.emplace_back();
            continue;
        }
        if (e == "join") names[t["player"]] = t["name"];
        if (e == "name") names[t["player"]] = t["new"];
        if (maps.empty()) continue;
        MapFacts& map = maps.back();
        if (e == "team") {
            map.players[names[t["player"]]].team = teamOfLog(t["team"]);
        } else if (e == "kill") {
            std::string killer = t["killer"] == "0" ? "(world)" : names[t["killer"]];
            map.kills.push_back(killLine(killer, names[t["victim"]], t["weapon"]));
        } else if (e == "score") {
            PlayerFacts& p = map.players[names[t["player"]]];
            p.kills = std::stoi(t["frags"]);
            p.deaths = std::stoi(t["deaths"]);
        } else if (e == "chat") {
            int kind = chatKind(t["key"]);
            if (kind >= 0) map.chats.push_back(chatLine(names[t["player"]], kind, t["text"]));
        } else if (e == "round_end") {
            map.rounds.push_back(t["winner"] == "draw" ? "draw" : teamOfLog(t["winner"]));
            map.score_t = std::stoi(t["score_t"]);
            map.score_ct = std::stoi(t["score_ct"]);
        } else if (e == "bomb") {
            map.plants += t["action"] == "plant";
            map.defuses += t["action"] == "defuse";
        }
    }
    return maps;
}

bool factsOfDemo(const std::string& path, MapFacts* facts, std::string* fault) {
    *facts = MapFacts();
    FILE* file = fopen(path.c_str(), "rb");
    if (file == nullptr) {
        *fault = "cannot open " + path;
        return false;
    }
    DemoReader reader(file);
    SpectatorGame game;
    PacketManager packets;
    bool sound = reader.begin();
    double t = 0;
    while (sound && reader.next(&packets) == DemoStatus::record) {
        for (Packet* p = packets.first(); p != nullptr; p = p->m_next)
            if (!game.receive(p->m_ptr, p->m_length, t)) {
                *fault = "a damaged packet in the record at offset " + std::to_string(reader.m_record_offset);
                sound = false;
            }
        t += 0.5;
        for (const GameEvent& e : game.m_events) {
            if (e.m_type == GameEvent::KILL) {
                const KillLine& k = e.m_kill;
                facts->kills.push_back(killLine(k.m_killer.empty() ? "(world)" : k.m_killer, k.m_victim, k.m_weapon));
            } else if (e.m_type == GameEvent::CHAT) {
                facts->chats.push_back(chatLine(e.m_chat.m_name, e.m_chat.m_kind, e.m_chat.m_text));
            } else if (e.m_type == GameEvent::ANNOUNCE) {
                if (e.m_code == MSG_CTWIN) facts->rounds.push_back("CT");
                if (e.m_code == MSG_TERWIN) facts->rounds.push_back("T");
                if (e.m_code == MSG_ROUNDDRAW) facts->rounds.push_back("draw");
                facts->plants += e.m_code == MSG_BOMBPL;
                facts->defuses += e.m_code == MSG_BOMBDEF;
            }
        }
        game.m_events.clear();
        const StateManager::States& s = game.state();
        for (int slot = 0; slot < MAX_PLAYERS; slot++) {
            if (!game.present(slot)) continue;
            const PlayerState& p = s.m_players[slot];
            PlayerFacts& f = facts->players[game.text(p.m_name)];
            f.team = p.m_team == 1 ? "T" : p.m_team == 2 ? "CT" : "SPECTATOR";
            f.kills = static_cast<int8_t>(p.m_kills);  // a byte on the wire: -1 comes as 255
            f.deaths = p.m_deaths;
        }
        facts->score_t = s.m_score.m_score[1];
        facts->score_ct = s.m_score.m_score[2];
    }
    fclose(file);
    if (sound && reader.m_fault_offset >= 0) {
        *fault = std::string(reader.m_fault) + " at offset " + std::to_string(reader.m_fault_offset);
        sound = false;
    }
    return sound;
}

namespace {

// Lines of a that b lacks, as many times as a has them more.
std::vector<std::string> missing(std::vector<std::string> a, std::vector<std::string> b) {
    std::sort(a.begin(), a.end());
    std::sort(b.begin(), b.end());
    std::vector<std::string> out;
    std::set_difference(a.begin(), a.end(), b.begin(), b.end(), std::back_inserter(out));
    return out;
}

std::string joined(const std::vector<std::string>& words) {
    std::string out;
    for (const std::string& w : words) out += (out.empty() ? "" : " ") + w;
    return out.empty() ? "none" : out;
}

std::string describe(const PlayerFacts& p) {
    return "team " + (p.team.empty() ? std::string("?") : p.team) + ", " + std::to_string(p.kills) +
           " kills, " + std::to_string(p.deaths) + " deaths";
}

}  // namespace

std::vector<std::string> differences(const MapFacts& expected, const MapFacts& demo) {
    std::vector<std::string> out;
    auto score = [](const MapFacts& m) {
        return "T " + std::to_string(m.score_t) + " : CT " + std::to_string(m.score_ct);
    };
    if (expected.score_t != demo.score_t || expected.score_ct != demo.score_ct)
        out.push_back("final score: " + score(expected) + " expected, the demo ends at " + score(demo));
    if (expected.rounds != demo.rounds)
        out.push_back("round winners: " + joined(expected.rounds) + " expected, the demo has " +
                      joined(demo.rounds));
    if (expected.plants != demo.plants)
        out.push_back("plants: " + std::to_string(expected.plants) + " expected, the demo has " +
                      std::to_string(demo.plants));
    if (expected.defuses != demo.defuses)
        out.push_back("defuses: " + std::to_string(expected.defuses) + " expected, the demo has " +
                      std::to_string(demo.defuses));
    for (const std::string& k : missing(expected.kills, demo.kills)) out.push_back("kill missing from the demo: " + k);
    for (const std::string& k : missing(demo.kills, expected.kills)) out.push_back("kill only in the demo: " + k);
    for (const std::string& c : missing(expected.chats, demo.chats)) out.push_back("chat missing from the demo: " + c);
    for (const std::string& c : missing(demo.chats, expected.chats)) out.push_back("chat only in the demo: " + c);
    for (const auto& [name, want] : expected.players) {
        auto it = demo.players.find(name);
        if (it == demo.players.end()) {
            out.push_back("player " + name + ": not in the demo");
            continue;
        }
        PlayerFacts got = it->second;
        if (want.team.empty()) got.team.clear();  // a team the expected side never learnt
        if (got.team != want.team || got.kills != want.kills || got.deaths != want.deaths)
            out.push_back("player " + name + ": " + describe(want) + " expected, the demo has " +
                          describe(got));
    }
    return out;
}
