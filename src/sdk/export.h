// How the host finds our entry points: unmangled names, cdecl, except GiveFnptrsToDll, which the
// engine calls __stdcall on Windows. On Windows the names come from cmake/kovitv_mm.def; on Linux
// only these symbols have default visibility (the rest of the library is hidden).
#pragma once

#if defined(_WIN32)
#define KOVITV_EXPORT extern "C"
#define KOVITV_WINAPI __stdcall
#else
#define KOVITV_EXPORT extern "C" __attribute__((visibility("default")))
#define KOVITV_WINAPI
#endif
