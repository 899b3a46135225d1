// The scripted match in simhost, watched by a small recording plugin of this test's own (the
// real plugin is not involved): what the game does through the engine and the game-DLL hooks,
// and whether it does it the way Counter-Strike does.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <fstream>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "match.h"
#include "messages.h"
#include "simhost.h"
#include "test_host.h"
#include "trace_lines.h"

namespace {

// --- the recording plugin ----------------------------------------------------------------------

struct Arg {
    msg::Arg kind;
    int i = 0;
    float f = 0;
    std::string s;
};

struct Message {
    float time = 0;
    int dest = 0, type = 0;
    int to = 0;  // entity index, 0 when addressed to nobody
    std::vector<Arg> args;
    const std::string& text(size_t n) const { return args.at(n).s; }
    int num(size_t n) const { return args.at(n).i; }
};

enum class Call { Connect, PutInServer, Disconnect, UserInfo, Think, SetModel, Sound, Activate };

struct Event {
    Call call;
    float time;
    int entity;
    std::string text;   // name (Connect, UserInfo), model, sample
    std::string extra;  // UserInfo: the model key; SetModel: the class name
    int owner = 0;      // SetModel: the owner's entity index
    size_t messages;    // messages recorded before this event
};

struct Recording {
    enginefuncs_t engine{};
    globalvars_t* globals = nullptr;
    meta_globals_t* meta = nullptr;
    std::map<int, std::string> names;  // message id -> name, from RegUserMsg_Post
    std::map<std::string, int> sizes;
    int registrations_after_first_map = 0;
    int activations = 0;
    std::vector<Message> messages;
    std::vector<Event> events;
    Message current;
    bool writing = false;
    // PlayerPostThink: once per in-game player between two StartFrames.
    std::set<int> in_game;
    std::map<int, int> thinks;
    long frames = 0;
    std::vector<std::string> think_faults;
    int walkers = 0;  // PostThinks of living players seen walking or climbing with FL_CLIENT
};
Recording* g_rec = nullptr;

plugin_info_t g_info = {"5:13", "recorder", "1", "today", "test", "", "REC", PT_STARTUP, PT_ANYTIME};

void ignored() { g_rec->meta->mres = MRES_IGNORED; }
float now() { return g_rec->globals->time; }
int indexOf(const edict_t* e) { return e ? g_rec->engine.pfnIndexOfEdict(e) : 0; }
std::string stringOf(string_t s) { return g_rec->globals->pStringBase + s; }

void event(Call call, edict_t* e, std::string text = "", std::string extra = "", int owner = 0) {
    g_rec->events.push_back({call, now(), indexOf(e), std::move(text), std::move(extra), owner,
                             g_rec->messages.size()});
}

void KOVITV_WINAPI giveFnptrs(enginefuncs_t* engine, globalvars_t* globals) {
    g_rec->engine = *engine;
    g_rec->globals = globals;
}
int query(const char*, plugin_info_t** info, mutil_funcs_t*) {
    *info = &g_info;
    return 1;
}
int detach(PLUG_LOADTIME, PL_UNLOAD_REASON) { return 1; }

// Game-DLL hooks, before the game.
qboolean clientConnect(edict_t* e, const char* name, const char*, char*) {
    event(Call::Connect, e, name);
    g_rec->in_game.erase(indexOf(e));
    ignored();
    return 1;
}
void clientPutInServer(edict_t* e) {
    event(Call::PutInServer, e, stringOf(e->v.netname));
    g_rec->in_game.insert(indexOf(e));
    ignored();
}
void clientDisconnect(edict_t* e) {
    event(Call::Disconnect, e);
    g_rec->in_game.erase(indexOf(e));
    ignored();
}
void playerPostThink(edict_t* e) {
    ++g_rec->thinks[indexOf(e)];
    if (e->v.health > 0 && e->v.deadflag == DEAD_NO && (e->v.flags & FL_CLIENT) &&
        (e->v.movetype == MOVETYPE_WALK || e->v.movetype == MOVETYPE_FLY))
        ++g_rec->walkers;
    ignored();
}
void startFrame() {
    Recording& r = *g_rec;
    if (r.frames++ > 0) {
        for (int i : r.in_game)
            if (r.thinks[i] != 1 && r.think_faults.size() < 10)
                r.think_faults.push_back("player " + std::to_string(i) + " thought " +
                                         std::to_string(r.thinks[i]) + " times at " +
                                         std::to_string(now()));
        for (auto& t : r.thinks)
            if (t.second && !r.in_game.count(t.first) && r.think_faults.size() < 10)
                r.think_faults.push_back("entity " + std::to_string(t.first) + " is not in game");
    }
    r.thinks.clear();
    ignored();
}
void think(edict_t* e) {
    event(Call::Think, e);
    ignored();
}
void serverActivate(edict_t*, int, int) {
    ++g_rec->activations;
    event(Call::Activate, nullptr);
    ignored();
}
void serverDeactivate() {
    g_rec->in_game.clear();  // the clients kept come back through ClientPutInServer
    g_rec->thinks.clear();
    ignored();
}

// Game-DLL hooks, after the game.
void clientUserInfoChanged(edict_t* e, char* info) {
    char name[] = "name", model[] = "model";
    event(Call::UserInfo, e, g_rec->engine.pfnInfoKeyValue(info, name),
          g_rec->engine.pfnInfoKeyValue(info, model));
    ignored();
}

// Engine hooks, before the engine.
void setModel(edict_t* e, const char* model) {
    event(Call::SetModel, e, model, stringOf(e->v.classname), indexOf(e->v.owner));
    ignored();
}
void emitSound(edict_t* e, int, const char* sample, float, float, int, int) {
    event(Call::Sound, e, sample, stringOf(e->v.classname));
    ignored();
}

// Engine hooks, after the engine: the message stream as the game wrote it.
int regUserMsg(const char* name, int size) {
    int id = *static_cast<int*>(g_rec->meta->orig_ret);
    g_rec->names[id] = name;
    g_rec->sizes[name] = size;
    if (g_rec->activations > 1) ++g_rec->registrations_after_first_map;
    ignored();
    return 0;
}
void messageBegin(int dest, int type, const float*, edict_t* e) {
    g_rec->current = Message{now(), dest, type, indexOf(e), {}};
    g_rec->writing = true;
    ignored();
}
void messageEnd() {
    g_rec->messages.push_back(g_rec->current);
    g_rec->writing = false;
    ignored();
}
void add(msg::Arg kind, int i, float f, const char* s) {
    Arg a{kind, i, f, s ? s : ""};
    g_rec->current.args.push_back(a);
    ignored();
}
void writeByte(int v) { add(msg::Arg::Byte, v, 0, nullptr); }
void writeChar(int v) { add(msg::Arg::Char, v, 0, nullptr); }
void writeShort(int v) { add(msg::Arg::Short, v, 0, nullptr); }
void writeLong(int v) { add(msg::Arg::Long, v, 0, nullptr); }
void writeEntity(int v) { add(msg::Arg::Entity, v, 0, nullptr); }
void writeAngle(float v) { add(msg::Arg::Angle, 0, v, nullptr); }
void writeCoord(float v) { add(msg::Arg::Coord, 0, v, nullptr); }
void writeString(const char* v) { add(msg::Arg::String, 0, 0, v); }

int getDll(DLL_FUNCTIONS* t, int*) {
    t->pfnClientConnect = clientConnect;
    t->pfnClientPutInServer = clientPutInServer;
    t->pfnClientDisconnect = clientDisconnect;
    t->pfnPlayerPostThink = playerPostThink;
    t->pfnStartFrame = startFrame;
    t->pfnThink = think;
    t->pfnServerActivate = serverActivate;
    t->pfnServerDeactivate = serverDeactivate;
    return 1;
}
int getDllPost(DLL_FUNCTIONS* t, int*) {
    t->pfnClientUserInfoChanged = clientUserInfoChanged;
    return 1;
}
int getEngine(enginefuncs_t* t, int*) {
    t->pfnSetModel = setModel;
    t->pfnEmitSound = emitSound;
    return 1;
}
int getEnginePost(enginefuncs_t* t, int*) {
    t->pfnRegUserMsg = regUserMsg;
    t->pfnMessageBegin = messageBegin;
    t->pfnMessageEnd = messageEnd;
    t->pfnWriteByte = writeByte;
    t->pfnWriteChar = writeChar;
    t->pfnWriteShort = writeShort;
    t->pfnWriteLong = writeLong;
    t->pfnWriteAngle = writeAngle;
    t->pfnWriteCoord = writeCoord;
    t->pfnWriteString = writeString;
    t->pfnWriteEntity = writeEntity;
    return 1;
}
int attach(PLUG_LOADTIME, META_FUNCTIONS* table, meta_globals_t* globals, gamedll_funcs_t*) {
    g_rec->meta = globals;
    table->pfnGetEntityAPI2 = getDll;
    table->pfnGetEntityAPI2_Post = getDllPost;
    table->pfnGetEngineFunctions = getEngine;
    table->pfnGetEngineFunctions_Post = getEnginePost;
    return 1;
}

// --- a recorded match --------------------------------------------------------------------------

struct Played {
    Recording rec;
    std::vector<TraceLine> trace;
    std::string output;
    int hook_warnings = 0;
    int rounds = 0;

