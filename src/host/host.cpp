#include "host/host.h"

#include "sdk/sdk_checks.h"

enginefuncs_t g_engfuncs;
globalvars_t* gpGlobals = nullptr;
mutil_funcs_t* gpMetaUtilFuncs = nullptr;
meta_globals_t* gpMetaGlobals = nullptr;
gamedll_funcs_t* gpGamedllFuncs = nullptr;
char g_gamedir[512];
std::atomic<int> g_max_clients{-1};

plugin_info_t Plugin_info = {
    "5:10",                     // interface version: older minor, accepted by every Metamod 5
    "Kovi TV",                  // name
    KOVITV_VERSION,             // version
    "2004/10/23",               // date
    "Kovi TV developers",       // author
    "https://kovitv.example.org/",  // url
    "KOVITV",                   // log tag
    PT_CHANGELEVEL,             // loadable
    PT_CHANGELEVEL,             // unloadable
};
