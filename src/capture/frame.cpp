// The per-frame hooks: the ring and the round clock move on in StartFrame, every player is
// sampled in PlayerPostThink. Both run every frame and allocate nothing (the round clock's chunk
// is built in its slot's kept storage).
#include "broadcast/connections.h"
#include "capture/record.h"
#include "plugin/hooks.h"
#include "plugin/host.h"
#include "plugin/plugin.h"
#include "state/state.h"
#include "stream/chunks.h"
#include "web/applet_server.h"
#include "web/missing_page.h"

namespace {

// The sender thread keeps the count; a change shows in the version variable a frame later.
void publishSpectators() {
    int count = g_connmgr.m_count.load(std::memory_order_relaxed);
    if (count == g_spectators) return;
    g_spectators = count;
    setVersionCvar(count, g_connmgr.m_max.load(std::memory_order_relaxed));
}

// Once per game second while the clock runs; the last tick carries -1, and the clock then waits
// for RoundTime or a bomb plant.
void tickRoundClock() {
    int second = capture::gameSecond();
    if (second == g_roundtime.m_last_second || g_roundtime.m_seconds < 0) return;
    g_roundtime.m_last_second = second;
    g_roundtime.m_seconds--;
    capture::appendEvent<RTimePacketChunk>(g_roundtime.m_seconds);
}

}  // namespace

void StartFrame() {
    g_statemgr.advance();
    publishSpectators();
    if (g_current != nullptr) tickRoundClock();
    reportRefusedVisitors();  // the web server's threads may not log; the main thread does
    reportAcceptFailures();
    reportMissingStartPage();
    retryWebPort();
    setMetaIgnored();
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
