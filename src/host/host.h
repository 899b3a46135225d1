// What the plugin keeps of its host: the engine table and globals, Metamod's utilities and
// globals, and the shortcuts every hook uses. Only the server's main thread calls the host.
#pragma once

#include <atomic>

#include "sdk/engine.h"
#include "sdk/metamod.h"

extern enginefuncs_t g_engfuncs;         // our copy of the engine table (GiveFnptrsToDll)
extern globalvars_t* gpGlobals;          // the engine's globals (GiveFnptrsToDll)
extern mutil_funcs_t* gpMetaUtilFuncs;   // Metamod's utilities (Meta_Query)
extern meta_globals_t* gpMetaGlobals;    // Metamod's result fields (Meta_Attach)
extern gamedll_funcs_t* gpGamedllFuncs;  // the game DLL's tables, kept but unused
extern plugin_info_t Plugin_info;        // our identity towards Metamod
extern char g_gamedir[512];              // game folder name, read at attach
// The engine's maxClients as the main thread saw it at the last map start (-1: none yet), for
// threads of ours: the engine rewrites gpGlobals->maxClients at each map start, unguarded.
extern std::atomic<int> g_max_clients;

constexpr char KOVITV_VERSION[] = "Beta 13";

// Engine strings are offsets from the string base.
inline const char* STRING(string_t s) {
    return gpGlobals->pStringBase + static_cast<unsigned int>(s);
}

// Every hook only observes: it leaves the game's behaviour to the game.
inline void setMetaIgnored() {
    if (gpMetaGlobals) gpMetaGlobals->mres = MRES_IGNORED;
}

#define LOG_MESSAGE(...) (gpMetaUtilFuncs->pfnLogMessage(&Plugin_info, __VA_ARGS__))
#define LOG_ERROR(...) (gpMetaUtilFuncs->pfnLogError(&Plugin_info, __VA_ARGS__))
#define LOG_DEVELOPER(...) (gpMetaUtilFuncs->pfnLogDeveloper(&Plugin_info, __VA_ARGS__))

// Server log (at_logged) and server console. Main thread only: one static buffer each call.
void UTIL_LogPrintf(const char* format, ...);
void UTIL_ServerPrint(const char* format, ...);
