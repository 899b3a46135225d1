// The plugin frame: entry points, table requests, start-up and the services they start.
#pragma once

#include "sdk/export.h"
#include "sdk/metamod.h"

// Entry points the host looks up by name.
KOVITV_EXPORT void KOVITV_WINAPI GiveFnptrsToDll(enginefuncs_t* pengfuncsFromEngine,
                                                 globalvars_t* pGlobals);
KOVITV_EXPORT int Meta_Query(const char* interfaceVersion, plugin_info_t** plinfo,
                             mutil_funcs_t* pMetaUtilFuncs);
KOVITV_EXPORT int Meta_Attach(PLUG_LOADTIME now, META_FUNCTIONS* pFunctionTable,
                              meta_globals_t* pMGlobals, gamedll_funcs_t* pGamedllFuncs);
KOVITV_EXPORT int Meta_Detach(PLUG_LOADTIME now, PL_UNLOAD_REASON reason);

// Table requests; Metamod reaches them through gMetaFunctionTable. Each returns 1 and fills the
// host's table, or 0 for a null table or another interface version (ours is written back).
KOVITV_EXPORT int GetEntityAPI2(DLL_FUNCTIONS* pFunctionTable, int* interfaceVersion);
KOVITV_EXPORT int GetEntityAPI2_Post(DLL_FUNCTIONS* pFunctionTable, int* interfaceVersion);
int GetNewDLLFunctions(NEW_DLL_FUNCTIONS* pNewFunctionTable, int* interfaceVersion);
int GetEngineFunctions(enginefuncs_t* pengfuncsFromEngine, int* interfaceVersion);
KOVITV_EXPORT int GetEngineFunctions_Post(enginefuncs_t* pengfuncsFromEngine,
                                          int* interfaceVersion);

extern const META_FUNCTIONS gMetaFunctionTable;

// Opens the TCP and UDP sockets on all interfaces and starts the applet server and spectator
// sender threads; each failure is logged and leaves that service down. Attach and reload.
void initThreadsAndSockets();

// Fills g_cfg from defaults, net_address, the configuration file and derived keys (attach only).
void loadConfiguration();

// While the web port is held by another program (found at attach or reload), the main thread
// tries it again every WEB_PORT_RETRY_MS from the frame: one bind, nothing that waits.
constexpr int WEB_PORT_RETRY_MS = 10000;
void retryWebPort();     // once a frame; a plain load while nothing waits
bool webPortRetrying();  // for the status
void stopWebPortRetry(); // shutdown: no socket opens behind it

// Attach: one line, without developer 1, saying where the plugin listens and how it runs.
void reportStartUp();

// The "kovitv" server console command.
void kovitv_command();
