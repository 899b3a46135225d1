// Grenades from the throw to the explosion: SetModel notices a new grenade by its world model,
// Think reports its flight on every third think and drops it after the explosion, EmitSound hears
// bounces and the explosion. Other entities are turned away by one class name comparison.
#include "capture/hooks.h"
#include "capture/record.h"
#include "host/host.h"
#include "state/events.h"
#include "state/state.h"

using capture::charAt;

namespace {

bool isGrenade(const edict_t* e) {
    return e != nullptr && g_grenades.m_classname != 0 && static_cast<int32_t>(e->v.classname) == g_grenades.m_classname;
}

void appendGrenade(const GrenadeNode& node, int event, const edict_t* at) {
    capture::appendEvent<GrenadePacketChunk>(node.m_id, capture::truncate16(at->v.origin[0]),
                                             capture::truncate16(at->v.origin[1]), event,
                                             node.m_type);
}

// "models/w_hegrenade.mdl", "models/w_flashbang.mdl", "models/w_smokegrenade.mdl"; -1 otherwise.
int grenadeType(const char* model) {
    if (charAt(model, 7) != 'w' || charAt(model, 8) != '_') return -1;  // not a world model
    if (charAt(model, 9) == 'h') return GRENADE_HE;
    auto follows = [model](const char* word) {
        for (int i = 0; word[i] != '\0'; ++i)
            if (charAt(model, 9 + i) != word[i]) return false;
        return true;
    };
    if (follows("flas")) return GRENADE_FLASH;
    if (follows("smok")) return GRENADE_SMOKE;
    return -1;
}

// "weapons/debris*", "weapons/flashbang-*", "weapons/sg_explode*".
bool isExplosion(const char* sample) {
    char a = charAt(sample, 8), b = charAt(sample, 9);
    return (a == 'd' && b == 'e') || (a == 'f' && b == 'l') || (a == 's' && b == 'g');
}

// "weapons/he_bounce-*", "weapons/grenade_hit*".
bool isBounce(const char* sample) {
    char a = charAt(sample, 8), b = charAt(sample, 9);
    return (a == 'h' && b == 'e' && charAt(sample, 14) == 'n') ||
           (a == 'g' && b == 'r' && charAt(sample, 11) == 'n');
}

}  // namespace

void Think(edict_t* pent) {
    setMetaIgnored();
    if (!isGrenade(pent)) return;
    Grenades::iterator it = g_grenades.begin();
    while (!it.atEnd() && it->m_entity != pent) it.next();
    if (it.atEnd()) return;  // not thrown while we watched, or already dropped
    GrenadeNode* node = *it;
    if (node->m_exploded) {
        it.unlink();  // the explosion was the last thing to tell
        return;
    }
    node->m_ticks = (node->m_ticks + 1) % 3;
    if (node->m_ticks == 0) appendGrenade(*node, GRENADE_MOVED, pent);
}

void EmitSound(edict_t* entity, int /*channel*/, const char* sample, float /*volume*/,
               float /*attenuation*/, int /*fFlags*/, int /*pitch*/) {
    setMetaIgnored();
    if (!isGrenade(entity) || sample == nullptr) return;
    if (charAt(sample, 0) != 'w' || charAt(sample, 1) != 'e') return;
    bool explosion = isExplosion(sample);
    if (!explosion && !isBounce(sample)) return;
    GrenadeNode* node = g_grenades.find(entity);
    if (node == nullptr) return;
    if (explosion) {
        node->m_exploded = 1;  // freed at its next think
        appendGrenade(*node, GRENADE_EXPLODED, entity);
    } else {
        appendGrenade(*node, GRENADE_MOVED, entity);
    }
}

void SetModel(edict_t* e, const char* m) {
    setMetaIgnored();
    if (e == nullptr || m == nullptr || e->v.owner == nullptr) return;
    int type = grenadeType(m);
    if (type < 0) return;
    GrenadeNode* node = g_grenades.find(e);
    if (node != nullptr) {  // the engine gave a freed entity out again
        g_grenades.m_last_id = (g_grenades.m_last_id + 1) % 32;
        node->m_id = g_grenades.m_last_id;
        node->m_type = type;
        node->m_exploded = 0;
        node->m_ticks = 0;
    } else {
        node = g_grenades.add(e, type);
        if (node == nullptr) return;  // no memory: this grenade goes unseen
    }
    g_grenades.m_classname = static_cast<int32_t>(e->v.classname);
    appendGrenade(*node, GRENADE_THROWN, e->v.owner);
}
