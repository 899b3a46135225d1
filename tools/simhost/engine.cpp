// The engine table: every service a plugin may ask for, done for real where the plugin relies on
// it (cvars, commands, log, console, files, info buffers, user messages, entities, strings).
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "simhost.h"

SimHost* g_host = nullptr;

namespace {

std::string vformat(const char* fmt, va_list ap) {
    char buffer[4096];
    vsnprintf(buffer, sizeof(buffer), fmt, ap);
    return buffer;
}

int PrecacheModel(char*) { static int n = 1; return n++; }
int PrecacheSound(char*) { static int n = 1; return n++; }
// The engine keeps one string per precached model: a model set a million times costs nothing.
void SetModel(edict_t* e, const char* m) { if (e && m) e->v.model = g_host->modelString(m); }
int ModelIndex(const char*) { return 1; }
void SetSize(edict_t*, const float*, const float*) {}
void SetOrigin(edict_t* e, const float* o) {
    if (e && o) for (int i = 0; i < 3; ++i) e->v.origin[i] = o[i];
}
void EmitSound(edict_t*, int, const char*, float, float, int, int) {}
void ServerCommand(char* cmd) { g_host->command(cmd ? cmd : ""); }
void ServerExecute() {}

void MessageBegin(int dest, int type, const float*, edict_t* ed) {
    if (g_host->options().quiet_messages) return;
    g_host->m_message_trace = "msg " + std::to_string(type) + " dest " + std::to_string(dest);
    if (ed) g_host->m_message_trace += " to " + std::to_string(g_host->edictIndex(ed));
    g_host->m_message_trace += ":";
}
void MessageEnd() {
    if (!g_host->options().quiet_messages) g_host->print(g_host->m_message_trace + "\n");
}
void traceArg(const std::string& s) {
    if (!g_host->options().quiet_messages) g_host->m_message_trace += " " + s;
}
void WriteByte(int v) { traceArg("b" + std::to_string(v & 0xff)); }
void WriteChar(int v) { traceArg("c" + std::to_string(int(static_cast<signed char>(v)))); }
void WriteShort(int v) { traceArg("s" + std::to_string(int(static_cast<short>(v)))); }
void WriteLong(int v) { traceArg("l" + std::to_string(v)); }
void WriteAngle(float v) { traceArg("a" + std::to_string(v)); }
void WriteCoord(float v) { traceArg("x" + std::to_string(v)); }
void WriteString(const char* s) { traceArg(std::string("\"") + (s ? s : "") + "\""); }
void WriteEntity(int v) { traceArg("e" + std::to_string(v)); }

void CVarRegister(cvar_t* cvar) {
    // Metamod registers a copy; the plugin's own struct is never written.
    if (!cvar || !cvar->name) return;
    if (!g_host->m_cvars.count(cvar->name)) g_host->setCvar(cvar->name, cvar->string ? cvar->string : "");
    g_host->m_cvars[cvar->name].flags = cvar->flags;
}
float CVarGetFloat(const char* name) {
    auto it = g_host->m_cvars.find(name ? name : "");
    return it == g_host->m_cvars.end() ? 0.0f : it->second.number;
}
const char* CVarGetString(const char* name) {
    auto it = g_host->m_cvars.find(name ? name : "");
    return it == g_host->m_cvars.end() ? "" : it->second.value.c_str();
}
void CVarSetFloat(const char* name, float value) {
    auto timed = hostCall("(host) CVarSetFloat");
    char text[64];
    snprintf(text, sizeof(text), "%g", value);
    if (name) g_host->changeCvar(name, text);
}
void CVarSetString(const char* name, const char* value) {
    auto timed = hostCall("(host) CVarSetString");
    if (name) g_host->changeCvar(name, value ? value : "");
}

void AlertMessage(ALERT_TYPE type, char* fmt, ...) {
    auto timed = hostCall("(host) AlertMessage");
    va_list ap;
    va_start(ap, fmt);
    std::string text = vformat(fmt, ap);
    va_end(ap);
    if (type == at_logged)
        g_host->log(text);
    else
        g_host->print(text);
}

const char* SzFromIndex(int i) { return g_host->globals()->pStringBase + static_cast<unsigned>(i); }
int AllocString(const char* s) { return int(g_host->allocString(s ? s : "")); }
int IndexOfEdict(const edict_t* e) { return e ? g_host->edictIndex(e) : 0; }
edict_t* PEntityOfEntIndex(int i) {
    return (i >= 0 && i < SimHost::MAX_EDICTS) ? g_host->edict(i) : nullptr;
}
int RegUserMsg(const char* name, int size) {
    // The engine gives out ids in order; the same name asked twice gets its first id.
    for (auto& m : g_host->m_messages) if (m.first == name) return m.second;
    for (auto& m : g_host->m_plugin_messages) if (m.first == name) return m.second;
    (void)size;
    int id = g_host->m_next_message_id++;
    g_host->m_plugin_messages.emplace_back(name, id);
    return id;
}
void ServerPrint(const char* text) {
    auto timed = hostCall("(host) ServerPrint");
    g_host->print(text ? text : "");
}
const char* Cmd_Args() { return g_host->m_args.c_str(); }
const char* Cmd_Argv(int i) {
    return (i >= 0 && i < int(g_host->m_argv.size())) ? g_host->m_argv[i].c_str() : "";
}
int Cmd_Argc() { return int(g_host->m_argv.size()); }
int32 RandomLong(int32 lo, int32 hi) { return lo + (hi > lo ? rand() % (hi - lo + 1) : 0); }
float RandomFloat(float lo, float hi) { return lo + (hi - lo) * float(rand()) / float(RAND_MAX); }
float Time() { return g_host->time(); }

byte* LoadFileForMe(char* name, int* length) {
    if (length) *length = 0;
    if (!name) return nullptr;
    std::string path = g_host->options().gamedir + "/" + name;
    FILE* f = fopen(path.c_str(), "rb");
    if (!f) return nullptr;
    fseek(f, 0, SEEK_END);
    long size = ftell(f);
    rewind(f);
    byte* buffer = size >= 0 ? static_cast<byte*>(malloc(size_t(size) + 1)) : nullptr;
    if (buffer && fread(buffer, 1, size_t(size), f) != size_t(size)) {
        free(buffer);
        buffer = nullptr;
    }
    fclose(f);
    if (!buffer) return nullptr;
    buffer[size] = 0;  // the engine terminates what it loads
    if (length) *length = int(size);
    g_host->m_loaded_files.push_back(buffer);
    return buffer;
}
void FreeFile(void* buffer) {
    auto& files = g_host->m_loaded_files;
    for (size_t i = 0; i < files.size(); ++i) {
        if (files[i] != buffer) continue;
        files.erase(files.begin() + long(i));
        free(buffer);
        return;
    }
    if (buffer) g_host->print("simhost: FreeFile of a buffer the engine did not load\n");
}
void GetGameDir(char* dir) { strcpy(dir, g_host->options().gamedir.c_str()); }

char* GetInfoKeyBuffer(edict_t* e) {
    return g_host->infoBuffer(e ? g_host->edictIndex(e) : 0);
}

// Info strings are "\key\value\key\value". Calls visit(key, value) for each pair in order.
template <typename Visit>
void forEachInfoPair(const char* p, Visit visit) {
    while (*p == '\\') {
        const char* k = ++p;
        while (*p && *p != '\\') ++p;
        std::string name(k, size_t(p - k));
        if (*p != '\\') break;
        const char* v = ++p;
        while (*p && *p != '\\') ++p;
        if (!visit(name, std::string(v, size_t(p - v)))) return;
    }
}

char* InfoKeyValue(char* info, char* key) {
    auto timed = hostCall("(host) InfoKeyValue");
    static char values[4][256];
    static int which = 0;
    char* out = values[which = (which + 1) % 4];
    out[0] = '\0';
    if (!info || !key) return out;
    forEachInfoPair(info, [&](const std::string& name, const std::string& value) {
        if (name != key) return true;
        snprintf(out, 256, "%s", value.c_str());
        return false;
    });
    return out;
}

void setInfo(char* info, const char* key, const char* value) {
    std::string result;
    forEachInfoPair(info, [&](const std::string& name, const std::string& old) {
        if (name != key) result += "\\" + name + "\\" + old;
        return true;
    });
    if (*value) result += std::string("\\") + key + "\\" + value;
    snprintf(info, SimHost::INFO_SIZE, "%s", result.c_str());
}
void SetKeyValue(char* info, char* key, char* value) {
    if (info && key && value) setInfo(info, key, value);
}
void SetClientKeyValue(int client, char* info, char* key, char* value) {
    (void)client;
    SetKeyValue(info, key, value);
}
edict_t* CreateEntity() { return g_host->createEntity(); }
void RemoveEntity(edict_t* e) { g_host->removeEntity(e); }

int GetPlayerUserId(edict_t* e) { return e ? g_host->edictIndex(e) : -1; }
const char* GetPlayerAuthId(edict_t* e) {
    static char id[32];
    snprintf(id, sizeof(id), "STEAM_0:0:%d", e ? g_host->edictIndex(e) : 0);
    return id;
}
void AddServerCommand(char* name, void (*function)()) {
    if (name && function) g_host->m_commands[name] = function;
}
int IsDedicatedServer() { return 1; }
void ClientPrintf(edict_t*, PRINT_TYPE, const char* text) { g_host->print(text ? text : ""); }

}  // namespace

