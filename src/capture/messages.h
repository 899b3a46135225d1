// User-message interception: the messages the capture reads, their engine ids, and the post hooks
// on the engine's message calls (plugin/hooks.h) that route each argument, or the end of a
// message, to its handler (capture/handlers.h).
//
// Ids are learned when the game registers a message (RegUserMsg_Post) or, for a plugin attached
// after that, by name at map start (resolveUserMessages, capture/capture.h). Game thread only.
#pragma once

#include <cstdint>

// Called with a pointer to the argument as the game passed it: an int for byte, char, short,
// long and entity, a float for angle and coord, the text itself for a string; null at the end.
using MsgHandler = void (*)(const void* arg);

struct UserMsgEntry {
    const char* name;
    int* id;             // the gmsg global; 0 until the game's id is known
    MsgHandler handler;
    int32_t at_end;      // 1: called once at MessageEnd, else once per argument
};

enum { MSG_TYPES = 256 };  // ids the dispatch tables hold; a type above selects entry 0

// The intercepted messages, closed by a row with a null name.
extern UserMsgEntry g_user_msg[];

extern int gmsgCurWeapon;
extern int gmsgDamage;
extern int gmsgDeathMsg;
extern int gmsgWeaponList;
extern int gmsgResetHUD;
extern int gmsgScoreInfo;
extern int gmsgTeamInfo;
extern int gmsgHealth;
extern int gmsgTeamScore;
extern int gmsgBombDrop;
extern int gmsgBombPickup;
extern int gmsgStatusIcon;
extern int gmsgSayText;
extern int gmsgRoundTime;
extern int gmsgSendAudio;

extern MsgHandler g_msg[MSG_TYPES];      // per-argument handler by message id; null: not read
extern MsgHandler g_msg_end[MSG_TYPES];  // end handler by message id
extern MsgHandler function;              // per-argument handler of the message being written
extern MsgHandler endfunction;           // its end handler
extern int32_t mPlayerIndex;  // slot the message is addressed to, -1 when not one player
extern int32_t mState;        // argument position; handlers read and advance it themselves

// Stores id in the row's global and enters its handler at that id. An id of 256 or more is
// stored but has no table entry; 0 or less (unknown) changes nothing. True when entered.
bool installUserMessage(const UserMsgEntry& row, int id);
// The first row named exactly name, or null.
const UserMsgEntry* findUserMessage(const char* name);
