#include "plugin/version.h"

#include <cstring>

#include "host/host.h"

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
