// Rounds (freeze time, the clock, win conditions), buying, and the bomb from its carrier to the
// explosion or the defuse.
#include <cmath>
#include <cstdlib>

#include "match.h"
#include "simhost.h"
#include "weapons.h"

using namespace kovi;

namespace {

constexpr int kMoneyCap = 16000;
const char* const kRoundRadio[] = {"%!MRAD_GO", "%!MRAD_LOCKNLOAD", "%!MRAD_LETSGO",
                                   "%!MRAD_MOVEOUT"};

int addMoney(int money, int amount) { return money + amount > kMoneyCap ? kMoneyCap : money + amount; }

}  // namespace

// --- messages the round uses -------------------------------------------------------------------

void Match::statusIcon(Bot& b, int status, const char* sprite) {
    if (status)
        sendTo(b, msg::StatusIcon, {status, sprite, 0, 160, 0});
    else
        sendTo(b, msg::StatusIcon, {0, sprite});
}

void Match::sendScore(const Bot& b) {
    send(msg::ScoreInfo, MSG_ALL, nullptr, {b.index, b.frags, b.deaths, 0, b.team});
    m_trace.line(now(), "score").num("player", b.index).num("frags", b.frags).num("deaths", b.deaths);
}

void Match::scoreAttrib(const Bot& b) {
    int flags = (b.alive ? 0 : 1) | (b.has_c4 ? 2 : 0);
    send(msg::ScoreAttrib, MSG_ALL, nullptr, {b.index, flags});
}

void Match::teamScores() {
    send(msg::TeamScore, MSG_ALL, nullptr, {"CT", m_score[1]});
    send(msg::TeamScore, MSG_ALL, nullptr, {"TERRORIST", m_score[0]});
}

void Match::centerText(const char* text) {
    send(msg::TextMsg, MSG_ALL, nullptr, {4 /* HUD_PRINTCENTER */, text});
}

void Match::announce(const char* audio) {
    send(msg::SendAudio, MSG_BROADCAST, nullptr, {0, audio, 100});
    m_trace.line(now(), "radio").num("player", 0).text("code", audio);
}

// --- the round ---------------------------------------------------------------------------------

void Match::roundThink() {
    const float t = now();
    switch (m_phase) {
        case Phase::Waiting: {
            // The first round starts once the clients on their way in have chosen their teams.
            bool settled = false, pending = false;
            for (const Bot& b : m_bots) {
                if (b.link == Link::Connecting || (b.link == Link::InGame && b.team_at >= 0) ||
                    (b.link == Link::Free && b.connect_at >= 0 && b.connect_at < t + 5.0f))
                    pending = true;
                if (b.link == Link::InGame && b.team != TEAM_UNASSIGNED) settled = true;
            }
            if (m_commence_at < 0 && settled && !pending) m_commence_at = t + 1.0f;
            if (m_commence_at >= 0 && t >= m_commence_at) {
                centerText("#Game_Commencing");
                restartRound();
            }
            break;
        }
        case Phase::Freeze:
            if (t >= m_phase_end) freezeEnd();
            break;
        case Phase::Live:
            checkWinConditions();
            if (m_phase == Phase::Live && m_bomb != Bomb::Planted && t >= m_phase_end)
                terminateRound(TEAM_CT, "%!MRAD_ctwin", "#Target_Saved", "Target_Saved");
            break;
        case Phase::Ended:
            if (t >= m_phase_end && !m_map_done) restartRound();
            break;
    }
}

