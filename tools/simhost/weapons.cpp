#include "weapons.h"

namespace kovi {
namespace {

constexpr int kExhaustible = 8 | 16;  // ITEM_FLAG_LIMITINWORLD | ITEM_FLAG_EXHAUSTIBLE

const Weapon kWeapons[] = {
    {WEAPON_GLOCK18, "glock18", "weapon_glock18", "models/w_glock18.mdl", 10, 120, 1, 2, 0, 20,
     400, 0.16f, 2.2f, 25, 0.525f, 1400, 250},
    {WEAPON_USP, "usp", "weapon_usp", "models/w_usp.mdl", 6, 100, 1, 4, 0, 12, 500, 0.16f, 2.7f,
     34, 0.5f, 1400, 250},
    {WEAPON_DEAGLE, "deagle", "weapon_deagle", "models/w_deagle.mdl", 8, 35, 1, 1, 0, 7, 650,
     0.24f, 2.2f, 54, 0.625f, 1600, 250},
    {WEAPON_AK47, "ak47", "weapon_ak47", "models/w_ak47.mdl", 2, 90, 0, 1, 0, 30, 2500, 0.1f,
     2.45f, 36, 0.775f, 2000, 221},
    {WEAPON_M4A1, "m4a1", "weapon_m4a1", "models/w_m4a1.mdl", 4, 90, 0, 6, 0, 30, 3100, 0.09f,
     3.05f, 33, 0.7f, 2000, 230},
    {WEAPON_AWP, "awp", "weapon_awp", "models/w_awp.mdl", 1, 30, 0, 2, 0, 10, 4750, 1.45f, 2.9f,
     115, 0.975f, 4000, 210},
    {WEAPON_MP5NAVY, "mp5navy", "weapon_mp5navy", "models/w_mp5.mdl", 10, 120, 0, 7, 0, 30, 1500,
     0.075f, 2.6f, 26, 0.5f, 1200, 250},
    {WEAPON_KNIFE, "knife", "weapon_knife", "models/w_knife.mdl", -1, -1, 2, 1, 0, NO_CLIP, 0,
     0.4f, 0, 35, 0.85f, 60, 250},
    {WEAPON_HEGRENADE, "grenade", "weapon_hegrenade", "models/w_hegrenade.mdl", 12, 1, 3, 1,
     kExhaustible, NO_CLIP, 300, 0, 0, 100, 0.5f, 350, 250},
    {WEAPON_FLASHBANG, "flashbang", "weapon_flashbang", "models/w_flashbang.mdl", 11, 2, 3, 2,
     kExhaustible, NO_CLIP, 200, 0, 0, 0, 0, 0, 250},
    {WEAPON_SMOKEGRENADE, "smokegrenade", "weapon_smokegrenade", "models/w_smokegrenade.mdl", 13,
     1, 3, 3, kExhaustible, NO_CLIP, 300, 0, 0, 0, 0, 0, 250},
    {WEAPON_C4, "c4", "weapon_c4", "models/w_backpack.mdl", 14, 1, 4, 3, kExhaustible, NO_CLIP, 0,
     0, 0, 0, 0, 0, 250},
};
constexpr int kCount = int(sizeof(kWeapons) / sizeof(kWeapons[0]));

struct Index {
    const Weapon* by_id[MAX_WEAPONS] = {};
    const Weapon* all[kCount] = {};
    Index() {
        for (int i = 0; i < kCount; ++i) {
            by_id[kWeapons[i].id] = &kWeapons[i];
            all[i] = &kWeapons[i];
        }
    }
};
const Index kIndex;

}  // namespace

const Weapon* weapon(int id) { return id > 0 && id < MAX_WEAPONS ? kIndex.by_id[id] : nullptr; }

const Weapon* const* allWeapons(int* count) {
    *count = kCount;
    return kIndex.all;
}

bool isGrenade(int id) {
    return id == WEAPON_HEGRENADE || id == WEAPON_FLASHBANG || id == WEAPON_SMOKEGRENADE;
}

}  // namespace kovi