    std::string nameOf(const Message& m) const {
        auto it = rec.names.find(m.type);
        return it == rec.names.end() ? "" : it->second;
    }
    std::vector<const Message*> all(const std::string& name) const {
        std::vector<const Message*> out;
        for (const Message& m : rec.messages)
            if (nameOf(m) == name) out.push_back(&m);
        return out;
    }
    std::vector<const TraceLine*> events(const std::string& name) const {
        std::vector<const TraceLine*> out;
        for (const TraceLine& t : trace)
            if (t.at("event") == name) out.push_back(&t);
        return out;
    }
};

struct Script {
    int players = 10;
    uint64_t seed = 1;
    double seconds = 60;
    double change_map_at = -1;  // game seconds on the first map before a changelevel
    std::map<std::string, std::string> cvars;
};

Played play(const Script& script) {
    Played p;
    g_rec = &p.rec;
    ScratchDir dir;
    SimOptions options;
    options.gamedir = dir.path();
    options.speed = 0;
    options.cvars = script.cvars;
    {
        SimHost host(options);
        host.output = [&p](const std::string& text) { p.output += text; };
        MatchOptions mo;
        mo.players = script.players;
        mo.seed = script.seed;
        mo.trace_path = dir.file("trace.jsonl");
        Match* match = new Match(host, mo);
        host.setGame(match);
        PluginEntryPoints entry;
        entry.giveFnptrs = giveFnptrs;
        entry.query = query;
        entry.attach = attach;
        entry.detach = detach;
        if (!host.load(entry)) return p;
        host.activateMap("de_kovi");
        if (script.change_map_at >= 0) {
            host.runFor(script.change_map_at);
            host.command("changelevel de_kovi_two");
            host.runFor(script.seconds - script.change_map_at);
        } else {
            host.runFor(script.seconds);
        }
        p.rounds = match->roundsPlayed();
        host.shutdown();
        host.unload();
        p.hook_warnings = host.hookWarnings();
    }
    std::ifstream in(dir.file("trace.jsonl"));
    for (std::string line; std::getline(in, line);) p.trace.push_back(parseTraceLine(line));
    g_rec = nullptr;
    return p;
}

std::string describe(const Message& m, const std::string& name) {
    std::string s = name + " dest " + std::to_string(m.dest) + " to " + std::to_string(m.to) + ":";
    for (const Arg& a : m.args)
        s += " " + (a.kind == msg::Arg::String ? "\"" + a.s + "\""
                    : (a.kind == msg::Arg::Coord || a.kind == msg::Arg::Angle) ? std::to_string(a.f)
                                                                               : std::to_string(a.i));
    return s;
}

// One long match shared by most tests: ten players, a map change half way. The seed is one
// whose match shows every event the tests look for (both bomb endings, a kill by the world, a
// leave and a rejoin); another seed may need a longer match to show them all.
const Played& longMatch() {
    static const Played p = [] {
        Script s;
        s.players = 10;
        s.seed = 5;
        s.seconds = 1200;
        s.change_map_at = 600;
        s.cvars["mp_c4timer"] = "25";
        return play(s);
    }();
    return p;
}

int teamOf(const std::map<int, std::string>& teams, int player) {
    auto it = teams.find(player);
    if (it == teams.end()) return 0;
    return it->second == "TERRORIST" ? 1 : it->second == "CT" ? 2 : it->second == "SPECTATOR" ? 3 : 0;
}

}  // namespace

