// The match's lifecycle and its client layer: connections, team choice, names, chat, radio, and
// the engine's per-client update of what each client has been told.
#include "match.h"

#include <cmath>
#include <cstdio>
#include <cstring>

#include "overview.h"
#include "simhost.h"
#include "weapons.h"

using namespace kovi;

namespace {

const char* const kNames[] = {
    "Kovi", "Mira", "[KT] Blesk", "Old Bob", "Radek <3", "\xc5\xbd" "ofie", "sniper_jenda",
    "Petr", "LUCKY", "x-Ray", "100%s sure", "Dana", "Hugo", "Vojta", "Ema", "Karel IV.",
    "A very long name for a player!", "Tomas", "Bara", "Jirka", "Luna", "Ondra", "Eliska",
    "Max Power", "Vera", "Filip", "Anna", "David", "Klara", "Marek", "Zdenek", "Iva", "Milan",
    "Sona", "Pavel", "Hana", "Olda", "Tereza", "Libor", "noname",
};
constexpr int kNameCount = int(sizeof(kNames) / sizeof(kNames[0]));
const char* const kModels[3][4] = {
    {"gordon", "gman", "helmet", "barney"},  // what a fresh client brings
    {"terror", "leet", "arctic", "guerilla"},
    {"urban", "gsg9", "sas", "gign"},
};
const char* const kTeamNames[] = {"UNASSIGNED", "TERRORIST", "CT", "SPECTATOR"};

const char* const kLines[] = {
    "gg", "nice shot", "rush B", "go A", "eco this round?", "wp", "lol", "where?", "one left",
    "ns", "hi all", "brb", "cover me", "nt", "I'm lagging", "save", "plant it", "defuse!!",
    "that awp...", "100% sure he is B", "he said \"hi\"", "ok", "bomb is down",
    "anyone got a spare rifle? I have 400 dollars and a dream of a better round than the last",
};
constexpr int kLineCount = int(sizeof(kLines) / sizeof(kLines[0]));

}  // namespace

Match::Match(SimHost& host, const MatchOptions& options)
    : Game(host), m_options(options), m_rng(options.seed) {
    m_count = options.players < 0 ? 0 : options.players > MAX_PLAYERS ? MAX_PLAYERS : options.players;
    if (m_count > host.options().max_clients) m_count = host.options().max_clients;
    m_bots.resize(size_t(m_count));
    for (int i = 0; i < m_count; ++i) {
        Bot& b = m_bots[size_t(i)];
        b.index = i + 1;
        b.persona = i;
        b.fresh = true;
        b.connect_at = 1.5f + 0.1f * float(i);
        // The last of three or more players watches two rounds before playing.
        b.wanted_team = (m_count >= 3 && i == m_count - 1) ? TEAM_SPECTATOR
                                                           : (i % 2 == 0 ? TEAM_T : TEAM_CT);
        b.watch_rounds = b.wanted_team == TEAM_SPECTATOR ? 2 : 0;
    }
    m_next_persona = m_count;
    if (!options.trace_path.empty() && !m_trace.open(options.trace_path))
        host.print("simhost: cannot write the trace file " + options.trace_path + "\n");
    // The round lengths of a quick match, unless the command line set them.
    if (!host.m_cvars.count("mp_freezetime")) host.setCvar("mp_freezetime", "3");
    if (!host.m_cvars.count("mp_roundtime")) host.setCvar("mp_roundtime", "1.75");
    m_thrown.reserve(64);
    m_boxes.reserve(64);
}

Match::~Match() = default;

float Match::now() const { return m_host.time(); }
edict_t* Match::edictOf(const Bot& b) { return m_host.edict(b.index); }

string_t Match::str(const char* text) {
    for (const auto& s : m_strings)
        if (s.first == text) return s.second;
    string_t id = m_host.allocString(text);
    m_strings.emplace_back(text, id);
    return id;
}

