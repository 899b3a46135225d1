// The five hook tables and the requests through which Metamod takes them.
#include <cstring>

#include "host/host.h"
#include "plugin/hooks.h"
#include "plugin/plugin.h"
#include "sdk/export.h"

namespace {

DLL_FUNCTIONS gFunctionTable;
DLL_FUNCTIONS gFunctionTable_Post;
NEW_DLL_FUNCTIONS gNewFunctionTable;
enginefuncs_t meta_engfuncs;
enginefuncs_t meta_engfuncs_post;

void fillEntityApi() {
    gFunctionTable.pfnThink = Think;
    gFunctionTable.pfnClientConnect = ClientConnect;
    gFunctionTable.pfnClientDisconnect = ClientDisconnect;
    gFunctionTable.pfnClientPutInServer = ClientPutInServer;
    gFunctionTable.pfnPlayerPostThink = PlayerPostThink;
    gFunctionTable.pfnStartFrame = StartFrame;
}

void fillEntityApiPost() {
    gFunctionTable_Post.pfnClientUserInfoChanged = ClientUserInfoChanged_Post;
    gFunctionTable_Post.pfnServerActivate = ServerActivate_Post;
    gFunctionTable_Post.pfnServerDeactivate = ServerDeactivate_Post;
}

void fillEngine() {
    meta_engfuncs.pfnSetModel = SetModel;
    meta_engfuncs.pfnEmitSound = EmitSound;
}

void fillEnginePost() {
    meta_engfuncs_post.pfnRegUserMsg = RegUserMsg_Post;
    meta_engfuncs_post.pfnMessageBegin = MessageBegin;
    meta_engfuncs_post.pfnMessageEnd = MessageEnd;
    meta_engfuncs_post.pfnWriteByte = WriteByte;
    meta_engfuncs_post.pfnWriteChar = WriteChar;
    meta_engfuncs_post.pfnWriteShort = WriteShort;
    meta_engfuncs_post.pfnWriteLong = WriteLong;
    meta_engfuncs_post.pfnWriteAngle = WriteAngle;
    meta_engfuncs_post.pfnWriteCoord = WriteCoord;
    meta_engfuncs_post.pfnWriteString = WriteString;
    meta_engfuncs_post.pfnWriteEntity = WriteEntity;
}

// The rule every request follows: null table or a different interface version is refused, and
// a mismatching host learns our version through its in/out argument.
template <typename Table>
int handOver(Table* dest, const Table& ours, int* version, int our_version, bool* mismatch) {
    *mismatch = false;
    if (!dest) return 0;
    if (!version || *version != our_version) {
        *mismatch = true;
        return 0;
    }
    memcpy(dest, &ours, sizeof(Table));
    return 1;
}

int entityApi(DLL_FUNCTIONS* table, int* version, const DLL_FUNCTIONS& ours) {
    bool mismatch;
    if (handOver(table, ours, version, INTERFACE_VERSION, &mismatch)) return 1;
    if (!table) {
        UTIL_LogPrintf("GetEntityAPI2 called with null pFunctionTable");
    } else if (mismatch) {
        UTIL_LogPrintf("GetEntityAPI2 version mismatch; requested=%d ours=%d",
                       version ? *version : 0, INTERFACE_VERSION);
        if (version) *version = INTERFACE_VERSION;
    }
    return 0;
}

int engineApi(enginefuncs_t* table, int* version, const enginefuncs_t& ours) {
    bool mismatch;
    if (handOver(table, ours, version, ENGINE_INTERFACE_VERSION, &mismatch)) return 1;
    if (!table) {
        UTIL_LogPrintf("GetEngineFunctions called with null pengfuncsFromEngine");
    } else if (mismatch) {
        UTIL_LogPrintf("GetEngineFunctions version mismatch; requested=%d ours=%d",
                       version ? *version : 0, ENGINE_INTERFACE_VERSION);
        if (version) *version = ENGINE_INTERFACE_VERSION;
    }
    return 0;
}

}  // namespace

KOVITV_EXPORT int GetEntityAPI2(DLL_FUNCTIONS* pFunctionTable, int* interfaceVersion) {
    fillEntityApi();
    return entityApi(pFunctionTable, interfaceVersion, gFunctionTable);
}

KOVITV_EXPORT int GetEntityAPI2_Post(DLL_FUNCTIONS* pFunctionTable, int* interfaceVersion) {
    fillEntityApiPost();
    return entityApi(pFunctionTable, interfaceVersion, gFunctionTable_Post);
}

int GetNewDLLFunctions(NEW_DLL_FUNCTIONS* pNewFunctionTable, int* interfaceVersion) {
    gNewFunctionTable.pfnGameShutdown = GameShutdown;
    bool mismatch;
    if (handOver(pNewFunctionTable, gNewFunctionTable, interfaceVersion,
                 NEW_DLL_FUNCTIONS_VERSION, &mismatch))
        return 1;
    if (!pNewFunctionTable) {
        LOG_ERROR("GetNewDLLFunctions called with null pNewFunctionTable");
    } else if (mismatch) {
        LOG_ERROR("GetNewDLLFunctions version mismatch; requested=%d ours=%d",
                  interfaceVersion ? *interfaceVersion : 0, NEW_DLL_FUNCTIONS_VERSION);
        if (interfaceVersion) *interfaceVersion = NEW_DLL_FUNCTIONS_VERSION;
    }
    return 0;
}

int GetEngineFunctions(enginefuncs_t* pengfuncsFromEngine, int* interfaceVersion) {
    fillEngine();
    return engineApi(pengfuncsFromEngine, interfaceVersion, meta_engfuncs);
}

KOVITV_EXPORT int GetEngineFunctions_Post(enginefuncs_t* pengfuncsFromEngine,
                                          int* interfaceVersion) {
    fillEnginePost();
    return engineApi(pengfuncsFromEngine, interfaceVersion, meta_engfuncs_post);
}

const META_FUNCTIONS gMetaFunctionTable = {
    nullptr,                  // GetEntityAPI
    nullptr,                  // GetEntityAPI_Post
    GetEntityAPI2,
    GetEntityAPI2_Post,
    GetNewDLLFunctions,
    nullptr,                  // GetNewDLLFunctions_Post
    GetEngineFunctions,
    GetEngineFunctions_Post,
};