// --- tests -------------------------------------------------------------------------------------

TEST(SimhostMatch, TheSameSeedPlaysTheSameMatchAndAnotherSeedAnother) {
    Script s;
    s.players = 8;
    s.seconds = 90;
    s.seed = 11;
    Played a = play(s), b = play(s);
    s.seed = 12;
    Played c = play(s);
    auto fingerprint = [](const Played& p) {
        std::string f;
        for (const Message& m : p.rec.messages) f += describe(m, p.nameOf(m)) + "\n";
        for (const Event& e : p.rec.events)
            f += std::to_string(int(e.call)) + " " + std::to_string(e.entity) + " " + e.text + "\n";
        return f;
    };
    ASSERT_GT(a.rec.messages.size(), 1000u);
    EXPECT_EQ(fingerprint(a), fingerprint(b));
    EXPECT_EQ(a.trace.size(), b.trace.size());
    EXPECT_NE(fingerprint(a), fingerprint(c));
}

TEST(SimhostMatch, TheTableHoldsCounterStrikesLayoutsOfTheMessagesThePluginReads) {
    using A = msg::Arg;
    const A B = A::Byte, S = A::Short, L = A::Long, C = A::Coord, T = A::String;
    struct Expected {
        const char* name;
        std::vector<A> args;
        std::vector<int> counts;  // complete argument counts
    };
    const Expected expected[] = {
        {"CurWeapon", {B, B, B}, {3}},
        {"Damage", {B, B, L, C, C, C}, {6}},
        {"DeathMsg", {B, B, B, T}, {4}},
        {"WeaponList", {T, B, B, B, B, B, B, B, B}, {9}},
        {"ResetHUD", {}, {0}},
        {"ScoreInfo", {B, S, S, S, S}, {5}},
        {"TeamInfo", {B, T}, {2}},
        {"Health", {B}, {1}},
        {"TeamScore", {T, S}, {2}},
        {"BombDrop", {C, C, C, B}, {4}},
        {"BombPickup", {}, {0}},
        {"StatusIcon", {B, T, B, B, B}, {2, 5}},
        {"SayText", {B, T, T, T, T}, {4, 5}},
        {"RoundTime", {S}, {1}},
        {"SendAudio", {B, T, S}, {3}},
    };
    for (const Expected& e : expected) {
        const msg::Layout* l = msg::findLayout(e.name);
        ASSERT_NE(l, nullptr) << e.name;
        EXPECT_TRUE(l->valid) << e.name;
        EXPECT_EQ(std::vector<A>(l->args, l->args + l->count), e.args) << e.name << ": " << l->text;
        uint32_t complete = 0;
        for (int n : e.counts) complete |= 1u << n;
        EXPECT_EQ(l->complete, complete) << e.name << ": " << l->text;
    }
    for (int i = 0; i < msg::COUNT; ++i) EXPECT_TRUE(msg::layout(msg::Id(i)).valid) << i;
}

TEST(SimhostMatch, EveryMessageSentHasTheLayoutOfTheTableAndTheRegisteredSize) {
    const Played& p = longMatch();
    ASSERT_EQ(p.hook_warnings, 0);
    EXPECT_EQ(p.output.find("not sent"), std::string::npos) << p.output;
    // The game registers fixed sizes; a layout of a fixed-size message must add up to it.
    for (const auto& reg : p.rec.sizes) {
        const msg::Layout* l = msg::findLayout(reg.first.c_str());
        if (!l || reg.second < 0) continue;
        int bytes = 0;
        for (int k = 0; k < l->count; ++k) bytes += msg::byteSize(l->args[k]);
        EXPECT_EQ(bytes, reg.second) << reg.first;
    }
    std::set<std::string> seen;
    for (const Message& m : p.rec.messages) {
        if (m.type < 64) continue;  // the engine's own messages (temporary entities)
        std::string name = p.nameOf(m);
        const msg::Layout* l = msg::findLayout(name.c_str());
        ASSERT_NE(l, nullptr) << "message " << m.type << " " << name << " is not in the table";
        seen.insert(name);
        int n = int(m.args.size());
        ASSERT_TRUE(n <= l->count && (l->complete & (1u << n))) << describe(m, name);
        for (int k = 0; k < n; ++k) ASSERT_EQ(m.args[size_t(k)].kind, l->args[k]) << describe(m, name);
        if (m.dest == MSG_ONE) {
            ASSERT_GE(m.to, 1) << describe(m, name);
            ASSERT_LE(m.to, 32) << describe(m, name);
        }
    }
    for (const char* name : {"CurWeapon", "Damage", "DeathMsg", "WeaponList", "ResetHUD",
                             "ScoreInfo", "TeamInfo", "Health", "TeamScore", "BombDrop",
                             "BombPickup", "StatusIcon", "SayText", "RoundTime", "SendAudio"})
        EXPECT_TRUE(seen.count(name)) << name << " never sent";
    EXPECT_EQ(p.rec.names.size(), p.rec.sizes.size());
}

TEST(SimhostMatch, MessagesAreRegisteredOnceOnTheFirstMapWithTheGamesIds) {
    const Played& p = longMatch();
    EXPECT_EQ(p.rec.activations, 2);
    EXPECT_EQ(p.rec.registrations_after_first_map, 0);
    ASSERT_TRUE(p.rec.names.count(83));
    EXPECT_EQ(p.rec.names.at(83), "DeathMsg");
}