void Match::restartRound() {
    const float t = now();
    ++m_round;
    m_phase = Phase::Freeze;
    float freeze = float(atof(m_host.cvarString("mp_freezetime").c_str()));
    m_phase_end = t + (freeze > 0 ? freeze : 0);
    // The game cleans the map: grenades still smoking, dropped weapons, the bomb.
    for (Thrown& g : m_thrown) removeEntity(g.e);
    m_thrown.clear();
    for (edict_t* e : m_boxes) removeEntity(e);
    m_boxes.clear();
    if (m_c4) removeEntity(m_c4);
    m_c4 = m_bomb_box = nullptr;
    m_bomb = Bomb::None;
    m_bomb_holder = 0;
    m_bomb_lands_at = -1;
    // A map with a bomb target clears the dropped bomb from every radar first (the carrier gets
    // his icon with the bomb, after the spawns).
    send(msg::BombPickup, MSG_ALL, nullptr, {});
    for (Bot& b : m_bots) {  // spectators who have watched enough take the smaller team
        if (b.link != Link::InGame || b.team != TEAM_SPECTATOR || b.watch_rounds <= 0) continue;
        if (--b.watch_rounds == 0) {
            b.wanted_team = teamCount(TEAM_T) <= teamCount(TEAM_CT) ? TEAM_T : TEAM_CT;
            joinTeam(b, b.wanted_team);
        }
    }
    int spots[3] = {};
    for (Bot& b : m_bots) {
        b.has_c4 = false;
        if (b.link != Link::InGame || (b.team != TEAM_T && b.team != TEAM_CT)) continue;
        spawn(b, spots[b.team]++);
    }
    m_round_players[TEAM_T] = spots[TEAM_T];
    m_round_players[TEAM_CT] = spots[TEAM_CT];
    if (spots[TEAM_T] > 0) {
        int pick = m_rng.range(0, spots[TEAM_T] - 1);
        for (Bot& b : m_bots)
            if (b.alive && b.team == TEAM_T && pick-- == 0) giveBomb(b, true);
    }
    // Now and then somebody leaves, and somebody renames.
    if (m_round % 4 == 0) {
        m_leave_index = m_rng.range(1, m_count);
        m_leave_at = m_phase_end + m_rng.between(5.0f, 40.0f);
    }
    if (m_round % 3 == 0) {
        m_rename_index = m_rng.range(1, m_count);
        m_rename_at = m_phase_end + m_rng.between(3.0f, 30.0f);
    }
    m_trace.line(t, "round_start")
        .num("round", m_round)
        .num("terrorists", spots[TEAM_T])
        .num("cts", spots[TEAM_CT]);
}

void Match::spawn(Bot& b, int spot) {
    const float t = now();
    b.alive = true;
    b.health = 100;
    b.deadflag = DEAD_NO;
    b.move = Move::Ground;
    b.pos = spawnPoint(b.team, spot);
    b.yaw = spawnYaw(b.team) + m_rng.between(-20.0f, 20.0f);
    b.pitch = 0;
    if (!b.secondary) {  // the dead lost everything; everybody starts with a pistol
        b.secondary = b.team == TEAM_CT ? WEAPON_USP : WEAPON_GLOCK18;
        b.clip[b.secondary] = weapon(b.secondary)->clip;
        b.reserve[b.secondary] = b.team == TEAM_CT ? 24 : 40;
    }
    b.active = b.primary ? b.primary : b.secondary;
    b.in_buyzone = true;
    b.in_site = false;
    b.reset_hud = true;
    b.target = 0;
    b.next_shot = b.reload_done = b.deploy_done = b.throw_at = 0;
    b.plant_done = b.defuse_done = 0;
    b.fall_speed = 0;
    b.has_goal = false;
    b.hold_until = 0;
    b.jumps = m_rng.chance(0.35f);
    int routes = 0;
    const MapLayout& map = mapLayout();
    for (int i = 0; i < map.route_count; ++i) routes += map.routes[i].team == b.team;
    int pick = m_rng.range(0, routes - 1);
    for (int i = 0; i < map.route_count; ++i)
        if (map.routes[i].team == b.team && pick-- == 0) b.route = &map.routes[i];
    b.waypoint = 0;
    float freeze = m_phase_end - t;
    b.buy_at = t + m_rng.between(0.2f, freeze > 0.5f ? (freeze < 2.5f ? freeze : 2.5f) : 0.5f);
    b.next_scan = t;
    scoreAttrib(b);
    m_trace.line(t, "spawn")
        .num("player", b.index)
        .text("team", b.team == TEAM_CT ? "CT" : "TERRORIST")
        .num("x", b.pos.x)
        .num("y", b.pos.y)
        .num("z", b.pos.z);
}

void Match::buy(Bot& b) {
    const int team = b.team;
    if (!b.primary) {
        int want = 0;
        if (b.money >= 4750 && m_rng.chance(0.15f)) want = WEAPON_AWP;
        else if (team == TEAM_T && b.money >= 2500) want = WEAPON_AK47;
        else if (team == TEAM_CT && b.money >= 3100) want = WEAPON_M4A1;
        else if (b.money >= 1500) want = WEAPON_MP5NAVY;
        if (want) {
            const Weapon* w = weapon(want);
            b.money -= w->price;
            b.primary = want;
            b.clip[want] = w->clip;
            b.reserve[want] = w->ammo_max;
            draw(b, want);
        }
    }
    if (b.armor < 100 && b.money >= 1000) {
        b.money -= 1000;
        b.armor = 100;
    }
    struct { int id; float p; int max; } nades[] = {
        {WEAPON_HEGRENADE, 0.55f, 1}, {WEAPON_FLASHBANG, 0.4f, 2}, {WEAPON_SMOKEGRENADE, 0.3f, 1}};
    for (auto& n : nades) {
        int price = weapon(n.id)->price;
        while (b.reserve[n.id] < n.max && b.money >= price && m_rng.chance(n.p)) {
            b.money -= price;
            ++b.reserve[n.id];
        }
    }
    if (team == TEAM_CT && !b.has_kit && b.money >= 200 && m_rng.chance(0.5f)) {
        b.money -= 200;
        b.has_kit = true;
        statusIcon(b, 1, "defuser");
    }
}