void SimHost::setInfoKey(int client, const char* key, const char* value) {
    if (client < 1 || client >= int(m_info.size()) || !key || !value) return;
    setInfo(m_info[size_t(client)].data(), key, value);
}

void SimHost::clearInfo(int client) {
    if (client >= 1 && client < int(m_info.size())) m_info[size_t(client)].assign(INFO_SIZE, '\0');
}

void SimHost::registerEngineTable() {
    enginefuncs_t& t = m_engine;
    t.pfnPrecacheModel = PrecacheModel;
    t.pfnPrecacheSound = PrecacheSound;
    t.pfnSetModel = ::SetModel;
    t.pfnModelIndex = ModelIndex;
    t.pfnSetSize = SetSize;
    t.pfnSetOrigin = SetOrigin;
    t.pfnCreateEntity = CreateEntity;
    t.pfnRemoveEntity = RemoveEntity;
    t.pfnEmitSound = ::EmitSound;
    t.pfnServerCommand = ServerCommand;
    t.pfnServerExecute = ServerExecute;
    t.pfnMessageBegin = ::MessageBegin;
    t.pfnMessageEnd = ::MessageEnd;
    t.pfnWriteByte = ::WriteByte;
    t.pfnWriteChar = ::WriteChar;
    t.pfnWriteShort = ::WriteShort;
    t.pfnWriteLong = ::WriteLong;
    t.pfnWriteAngle = ::WriteAngle;
    t.pfnWriteCoord = ::WriteCoord;
    t.pfnWriteString = ::WriteString;
    t.pfnWriteEntity = ::WriteEntity;
    t.pfnCVarRegister = CVarRegister;
    t.pfnCVarGetFloat = CVarGetFloat;
    t.pfnCVarGetString = CVarGetString;
    t.pfnCVarSetFloat = CVarSetFloat;
    t.pfnCVarSetString = CVarSetString;
    t.pfnAlertMessage = AlertMessage;
    t.pfnSzFromIndex = SzFromIndex;
    t.pfnAllocString = AllocString;
    t.pfnIndexOfEdict = IndexOfEdict;
    t.pfnPEntityOfEntIndex = PEntityOfEntIndex;
    t.pfnRegUserMsg = RegUserMsg;
    t.pfnClientPrintf = ClientPrintf;
    t.pfnServerPrint = ServerPrint;
    t.pfnCmd_Args = Cmd_Args;
    t.pfnCmd_Argv = Cmd_Argv;
    t.pfnCmd_Argc = Cmd_Argc;
    t.pfnRandomLong = RandomLong;
    t.pfnRandomFloat = RandomFloat;
    t.pfnTime = Time;
    t.pfnLoadFileForMe = LoadFileForMe;
    t.pfnFreeFile = FreeFile;
    t.pfnGetGameDir = GetGameDir;
    t.pfnGetInfoKeyBuffer = GetInfoKeyBuffer;
    t.pfnInfoKeyValue = InfoKeyValue;
    t.pfnSetKeyValue = SetKeyValue;
    t.pfnSetClientKeyValue = SetClientKeyValue;
    t.pfnGetPlayerUserId = GetPlayerUserId;
    t.pfnGetPlayerAuthId = GetPlayerAuthId;
    t.pfnAddServerCommand = AddServerCommand;
    t.pfnIsDedicatedServer = IsDedicatedServer;
}