TEST(SimhostMatch, ARoundEndsByEliminationOnlyWhenTheLosersAreAllDead) {
    const Played& p = longMatch();
    std::map<int, int> team;    // from the trace's spawns
    std::set<int> alive;
    int eliminations = 0;
    for (const TraceLine& t : p.trace) {
        const std::string& e = t.at("event");
        if (e == "spawn") {
            alive.insert(atoi(t.at("player").c_str()));
            team[atoi(t.at("player").c_str())] = t.at("team") == "CT" ? 2 : 1;
        } else if (e == "kill") {
            alive.erase(atoi(t.at("victim").c_str()));
        } else if (e == "leave") {
            alive.erase(atoi(t.at("player").c_str()));
        } else if (e == "round_start" || e == "map") {
            alive.clear();
        } else if (e == "round_end" && (t.at("reason") == "CTs_Win" || t.at("reason") == "Terrorists_Win" ||
                                        t.at("reason") == "Round_Draw")) {
            ++eliminations;
            for (int i : alive) {
                if (t.at("winner") == "draw") ADD_FAILURE() << "player " << i << " alive at a draw";
                int loser = t.at("winner") == "CT" ? 1 : 2;
                EXPECT_NE(team[i], loser) << "player " << i << " still alive at " << t.at("t");
            }
        }
    }
    EXPECT_GT(eliminations, 0);
}

// Each round's end as the game does it: the cause named as its log names it, announced to
// everybody with the winners' radio code; a defuse says so first and takes the bomb off the
// radar; an explosion is the terrorists' win.
TEST(SimhostMatch, EachRoundEndsWithTheGamesAnnouncementForItsCause) {
    const Played& p = longMatch();
    const std::map<std::string, std::string> audio = {
        {"Target_Bombed", "%!MRAD_terwin"}, {"Terrorists_Win", "%!MRAD_terwin"},
        {"Bomb_Defused", "%!MRAD_ctwin"},   {"Target_Saved", "%!MRAD_ctwin"},
        {"CTs_Win", "%!MRAD_ctwin"},        {"Round_Draw", "%!MRAD_rounddraw"}};
    // The broadcast announcements and bomb messages, with when they came.
    std::vector<std::pair<float, std::string>> said;
    for (const Message& m : p.rec.messages) {
        std::string name = p.nameOf(m);
        if (name == "SendAudio" && m.dest == MSG_BROADCAST) {
            EXPECT_EQ(m.num(0), 0);
            said.push_back({m.time, m.text(1)});
        } else if (name == "BombPickup") {
            said.push_back({m.time, "BombPickup"});
        }
    }
    std::map<std::string, int> causes;
    size_t ends = 0;
    for (const TraceLine* t : p.events("round_end")) {
        ++ends;
        const std::string& reason = t->at("reason");
        ASSERT_TRUE(audio.count(reason)) << reason;
        ++causes[reason];
        float at = float(atof(t->at("t").c_str()));
        std::vector<std::string> now;
        for (const auto& s : said)
            if (std::fabs(s.first - at) < 0.005f && s.second != "%!MRAD_BOMBPL") now.push_back(s.second);
        std::vector<std::string> want = {audio.at(reason)};
        if (reason == "Bomb_Defused") want = {"%!MRAD_BOMBDEF", "BombPickup", "%!MRAD_ctwin"};
        EXPECT_EQ(now, want) << reason << " at " << at;
        const std::string& winner = t->at("winner");
        EXPECT_EQ(winner, audio.at(reason) == "%!MRAD_terwin" ? "TERRORIST"
                          : audio.at(reason) == "%!MRAD_ctwin" ? "CT" : "draw");
    }
    EXPECT_GT(causes["Target_Bombed"], 0);
    EXPECT_GT(causes["Bomb_Defused"], 0);
    EXPECT_GT(causes["Terrorists_Win"] + causes["CTs_Win"], 0);
    int round_ends = 0;
    for (const auto& s : said)
        round_ends += s.second == "%!MRAD_terwin" || s.second == "%!MRAD_ctwin" || s.second == "%!MRAD_rounddraw";
    EXPECT_EQ(size_t(round_ends), ends);
}

// What the game sends, shown round by round: at each round start BombPickup to all, then the
// carrier's c4 icon; a drop twice, where the carrier fell and a second later where the bomb lies
// (only then can it be picked up); a pickup shows the icon, then tells everybody.
TEST(SimhostMatch, TheBombIsClearedAtEachRoundStartAndItsDropComesTwice) {
    const Played& p = longMatch();
    const auto& msgs = p.rec.messages;
    auto starts = p.events("round_start");
    ASSERT_GT(starts.size(), 5u);
    for (const TraceLine* t : starts) {
        float at = float(atof(t->at("t").c_str()));
        size_t pickup = msgs.size(), icon = msgs.size();
        for (size_t i = 0; i < msgs.size(); ++i) {
            if (std::fabs(msgs[i].time - at) > 0.005f) continue;
            std::string name = p.nameOf(msgs[i]);
            if (name == "BombPickup" && pickup == msgs.size()) pickup = i;
            if (name == "StatusIcon" && msgs[i].text(1) == "c4" && msgs[i].num(0) != 0 && icon == msgs.size())
                icon = i;
        }
        ASSERT_LT(pickup, msgs.size()) << "no BombPickup at the round start at " << at;
        if (t->at("terrorists") != "0") {
            ASSERT_LT(icon, msgs.size()) << "no carrier at " << at;
            EXPECT_LT(pickup, icon) << at;
        }
    }
    // Drops: each BombDrop of flag 0 is a trace "drop" or "land" at the same place and time.
    std::vector<const TraceLine*> moves;
    for (const TraceLine* t : p.events("bomb"))
        if (t->at("action") == "drop" || t->at("action") == "land") moves.push_back(t);
    std::vector<const Message*> drops;
    for (const Message* m : p.all("BombDrop"))
        if (m->num(3) == 0) drops.push_back(m);
    ASSERT_EQ(drops.size(), moves.size());
    int landed = 0;
    for (size_t i = 0; i < drops.size(); ++i) {
        EXPECT_NEAR(drops[i]->time, atof(moves[i]->at("t").c_str()), 0.005);
        EXPECT_NEAR(drops[i]->args[0].f, atof(moves[i]->at("x").c_str()), 0.01);
        EXPECT_NEAR(drops[i]->args[1].f, atof(moves[i]->at("y").c_str()), 0.01);
        if (moves[i]->at("action") != "land") continue;
        ++landed;
        ASSERT_GT(i, 0u);
        ASSERT_EQ(moves[i - 1]->at("action"), "drop");  // one landing per drop
        float after = float(atof(moves[i]->at("t").c_str()) - atof(moves[i - 1]->at("t").c_str()));
        EXPECT_GE(after, 0.79f);
        EXPECT_LE(after, 1.21f);
    }
    EXPECT_GT(landed, 0);
    // A pickup from the floor comes after the landing; its icon goes first, then BombPickup.
    int floor_pickups = 0;
    const TraceLine* last_move = nullptr;
    for (const TraceLine& t : p.trace) {
        // A round's spawns come before its carrier is given the bomb.
        if (t.at("event") == "spawn" || t.at("event") == "map") last_move = nullptr;
        if (t.at("event") != "bomb") continue;
        const std::string& a = t.at("action");
        if (a == "drop" || a == "land") last_move = &t;
        if (a != "pickup" || last_move == nullptr) continue;
        ++floor_pickups;
        EXPECT_EQ(last_move->at("action"), "land") << "picked up in the air at " << t.at("t");
        last_move = nullptr;
        float at = float(atof(t.at("t").c_str()));
        int player = atoi(t.at("player").c_str());
        std::vector<std::string> order;
        for (const Message& m : msgs)
            if (std::fabs(m.time - at) < 0.005f) {
                std::string name = p.nameOf(m);
                if (name == "BombPickup") order.push_back(name);
                if (name == "StatusIcon" && m.text(1) == "c4" && m.to == player) order.push_back("icon");
            }
        EXPECT_EQ(order, (std::vector<std::string>{"icon", "BombPickup"})) << "at " << at;
    }
    EXPECT_GT(floor_pickups, 0);
}

