// The user-message handlers: each turns one Counter-Strike message into changes of the open slot
// (g_current), of the per-player facts (g_players), of the round clock or into event chunks.
// Per-argument handlers count positions in mState themselves (capture/messages.h); the two end
// handlers get a null argument. Game thread only, no lock.
#pragma once

#include <cstdint>

// The integer a per-argument handler is given (byte, char, short, long and entity arguments).
inline int intArg(const void* arg) { return *static_cast<const int*>(arg); }

struct ChatKind {
    const char* key;  // SayText argument 1
    int32_t kind;     // sent to spectators
};

struct RadioCode {
    const char* code;  // SendAudio argument 1
    int32_t message;   // MsgPacketChunk code
};

enum { CHAT_KINDS = 8, CHAT_KINDS_PUBLIC = 4 };  // without allow_teamsay only the first four

extern const ChatKind g_chat_kinds[CHAT_KINDS];
extern const RadioCode g_radio_codes[];  // closed by a null code

// Player messages (handlers_player.cpp).
void Client_CurWeapon(const void* arg);   // 0 active, 1 weapon id, 2 clip: weapon, firing
void Client_Damage(const void* arg);      // 1 damage taken, acts at 3: hit
void Client_ResetHUD(const void* arg);    // end: spawned, icons off, health from the record
void Client_ScoreInfo(const void* arg);   // 0 player, 1 frags, 2 deaths, 4 team
void Client_TeamInfo(const void* arg);    // 0 player, 1 team name
void Client_Health(const void* arg);      // 0 health; notes a death for PlayerPostThink
void Client_StatusIcon(const void* arg);  // 0 status, 1 sprite: the C4 and defuser icons
void Client_WeaponList(const void* arg);  // nothing

// Game messages (handlers_game.cpp).
void Client_DeathMsg(const void* arg);    // 0 killer, 1 victim, 2 headshot, 3 weapon: a kill
void Client_TeamScore(const void* arg);   // broadcast: 0 team name, 1 score
void Client_BombDrop(const void* arg);    // 0 x, 1 y, 3 flag: dropped or planted
void Client_BombPickup(const void* arg);  // end: carried again
void Client_SayText(const void* arg);     // 0 sender, 1 key, 3 text: a chat line, once
void Client_RoundTime(const void* arg);   // 0 seconds on the round clock
void Client_SendAudio(const void* arg);   // broadcast: 1 audio code, a round announcement
