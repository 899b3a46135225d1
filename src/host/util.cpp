#include <cstdarg>
#include <cstdio>

#include "host/host.h"

void UTIL_LogPrintf(const char* format, ...) {
    // One static buffer: the engine log is written from the main thread only.
    static char string[1024];
    va_list ap;
    va_start(ap, format);
    vsnprintf(string, sizeof(string), format, ap);
    va_end(ap);
    g_engfuncs.pfnAlertMessage(at_logged, const_cast<char*>("%s"), string);
}

void UTIL_ServerPrint(const char* format, ...) {
    char string[512];
    va_list ap;
    va_start(ap, format);
    vsnprintf(string, sizeof(string), format, ap);
    va_end(ap);
    g_engfuncs.pfnServerPrint(string);
}
