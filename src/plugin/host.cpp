#include "plugin/host.h"

#include "sdk/sdk_checks.h"

enginefuncs_t g_engfuncs;
globalvars_t* gpGlobals = nullptr;
mutil_funcs_t* gpMetaUtilFuncs = nullptr;
meta_globals_t* gpMetaGlobals = nullptr;
gamedll_funcs_t* gpGamedllFuncs = nullptr;
char g_gamedir[512];