TEST(SimhostMatch, TheTraceNamesEveryKillTheDeathMessagesShow) {
    const Played& p = longMatch();
    auto deaths = p.all("DeathMsg");
    auto kills = p.events("kill");
    ASSERT_EQ(deaths.size(), kills.size());
    ASSERT_GT(kills.size(), 20u);
    bool world = false;
    for (size_t i = 0; i < kills.size(); ++i) {
        const Message& m = *deaths[i];
        const TraceLine& k = *kills[i];
        EXPECT_EQ(m.dest, MSG_ALL);
        EXPECT_EQ(m.num(0), atoi(k.at("killer").c_str()));
        EXPECT_EQ(m.num(1), atoi(k.at("victim").c_str()));
        EXPECT_EQ(m.num(2), atoi(k.at("headshot").c_str()));
        EXPECT_EQ(m.text(3), k.at("weapon"));
        if (m.num(0) == 0) {  // the world's kills are falls from the balcony
            world = true;
            EXPECT_EQ(m.text(3), "worldspawn");
            EXPECT_EQ(m.num(2), 0);
        }
    }
    EXPECT_TRUE(world) << "no kill by the world";
    // As on the real server: a death by the world costs the victim no frag; a kill adds one.
    // The scoreboard lines of a kill come just before its trace line.
    std::map<std::string, int> frags;
    std::vector<int> before(p.trace.size(), 0);  // a score line's player's frags until then
    for (size_t i = 0; i < p.trace.size(); ++i) {
        const TraceLine& t = p.trace[i];
        if (t.at("event") == "map") frags.clear();
        if (t.at("event") != "score") continue;
        before[i] = frags.count(t.at("player")) ? frags[t.at("player")] : -1000;
        frags[t.at("player")] = atoi(t.at("frags").c_str());
    }
    int world_scores = 0;
    for (size_t i = 0; i < p.trace.size(); ++i) {
        const TraceLine& k = p.trace[i];
        if (k.at("event") != "kill") continue;
        for (size_t j = i; j-- > 0 && p.trace[j].at("event") == "score" && p.trace[j].at("t") == k.at("t");) {
            const TraceLine& score = p.trace[j];
            if (before[j] == -1000) continue;
            int now = atoi(score.at("frags").c_str());
            if (k.at("killer") == "0" && score.at("player") == k.at("victim")) {
                EXPECT_EQ(now, before[j]) << "world kill at " << k.at("t");
                ++world_scores;
            } else if (score.at("player") == k.at("killer") && k.at("killer") != k.at("victim")) {
                EXPECT_EQ(now, before[j] + 1) << "kill at " << k.at("t");
            }
        }
    }
    EXPECT_GT(world_scores, 0);
}

TEST(SimhostMatch, ThirtyTwoPlayersPlayAndEachThinksOncePerFrame) {
    Script s;
    s.players = 32;
    s.seed = 4;
    s.seconds = 240;
    Played p = play(s);
    ASSERT_EQ(p.hook_warnings, 0);
    EXPECT_TRUE(p.rec.think_faults.empty()) << p.rec.think_faults.front();
    std::set<int> joined;
    for (const Event& e : p.rec.events)
        if (e.call == Call::PutInServer) joined.insert(e.entity);
    EXPECT_EQ(joined.size(), 32u);
    EXPECT_EQ(*joined.begin(), 1);
    EXPECT_EQ(*joined.rbegin(), 32);
    EXPECT_GT(p.rec.frames, 23000);
    EXPECT_GT(p.rec.walkers, 100000);
    EXPECT_GT(p.events("kill").size(), 20u);
    EXPECT_GT(p.rounds, 1);
}

