#include "game.h"

#include "simhost.h"

namespace {

struct MessageDef {
    const char* name;
    int size;  // -1: variable length
};

// Counter-Strike 1.6's user messages in registration order; ids are given out from 64 on, so
// DeathMsg is 83 as on real servers. VoiceMask and ReqState come at world spawn.
const MessageDef kWorldSpawnMessages[] = {{"VoiceMask", 8}, {"ReqState", 0}};
const MessageDef kGameMessages[] = {
    {"CurWeapon", 3},    {"Geiger", 1},       {"Flashlight", 2},   {"FlashBat", 1},
    {"Health", 1},       {"Damage", 12},      {"Battery", 2},      {"Train", 1},
    {"HudTextPro", -1},  {"HudText", -1},     {"SayText", -1},     {"TextMsg", -1},
    {"WeaponList", -1},  {"ResetHUD", 0},     {"InitHUD", 0},      {"ViewMode", 0},
    {"GameTitle", 1},    {"DeathMsg", -1},    {"ScoreAttrib", 2},  {"ScoreInfo", 9},
    {"TeamInfo", -1},    {"TeamScore", -1},   {"GameMode", 1},     {"MOTD", -1},
    {"ServerName", -1},  {"AmmoPickup", 2},   {"WeapPickup", 1},   {"ItemPickup", -1},
    {"HideWeapon", 1},   {"SetFOV", 1},       {"ShowMenu", -1},    {"ScreenShake", 6},
    {"ScreenFade", 10},  {"AmmoX", 2},        {"SendAudio", -1},   {"RoundTime", 2},
    {"Money", 5},        {"ArmorType", 1},    {"BlinkAcct", 1},    {"StatusValue", -1},
    {"StatusText", -1},  {"StatusIcon", -1},  {"BarTime", 2},      {"ReloadSound", 2},
    {"Crosshair", 1},    {"NVGToggle", 1},    {"Radar", 7},        {"Spectator", 2},
    {"VGUIMenu", -1},    {"TutorText", -1},   {"TutorLine", -1},   {"TutorState", -1},
    {"TutorClose", -1},  {"AllowSpec", 1},    {"BombDrop", 7},     {"BombPickup", 0},
    {"ClCorpse", -1},    {"HostagePos", 8},   {"HostageK", 1},     {"HLTV", 2},
    {"SpecHealth", 1},   {"ForceCam", 3},     {"ADStop", 0},       {"ReceiveW", 1},
    {"CZCareer", -1},    {"CZCareerHUD", -1}, {"ShadowIdx", 4},    {"TaskTime", 4},
    {"Scenario", -1},    {"BotVoice", 2},     {"BuyClose", 0},     {"SpecHealth2", 2},
    {"BarTime2", 4},     {"ItemStatus", 1},   {"Location", -1},    {"BotProgress", -1},
    {"Brass", -1},       {"Fog", 7},          {"ShowTimer", 0},    {"HudTextArgs", -1},
};

}  // namespace

void Game::worldSpawn() {
    if (m_registered) return;
    for (const MessageDef& m : kWorldSpawnMessages) m_host.registerUserMessage(m.name, m.size);
}

void Game::serverActivate() {
    // At the end of the first ServerActivate: plugins attached before it see them in their
    // RegUserMsg hooks, and must look them up by name on every later map.
    if (m_registered) return;
    for (const MessageDef& m : kGameMessages) m_host.registerUserMessage(m.name, m.size);
    m_registered = true;
}