bool Match::send(msg::Id id, int dest, edict_t* to, std::initializer_list<msg::Value> values) {
    return msg::send(m_host, m_ids, id, dest, to, values);
}

bool Match::sendTo(Bot& b, msg::Id id, std::initializer_list<msg::Value> values) {
    return send(id, MSG_ONE, edictOf(b), values);
}

void Match::sound(edict_t* e, int channel, const char* sample, float volume) {
    m_host.emitSound(e, channel, sample, volume, 0.8f /* ATTN_NORM */, 0, 100 /* PITCH_NORM */);
}

int Match::aliveCount(int team) const {
    int n = 0;
    for (const Bot& b : m_bots) n += (b.link == Link::InGame && b.team == team && b.alive);
    return n;
}

int Match::teamCount(int team) const {
    int n = 0;
    for (const Bot& b : m_bots) n += (b.link == Link::InGame && b.team == team);
    return n;
}

// --- lifecycle ---------------------------------------------------------------------------------

void Match::worldSpawn() {
    Game::worldSpawn();
    std::string why;
    if (!m_options.overview_dir.empty() &&
        !writeOverviewFiles(m_host.options().gamedir, m_options.overview_dir, m_host.mapName(), &why))
        m_host.print("simhost: no overview for " + m_host.mapName() + ": " + why + "\n");
    m_host.edict(0)->v.classname = str("worldspawn");
    resetMapState();
    m_trace.line(now(), "map").text("map", m_host.mapName().c_str());
}

void Match::resetMapState() {
    m_thrown.clear();  // the engine cleared every edict with the old map
    m_boxes.clear();
    m_c4 = m_bomb_box = nullptr;
    m_bomb_lands_at = -1;
    m_bomb = Bomb::None;
    m_bomb_holder = 0;
    m_phase = Phase::Waiting;
    m_commence_at = -1;
    m_round = m_rounds_played = 0;
    m_score[0] = m_score[1] = 0;
    m_losses[0] = m_losses[1] = 0;
    m_leave_at = m_rename_at = -1;
    m_map_done = false;
    int order = 0;
    for (Bot& b : m_bots) {
        if (!m_first_map && b.link != Link::Free) {
            // Kept across the change: the client reconnects and chooses its team again.
            b.link = Link::Free;
            b.fresh = false;
            b.connect_at = 1.3f + 0.1f * float(order++);
            if (b.team != TEAM_UNASSIGNED) b.wanted_team = b.team;
        } else if (!m_first_map && b.connect_at >= 0) {
            b.connect_at = 2.0f + 0.1f * float(order++);  // was joining: tries again
        }
        b.team = TEAM_UNASSIGNED;
        b.team_at = -1;
        b.alive = false;
        b.health = b.armor = 0;
        b.frags = b.deaths = 0;
        b.money = 800;
        b.primary = b.secondary = b.active = 0;
        memset(b.clip, 0, sizeof(b.clip));
        memset(b.reserve, 0, sizeof(b.reserve));
        b.has_c4 = b.has_kit = b.in_site = b.in_buyzone = false;
        b.target = 0;
    }
    m_first_map = false;
}

void Match::serverActivate() {
    Game::serverActivate();  // the game registers its messages at the end of the first one
    m_ids.resolve(m_host);
    m_active = true;
}

void Match::serverDeactivate() { m_active = false; }

void Match::gameShutdown() {
    m_active = false;
    m_trace.close();
}

void Match::startFrame() {
    if (!m_active) return;
    roundThink();
}

void Match::runPlayers() {
    if (!m_active) return;
    const float dt = m_host.globals()->frametime;
    clientLayer();
    for (Bot& b : m_bots) {
        if (b.link != Link::InGame) continue;
        think(b, dt);
        updateEntity(b);
        m_host.playerPostThink(edictOf(b));
    }
    entities(dt);
    bombThink();
    for (Bot& b : m_bots)
        if (b.link == Link::InGame) updateClient(b);
}

