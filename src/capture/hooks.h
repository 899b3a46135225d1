// The hooks the capture implements: the game's frames, clients and entities, and the engine's
// user messages. All of them only observe: each stores MRES_IGNORED before it returns.
#pragma once

#include "sdk/engine.h"

// Game DLL, pre (GetEntityAPI2).
void Think(edict_t* pent);
qboolean ClientConnect(edict_t* pEntity, const char* pszName, const char* pszAddress,
                       char szRejectReason[128]);
void ClientDisconnect(edict_t* pEntity);
void ClientPutInServer(edict_t* pEntity);
void PlayerPostThink(edict_t* pEntity);

namespace capture {
// The capture's part of each frame's start: the ring's slot and the round clock move on.
void advanceFrame();
}  // namespace capture

// Game DLL, post (GetEntityAPI2_Post).
void ClientUserInfoChanged_Post(edict_t* pEntity, char* infobuffer);

// Engine, pre (GetEngineFunctions).
void SetModel(edict_t* e, const char* m);
void EmitSound(edict_t* entity, int channel, const char* sample, float volume, float attenuation,
               int fFlags, int pitch);

// Engine, post (GetEngineFunctions_Post): user messages, seen after the engine has built them.
int RegUserMsg_Post(const char* pszName, int iSize);
void MessageBegin(int msg_dest, int msg_type, const float* pOrigin, edict_t* ed);
void MessageEnd();
void WriteByte(int iValue);
void WriteChar(int iValue);
void WriteShort(int iValue);
void WriteLong(int iValue);
void WriteAngle(float flValue);
void WriteCoord(float flValue);
void WriteString(const char* sz);
void WriteEntity(int iValue);