void Match::freezeEnd() {
    m_phase = Phase::Live;
    float minutes = float(atof(m_host.cvarString("mp_roundtime").c_str()));
    m_phase_end = now() + (minutes > 0 ? minutes : 1.75f) * 60.0f;
    send(msg::RoundTime, MSG_ALL, nullptr, {roundSeconds()});
    for (int team : {int(TEAM_T), int(TEAM_CT)}) {  // each team hears its own call
        const char* code = kRoundRadio[m_rng.range(0, 3)];
        for (Bot& b : m_bots)
            if (b.link == Link::InGame && b.team == team && b.alive)
                sendTo(b, msg::SendAudio, {b.index, code, 100});
    }
    for (Bot& b : m_bots)  // some run with the knife out
        if (b.alive && m_rng.chance(0.15f)) draw(b, WEAPON_KNIFE);
}

void Match::checkWinConditions() {
    // Elimination needs two sides; a lone team plays against the clock.
    if (m_round_players[TEAM_T] == 0 || m_round_players[TEAM_CT] == 0) return;
    int t = aliveCount(TEAM_T), ct = aliveCount(TEAM_CT);
    if (t == 0 && ct == 0)
        terminateRound(0, "%!MRAD_rounddraw", "#Round_Draw", "Round_Draw");
    else if (ct == 0)
        terminateRound(TEAM_T, "%!MRAD_terwin", "#Terrorists_Win", "Terrorists_Win");
    else if (t == 0 && m_bomb != Bomb::Planted)  // a planted bomb must still be defused
        terminateRound(TEAM_CT, "%!MRAD_ctwin", "#CTs_Win", "CTs_Win");
}

void Match::terminateRound(int winner, const char* audio, const char* text, const char* reason) {
    m_phase = Phase::Ended;
    m_phase_end = now() + 5.0f;
    if (winner == TEAM_T) ++m_score[0];
    if (winner == TEAM_CT) ++m_score[1];
    if (audio) announce(audio);
    centerText(text);
    teamScores();
    // The losers' bonus grows with each loss in a row, so that a beaten side can buy again.
    for (int team : {int(TEAM_T), int(TEAM_CT)}) {
        int& losses = m_losses[team == TEAM_CT ? 1 : 0];
        losses = team == winner ? 0 : losses + 1;
    }
    for (Bot& b : m_bots) {
        if (b.link != Link::InGame || (b.team != TEAM_T && b.team != TEAM_CT)) continue;
        int losses = m_losses[b.team == TEAM_CT ? 1 : 0];
        int bonus = 1400 + 500 * (losses > 1 ? (losses > 5 ? 4 : losses - 1) : 0);
        b.money = addMoney(b.money, b.team == winner ? 3250 : bonus);
        if (b.plant_done > 0 || b.defuse_done > 0) sendTo(b, msg::BarTime, {0});
        b.plant_done = b.defuse_done = 0;
    }
    ++m_rounds_played;
    if (m_options.rounds_per_map > 0 && m_rounds_played >= m_options.rounds_per_map)
        m_map_done = true;
    m_trace.line(now(), "round_end")
        .num("round", m_round)
        .text("winner", winner == TEAM_T ? "TERRORIST" : winner == TEAM_CT ? "CT" : "draw")
        .text("reason", reason)
        .num("score_t", m_score[0])
        .num("score_ct", m_score[1]);
}

// --- the bomb ----------------------------------------------------------------------------------

// At a round start the game has already sent BombPickup to all; a pickup from the floor shows
// the carrier his icon and then tells everybody (the bomb leaves the radar).
void Match::giveBomb(Bot& b, bool round_start) {
    b.has_c4 = true;
    m_bomb = Bomb::Carried;
    m_bomb_holder = b.index;
    m_bomb_lands_at = -1;
    statusIcon(b, b.in_site ? 2 : 1, "c4");
    if (!round_start) send(msg::BombPickup, MSG_ALL, nullptr, {});
    scoreAttrib(b);
    b.has_goal = false;  // the carrier heads for a site
    m_trace.line(now(), "bomb")
        .text("action", "pickup")
        .num("player", b.index)
        .num("x", b.pos.x)
        .num("y", b.pos.y)
        .num("z", b.pos.z);
}

