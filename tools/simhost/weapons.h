// The Counter-Strike 1.6 weapons the scripted match uses: the game's ids, item info (as the
// WeaponList message gives it), world models and the numbers the bots fight with.
#pragma once

namespace kovi {

enum WeaponId {
    WEAPON_NONE = 0, WEAPON_HEGRENADE = 4, WEAPON_C4 = 6, WEAPON_SMOKEGRENADE = 9,
    WEAPON_USP = 16, WEAPON_GLOCK18 = 17, WEAPON_AWP = 18, WEAPON_MP5NAVY = 19, WEAPON_M4A1 = 22,
    WEAPON_FLASHBANG = 25, WEAPON_DEAGLE = 26, WEAPON_AK47 = 28, WEAPON_KNIFE = 29
};
constexpr int MAX_WEAPONS = 32;
constexpr int NO_CLIP = -1;  // knife, grenades and C4: CurWeapon carries -1

struct Weapon {
    int id;
    const char* name;         // in DeathMsg ("ak47")
    const char* classname;    // in WeaponList ("weapon_ak47")
    const char* world_model;  // dropped or thrown
    int ammo_type, ammo_max, slot, position, flags;
    int clip;                 // full clip, or NO_CLIP
    int price;
    float interval;           // seconds between shots
    float reload;             // seconds
    float damage;
    float armor_ratio;        // share of the damage that goes through armour
    float range;
    float speed;              // running speed with it drawn
};

const Weapon* weapon(int id);  // null for an id the match does not use
const Weapon* const* allWeapons(int* count);
bool isGrenade(int id);

}  // namespace kovi