TEST(SimhostMatch, AFreshClientSendsItsUserInfoBeforeConnectingAndThenEntersTheServer) {
    const Played& p = longMatch();
    std::map<int, std::vector<const Event*>> calls;  // per entity, its client calls so far
    int fresh = 0, rejoins = 0, leaves = 0;
    const Event* activation = nullptr;  // the latest map start
    for (const Event& e : p.rec.events) {
        if (e.call == Call::Activate) activation = &e;
        if (e.call != Call::Connect && e.call != Call::PutInServer && e.call != Call::Disconnect &&
            e.call != Call::UserInfo)
            continue;
        std::vector<const Event*>& h = calls[e.entity];
        const Event* before = h.empty() ? nullptr : h.back();
        if (e.call == Call::Disconnect) ++leaves;
        if (e.call == Call::Connect) {
            // Connected when the map changed: back without user info.
            bool kept = before && before < activation &&
                        (before->call == Call::PutInServer || before->call == Call::Connect);
            if (!kept) {
                ++fresh;
                ASSERT_NE(before, nullptr) << "player " << e.entity << " connected without user info";
                EXPECT_EQ(before->call, Call::UserInfo) << "player " << e.entity;
                EXPECT_EQ(before->text, e.text);
                EXPECT_FALSE(before->extra.empty()) << "no model in the user info";
                if (h.size() >= 2 && h[h.size() - 2]->call == Call::Disconnect) ++rejoins;
            }
        }
        if (e.call == Call::PutInServer) {
            ASSERT_NE(before, nullptr);
            EXPECT_EQ(before->call, Call::Connect) << "player " << e.entity;
            EXPECT_EQ(before->text, e.text) << "the entity's net name is not the name";
        }
        h.push_back(&e);
    }
    EXPECT_GE(fresh, 10);
    EXPECT_GT(leaves, 0);
    EXPECT_GT(rejoins, 0);
}

TEST(SimhostMatch, AMapChangeBringsTheClientsBackWithoutADisconnect) {
    const Played& p = longMatch();
    size_t change = 0;
    int activations = 0;
    for (size_t i = 0; i < p.rec.events.size(); ++i)
        if (p.rec.events[i].call == Call::Activate && ++activations == 2) change = i;
    ASSERT_GT(change, 0u);
    std::set<int> before;  // in game when the map changed
    for (size_t i = 0; i < change; ++i) {
        const Event& e = p.rec.events[i];
        if (e.call == Call::PutInServer) before.insert(e.entity);
        if (e.call == Call::Disconnect) before.erase(e.entity);
    }
    ASSERT_FALSE(before.empty());
    std::set<int> connected, entered;
    for (size_t i = change; i < p.rec.events.size(); ++i) {
        const Event& e = p.rec.events[i];
        if (!before.count(e.entity)) continue;
        if (e.call == Call::Disconnect && !entered.count(e.entity))
            ADD_FAILURE() << "player " << e.entity << " was disconnected by the map change";
        if (e.call == Call::UserInfo && !entered.count(e.entity))
            ADD_FAILURE() << "player " << e.entity << " sent its user info again";
        if (e.call == Call::Connect) connected.insert(e.entity);
        if (e.call == Call::PutInServer) {
            EXPECT_TRUE(connected.count(e.entity));
            entered.insert(e.entity);
        }
        EXPECT_GE(e.time, 1.0f);  // the engine's clock starts again with the map
    }
    EXPECT_EQ(connected, before);
    EXPECT_EQ(entered, before);
    EXPECT_LT(p.rec.events[change].time, 1.1f);
}

TEST(SimhostMatch, ChatGoesOneCopyToEachListenerTeamChatStaysInTheTeamTheSpeakerLast) {
    const Played& p = longMatch();
    std::map<int, std::string> teams;
    std::map<int, bool> alive;  // ScoreAttrib tells everybody at once who lives
    std::set<std::string> kinds;
    const Message* prev = nullptr;
    std::set<int> heard;
    float last_time = 0;
    size_t next_event = 0;
    for (const Message& m : p.rec.messages) {
        std::string name = p.nameOf(m);
        if (m.time < last_time) alive.clear();  // a new map: nobody has spawned yet
        last_time = m.time;
        for (; next_event < p.rec.events.size() &&
               p.rec.events[next_event].messages <= size_t(&m - p.rec.messages.data());
             ++next_event)
            if (p.rec.events[next_event].call == Call::Disconnect)
                alive[p.rec.events[next_event].entity] = false;  // no ScoreAttrib for that
        if (name == "TeamInfo") teams[m.num(0)] = m.text(1);
        if (name == "ScoreAttrib") alive[m.num(0)] = !(m.num(1) & 1);
        if (name != "SayText" || m.text(1).rfind("#Cstrike_Chat_", 0) != 0) {
            prev = nullptr;
            continue;
        }
        const std::string& key = m.text(1);
        int speaker = m.num(0);
        bool same_line = prev && prev->num(0) == speaker && prev->text(1) == key &&
                         prev->text(3) == m.text(3) && prev->to != speaker;
        if (!same_line) heard.clear();
        kinds.insert(key);
        EXPECT_EQ(m.dest, MSG_ONE);
        EXPECT_TRUE(heard.insert(m.to).second) << "player " << m.to << " got a line twice";
        EXPECT_EQ(m.text(2), "");
        EXPECT_EQ(m.text(3).back(), '\n');
        bool team_only = key != "#Cstrike_Chat_All" && key != "#Cstrike_Chat_AllDead" &&
                         key != "#Cstrike_Chat_AllSpec";
        if (team_only) {
            EXPECT_EQ(teamOf(teams, m.to), teamOf(teams, speaker)) << key;
        }
        if (!alive[speaker]) {
            EXPECT_FALSE(alive[m.to]) << "the living heard the dead: " << key << " at " << m.time;
        }
        prev = &m;
    }
    // Every line ends with the speaker's own copy; the trace counts each listener once.
    for (const TraceLine* t : p.events("chat")) EXPECT_GE(atoi(t->at("recipients").c_str()), 1);
    size_t own = 0;
    for (const Message* m : p.all("SayText")) own += m->to == m->num(0);
    EXPECT_EQ(own, p.events("chat").size());
    for (const char* k : {"#Cstrike_Chat_All", "#Cstrike_Chat_AllDead", "#Cstrike_Chat_AllSpec",
                          "#Cstrike_Chat_Spec", "#Cstrike_Chat_CT", "#Cstrike_Chat_T",
                          "#Cstrike_Chat_CT_Dead", "#Cstrike_Chat_T_Dead"})
        EXPECT_TRUE(kinds.count(k)) << k << " never said";
}