void Match::dropBomb(Bot& b) {
    b.has_c4 = false;
    if (b.plant_done > 0) sendTo(b, msg::BarTime, {0});
    b.plant_done = 0;
    if (b.active == WEAPON_C4) b.active = b.primary ? b.primary : b.secondary;
    edict_t* box = m_host.createEntity();
    if (box) {
        box->v.classname = str("weaponbox");
        box->v.owner = edictOf(b);
        box->v.origin[0] = b.pos.x;
        box->v.origin[1] = b.pos.y;
        box->v.origin[2] = b.pos.z;
        box->v.movetype = MOVETYPE_TOSS;
        m_host.setModel(box, "models/w_backpack.mdl");
        m_boxes.push_back(box);
    }
    m_bomb_box = box;
    m_bomb = Bomb::Dropped;
    m_bomb_holder = 0;
    m_bomb_pos = b.pos;
    // The bomb flies a little way forward and lies at rest about a second later, on the floor
    // under the carrier's feet (the balcony's, or the ground).
    const Rect& bounds = mapLayout().bounds;
    float yaw = b.yaw * 3.14159265f / 180.0f, away = m_rng.between(30.0f, 90.0f);
    float x = b.pos.x + std::cos(yaw) * away, y = b.pos.y + std::sin(yaw) * away;
    m_bomb_rest = {x < bounds.x0 + 16 ? bounds.x0 + 16 : x > bounds.x1 - 16 ? bounds.x1 - 16 : x,
                   y < bounds.y0 + 16 ? bounds.y0 + 16 : y > bounds.y1 - 16 ? bounds.y1 - 16 : y,
                   b.move == Move::Balcony ? BALCONY_HEIGHT + 2.0f : 2.0f};
    m_bomb_lands_at = now() + m_rng.between(0.8f, 1.2f);
    send(msg::BombDrop, MSG_ALL, nullptr, {b.pos.x, b.pos.y, b.pos.z, 0});
    statusIcon(b, 0, "c4");
    scoreAttrib(b);
    m_trace.line(now(), "bomb")
        .text("action", "drop")
        .num("player", b.index)
        .num("x", b.pos.x)
        .num("y", b.pos.y)
        .num("z", b.pos.z);
}

void Match::startPlant(Bot& b) {
    draw(b, WEAPON_C4);
    b.plant_done = now() + 3.0f;
    sendTo(b, msg::BarTime, {3});
    sound(edictOf(b), CHAN_WEAPON, "weapons/c4_plant.wav", 1.0f);
}

void Match::plant(Bot& b) {
    const float t = now();
    b.has_c4 = false;
    statusIcon(b, 0, "c4");
    b.active = b.primary ? b.primary : b.secondary;
    edict_t* c4 = m_host.createEntity();
    if (c4) {
        c4->v.classname = str("grenade");  // the planted bomb is a grenade entity, as in the game
        c4->v.owner = edictOf(b);
        c4->v.origin[0] = b.pos.x;
        c4->v.origin[1] = b.pos.y;
        c4->v.origin[2] = b.pos.z - EYE_HEIGHT + 2.0f;
        c4->v.movetype = MOVETYPE_TOSS;
        m_host.setModel(c4, "models/w_c4.mdl");
    }
    m_c4 = c4;
    m_bomb = Bomb::Planted;
    m_bomb_holder = 0;
    m_bomb_pos = b.pos;
    float timer = float(atof(m_host.cvarString("mp_c4timer").c_str()));
    if (timer <= 0) timer = 35.0f;
    m_explode_at = t + timer;
    m_c4_think = t + 0.1f;
    m_next_beep = t + 1.0f;
    b.money = addMoney(b.money, 300);
    send(msg::BombDrop, MSG_ALL, nullptr, {b.pos.x, b.pos.y, b.pos.z, 1});
    announce("%!MRAD_BOMBPL");
    centerText("#Bomb_Planted");
    scoreAttrib(b);
    for (Bot& o : m_bots) o.has_goal = false;  // everybody heads for the bomb
    m_trace.line(t, "bomb")
        .text("action", "plant")
        .num("player", b.index)
        .num("x", b.pos.x)
        .num("y", b.pos.y)
        .num("z", b.pos.z)
        .num("timer", timer);
}

void Match::startDefuse(Bot& b) {
    float seconds = b.has_kit ? 5.0f : 10.0f;
    b.defuse_done = now() + seconds;
    m_bomb_holder = b.index;
    sendTo(b, msg::BarTime, {int(seconds)});
    sound(edictOf(b), CHAN_ITEM, "weapons/c4_disarm.wav", 1.0f);
    m_trace.line(now(), "bomb").text("action", "defusing").num("player", b.index).num("kit", b.has_kit ? 1 : 0);
}

