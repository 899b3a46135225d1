// Entry points: what the engine and Metamod call by name.
#include <csignal>
#include <cstring>

#include "plugin/hooks.h"
#include "plugin/host.h"
#include "plugin/plugin.h"

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

namespace {
// Metamod registers its own copy: the engine's variable is read and set only by name. It changes
// whenever a spectator comes or goes: without FCVAR_UNLOGGED the engine would log each change
// and print it on every player's console, a flood any outsider could set off. FCVAR_SERVER
// keeps it in server queries.
cvar_t g_version_cvar = {"kovitv_version", "", FCVAR_SERVER | FCVAR_SPONLY | FCVAR_UNLOGGED, 0.0f,
                         nullptr};

// Decimal digits of value at out; returns the end. Any int, INT_MIN included.
char* putDecimal(char* out, int value) {
    unsigned magnitude = static_cast<unsigned>(value);
    if (value < 0) magnitude = 0u - magnitude;
    char digits[10];
    int count = 0;
    do {
        digits[count++] = static_cast<char>('0' + magnitude % 10);
        magnitude /= 10;
    } while (magnitude != 0);
    if (value < 0) *out++ = '-';
    while (count > 0) *out++ = digits[--count];
    return out;
}
}  // namespace

// Called from a frame whenever the spectator count changes: formatted by hand, as snprintf's
// code is seldom warm there and costs a microsecond or more cold.
void setVersionCvar(int spectators, int limit) {
    constexpr size_t prefix = sizeof(KOVITV_VERSION) - 1;
    char text[prefix + sizeof(" (-2147483648/-2147483648)")];
    memcpy(text, KOVITV_VERSION, prefix);
    char* out = text + prefix;
    *out++ = ' ';
    *out++ = '(';
    out = putDecimal(out, spectators);
    *out++ = '/';
    out = putDecimal(out, limit);
    *out++ = ')';
    *out = '\0';
    g_engfuncs.pfnCVarSetString("kovitv_version", text);
}

void registerVersionCvar() { g_engfuncs.pfnCVarRegister(&g_version_cvar); }

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
