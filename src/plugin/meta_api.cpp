// Entry points: what the engine and Metamod call by name.
#include <csignal>
#include <cstring>

#include "host/host.h"
#include "plugin/hooks.h"
#include "plugin/plugin.h"

KOVITV_EXPORT void KOVITV_WINAPI GiveFnptrsToDll(enginefuncs_t* pengfuncsFromEngine,
                                                 globalvars_t* pGlobals) {
    // Newer engines have longer tables; the 155-entry prefix is stable.
    memcpy(&g_engfuncs, pengfuncsFromEngine, sizeof(enginefuncs_t));
    gpGlobals = pGlobals;
}

KOVITV_EXPORT int Meta_Query(const char* /*interfaceVersion*/, plugin_info_t** plinfo,
                             mutil_funcs_t* pMetaUtilFuncs) {
    gpMetaUtilFuncs = pMetaUtilFuncs;
    *plinfo = &Plugin_info;
    return 1;
}

KOVITV_EXPORT int Meta_Detach(PLUG_LOADTIME /*now*/, PL_UNLOAD_REASON /*reason*/) {
    GameShutdown();
    return 1;
}
