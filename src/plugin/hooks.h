// Every function the plugin hands to the host through its five hook tables. All of them only
// observe: each stores MRES_IGNORED before it returns.
#pragma once

#include "capture/hooks.h"
#include "sdk/engine.h"

// Game DLL, pre (GetEntityAPI2): each frame's start, for the capture and the main thread's news.
void StartFrame();

// Game DLL, post (GetEntityAPI2_Post): the map's start and end.
void ServerActivate_Post(edict_t* pEdictList, int edictCount, int clientMax);
void ServerDeactivate_Post();

// New game DLL functions, pre (GetNewDLLFunctions).
void GameShutdown();
