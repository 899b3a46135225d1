// The per-frame paths: the ring and the round clock move on at each frame's start (the plugin's
// StartFrame), every player is sampled in PlayerPostThink. Both run every frame and allocate
// nothing (the round clock's chunk is built in its slot's kept storage).
#include "capture/hooks.h"
#include "capture/record.h"
#include "host/host.h"
#include "state/events.h"
#include "state/state.h"

namespace {

// Once per game second while the clock runs; the last tick carries -1, and the clock then waits
// for RoundTime or a bomb plant.
void tickRoundClock() {
    int second = capture::gameSecond();
    if (second == g_roundtime.m_last_second || g_roundtime.m_seconds < 0) return;
    g_roundtime.m_last_second = second;
    g_roundtime.m_seconds--;
    if (g_roundtime.m_seconds < 0) g_roundtime.m_bomb = false;
    capture::appendEvent<RTimePacketChunk>(g_roundtime.m_seconds);
}

}  // namespace

void capture::advanceFrame() {
    g_statemgr.advance();
    if (g_current != nullptr) tickRoundClock();
}

void PlayerPostThink(edict_t* pEntity) {
    setMetaIgnored();
    int slot = playerSlot(pEntity);
    if (g_current == nullptr || static_cast<unsigned>(slot) >= MAX_PLAYERS) return;  // no map
    const entvars_t& v = pEntity->v;
    const PlayerRecord& r = g_players[slot];
    PlayerState& p = capture::player(slot);
    p.m_changed |= CHANGED_ICONS;
    p.m_icons |= r.m_icons;
    if (r.m_died) {  // health went to 0 at the last Health message
        p.m_changed |= CHANGED_STATE;
        p.m_state |= STATE_DIED | STATE_ALIVE;
        return;
    }
    if (v.deadflag & 0x02) {  // DEAD_DEAD and DEAD_RESPAWNABLE
        p.m_changed |= CHANGED_STATE;
        p.m_state |= STATE_DEAD;
        return;
    }
    // Anything but walking or climbing (observers, noclip, frozen bodies) keeps the last position.
    if (!(v.health > 0) || (v.movetype != MOVETYPE_WALK && v.movetype != MOVETYPE_FLY)) return;
    p.m_changed |= CHANGED_STATE | CHANGED_POSITION;
    p.m_state |= STATE_ALIVE;
    p.m_x = capture::truncate16(v.origin[0]);
    p.m_y = capture::truncate16(v.origin[1]);
    p.m_yaw = capture::truncate16(v.v_angle[1]);
}