TEST(SimhostMatch, FiringTakesOneFromTheClipReloadFillsItAndASwitchSaysSoFirst) {
    const Played& p = longMatch();
    std::map<int, std::pair<int, int>> held;  // player -> (weapon, clip) of the last active one
    int shots = 0, reloads = 0, switches = 0;
    for (const Message* m : p.all("CurWeapon")) {
        int id = m->num(1), clip = m->num(2);
        bool no_clip = id == 29 || id == 4 || id == 9 || id == 25 || id == 6;
        EXPECT_EQ(clip == -1, no_clip) << describe(*m, "CurWeapon");
        if (m->num(0) == 0) {  // the weapon put away, before the one drawn
            EXPECT_EQ(held[m->to].first, id);
            continue;
        }
        auto& h = held[m->to];
        if (h.first == id && !no_clip) {
            if (clip == h.second - 1) ++shots;
            else if (clip > h.second) ++reloads;
            else if (clip != h.second) ADD_FAILURE() << "clip went from " << h.second << " to " << clip;
        } else if (h.first != id) {
            ++switches;
        }
        h = {id, clip};
    }
    EXPECT_GT(shots, 500);
    EXPECT_GT(reloads, 10);
    EXPECT_GT(switches, 50);
    // A spawn tells the client its health and weapon again after ResetHUD.
    for (const Message* m : p.all("ResetHUD")) EXPECT_EQ(m->dest, MSG_ONE);
}

TEST(SimhostMatch, HurtPlayersGetDamageAndHealthTheDeadReadZeroAndObserversOne) {
    const Played& p = longMatch();
    int hurt = 0, falls = 0;
    for (const Message* m : p.all("Damage")) {
        ++hurt;
        EXPECT_EQ(m->dest, MSG_ONE);
        int bits = m->num(2);
        EXPECT_NE(bits & (2 | 32 | 64), 0) << "bullet, fall or blast";
        if (bits & 32) {  // a fall: the damage comes from nowhere and armour does not help
            ++falls;
            EXPECT_EQ(m->num(0), 0);
            EXPECT_EQ(m->args[3].f, 0.0f);
        }
    }
    EXPECT_GT(hurt, 50);
    EXPECT_GT(falls, 0);
    // Each death is followed by a Health 0 to the victim, in the same frame.
    for (size_t i = 0; i < p.rec.messages.size(); ++i) {
        const Message& m = p.rec.messages[i];
        if (p.nameOf(m) != "DeathMsg") continue;
        bool zero = false;
        for (size_t j = i + 1; j < p.rec.messages.size() && !zero; ++j) {
            const Message& n = p.rec.messages[j];
            if (n.time > m.time + 0.05f) break;
            zero = p.nameOf(n) == "Health" && n.to == m.num(1) && n.num(0) == 0;
        }
        EXPECT_TRUE(zero) << "no Health 0 for player " << m.num(1) << " at " << m.time;
    }
    // The dead who watch until the next spawn turn observers four seconds on: health 1.
    int observers = 0;
    for (size_t i = 0; i < p.rec.messages.size(); ++i) {
        const Message& m = p.rec.messages[i];
        if (p.nameOf(m) != "DeathMsg") continue;
        int victim = m.num(1);
        std::vector<int> health;  // what the victim is told until he spawns again
        for (size_t j = i + 1; j < p.rec.messages.size(); ++j) {
            const Message& n = p.rec.messages[j];
            if (n.to != victim) continue;
            std::string name = p.nameOf(n);
            if (name == "ResetHUD") break;
            if (name != "Health") continue;
            health.push_back(n.num(0));
            if (n.num(0) == 1) {
                EXPECT_NEAR(n.time - m.time, 4.0f, 0.05f);
                ++observers;
            }
        }
        if (!health.empty()) {
            EXPECT_EQ(health[0], 0) << victim << " at " << m.time;
        }
        if (health.size() > 1) {
            EXPECT_EQ(health, (std::vector<int>{0, 1})) << victim << " at " << m.time;
        }
    }
    EXPECT_GT(observers, 10);
}

TEST(SimhostMatch, GrenadesGetTheirWorldModelFromTheThrowerThinkWhileFlyingAndGoAfterExploding) {
    const Played& p = longMatch();
    struct Life {
        std::string type;
        int thinks_before = 0, thinks_after = 0, bounces = 0, explosions = 0;
        bool removed = false;
    };
    std::map<int, Life> flying;  // by entity
    std::vector<Life> done;
    const std::map<std::string, std::string> models = {{"models/w_hegrenade.mdl", "he"},
                                                       {"models/w_flashbang.mdl", "flash"},
                                                       {"models/w_smokegrenade.mdl", "smoke"}};
    auto finish = [&](int entity) {
        auto it = flying.find(entity);
        if (it == flying.end()) return;
        done.push_back(it->second);
        flying.erase(it);
    };
    for (const Event& e : p.rec.events) {
        if (e.call == Call::Activate) {
            for (auto& f : flying) done.push_back(f.second);
            flying.clear();
        }
        if (e.call == Call::SetModel) {
            auto m = models.find(e.text);
            if (e.owner == 0) continue;  // the grenade's Spawn sets a model before the owner
            finish(e.entity);            // an edict given out again
            if (m == models.end()) continue;
            EXPECT_EQ(e.extra, "grenade");
            EXPECT_GE(e.owner, 1);
            EXPECT_LE(e.owner, 10);
            flying[e.entity].type = m->second;
        }
        auto it = flying.find(e.entity);
        if (it == flying.end()) continue;
        Life& l = it->second;
        if (e.call == Call::Think) (l.explosions ? l.thinks_after : l.thinks_before)++;
        if (e.call != Call::Sound) continue;
        const std::string& s = e.text;
        if (s == "weapons/he_bounce-1.wav") {
            EXPECT_EQ(l.type, "he");
            ++l.bounces;
        } else if (s.rfind("weapons/grenade_hit", 0) == 0) {
            EXPECT_NE(l.type, "he");
            ++l.bounces;
        } else if (s.rfind("weapons/debris", 0) == 0) {
            EXPECT_EQ(l.type, "he");
            ++l.explosions;
        } else if (s.rfind("weapons/flashbang-", 0) == 0) {
            EXPECT_EQ(l.type, "flash");
            ++l.explosions;
        } else if (s == "weapons/sg_explode.wav") {
            EXPECT_EQ(l.type, "smoke");
            ++l.explosions;
        } else {
            ADD_FAILURE() << "unexpected grenade sound " << s;
        }
    }
    for (auto& f : flying) done.push_back(f.second);
    std::map<std::string, int> exploded;
    for (const Life& l : done) {
        if (!l.explosions) continue;  // removed with the round, or still in the air at the end
        EXPECT_EQ(l.explosions, 1);
        EXPECT_GE(l.thinks_before, 5) << l.type;  // it thinks every tenth of a second
        EXPECT_GE(l.thinks_after, 1) << l.type;   // and once more after the explosion at least
        ++exploded[l.type];
    }
    EXPECT_GT(exploded["he"], 0);
    EXPECT_GT(exploded["flash"], 0);
    EXPECT_GT(exploded["smoke"], 0);
    size_t bounced = 0;
    for (const Life& l : done) bounced += l.bounces > 0;
    EXPECT_GT(bounced, 0u);
}

