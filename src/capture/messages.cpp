// The message table and the engine post hooks that dispatch every user message the server
// writes. An argument of a message nobody reads costs one null test.
#include "capture/messages.h"

#include <cstring>

#include "capture/handlers.h"
#include "capture/hooks.h"
#include "host/host.h"
#include "state/state.h"

int gmsgCurWeapon = 0;
int gmsgDamage = 0;
int gmsgDeathMsg = 0;
int gmsgWeaponList = 0;
int gmsgResetHUD = 0;
int gmsgScoreInfo = 0;
int gmsgTeamInfo = 0;
int gmsgHealth = 0;
int gmsgTeamScore = 0;
int gmsgBombDrop = 0;
int gmsgBombPickup = 0;
int gmsgStatusIcon = 0;
int gmsgSayText = 0;
int gmsgRoundTime = 0;
int gmsgSendAudio = 0;

UserMsgEntry g_user_msg[] = {
    {"CurWeapon", &gmsgCurWeapon, Client_CurWeapon, 0},
    {"Damage", &gmsgDamage, Client_Damage, 0},
    {"DeathMsg", &gmsgDeathMsg, Client_DeathMsg, 0},
    {"WeaponList", &gmsgWeaponList, Client_WeaponList, 0},
    {"ResetHUD", &gmsgResetHUD, Client_ResetHUD, 1},
    {"ScoreInfo", &gmsgScoreInfo, Client_ScoreInfo, 0},
    {"TeamInfo", &gmsgTeamInfo, Client_TeamInfo, 0},
    {"Health", &gmsgHealth, Client_Health, 0},
    {"TeamScore", &gmsgTeamScore, Client_TeamScore, 0},
    {"BombDrop", &gmsgBombDrop, Client_BombDrop, 0},
    {"BombPickup", &gmsgBombPickup, Client_BombPickup, 1},
    {"StatusIcon", &gmsgStatusIcon, Client_StatusIcon, 0},
    {"SayText", &gmsgSayText, Client_SayText, 0},
    {"RoundTime", &gmsgRoundTime, Client_RoundTime, 0},
    {"SendAudio", &gmsgSendAudio, Client_SendAudio, 0},
    {nullptr, nullptr, nullptr, 0},
};

MsgHandler g_msg[MSG_TYPES];
MsgHandler g_msg_end[MSG_TYPES];
MsgHandler function = nullptr;
MsgHandler endfunction = nullptr;

bool installUserMessage(const UserMsgEntry& row, int id) {
    if (id <= 0) return false;
    *row.id = id;
    if (id >= MSG_TYPES) return false;
    if (row.at_end)
        g_msg_end[id] = row.handler;
    else
        g_msg[id] = row.handler;
    return true;
}

const UserMsgEntry* findUserMessage(const char* name) {
    if (name == nullptr) return nullptr;
    for (const UserMsgEntry* row = g_user_msg; row->name != nullptr; ++row)
        if (strcmp(row->name, name) == 0) return row;
    return nullptr;
}

int RegUserMsg_Post(const char* pszName, int /*iSize*/) {
    const UserMsgEntry* row = findUserMessage(pszName);
    // Metamod hands post hooks the engine's answer through orig_ret.
    if (row != nullptr && gpMetaGlobals != nullptr && gpMetaGlobals->orig_ret != nullptr)
        installUserMessage(*row, *static_cast<const int*>(gpMetaGlobals->orig_ret));
    setMetaIgnored();
    return 0;
}

void MessageBegin(int /*msg_dest*/, int msg_type, const float* /*pOrigin*/, edict_t* ed) {
    int slot = -1;
    if (ed != nullptr) {
        slot = playerSlot(ed);
        // Only players receive messages of their own; anything else is no player's.
        if (static_cast<unsigned>(slot) >= MAX_PLAYERS) slot = -1;
    }
    mPlayerIndex = slot;
    mState = 0;
    // Negative types as well: an index outside the tables must never be read.
    unsigned type = static_cast<unsigned>(msg_type);
    if (type >= MSG_TYPES) type = 0;
    // Between maps there is no open slot: the handlers may rely on one while they are set.
    bool open = g_current != nullptr;
    function = open ? g_msg[type] : nullptr;
    endfunction = open ? g_msg_end[type] : nullptr;
    setMetaIgnored();
}

void MessageEnd() {
    if (endfunction != nullptr) endfunction(nullptr);
    setMetaIgnored();
}

void WriteByte(int iValue) {
    if (function != nullptr) function(&iValue);
    setMetaIgnored();
}

void WriteChar(int iValue) {
    if (function != nullptr) function(&iValue);
    setMetaIgnored();
}

void WriteShort(int iValue) {
    if (function != nullptr) function(&iValue);
    setMetaIgnored();
}

void WriteLong(int iValue) {
    if (function != nullptr) function(&iValue);
    setMetaIgnored();
}

void WriteAngle(float flValue) {
    if (function != nullptr) function(&flValue);
    setMetaIgnored();
}

void WriteCoord(float flValue) {
    if (function != nullptr) function(&flValue);
    setMetaIgnored();
}

void WriteString(const char* sz) {
    if (function != nullptr) function(sz);
    setMetaIgnored();
}

void WriteEntity(int iValue) {
    if (function != nullptr) function(&iValue);
    setMetaIgnored();
}