void Match::defuse(Bot& b) {
    m_bomb = Bomb::Done;
    m_bomb_holder = 0;
    if (m_c4) sound(m_c4, CHAN_WEAPON, "weapons/c4_disarmed.wav", 1.0f);
    m_trace.line(now(), "bomb").text("action", "defuse").num("player", b.index);
    // As the game: the announcement, the bomb off every radar, then the round's end with the
    // CTs' win announced like any other.
    announce("%!MRAD_BOMBDEF");
    send(msg::BombPickup, MSG_ALL, nullptr, {});
    terminateRound(TEAM_CT, "%!MRAD_ctwin", "#Bomb_Defused", "Bomb_Defused");
}

void Match::explodeBomb() {
    m_bomb = Bomb::Done;
    if (m_c4) sound(m_c4, CHAN_WEAPON, "weapons/c4_explode1.wav", 1.0f);
    m_trace.line(now(), "bomb")
        .text("action", "explode")
        .num("x", m_bomb_pos.x)
        .num("y", m_bomb_pos.y)
        .num("z", m_bomb_pos.z);
    for (Bot& b : m_bots) {
        if (b.defuse_done > 0) sendTo(b, msg::BarTime, {0});
        b.defuse_done = 0;
    }
    if (m_phase == Phase::Live)
        terminateRound(TEAM_T, "%!MRAD_terwin", "#Target_Bombed", "Target_Bombed");
}

// The dropped bomb's pickup, and the planted bomb's thinks: beeps quicken as the timer runs out.
void Match::bombThink() {
    const float t = now();
    if (m_bomb == Bomb::Dropped && m_bomb_lands_at >= 0 && t >= m_bomb_lands_at) {
        // At rest: the game tells everybody again, from where the bomb lies.
        m_bomb_lands_at = -1;
        m_bomb_pos = m_bomb_rest;
        if (m_bomb_box) {
            m_bomb_box->v.origin[0] = m_bomb_pos.x;
            m_bomb_box->v.origin[1] = m_bomb_pos.y;
            m_bomb_box->v.origin[2] = m_bomb_pos.z;
            m_bomb_box->v.movetype = MOVETYPE_NONE;
        }
        send(msg::BombDrop, MSG_ALL, nullptr, {m_bomb_pos.x, m_bomb_pos.y, m_bomb_pos.z, 0});
        m_trace.line(t, "bomb")
            .text("action", "land")
            .num("x", m_bomb_pos.x)
            .num("y", m_bomb_pos.y)
            .num("z", m_bomb_pos.z);
    }
    if (m_bomb == Bomb::Dropped && m_bomb_lands_at < 0) {  // only a bomb at rest is picked up
        for (Bot& b : m_bots) {
            if (!b.alive || b.team != TEAM_T) continue;
            float dx = b.pos.x - m_bomb_pos.x, dy = b.pos.y - m_bomb_pos.y;
            if (dx * dx + dy * dy > 40.0f * 40.0f) continue;
            for (size_t i = 0; i < m_boxes.size(); ++i)
                if (m_boxes[i] == m_bomb_box) m_boxes.erase(m_boxes.begin() + long(i));
            removeEntity(m_bomb_box);
            m_bomb_box = nullptr;
            giveBomb(b, false);
            break;
        }
    }
    if (!m_c4 || t < m_c4_think) return;
    m_c4_think = t + 0.12f;
    m_host.think(m_c4);
    if (m_bomb == Bomb::Done) {  // the think after the end removes it
        removeEntity(m_c4);
        m_c4 = nullptr;
        return;
    }
    if (m_bomb != Bomb::Planted) return;
    if (t >= m_explode_at) {
        explodeBomb();
        return;
    }
    if (t < m_next_beep) return;
    float left = m_explode_at - t;
    int beep = left > 20 ? 1 : left > 10 ? 2 : left > 5 ? 3 : left > 2 ? 4 : 5;
    static const float kGap[] = {0, 1.4f, 1.0f, 0.6f, 0.3f, 0.15f};
    static const char* const kBeeps[] = {"", "weapons/c4_beep1.wav", "weapons/c4_beep2.wav",
                                         "weapons/c4_beep3.wav", "weapons/c4_beep4.wav",
                                         "weapons/c4_beep5.wav"};
    sound(m_c4, CHAN_ITEM, kBeeps[beep], 1.0f);
    m_next_beep = t + kGap[beep];
}
