// Layout checks against the real host. Every size and offset the plugin reads is pinned here, so a
// wrong declaration fails the build instead of reading the wrong bytes inside a live server.
#pragma once

#include <cstddef>

#include "sdk/engine.h"
#include "sdk/metamod.h"

static_assert(sizeof(string_t) == 4, "string_t is a 32-bit offset on every target");
static_assert(sizeof(ALERT_TYPE) == 4, "enums are passed as 4-byte ints");
static_assert(sizeof(enginefuncs_t) == ENGINE_FUNCTION_COUNT * sizeof(void*), "155 engine entries");
static_assert(sizeof(DLL_FUNCTIONS) == DLL_FUNCTION_COUNT * sizeof(void*), "50 game-DLL entries");
static_assert(sizeof(NEW_DLL_FUNCTIONS) == NEW_DLL_FUNCTION_COUNT * sizeof(void*), "3 new entries");
static_assert(sizeof(META_FUNCTIONS) == 8 * sizeof(void*), "8 Metamod getters");
static_assert(sizeof(mutil_funcs_t) == 18 * sizeof(void*), "18 Metamod utilities");
static_assert(offsetof(enginefuncs_t, pfnRegUserMsg) == 75 * sizeof(void*), "engine entry 75");
static_assert(offsetof(enginefuncs_t, pfnAddServerCommand) == 140 * sizeof(void*), "entry 140");
static_assert(offsetof(DLL_FUNCTIONS, pfnStartFrame) == 25 * sizeof(void*), "game-DLL entry 25");
static_assert(offsetof(NEW_DLL_FUNCTIONS, pfnGameShutdown) == 1 * sizeof(void*), "new entry 1");
static_assert(offsetof(mutil_funcs_t, pfnGetUserMsgID) == 8 * sizeof(void*), "mutil entry 8");

#if defined(__i386__) || defined(_M_IX86)
static_assert(sizeof(edict_t) == 804, "edict_t stride of a 32-bit engine");
static_assert(offsetof(edict_t, v) == 128, "entvars inside edict_t");
static_assert(sizeof(entvars_t) == 676, "entvars_t");
static_assert(offsetof(entvars_t, classname) == 0, "classname");
static_assert(offsetof(entvars_t, origin) == 8, "origin");
static_assert(offsetof(entvars_t, angles) == 80, "angles");
static_assert(offsetof(entvars_t, v_angle) == 116, "v_angle");
static_assert(offsetof(entvars_t, model) == 184, "model");
static_assert(offsetof(entvars_t, movetype) == 264, "movetype");
static_assert(offsetof(entvars_t, health) == 352, "health");
static_assert(offsetof(entvars_t, deadflag) == 368, "deadflag");
static_assert(offsetof(entvars_t, owner) == 408, "owner");
static_assert(offsetof(entvars_t, flags) == 420, "flags");
static_assert(offsetof(entvars_t, team) == 428, "team");
static_assert(offsetof(entvars_t, netname) == 464, "netname");
static_assert(sizeof(globalvars_t) == 172, "globalvars_t");
static_assert(offsetof(globalvars_t, time) == 0, "time");
static_assert(offsetof(globalvars_t, mapname) == 12, "mapname");
static_assert(offsetof(globalvars_t, maxClients) == 144, "maxClients");
static_assert(offsetof(globalvars_t, pStringBase) == 152, "pStringBase");
static_assert(sizeof(cvar_t) == 20, "cvar_t");
static_assert(sizeof(plugin_info_t) == 36, "plugin_info_t");
static_assert(sizeof(meta_globals_t) == 20, "meta_globals_t");
static_assert(offsetof(meta_globals_t, orig_ret) == 12, "orig_ret");
static_assert(sizeof(gamedll_funcs_t) == 8, "gamedll_funcs_t");
#elif defined(__x86_64__) || defined(_M_X64)
static_assert(sizeof(edict_t) == 864, "edict_t stride of a 64-bit test host");
static_assert(offsetof(edict_t, v) == 144, "entvars inside edict_t");
static_assert(sizeof(entvars_t) == 720, "entvars_t");
static_assert(offsetof(entvars_t, owner) == 424, "owner");
static_assert(offsetof(entvars_t, netname) == 488, "netname");
static_assert(sizeof(globalvars_t) == 192, "globalvars_t");
static_assert(offsetof(globalvars_t, maxClients) == 152, "maxClients");
static_assert(offsetof(globalvars_t, pStringBase) == 160, "pStringBase");
#endif
