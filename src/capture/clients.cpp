// Connections, disconnections and names. The engine calls these for player entities only.
#include "capture/hooks.h"
#include "capture/record.h"
#include "host/host.h"
#include "state/names.h"
#include "state/state.h"

namespace {

// A connection change: no team, no icons, shown as a fresh, dead player.
PlayerState* connectionChange(const edict_t* entity) {
    int slot = playerSlot(entity);
    if (g_current == nullptr || static_cast<unsigned>(slot) >= MAX_PLAYERS) return nullptr;
    PlayerState& p = capture::player(slot);
    p.m_team = 0;
    p.m_icons = 0;
    p.m_state |= STATE_CONNECTION | STATE_SPAWNED | STATE_DEAD;
    p.m_changed |= CHANGED_ICONS | CHANGED_TEAM | CHANGED_STATE;
    return &p;
}

// The player's name from the user info, or the entity's net name when that has none.
void captureName(edict_t* entity, char* infobuffer) {
    int slot = playerSlot(entity);
    if (g_current == nullptr || static_cast<unsigned>(slot) >= MAX_PLAYERS) return;
    static char key[] = "name";  // the engine's signature takes a writable key
    const char* name = infobuffer != nullptr ? g_engfuncs.pfnInfoKeyValue(infobuffer, key) : nullptr;
    if (name == nullptr || name[0] == '\0') name = STRING(entity->v.netname);
    PlayerState& p = capture::player(slot);
    p.m_name = static_cast<uint32_t>(g_name_coll.put(name));
    p.m_changed |= CHANGED_NAME;
}

}  // namespace

qboolean ClientConnect(edict_t* pEntity, const char* /*pszName*/, const char* /*pszAddress*/,
                       char /*szRejectReason*/[128]) {
    connectionChange(pEntity);
    setMetaIgnored();
    return 1;  // ignored by Metamod: the game's answer decides
}

void ClientPutInServer(edict_t* pEntity) {
    connectionChange(pEntity);
    // Clients kept across a map change come back without a user info change, and the names of
    // the last map were forgotten: without this they would stay nameless to spectators.
    captureName(pEntity, g_engfuncs.pfnGetInfoKeyBuffer != nullptr
                             ? g_engfuncs.pfnGetInfoKeyBuffer(pEntity) : nullptr);
    setMetaIgnored();
}

void ClientDisconnect(edict_t* pEntity) {
    PlayerState* p = connectionChange(pEntity);
    if (p != nullptr) {
        p->m_state &= static_cast<uint8_t>(~(STATE_DIED | STATE_ALIVE));
        g_players[p->m_index].m_died = 0;
    }
    setMetaIgnored();
}

void ClientUserInfoChanged_Post(edict_t* pEntity, char* infobuffer) {
    setMetaIgnored();
    captureName(pEntity, infobuffer);
}