// --- the client layer --------------------------------------------------------------------------

void Match::clientLayer() {
    const float t = now();
    for (Bot& b : m_bots) {
        if (b.link == Link::Free && b.connect_at >= 0 && t >= b.connect_at) connect(b, b.fresh);
        if (b.link == Link::Connecting && t >= b.put_in_at) putInServer(b);
        if (b.link != Link::InGame) continue;
        if (b.team_at >= 0 && t >= b.team_at) chooseTeam(b);
        trySpeak(b);
    }
    if (m_leave_at >= 0 && t >= m_leave_at) {
        m_leave_at = -1;
        Bot* b = bot(m_leave_index);
        if (b && b->link == Link::InGame) disconnect(*b);
    }
    if (m_rename_at >= 0 && t >= m_rename_at) {
        m_rename_at = -1;
        Bot* b = bot(m_rename_index);
        if (b && b->link == Link::InGame && b->alive) rename(*b);  // the dead rename at respawn
    }
}

void Match::setName(Bot& b, const char* name) {
    snprintf(b.name, sizeof(b.name), "%.31s", name);  // the engine keeps 31 characters
    b.netname = str(b.name);
}

void Match::connect(Bot& b, bool fresh) {
    edict_t* e = edictOf(b);
    b.connect_at = -1;
    char address[32];
    snprintf(address, sizeof(address), "192.168.7.%d:27005", 10 + b.index);
    if (fresh) {
        char name[40];
        int p = b.persona;
        if (p < kNameCount)
            snprintf(name, sizeof(name), "%s", kNames[p]);
        else
            snprintf(name, sizeof(name), "%s (%d)", kNames[p % kNameCount], p / kNameCount);
        setName(b, name);
        // The client's user info arrives with its connection, before the game hears of it.
        m_host.clearInfo(b.index);
        m_host.setInfoKey(b.index, "name", b.name);
        m_host.setInfoKey(b.index, "model", kModels[0][p % 4]);
        m_host.setInfoKey(b.index, "rate", "25000");
        m_host.setInfoKey(b.index, "cl_updaterate", "101");
        m_host.setInfoKey(b.index, "_vgui_menus", "1");
    }
    memset(&e->v, 0, sizeof(e->v));
    e->free = 0;
    e->v.pContainingEntity = e;
    e->v.netname = b.netname;
    if (fresh) m_host.clientUserInfoChanged(e);
    m_host.clientConnect(e, b.name, address);
    b.link = Link::Connecting;
    b.put_in_at = now() + 0.3f;
    m_trace.line(now(), "join")
        .num("player", b.index)
        .text("name", b.name)
        .num("reconnect", fresh ? 0 : 1);
}

void Match::putInServer(Bot& b) {
    edict_t* e = edictOf(b);
    m_host.clientPutInServer(e);
    // The game's part: a player entity watching until it has a team and a round starts.
    e->v.classname = str("player");
    e->v.flags = int(FL_CLIENT);
    b.link = Link::InGame;
    b.team = TEAM_UNASSIGNED;
    b.alive = false;
    b.health = 0;
    b.deadflag = DEAD_RESPAWNABLE;
    b.move = Move::Ground;
    b.pos = spawnPoint(b.wanted_team == TEAM_CT ? TEAM_CT : TEAM_T, b.index);
    b.yaw = spawnYaw(b.wanted_team);
    b.reset_hud = b.first_hud = true;
    b.sent_health = b.sent_armor = b.sent_weapon = b.sent_money = -1;
    b.sent_clip = -2;
    b.team_at = now() + m_rng.between(0.4f, 1.0f);
    b.next_chat = now() + m_rng.between(5.0f, 30.0f);
}

