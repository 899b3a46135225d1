// Handlers of the messages about the round: kills, team scores, the bomb, chat, the round clock
// and the round announcements. Kills, chat lines and announcements become event chunks.
#include <cstring>

#include "capture/handlers.h"
#include "capture/messages.h"
#include "capture/record.h"
#include "host/config.h"
#include "host/host.h"
#include "state/events.h"
#include "state/names.h"
#include "state/state.h"

using capture::appendEvent;
using capture::player;
using capture::slotOfId;

const ChatKind g_chat_kinds[CHAT_KINDS] = {
    {"#Cstrike_Chat_All", 2},
    {"#Cstrike_Chat_AllDead", 5},
    {"#Cstrike_Chat_AllSpec", 6},
    {"#Cstrike_Chat_Spec", 7},
    {"#Cstrike_Chat_CT", 0},
    {"#Cstrike_Chat_T", 1},
    {"#Cstrike_Chat_CT_Dead", 3},
    {"#Cstrike_Chat_T_Dead", 4},
};

const RadioCode g_radio_codes[] = {
    {"%!MRAD_BOMBPL", MSG_BOMBPL},
    {"%!MRAD_BOMBDEF", MSG_BOMBDEF},
    {"%!MRAD_terwin", MSG_TERWIN},
    {"%!MRAD_ctwin", MSG_CTWIN},
    {"%!MRAD_rounddraw", MSG_ROUNDDRAW},
    {nullptr, 0},
};

namespace {

struct {
    int killer;  // slots, 1-based ids minus one
    int victim;
    int headshot;
} death;

int team_score_index;

struct {
    int16_t x;
    int16_t y;
} bomb_drop;

struct {
    int sender;
    int kind;  // row of g_chat_kinds, -1 when the key is not captured
} say_text;

int scoreIndex(const char* team) {
    if (team == nullptr) return 0;
    return team[0] == 'C' ? 2 : team[0] == 'T' ? 1 : 0;
}

int chatRow(const char* key) {
    if (key == nullptr) return -1;
    int rows = g_limitchat == 0 ? CHAT_KINDS_PUBLIC : CHAT_KINDS;
    for (int i = 0; i < rows; ++i)
        if (strcmp(g_chat_kinds[i].key, key) == 0) return i;
    return -1;
}

}  // namespace

void Client_DeathMsg(const void* arg) {
    switch (mState++) {
        case 0: death.killer = intArg(arg) - 1; return;
        case 1: death.victim = intArg(arg) - 1; return;
        case 2: death.headshot = intArg(arg); return;
        case 3: break;
        default: return;
    }
    if (static_cast<unsigned>(death.victim) >= MAX_PLAYERS) return;
    PlayerState& victim = player(death.victim);
    victim.m_changed |= CHANGED_STATE;
    victim.m_state |= STATE_DEAD;
    // The world, a fall or a trigger: no killer, 0xFF on the wire.
    int killer = static_cast<unsigned>(death.killer) < MAX_PLAYERS ? death.killer : -1;
    char* weapon = nullptr;
    g_name_coll.put(static_cast<const char*>(arg), &weapon);
    appendEvent<DeathPacketChunk>(killer, death.victim, death.headshot, weapon);
}

void Client_TeamScore(const void* arg) {
    if (mPlayerIndex != -1) return;  // a newcomer's own copy repeats what all were told
    int position = mState++;
    if (position == 0) team_score_index = scoreIndex(static_cast<const char*>(arg));
    if (position != 1) return;
    g_current->m_score.m_changed = 1;
    g_current->m_score.m_score[team_score_index] = intArg(arg);
}

void Client_BombDrop(const void* arg) {
    switch (mState++) {
        case 0: bomb_drop.x = capture::truncate16(*static_cast<const float*>(arg)); return;
        case 1: bomb_drop.y = capture::truncate16(*static_cast<const float*>(arg)); return;
        case 3: break;
        default: return;  // 2: the height
    }
    int flag = intArg(arg);
    BombState& bomb = g_current->m_bomb;
    bomb.m_changed = 1;
    bomb.m_x = bomb_drop.x;
    bomb.m_y = bomb_drop.y;
    bomb.m_state = static_cast<uint8_t>(flag + 1);
    if (flag != 1) return;
    // Planted: the round clock now shows the bomb's timer.
    g_roundtime.m_seconds = capture::truncate32(g_engfuncs.pfnCVarGetFloat("mp_c4timer"));
    g_roundtime.m_last_second = capture::gameSecond();
    g_roundtime.m_bomb = true;
}

void Client_BombPickup(const void*) {
    BombState& bomb = g_current->m_bomb;
    bomb.m_changed = 1;
    bomb.m_x = 0;
    bomb.m_y = 0;
    bomb.m_state = 0;
}

void Client_SayText(const void* arg) {
    // The game sends a copy to every recipient; only the sender's own is read, so each line is
    // captured once.
    switch (mState++) {
        case 0: say_text.sender = intArg(arg) - 1; return;
        case 1:
            if (mPlayerIndex == say_text.sender) say_text.kind = chatRow(static_cast<const char*>(arg));
            return;
        case 3: break;
        default: return;  // 2: the name the client fills in
    }
    if (mPlayerIndex != say_text.sender || say_text.kind < 0) return;
    if (static_cast<unsigned>(say_text.sender) >= MAX_PLAYERS) return;
    appendEvent<ChatPacketChunk>(g_chat_kinds[say_text.kind].kind, say_text.sender,
                                 static_cast<const char*>(arg));
}

void Client_RoundTime(const void* arg) {
    if (mState++ != 0) return;
    // A player joining during a plant is sent the round's time for his own HUD: the stream's
    // clock stays on the bomb's timer, or it would jump back for every spectator.
    if (g_roundtime.m_bomb) return;
    g_roundtime.m_seconds = intArg(arg);
    g_roundtime.m_last_second = capture::gameSecond();
}

void Client_SendAudio(const void* arg) {
    if (mPlayerIndex != -1) return;  // a player's radio to a team mate; not counted
    if (mState++ != 1 || arg == nullptr) return;
    const char* code = static_cast<const char*>(arg);
    for (const RadioCode* row = g_radio_codes; row->code != nullptr; ++row) {
        if (strcmp(row->code, code) != 0) continue;
        if (row->message != MSG_BOMBPL) g_roundtime.m_bomb = false;  // the round is decided
        appendEvent<MsgPacketChunk>(row->message, 0, 0);
        return;
    }
}
