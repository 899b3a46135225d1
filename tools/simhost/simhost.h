// simhost: a simulated Half-Life dedicated server with Metamod. It loads a plugin the way Metamod
// does, offers it a real engine table (cvars, commands, files, info buffers, user messages, entity
// array, globals) and calls every hooked function the way Metamod dispatches it.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "hook_times.h"
#include "sdk/engine.h"
#include "sdk/export.h"
#include "sdk/metamod.h"

struct PluginEntryPoints {
    void (KOVITV_WINAPI* giveFnptrs)(enginefuncs_t*, globalvars_t*) = nullptr;
    META_QUERY_FN query = nullptr;
    META_ATTACH_FN attach = nullptr;
    META_DETACH_FN detach = nullptr;
    void (*init)() = nullptr;  // Meta_Init, optional
};

struct SimOptions {
    std::string gamedir = "cstrike";
    int max_clients = 32;
    int fps = 100;
    double speed = 1.0;  // game seconds per real second; 0 runs as fast as possible
    std::map<std::string, std::string> cvars;
    std::map<std::string, std::string> localinfo;
    bool quiet_messages = true;  // print every user message when false
    bool hook_times = false;     // time every call into the plugin (see hook_times.h)
};

class Game;

class SimHost {
public:
    static constexpr int MAX_EDICTS = 900;

    explicit SimHost(const SimOptions& options);
    ~SimHost();

    // Metamod's load sequence: Meta_Init, GiveFnptrsToDll, Meta_Query("5:13") with the version
    // check, Meta_Attach(PT_STARTUP), then the table getters. False when the plugin is refused.
    bool load(const PluginEntryPoints& plugin);
    // Meta_Detach(PT_ANYTIME, PNL_COMMAND); false when the plugin refused to detach.
    bool unload();

    void activateMap(const std::string& map);  // world spawn, then ServerActivate
    void deactivateMap();                      // ServerDeactivate
    void runFrame();                           // one server frame at the configured rate
    void runFor(double game_seconds);          // frames until that much game time has passed
    void command(const std::string& line);     // one server console line
    void shutdown();                           // ServerDeactivate if a map runs, then GameShutdown

    bool attached() const { return m_attached; }
    bool mapRunning() const { return m_map_running; }
    float time() const { return m_globals.time; }
    const std::string& mapName() const { return m_map; }
    bool quitRequested() const { return m_quit; }
    int hookWarnings() const { return m_hook_warnings; }
    const HookTimes* hookTimes() const { return m_times; }  // null unless options.hook_times
    HookTimes* hookTimes() { return m_times; }
    Game* game() { return m_game_logic; }
    meta_globals_t* metaGlobals() { return &m_meta_globals; }
    void setGame(Game* game);  // takes ownership; the scripted match replaces the bare game

    // Output: every log line, console print and host note goes here (stdout by default).
    std::function<void(const std::string&)> output;
    void print(const std::string& text);
    void log(const std::string& line);  // a server log line ("L <date>: text")

    // --- engine services, also used by the simulated game ---
    string_t allocString(const char* text);
    string_t modelString(const char* model);  // one string per distinct model, kept for good
    edict_t* edict(int index) { return &m_edicts[index]; }
    int edictIndex(const edict_t* e) const { return int(e - m_edicts); }
    globalvars_t* globals() { return &m_globals; }
    std::string cvarString(const std::string& name) const;
    void setCvar(const std::string& name, const std::string& value);
    // A change made while the server runs (the engine's CVarSet calls, the console). As the
    // engine: a server variable without FCVAR_UNLOGGED that takes a new value is logged and
    // printed on every player's console ("simhost: to players: ..." here).
    void changeCvar(const std::string& name, const std::string& value);
    int registerUserMessage(const char* name, int size);  // through the plugin's hooks
    int userMessageId(const char* name) const;            // Metamod's GetUserMsgID
    const SimOptions& options() const { return m_options; }
    char* infoBuffer(int client);  // 0: the server's localinfo
    // The engine's SetClientKeyValue: sets (or with an empty value removes) one key; no hook runs.
    void setInfoKey(int client, const char* key, const char* value);
    void clearInfo(int client);  // a dropped client's buffer
    // The engine's CreateEntity and RemoveEntity for entities beyond the players. A freed edict is
    // only given out again half a second after its removal, as the engine does; null when full.
    edict_t* createEntity();
    void removeEntity(edict_t* e);
    int entityCount() const { return m_num_edicts; }  // edicts handed out since the map started

