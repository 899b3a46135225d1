// Our own declarations of the Metamod plugin interface (interface "5:13" and older minors).
#pragma once

#include "sdk/engine.h"

enum PLUG_LOADTIME {
    PT_NEVER = 0,
    PT_STARTUP,
    PT_CHANGELEVEL,
    PT_ANYTIME,
    PT_ANYPAUSE
};

enum PL_UNLOAD_REASON {
    PNL_NULL = 0,
    PNL_INI_DELETED,
    PNL_FILE_NEWER,
    PNL_COMMAND,
    PNL_CMD_FORCED,
    PNL_DELAYED,
    PNL_PLUGIN,
    PNL_PLG_FORCED,
    PNL_RELOAD
};

enum META_RES {
    MRES_UNSET = 0,
    MRES_IGNORED,
    MRES_HANDLED,
    MRES_OVERRIDE,
    MRES_SUPERCEDE
};

// Metamod identifies a plugin by the address of this record: it must live as long as the plugin.
struct plugin_info_t {
    const char* ifvers;
    const char* name;
    const char* version;
    const char* date;
    const char* author;
    const char* url;
    const char* logtag;
    PLUG_LOADTIME loadable;
    PLUG_LOADTIME unloadable;
};
typedef plugin_info_t* plid_t;

// One object shared by every plugin and every hooked call.
struct meta_globals_t {
    META_RES mres;
    META_RES prev_mres;
    META_RES status;
    void* orig_ret;
    void* override_ret;
};

struct gamedll_funcs_t {
    DLL_FUNCTIONS* dllapi_table;
    NEW_DLL_FUNCTIONS* newapi_table;
};

typedef int (*GETENTITYAPI_FN)(DLL_FUNCTIONS* pFunctionTable, int interfaceVersion);
typedef int (*GETENTITYAPI2_FN)(DLL_FUNCTIONS* pFunctionTable, int* interfaceVersion);
typedef int (*GETNEWDLLFUNCTIONS_FN)(NEW_DLL_FUNCTIONS* pFunctionTable, int* interfaceVersion);
typedef int (*GET_ENGINE_FUNCTIONS_FN)(enginefuncs_t* pengfuncsFromEngine, int* interfaceVersion);

struct META_FUNCTIONS {
    GETENTITYAPI_FN pfnGetEntityAPI;
    GETENTITYAPI_FN pfnGetEntityAPI_Post;
    GETENTITYAPI2_FN pfnGetEntityAPI2;
    GETENTITYAPI2_FN pfnGetEntityAPI2_Post;
    GETNEWDLLFUNCTIONS_FN pfnGetNewDLLFunctions;
    GETNEWDLLFUNCTIONS_FN pfnGetNewDLLFunctions_Post;
    GET_ENGINE_FUNCTIONS_FN pfnGetEngineFunctions;
    GET_ENGINE_FUNCTIONS_FN pfnGetEngineFunctions_Post;
};

struct hudtextparms_t {
    float x, y;
    int effect;
    byte r1, g1, b1, a1;
    byte r2, g2, b2, a2;
    float fadeinTime, fadeoutTime, holdTime, fxTime;
    int channel;
};

enum ginfo_t {
    GINFO_NAME = 0,
    GINFO_DESC,
    GINFO_GAMEDIR,
    GINFO_DLL_FULLPATH,
    GINFO_DLL_FILENAME,
    GINFO_REALDLL_FULLPATH
};

// All entries cdecl; the first argument is always the plugin's own plugin_info_t.
struct mutil_funcs_t {
    void (*pfnLogConsole)(plid_t plid, const char* fmt, ...);
    void (*pfnLogMessage)(plid_t plid, const char* fmt, ...);
    void (*pfnLogError)(plid_t plid, const char* fmt, ...);
    void (*pfnLogDeveloper)(plid_t plid, const char* fmt, ...);
    void (*pfnCenterSay)(plid_t plid, const char* fmt, ...);
    void (*pfnCenterSayParms)(plid_t plid, hudtextparms_t tparms, const char* fmt, ...);
    void (*pfnCenterSayVarargs)(plid_t plid, hudtextparms_t tparms, const char* fmt, void* ap);
    qboolean (*pfnCallGameEntity)(plid_t plid, const char* entStr, entvars_t* pev);
    int (*pfnGetUserMsgID)(plid_t plid, const char* msgname, int* size);
    const char* (*pfnGetUserMsgName)(plid_t plid, int msgid, int* size);
    const char* (*pfnGetPluginPath)(plid_t plid);
    const char* (*pfnGetGameInfo)(plid_t plid, ginfo_t tag);
    int (*pfnLoadPlugin)(plid_t plid, const char* cmdline, PLUG_LOADTIME now, void** plugin_handle);
    int (*pfnUnloadPlugin)(plid_t plid, const char* cmdline, PLUG_LOADTIME now,
                           PL_UNLOAD_REASON reason);
    int (*pfnUnloadPluginByHandle)(plid_t plid, void* plugin_handle, PLUG_LOADTIME now,
                                   PL_UNLOAD_REASON reason);
    const char* (*pfnIsQueryingClientCvar)(plid_t plid, const edict_t* pEdict);
    int (*pfnMakeRequestId)(plid_t plid);
    void (*pfnGetHookTables)(plid_t plid, enginefuncs_t** peng, DLL_FUNCTIONS** pdll,
                             NEW_DLL_FUNCTIONS** pnewdll);
};

#define META_INTERFACE_VERSION "5:13"

// Entry points, as Metamod looks them up by name.
typedef int (*META_QUERY_FN)(const char* interfaceVersion, plugin_info_t** plinfo,
                             mutil_funcs_t* pMetaUtilFuncs);
typedef int (*META_ATTACH_FN)(PLUG_LOADTIME now, META_FUNCTIONS* pFunctionTable,
                              meta_globals_t* pMGlobals, gamedll_funcs_t* pGamedllFuncs);
typedef int (*META_DETACH_FN)(PLUG_LOADTIME now, PL_UNLOAD_REASON reason);