void Match::chooseTeam(Bot& b) {
    b.team_at = -1;
    int team = b.wanted_team;
    if (team == TEAM_UNASSIGNED)  // a new player evens the teams
        team = teamCount(TEAM_T) <= teamCount(TEAM_CT) ? TEAM_T : TEAM_CT;
    joinTeam(b, team);
    if (m_phase == Phase::Freeze && team != TEAM_SPECTATOR && !b.alive) {  // in time to play
        int n = 0;
        for (const Bot& o : m_bots) n += (o.team == team && o.alive);
        spawn(b, n);
    }
}

void Match::joinTeam(Bot& b, int team) {
    b.team = team;
    send(msg::TeamInfo, MSG_ALL, nullptr, {b.index, kTeamNames[team]});
    sendScore(b);
    if (team != TEAM_SPECTATOR)
        m_host.setInfoKey(b.index, "model", kModels[team][m_rng.range(0, 3)]);  // the class
    m_trace.line(now(), "team").num("player", b.index).text("team", kTeamNames[team]);
}

void Match::disconnect(Bot& b) {
    edict_t* e = edictOf(b);
    m_host.clientDisconnect(e);
    // The game drops what the player carried; the engine then frees the client.
    if (b.alive && b.has_c4) dropBomb(b);
    b.alive = false;
    b.has_c4 = b.has_kit = false;
    b.link = Link::Free;
    b.team = TEAM_UNASSIGNED;
    b.target = 0;
    for (Bot& o : m_bots)
        if (o.target == b.index) o.target = 0;
    if (m_bomb_holder == b.index && m_bomb != Bomb::Dropped) m_bomb_holder = 0;
    m_trace.line(now(), "leave").num("player", b.index).text("name", b.name);
    m_host.clearInfo(b.index);
    memset(&e->v, 0, sizeof(e->v));
    // A new client takes the slot a little later.
    b.persona = m_next_persona++;
    b.fresh = true;
    b.wanted_team = TEAM_UNASSIGNED;
    b.watch_rounds = 0;
    b.connect_at = now() + m_rng.between(8.0f, 15.0f);
}

void Match::rename(Bot& b) {
    char old_name[32];
    snprintf(old_name, sizeof(old_name), "%s", b.name);
    const char* fresh = kNames[m_next_persona % kNameCount];
    char name[40];
    snprintf(name, sizeof(name), "%s_%d", fresh, m_next_persona / kNameCount + 1);
    name[sizeof(b.name) - 1] = '\0';  // the engine keeps 31 characters of a name
    ++m_next_persona;
    m_host.setInfoKey(b.index, "name", name);
    // The game sees the new name against the entity's old one and tells everybody; the engine
    // moves the entity's name over after the game's call.
    send(msg::SayText, MSG_ALL, nullptr, {b.index, "#Cstrike_Name_Change", old_name, name});
    m_host.clientUserInfoChanged(edictOf(b));
    setName(b, name);
    edictOf(b)->v.netname = b.netname;
    m_trace.line(now(), "name").num("player", b.index).text("old", old_name).text("new", b.name);
}

// --- the edict and the client's view -------------------------------------------------------------

void Match::updateEntity(Bot& b) {
    entvars_t& v = edictOf(b)->v;
    v.origin[0] = b.pos.x;
    v.origin[1] = b.pos.y;
    v.origin[2] = b.pos.z;
    v.v_angle[0] = b.pitch;
    v.v_angle[1] = b.yaw;
    v.v_angle[2] = 0;
    v.angles[0] = -b.pitch / 3.0f;  // the model leans a third of the view's pitch
    v.angles[1] = b.yaw;
    v.angles[2] = 0;
    v.health = b.health;
    v.armorvalue = b.armor;
    v.frags = float(b.frags);
    v.team = b.team;
    v.deadflag = b.deadflag;
    v.view_ofs[2] = b.alive ? 17.0f : 0.0f;
    unsigned flags = FL_CLIENT;
    if (b.alive) {
        bool climbing = b.move == Move::ClimbUp || b.move == Move::ClimbDown;
        v.movetype = climbing ? MOVETYPE_FLY : MOVETYPE_WALK;
        if (!climbing && b.move != Move::Falling) flags |= FL_ONGROUND;
        const Weapon* w = weapon(b.active);
        v.maxspeed = w ? w->speed : 250.0f;
    } else {
        v.movetype = b.deadflag == DEAD_DYING ? MOVETYPE_TOSS : MOVETYPE_NONE;
        if (b.deadflag == DEAD_DYING || b.deadflag == DEAD_DEAD) flags |= FL_ONGROUND;
    }
    v.flags = int(flags);
    int bits = 0;
    for (int id : {b.primary, b.secondary, b.alive ? int(WEAPON_KNIFE) : 0})
        if (id) bits |= 1 << id;
    v.weapons = bits;
}