    // Game-side calls into the engine, dispatched through the plugin's engine hooks.
    void messageBegin(int dest, int type, const float* origin, edict_t* ed);
    void messageEnd();
    void writeByte(int v);
    void writeChar(int v);
    void writeShort(int v);
    void writeLong(int v);
    void writeAngle(float v);
    void writeCoord(float v);
    void writeString(const char* s);
    void writeEntity(int v);
    void setModel(edict_t* e, const char* model);
    void emitSound(edict_t* e, int channel, const char* sample, float volume, float attenuation,
                   int flags, int pitch);

    // Game DLL calls made by the engine, dispatched through the plugin's game-DLL hooks.
    qboolean clientConnect(edict_t* e, const char* name, const char* address);
    void clientPutInServer(edict_t* e);
    void clientDisconnect(edict_t* e);
    void clientUserInfoChanged(edict_t* e);
    void playerPostThink(edict_t* e);
    void think(edict_t* e);

    // The engine's state, public to engine.cpp's table functions.
    struct Cvar {
        std::string value;
        float number = 0.0f;
        int flags = 0;  // FCVAR_*, from the registration
    };
    std::map<std::string, Cvar> m_cvars;
    std::map<std::string, void (*)()> m_commands;
    std::vector<std::string> m_argv;
    std::string m_args;
    std::vector<std::pair<std::string, int>> m_messages;  // registered by the game, in order
    std::vector<std::pair<std::string, int>> m_plugin_messages;
    int m_next_message_id = 64;  // ids below 64 are the engine's own
    std::string m_message_trace;
    static constexpr int INFO_SIZE = 512;
    std::vector<std::vector<char>> m_info;  // 0: localinfo, 1..maxClients: per client; fixed size
    std::vector<void*> m_loaded_files;
    std::map<std::string, string_t> m_models;

private:
    template <typename Table, typename Fn, typename... Args>
    auto dispatch(const char* name, const Table* pre, const Table* post, const Table& real,
                  Fn Table::*member, Args... args);
    void checkResult(const char* name, const char* phase);
    void callTableGetters();
    void registerEngineTable();

    SimOptions m_options;
    PluginEntryPoints m_plugin;
    plugin_info_t* m_info_record = nullptr;
    bool m_attached = false;
    bool m_map_running = false;
    bool m_quit = false;
    bool m_first_map_done = false;
    int m_hook_warnings = 0;
    std::string m_map;

    enginefuncs_t m_engine{};         // the real engine table
    enginefuncs_t m_plugin_engine{};  // the plugin's copy (GiveFnptrsToDll)
    DLL_FUNCTIONS m_game{};           // the simulated game DLL
    NEW_DLL_FUNCTIONS m_game_new{};
    META_FUNCTIONS m_meta_functions{};
    meta_globals_t m_meta_globals{};
    mutil_funcs_t m_mutil{};
    DLL_FUNCTIONS m_game_copy{};
    NEW_DLL_FUNCTIONS m_game_new_copy{};
    gamedll_funcs_t m_gamedll{};
    // Hook tables as Metamod allocates them (null when the getter is absent or failed empty).
    DLL_FUNCTIONS* m_dll_pre = nullptr;
    DLL_FUNCTIONS* m_dll_post = nullptr;
    NEW_DLL_FUNCTIONS* m_new_pre = nullptr;
    NEW_DLL_FUNCTIONS* m_new_post = nullptr;
    enginefuncs_t* m_eng_pre = nullptr;
    enginefuncs_t* m_eng_post = nullptr;

    globalvars_t m_globals{};
    edict_t* m_edicts = nullptr;
    int m_num_edicts = 0;  // the world, the player slots, then every entity given out this map
    char* m_strings = nullptr;  // one arena, so every string_t stays within 4 GiB of the base
    size_t m_strings_used = 0;
    Game* m_game_logic = nullptr;
    HookTimes* m_times = nullptr;  // allocated once at start: measuring allocates nothing
    double m_real_start = 0.0;
    double m_game_start = 0.0;

    friend class Game;
};

extern SimHost* g_host;  // the engine's table functions have no context argument

// A host service that does what a real engine or Metamod would (store a value, format and print
// a line, look up a user info key) is timed as a row of its own in --hook-times when the plugin
// calls it, so that a hook's tail can be told from the host's.
inline HookTimes::Scope hostCall(const char* name) {
    return HookTimes::Scope(g_host->hookTimes(), name, nullptr, HookTimes::Kind::host_service);
}

// Platform helpers of the tool (simhost_platform.cpp).
bool loadPluginLibrary(const std::string& path, PluginEntryPoints* entry, std::string* error);
void sleepMillis(int ms);
double wallSeconds();
void initSocketLibrary();
enum class ConsoleInput { none, line, closed };
void startConsoleInput();
ConsoleInput readConsoleLine(std::string* line);  // never blocks  // Windows: WSAStartup, as the engine does before loading plugins