TEST(SimhostMatch, TheBombIsCarriedDroppedPlantedAndEitherExplodesOnTimeOrIsDefused) {
    const Played& p = longMatch();
    auto drops = p.all("BombDrop");
    ASSERT_FALSE(drops.empty());
    int planted = 0;
    for (const Message* m : drops) {
        EXPECT_EQ(m->dest, MSG_ALL);
        EXPECT_TRUE(m->num(3) == 0 || m->num(3) == 1);
        planted += m->num(3) == 1;
    }
    EXPECT_GT(planted, 0);
    // Planted with mp_c4timer 25: it explodes 25 seconds later unless defused first.
    int exploded = 0, defused = 0;
    float plant_at = -1;
    for (const TraceLine& t : p.trace) {
        if (t.at("event") == "round_start" || t.at("event") == "map") plant_at = -1;
        if (t.at("event") != "bomb") continue;
        const std::string& a = t.at("action");
        float time = float(atof(t.at("t").c_str()));
        if (a == "plant") {
            plant_at = time;
            EXPECT_EQ(t.at("timer"), "25");
        } else if (a == "explode") {
            ++exploded;
            ASSERT_GE(plant_at, 0);
            EXPECT_NEAR(time - plant_at, 25.0f, 0.15f);
        } else if (a == "defuse") {
            ++defused;
            ASSERT_GE(plant_at, 0);
            EXPECT_LT(time - plant_at, 25.0f);
        }
    }
    EXPECT_GT(exploded, 0);
    EXPECT_GT(defused, 0);
    int bombdef = 0;
    for (const Message* m : p.all("SendAudio")) bombdef += m->text(1) == "%!MRAD_BOMBDEF";
    EXPECT_EQ(bombdef, defused);
    // The planted bomb is a grenade entity too, but no thrown grenade: its model is w_c4.
    bool c4 = false;
    for (const Event& e : p.rec.events)
        if (e.call == Call::SetModel && e.text == "models/w_c4.mdl") {
            c4 = true;
            EXPECT_EQ(e.extra, "grenade");
            EXPECT_GE(e.owner, 1);
        }
    EXPECT_TRUE(c4);
}

TEST(SimhostMatch, ANameChangeIsAnnouncedAndTheNewNameIsInTheUserInfo) {
    const Played& p = longMatch();
    auto names = p.events("name");
    ASSERT_FALSE(names.empty());
    for (const TraceLine* t : names) {
        int player = atoi(t->at("player").c_str());
        bool announced = false, seen = false;
        for (const Message* m : p.all("SayText"))
            if (m->text(1) == "#Cstrike_Name_Change" && m->num(0) == player &&
                m->text(2) == t->at("old") && m->text(3) == t->at("new")) {
                announced = true;
                EXPECT_EQ(m->dest, MSG_ALL);
            }
        for (const Event& e : p.rec.events)
            seen |= e.call == Call::UserInfo && e.entity == player && e.text == t->at("new");
        EXPECT_TRUE(announced) << t->at("new");
        EXPECT_TRUE(seen) << t->at("new");
    }
}

TEST(SimhostMatch, TheProgramPlaysTheRoundsOfEachMapAndQuitsAfterTheLast) {
    ScratchDir dir;
    std::string trace = dir.file("trace.jsonl");
    std::string cmd = std::string(KOVITV_SIMHOST) + " --plugin " + KOVITV_PLUGIN + " --game '" +
                      dir.path() + "' --cvar net_address=127.0.0.1:" + std::to_string(freeTcpPort()) +
                      " --speed 0 --no-stdin --players 4 --seed 7 --match-length 2 --map de_one" +
                      " --map de_two --trace '" + trace + "'";
    dir.write("addons/kovitv/config.ini", "udp_port " + std::to_string(freeUdpPort()) + "\n");
    RunResult r = runProgram(cmd);
    ASSERT_EQ(r.status, 0) << r.output;
    std::ifstream in(trace);
    std::vector<std::string> maps;
    int ends = 0;
    for (std::string line; std::getline(in, line);) {
        TraceLine t = parseTraceLine(line);
        if (t["event"] == "map") maps.push_back(t["map"]);
        ends += t["event"] == "round_end";
    }
    EXPECT_EQ(maps, (std::vector<std::string>{"de_one", "de_two"}));
    EXPECT_EQ(ends, 4);

    RunResult help = runProgram(std::string(KOVITV_SIMHOST) + " --help");
    for (const char* option : {"--players", "--seed", "--match-length", "--trace"})
        EXPECT_NE(help.output.find(option), std::string::npos) << option;
    EXPECT_EQ(runProgram(std::string(KOVITV_SIMHOST) + " --players 33").status, 2);
    EXPECT_EQ(runProgram(std::string(KOVITV_SIMHOST) + " --players 5 --max-clients 4").status, 2);
    EXPECT_EQ(runProgram(std::string(KOVITV_SIMHOST) + " --players 2 --trace /nonexistent/t").status, 2);
}