void Match::initHud(Bot& b) {
    sendTo(b, msg::InitHUD, {});
    for (const Bot& o : m_bots) {  // the newcomer learns the scoreboard
        if (o.link != Link::InGame || o.index == b.index) continue;
        sendTo(b, msg::ScoreInfo, {o.index, o.frags, o.deaths, 0, o.team});
        sendTo(b, msg::TeamInfo, {o.index, kTeamNames[o.team]});
    }
    sendTo(b, msg::TeamScore, {"CT", m_score[1]});
    sendTo(b, msg::TeamScore, {"TERRORIST", m_score[0]});
    sendScore(b);
    send(msg::TeamInfo, MSG_ALL, nullptr, {b.index, kTeamNames[b.team]});
    int count = 0;
    const Weapon* const* all = allWeapons(&count);
    for (int i = 0; i < count; ++i) {
        const Weapon& w = *all[i];
        sendTo(b, msg::WeaponList, {w.classname, w.ammo_type, w.ammo_max, -1, -1, w.slot,
                                    w.position, w.id, w.flags});
    }
}

int Match::roundSeconds() const {
    if (m_phase != Phase::Freeze && m_phase != Phase::Live) return -1;
    float left = m_phase_end - now();
    return left > 0 ? int(std::ceil(left)) : 0;
}

// What UpdateClientData finds changed since the client was last told, in the game's order.
void Match::updateClient(Bot& b) {
    if (b.reset_hud) {
        b.reset_hud = false;
        sendTo(b, msg::ResetHUD, {});
        if (b.first_hud) {
            b.first_hud = false;
            initHud(b);
        }
        b.sent_health = b.sent_armor = b.sent_weapon = -1;
        b.sent_clip = -2;
        if (roundSeconds() >= 0) sendTo(b, msg::RoundTime, {roundSeconds()});
        if (b.alive) {
            sendTo(b, msg::Money, {b.money, 0});
            b.sent_money = b.money;
            if (b.in_buyzone) statusIcon(b, 1, "buyzone");
            if (b.has_kit) statusIcon(b, 1, "defuser");
            if (b.has_c4) statusIcon(b, b.in_site ? 2 : 1, "c4");
        }
    }
    int health = b.health <= 0 ? 0 : b.health < 1 ? 1 : b.health > 255 ? 255 : int(b.health);
    if (!b.alive && b.sent_health == -1) health = -1;  // nothing to report before a first spawn
    if (health != b.sent_health && health >= 0) {
        sendTo(b, msg::Health, {health});
        b.sent_health = health;
    }
    int armor = int(b.armor);
    if (b.alive && armor != b.sent_armor) {
        sendTo(b, msg::Battery, {armor});
        b.sent_armor = armor;
    }
    if (b.dmg_take > 0 || b.dmg_save > 0) {
        sendTo(b, msg::Damage, {int(b.dmg_save), int(b.dmg_take), b.dmg_bits, b.dmg_from.x,
                                b.dmg_from.y, b.dmg_from.z});
        b.dmg_take = b.dmg_save = 0;
        b.dmg_bits = 0;
    }
    if (b.alive && b.money != b.sent_money) {
        sendTo(b, msg::Money, {b.money, 1});
        b.sent_money = b.money;
    }
    if (!b.alive || b.active == 0) {
        b.sent_weapon = -1;
        return;
    }
    const Weapon* w = weapon(b.active);
    int clip = w && w->clip != NO_CLIP ? b.clip[b.active] : NO_CLIP;
    if (b.active != b.sent_weapon) {
        int old = b.sent_weapon;
        bool still_held = old == b.primary || old == b.secondary || old == WEAPON_KNIFE ||
                          (isGrenade(old) && b.reserve[old] > 0) || (old == WEAPON_C4 && b.has_c4);
        if (old > 0 && still_held) {
            const Weapon* ow = weapon(old);
            sendTo(b, msg::CurWeapon, {0, old, ow && ow->clip != NO_CLIP ? b.clip[old] : NO_CLIP});
        }
        sendTo(b, msg::CurWeapon, {1, b.active, clip});
    } else if (clip != b.sent_clip) {
        sendTo(b, msg::CurWeapon, {1, b.active, clip});
    }
    b.sent_weapon = b.active;
    b.sent_clip = clip;
}

