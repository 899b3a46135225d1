// Handlers of the messages about one player: weapon, damage, health, spawn, score line, team and
// status icons. Values needed from earlier arguments are kept here until the position that
// completes the message; mState starts at 0 with every message, so they are always fresh.
#include <cstring>

#include "capture/handlers.h"
#include "capture/messages.h"
#include "capture/record.h"
#include "state/state.h"

using capture::player;
using capture::slotOfId;

namespace {

struct {
    int active;
    int weapon;
} cur_weapon;

int damage_taken;

struct {
    int slot;
    int frags;
    int deaths;
} score_info;

int team_info_slot;
int icon_status;

// 2 counter-terrorists, 1 terrorists, 0 anyone else (spectators, unassigned).
uint8_t teamOfName(const char* name) {
    if (name == nullptr) return 0;
    return name[0] == 'C' ? 2 : name[0] == 'T' ? 1 : 0;
}

void setIcon(PlayerRecord& record, uint8_t icon, bool shown) {
    if (shown)
        record.m_icons |= icon;
    else
        record.m_icons &= static_cast<uint8_t>(~icon);
}

}  // namespace

void Client_CurWeapon(const void* arg) {
    switch (mState++) {
        case 0: cur_weapon.active = intArg(arg); return;
        case 1: cur_weapon.weapon = intArg(arg); return;
        case 2: break;
        default: return;
    }
    int slot = mPlayerIndex, id = cur_weapon.weapon, clip = intArg(arg);
    if (slot < 0 || !cur_weapon.active) return;       // the weapon put away
    if (static_cast<unsigned>(id) >= 32) return;      // no weapon the record knows
    PlayerRecord& r = g_players[slot];
    PlayerState& p = player(slot);
    r.m_weapon = id;
    p.m_changed |= CHANGED_WEAPON;
    p.m_weapon = static_cast<uint8_t>(id);
    // Only the held weapon's clip going down is a shot: switching finds the clip last seen,
    // a reload raises it, and -1 is a weapon without a clip.
    if (clip > -1 && clip < r.m_clip[id]) {
        p.m_changed |= CHANGED_STATE;
        p.m_state |= STATE_FIRED;
    }
    r.m_clip[id] = clip;
}

void Client_Damage(const void* arg) {
    int position = mState++;
    if (position == 1) damage_taken = intArg(arg);
    if (position != 3 || mPlayerIndex < 0 || damage_taken == 0) return;
    PlayerState& p = player(mPlayerIndex);
    p.m_changed |= CHANGED_STATE;
    p.m_state |= STATE_HIT;
}

void Client_ResetHUD(const void*) {
    if (mPlayerIndex < 0) return;
    PlayerRecord& r = g_players[mPlayerIndex];
    PlayerState& p = player(mPlayerIndex);
    p.m_changed |= CHANGED_STATE | CHANGED_HEALTH;
    p.m_state |= STATE_SPAWNED | STATE_ALIVE;
    r.m_icons &= static_cast<uint8_t>(~(ICON_C4 | ICON_DEFUSER));
    p.m_health = static_cast<uint8_t>(r.m_health);
}

void Client_ScoreInfo(const void* arg) {
    switch (mState++) {
        case 0: score_info.slot = slotOfId(intArg(arg)); return;
        case 1: score_info.frags = intArg(arg); return;
        case 2: score_info.deaths = intArg(arg); return;
        case 4: break;
        default: return;  // 3: the class
    }
    if (score_info.slot < 0) return;
    PlayerState& p = player(score_info.slot);
    p.m_changed |= CHANGED_TEAM | CHANGED_KILLS;
    p.m_team = static_cast<uint8_t>(intArg(arg));
    p.m_kills = static_cast<uint8_t>(score_info.frags);
    p.m_deaths = static_cast<uint8_t>(score_info.deaths);
}

void Client_TeamInfo(const void* arg) {
    int position = mState++;
    if (position == 0) team_info_slot = slotOfId(intArg(arg));
    if (position != 1 || team_info_slot < 0) return;
    PlayerState& p = player(team_info_slot);
    p.m_changed |= CHANGED_TEAM;
    p.m_team = teamOfName(static_cast<const char*>(arg));
}

void Client_Health(const void* arg) {
    if (mState++ != 0 || mPlayerIndex < 0) return;
    int health = intArg(arg);
    PlayerRecord& r = g_players[mPlayerIndex];
    PlayerState& p = player(mPlayerIndex);
    p.m_health = static_cast<uint8_t>(health);
    p.m_changed |= CHANGED_HEALTH;
    r.m_died = r.m_health >= 0 && health <= 0 ? 1 : 0;
    r.m_health = health;
}

void Client_StatusIcon(const void* arg) {
    if (mPlayerIndex < 0) return;  // not counted either: nobody's screen
    int position = mState++;
    if (position == 0) icon_status = intArg(arg);
    if (position != 1 || arg == nullptr) return;
    const char* sprite = static_cast<const char*>(arg);
    PlayerRecord& r = g_players[mPlayerIndex];
    if (strcmp(sprite, "c4") == 0)
        setIcon(r, ICON_C4, icon_status != 0);
    else if (strncmp(sprite, "def", 3) == 0)
        setIcon(r, ICON_DEFUSER, icon_status != 0);
}

void Client_WeaponList(const void*) {}