// --- chat and radio ----------------------------------------------------------------------------

bool Match::canHear(const Bot& listener, const Bot& speaker, bool team_only) const {
    if (team_only && listener.team != speaker.team) return false;
    return speaker.alive || !listener.alive;  // the living do not hear the dead
}

void Match::trySpeak(Bot& b) {
    if (now() < b.next_chat) return;
    b.next_chat = now() + (b.alive ? m_rng.between(20.0f, 60.0f) : m_rng.between(6.0f, 20.0f));
    if (b.team == TEAM_UNASSIGNED) return;
    say(b, m_rng.chance(0.4f), kLines[m_rng.range(0, kLineCount - 1)]);
}

void Match::say(Bot& b, bool team_only, const char* line) {
    const char* key;
    if (b.team == TEAM_SPECTATOR)
        key = team_only ? "#Cstrike_Chat_Spec" : "#Cstrike_Chat_AllSpec";
    else if (!team_only)
        key = b.alive ? "#Cstrike_Chat_All" : "#Cstrike_Chat_AllDead";
    else if (b.team == TEAM_CT)
        key = b.alive ? "#Cstrike_Chat_CT" : "#Cstrike_Chat_CT_Dead";
    else
        key = b.alive ? "#Cstrike_Chat_T" : "#Cstrike_Chat_T_Dead";
    char text[192];
    snprintf(text, sizeof(text), "%s\n", line);  // the game ends every line with a newline
    // One copy to each listener, the speaker's own last, as the game loops over its clients.
    int heard = 0;
    for (Bot& o : m_bots) {
        if (o.link != Link::InGame || o.index == b.index || !canHear(o, b, team_only)) continue;
        sendTo(o, msg::SayText, {b.index, key, "", text});
        ++heard;
    }
    sendTo(b, msg::SayText, {b.index, key, "", text});
    m_trace.line(now(), "chat")
        .num("player", b.index)
        .text("key", key)
        .text("text", text)
        .num("recipients", heard + 1);
}

void Match::radio(Bot& b, const char* code, const char* text) {
    if (!b.alive) return;
    char sender[8];
    snprintf(sender, sizeof(sender), "%d", b.index);
    int heard = 0;
    for (Bot& o : m_bots) {
        if (o.link != Link::InGame || o.team != b.team) continue;
        if (text) sendTo(o, msg::TextMsg, {5 /* HUD_PRINTRADIO */, sender, "#Game_radio", b.name, text});
        sendTo(o, msg::SendAudio, {b.index, code, 100});
        ++heard;
    }
    m_trace.line(now(), "radio").num("player", b.index).text("code", code).num("recipients", heard);
}
