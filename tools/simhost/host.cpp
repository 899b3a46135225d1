// Metamod's part of simhost: loading the plugin, its utility table, and hook dispatch.
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <iostream>
#include <type_traits>

#include "game.h"
#include "simhost.h"

namespace {

std::string vformat(const char* fmt, va_list ap) {
    char buffer[1024];  // Metamod's MAX_LOGMSG_LEN
    vsnprintf(buffer, sizeof(buffer), fmt, ap);
    return buffer;
}

const char* tagOf(plid_t plid) { return (plid && plid->logtag) ? plid->logtag : "?"; }

void LogConsole(plid_t, const char* fmt, ...) {
    auto timed = hostCall("(metamod) LogConsole");
    va_list ap;
    va_start(ap, fmt);
    g_host->print(vformat(fmt, ap) + "\n");
    va_end(ap);
}
void LogMessage(plid_t plid, const char* fmt, ...) {
    auto timed = hostCall("(metamod) LogMessage");
    va_list ap;
    va_start(ap, fmt);
    g_host->log(std::string("[") + tagOf(plid) + "] " + vformat(fmt, ap));
    va_end(ap);
}
void LogError(plid_t plid, const char* fmt, ...) {
    auto timed = hostCall("(metamod) LogError");
    va_list ap;
    va_start(ap, fmt);
    g_host->log(std::string("[") + tagOf(plid) + "] ERROR: " + vformat(fmt, ap));
    va_end(ap);
}
void LogDeveloper(plid_t plid, const char* fmt, ...) {
    auto timed = hostCall("(metamod) LogDeveloper");
    if (g_host->cvarString("developer") == "0") return;  // as Metamod: only with developer set
    va_list ap;
    va_start(ap, fmt);
    g_host->log(std::string("[") + tagOf(plid) + "] dev: " + vformat(fmt, ap));
    va_end(ap);
}
void CenterSay(plid_t, const char*, ...) {}
int GetUserMsgID(plid_t, const char* name, int* size) {
    if (size) *size = -1;
    return name ? g_host->userMessageId(name) : 0;
}
const char* GetUserMsgName(plid_t, int id, int* size) {
    if (size) *size = -1;
    for (auto& m : g_host->m_messages)
        if (m.second == id) return m.first.c_str();
    return nullptr;
}
const char* GetGameInfo(plid_t, ginfo_t tag) {
    return tag == GINFO_GAMEDIR ? g_host->options().gamedir.c_str() : "cstrike";
}
int MakeRequestId(plid_t) {
    static int counter = 0;
    return (0xbeef << 16) + ++counter;
}

// Metamod's "major:minor" check: same major and an older or equal minor is accepted.
bool versionAccepted(const char* ours, const char* theirs, std::string* note) {
    if (strcmp(ours, theirs) == 0) return true;
    int om = 0, on = 0, tm = 0, tn = 0;
    if (sscanf(ours, "%d:%d", &om, &on) != 2 || sscanf(theirs, "%d:%d", &tm, &tn) != 2) {
        *note = "unparsable interface version";
        return false;
    }
    if (tm > om || (tm == om && tn > on)) {
        *note = "plugin requires a newer Metamod";
        return false;
    }
    if (tm < om) {
        *note = "plugin out of date";
        return false;
    }
    *note = std::string("plugin uses an older interface version (") + theirs + ")";
    return true;
}

}  // namespace

SimHost::SimHost(const SimOptions& options) : m_options(options) {
    g_host = this;
    output = [](const std::string& text) { std::cout << text << std::flush; };
    m_edicts = static_cast<edict_t*>(calloc(MAX_EDICTS, sizeof(edict_t)));
    m_strings = static_cast<char*>(calloc(1 << 20, 1));
    m_strings_used = 1;  // offset 0 is the empty string
    m_globals.pStringBase = m_strings;
    m_globals.maxClients = options.max_clients;
    m_globals.maxEntities = MAX_EDICTS;
    m_info.assign(size_t(options.max_clients) + 1, std::vector<char>(INFO_SIZE, '\0'));
    for (auto& kv : options.localinfo) {
        std::string info(m_info[0].data());
        info += "\\" + kv.first + "\\" + kv.second;
        snprintf(m_info[0].data(), INFO_SIZE, "%s", info.c_str());
    }
    setCvar("developer", "1");
    setCvar("hostname", "Kovi TV test server");
    setCvar("net_address", "127.0.0.1:27015");
    setCvar("mp_c4timer", "35");
    setCvar("maxplayers", std::to_string(options.max_clients));
    for (auto& kv : options.cvars) setCvar(kv.first, kv.second);
    registerEngineTable();
    m_game.pfnServerActivate = [](edict_t*, int, int) { g_host->game()->serverActivate(); };
    m_game.pfnServerDeactivate = [] { g_host->game()->serverDeactivate(); };
    m_game.pfnStartFrame = [] { g_host->game()->startFrame(); };
    m_game_new.pfnGameShutdown = [] { g_host->game()->gameShutdown(); };
    m_game_logic = new Game(*this);
    if (options.hook_times) {
        m_times = new HookTimes;
        m_times->enable();
    }
}

void SimHost::setGame(Game* game) {
    delete m_game_logic;
    m_game_logic = game;
}

SimHost::~SimHost() {
    delete m_game_logic;
    delete m_times;
    for (void* p : m_loaded_files) free(p);
    free(m_edicts);
    free(m_strings);
    for (void* t : {(void*)m_dll_pre, (void*)m_dll_post, (void*)m_new_pre, (void*)m_new_post,
                    (void*)m_eng_pre, (void*)m_eng_post})
        free(t);
    if (g_host == this) g_host = nullptr;
}

void SimHost::print(const std::string& text) {
    if (output) output(text);
}

void SimHost::log(const std::string& line) {
    time_t now = ::time(nullptr);
    char date[64];
    strftime(date, sizeof(date), "%m/%d/%Y - %H:%M:%S", localtime(&now));
    print(std::string("L ") + date + ": " + line + "\n");
}

string_t SimHost::allocString(const char* text) {
    size_t n = strlen(text) + 1;
    if (m_strings_used + n > (1u << 20)) return 0;  // arena full: the empty string
    memcpy(m_strings + m_strings_used, text, n);
    string_t s = string_t(m_strings_used);
    m_strings_used += n;
    return s;
}

string_t SimHost::modelString(const char* model) {
    auto it = m_models.find(model);
    if (it != m_models.end()) return it->second;
    string_t s = allocString(model);
    m_models.emplace(model, s);
    return s;
}

std::string SimHost::cvarString(const std::string& name) const {
    auto it = m_cvars.find(name);
    return it == m_cvars.end() ? "" : it->second.value;
}

void SimHost::setCvar(const std::string& name, const std::string& value) {
    Cvar& c = m_cvars[name];
    c.value = value;
    c.number = float(atof(value.c_str()));
}

void SimHost::changeCvar(const std::string& name, const std::string& value) {
    Cvar& c = m_cvars[name];
    bool announced = (c.flags & FCVAR_SERVER) && !(c.flags & FCVAR_UNLOGGED) && c.value != value;
    setCvar(name, value);
    if (!announced) return;
    const std::string shown = (c.flags & FCVAR_PROTECTED) ? "***PROTECTED***" : value;
    log("Server cvar \"" + name + "\" = \"" + shown + "\"");
    print("simhost: to players: \"" + name + "\" changed to \"" + shown + "\"\n");
}

char* SimHost::infoBuffer(int client) {
    if (client < 0 || client >= int(m_info.size())) return m_info[0].data();
    return m_info[size_t(client)].data();
}

edict_t* SimHost::createEntity() {
    const float now = m_globals.time;
    for (int i = 1 + m_options.max_clients; i < m_num_edicts; ++i) {
        edict_t* e = &m_edicts[i];
        if (!e->free || now - e->freetime <= 0.5f) continue;  // clients may still show the old one
        int serial = e->serialnumber;
        memset(e, 0, sizeof(*e));
        e->serialnumber = serial + 1;
        e->v.pContainingEntity = e;
        return e;
    }
    if (m_num_edicts >= MAX_EDICTS) return nullptr;
    edict_t* e = &m_edicts[m_num_edicts++];
    memset(e, 0, sizeof(*e));
    e->v.pContainingEntity = e;
    return e;
}

void SimHost::removeEntity(edict_t* e) {
    if (!e || e->free || edictIndex(e) <= m_options.max_clients) return;  // players stay
    int serial = e->serialnumber;
    memset(e, 0, sizeof(*e));
    e->serialnumber = serial;
    e->free = 1;
    e->freetime = m_globals.time;
}

int SimHost::userMessageId(const char* name) const {
    for (auto& m : m_messages)
        if (m.first == name) return m.second;
    return 0;
}

// Classic Metamod's dispatch: pre hooks, the real function unless superseded, post hooks with
// orig_ret pointing at the real result. A hook that leaves mres unset or changes the game is
// reported: this plugin must only observe.
template <typename Table, typename Fn, typename... Args>
auto SimHost::dispatch(const char* name, const Table* pre, const Table* post, const Table& real,
                       Fn Table::*member, Args... args) {
    using R = decltype((real.*member)(args...));
    using Value = std::conditional_t<std::is_void_v<R>, int, R>;
    Value orig{};
    Value override_value{};
    m_meta_globals.status = MRES_UNSET;
    auto run = [&](const Table* table, const char* phase) {
        if (!table || !(table->*member)) return;
        m_meta_globals.mres = MRES_UNSET;
        m_meta_globals.prev_mres = MRES_UNSET;
        m_meta_globals.orig_ret = &orig;
        if constexpr (std::is_void_v<R>) {
            HookTimes::Scope timed(m_times, name, phase);
            (table->*member)(args...);
        } else {
            Value v{};
            {
                HookTimes::Scope timed(m_times, name, phase);
                v = (table->*member)(args...);
            }
            if (m_meta_globals.mres == MRES_SUPERCEDE) orig = v;
            if (m_meta_globals.mres == MRES_OVERRIDE) override_value = v;
        }
        checkResult(name, phase);
        if (m_meta_globals.mres > m_meta_globals.status)
            m_meta_globals.status = m_meta_globals.mres;
    };
    run(pre, "pre");
    if (m_meta_globals.status != MRES_SUPERCEDE && (real.*member)) {
        // The game calls the engine from inside its functions; Metamod keeps the outer call's
        // globals across such nested hooked calls.
        meta_globals_t outer = m_meta_globals;
        if constexpr (std::is_void_v<R>)
            (real.*member)(args...);
        else
            orig = (real.*member)(args...);
        m_meta_globals = outer;
    }
    run(post, "post");
    if constexpr (!std::is_void_v<R>)
        return m_meta_globals.status == MRES_OVERRIDE ? override_value : orig;
}

void SimHost::checkResult(const char* name, const char* phase) {
    META_RES r = m_meta_globals.mres;
    if (r == MRES_IGNORED) return;
    ++m_hook_warnings;
    if (r == MRES_UNSET)
        print(std::string("simhost: plugin didn't set meta_result in ") + phase + " " + name + "\n");
    else
        print(std::string("simhost: plugin returned ") + std::to_string(int(r)) + " in " + phase +
              " " + name + "\n");
}

bool SimHost::load(const PluginEntryPoints& plugin) {
    m_plugin = plugin;
    if (!plugin.query || !plugin.giveFnptrs || !plugin.attach) {
        print("simhost: not a Metamod plugin (missing Meta_Query, GiveFnptrsToDll or Meta_Attach)\n");
        return false;
    }
    if (plugin.init) plugin.init();
    m_plugin_engine = m_engine;
    plugin.giveFnptrs(&m_plugin_engine, &m_globals);

    m_mutil = mutil_funcs_t{};
    m_mutil.pfnLogConsole = LogConsole;
    m_mutil.pfnLogMessage = LogMessage;
    m_mutil.pfnLogError = LogError;
    m_mutil.pfnLogDeveloper = LogDeveloper;
    m_mutil.pfnCenterSay = CenterSay;
    m_mutil.pfnGetUserMsgID = GetUserMsgID;
    m_mutil.pfnGetUserMsgName = GetUserMsgName;
    m_mutil.pfnGetGameInfo = GetGameInfo;
    m_mutil.pfnMakeRequestId = MakeRequestId;
    m_info_record = nullptr;
    if (plugin.query(META_INTERFACE_VERSION, &m_info_record, &m_mutil) != 1 || !m_info_record) {
        print("simhost: Meta_Query failed\n");
        return false;
    }
    std::string note;
    if (!versionAccepted(META_INTERFACE_VERSION, m_info_record->ifvers ? m_info_record->ifvers : "",
                         &note)) {
        print("simhost: plugin refused: " + note + "\n");
        return false;
    }
    if (!note.empty()) print("simhost: " + note + "\n");
    if (m_info_record->loadable < PT_STARTUP) {
        print("simhost: plugin is not loadable at startup\n");
        return false;
    }
    m_game_copy = m_game;
    m_game_new_copy = m_game_new;
    m_gamedll.dllapi_table = &m_game_copy;
    m_gamedll.newapi_table = &m_game_new_copy;
    m_meta_functions = META_FUNCTIONS{};
    if (plugin.attach(PT_STARTUP, &m_meta_functions, &m_meta_globals, &m_gamedll) != 1) {
        print("simhost: Meta_Attach failed\n");
        return false;
    }
    m_attached = true;
    callTableGetters();
    print(std::string("simhost: plugin \"") + (m_info_record->name ? m_info_record->name : "") +
          "\" " + (m_info_record->version ? m_info_record->version : "") + " attached\n");
    return true;
}

void SimHost::callTableGetters() {
    // Metamod callocs each table, keeps it whatever the getter returns, in this order.
    auto getter = [&](auto fn, auto** table, const char* name, int version) {
        using Table = std::remove_pointer_t<std::remove_reference_t<decltype(*table)>>;
        if (!fn) return;
        *table = static_cast<Table*>(calloc(1, sizeof(Table) + 5 * sizeof(void*)));
        int v = version;
        if (!fn(*table, &v)) {
            print(std::string("simhost: Failure calling ") + name + "\n");
            if (v != version)
                print("simhost: interface version expected " + std::to_string(version) +
                      ", found " + std::to_string(v) + "\n");
        }
    };
    getter(m_meta_functions.pfnGetNewDLLFunctions, &m_new_pre, "GetNewDLLFunctions",
           NEW_DLL_FUNCTIONS_VERSION);
    getter(m_meta_functions.pfnGetNewDLLFunctions_Post, &m_new_post, "GetNewDLLFunctions_Post",
           NEW_DLL_FUNCTIONS_VERSION);
    getter(m_meta_functions.pfnGetEntityAPI2, &m_dll_pre, "GetEntityAPI2", INTERFACE_VERSION);
    getter(m_meta_functions.pfnGetEntityAPI2_Post, &m_dll_post, "GetEntityAPI2_Post",
           INTERFACE_VERSION);
    getter(m_meta_functions.pfnGetEngineFunctions, &m_eng_pre, "GetEngineFunctions",
           ENGINE_INTERFACE_VERSION);
    getter(m_meta_functions.pfnGetEngineFunctions_Post, &m_eng_post, "GetEngineFunctions_Post",
           ENGINE_INTERFACE_VERSION);
}

bool SimHost::unload() {
    if (!m_attached) return true;
    if (!m_plugin.detach || m_plugin.detach(PT_ANYTIME, PNL_COMMAND) != 1) {
        print("simhost: Meta_Detach refused\n");
        return false;
    }
    m_attached = false;
    m_commands.clear();  // Metamod removes the plugin's commands with it
    for (void* t : {(void*)m_dll_pre, (void*)m_dll_post, (void*)m_new_pre, (void*)m_new_post,
                    (void*)m_eng_pre, (void*)m_eng_post})
        free(t);
    m_dll_pre = m_dll_post = nullptr;
    m_new_pre = m_new_post = nullptr;
    m_eng_pre = m_eng_post = nullptr;
    print("simhost: plugin detached\n");
    return true;
}

int SimHost::registerUserMessage(const char* name, int size) {
    // The game registers through Metamod's hooked RegUserMsg, which records what the game got.
    int id = dispatch("RegUserMsg", m_eng_pre, m_eng_post, m_engine, &enginefuncs_t::pfnRegUserMsg,
                      name, size);
    if (!userMessageId(name)) m_messages.emplace_back(name, id);
    return id;
}

void SimHost::messageBegin(int dest, int type, const float* origin, edict_t* ed) {
    dispatch("MessageBegin", m_eng_pre, m_eng_post, m_engine, &enginefuncs_t::pfnMessageBegin,
             dest, type, origin, ed);
}
void SimHost::messageEnd() {
    dispatch("MessageEnd", m_eng_pre, m_eng_post, m_engine, &enginefuncs_t::pfnMessageEnd);
}
void SimHost::writeByte(int v) {
    dispatch("WriteByte", m_eng_pre, m_eng_post, m_engine, &enginefuncs_t::pfnWriteByte, v);
}
void SimHost::writeChar(int v) {
    dispatch("WriteChar", m_eng_pre, m_eng_post, m_engine, &enginefuncs_t::pfnWriteChar, v);
}
void SimHost::writeShort(int v) {
    dispatch("WriteShort", m_eng_pre, m_eng_post, m_engine, &enginefuncs_t::pfnWriteShort, v);
}
void SimHost::writeLong(int v) {
    dispatch("WriteLong", m_eng_pre, m_eng_post, m_engine, &enginefuncs_t::pfnWriteLong, v);
}
void SimHost::writeAngle(float v) {
    dispatch("WriteAngle", m_eng_pre, m_eng_post, m_engine, &enginefuncs_t::pfnWriteAngle, v);
}
void SimHost::writeCoord(float v) {
    dispatch("WriteCoord", m_eng_pre, m_eng_post, m_engine, &enginefuncs_t::pfnWriteCoord, v);
}
void SimHost::writeString(const char* s) {
    dispatch("WriteString", m_eng_pre, m_eng_post, m_engine, &enginefuncs_t::pfnWriteString, s);
}
void SimHost::writeEntity(int v) {
    dispatch("WriteEntity", m_eng_pre, m_eng_post, m_engine, &enginefuncs_t::pfnWriteEntity, v);
}
void SimHost::setModel(edict_t* e, const char* model) {
    dispatch("SetModel", m_eng_pre, m_eng_post, m_engine, &enginefuncs_t::pfnSetModel, e, model);
}
void SimHost::emitSound(edict_t* e, int channel, const char* sample, float volume,
                        float attenuation, int flags, int pitch) {
    dispatch("EmitSound", m_eng_pre, m_eng_post, m_engine, &enginefuncs_t::pfnEmitSound, e,
             channel, sample, volume, attenuation, flags, pitch);
}

qboolean SimHost::clientConnect(edict_t* e, const char* name, const char* address) {
    char reject[128] = "";
    return dispatch("ClientConnect", m_dll_pre, m_dll_post, m_game,
                    &DLL_FUNCTIONS::pfnClientConnect, e, name, address, static_cast<char*>(reject));
}
void SimHost::clientPutInServer(edict_t* e) {
    dispatch("ClientPutInServer", m_dll_pre, m_dll_post, m_game,
             &DLL_FUNCTIONS::pfnClientPutInServer, e);
}
void SimHost::clientDisconnect(edict_t* e) {
    dispatch("ClientDisconnect", m_dll_pre, m_dll_post, m_game,
             &DLL_FUNCTIONS::pfnClientDisconnect, e);
}
void SimHost::clientUserInfoChanged(edict_t* e) {
    dispatch("ClientUserInfoChanged", m_dll_pre, m_dll_post, m_game,
             &DLL_FUNCTIONS::pfnClientUserInfoChanged, e, infoBuffer(edictIndex(e)));
}
void SimHost::playerPostThink(edict_t* e) {
    dispatch("PlayerPostThink", m_dll_pre, m_dll_post, m_game,
             &DLL_FUNCTIONS::pfnPlayerPostThink, e);
}
void SimHost::think(edict_t* e) {
    dispatch("Think", m_dll_pre, m_dll_post, m_game, &DLL_FUNCTIONS::pfnThink, e);
}

void SimHost::activateMap(const std::string& map) {
    if (m_times) m_times->beginSpan();
    if (m_map_running) deactivateMap();
    m_map = map;
    memset(m_edicts, 0, sizeof(edict_t) * MAX_EDICTS);
    m_globals.time = 1.0f;  // the engine starts every map at one second
    m_globals.mapname = allocString(map.c_str());
    m_globals.maxClients = m_options.max_clients;
    m_globals.maxEntities = MAX_EDICTS;
    m_num_edicts = 1 + m_options.max_clients;
    m_game_logic->worldSpawn();
    dispatch("ServerActivate", m_dll_pre, m_dll_post, m_game, &DLL_FUNCTIONS::pfnServerActivate,
             m_edicts, 1 + m_options.max_clients, m_options.max_clients);
    m_map_running = true;
    if (m_times) m_times->addSpan(m_times->entryText("map change (every plugin call)"));
    m_real_start = wallSeconds();
    m_game_start = m_globals.time;
    print("simhost: map " + map + " running\n");
}

void SimHost::deactivateMap() {
    if (!m_map_running) return;
    dispatch("ServerDeactivate", m_dll_pre, m_dll_post, m_game,
             &DLL_FUNCTIONS::pfnServerDeactivate);
    m_map_running = false;
}

void SimHost::runFrame() {
    if (!m_map_running) return;
    float frametime = 1.0f / float(m_options.fps > 0 ? m_options.fps : 100);
    m_globals.frametime = frametime;
    m_globals.time += frametime;
    if (m_times) {
        // The same measurement around nothing, and around a fixed microsecond or so of
        // arithmetic: what the machine itself adds to a call of that length (preemption, a
        // hypervisor's steal), for holding the hooks' tails against.
        { HookTimes::Scope timed(m_times, "(the clock alone)"); }
        HookTimes::Scope timed(m_times, "(fixed arithmetic)");
        volatile uint32_t x = 1;
        for (int i = 0; i < 400; i++) x = x * 1664525u + 1013904223u;
    }
    dispatch("StartFrame", m_dll_pre, m_dll_post, m_game, &DLL_FUNCTIONS::pfnStartFrame);
    m_game_logic->runPlayers();
    if (m_options.speed > 0.0) {
        // Pace the clock: game time runs at `speed` times real time.
        double due = m_real_start + (m_globals.time - m_game_start) / m_options.speed;
        double ahead = due - wallSeconds();
        if (ahead > 0.001) sleepMillis(int(ahead * 1000.0));
    }
}

void SimHost::runFor(double game_seconds) {
    double end = double(m_globals.time) + game_seconds;
    while (m_map_running && !m_quit && double(m_globals.time) < end - 1e-6) runFrame();
}

namespace {
std::vector<std::string> tokenize(const std::string& line) {
    std::vector<std::string> words;
    size_t i = 0;
    while (i < line.size()) {
        while (i < line.size() && isspace(static_cast<unsigned char>(line[i]))) ++i;
        if (i >= line.size()) break;
        std::string word;
        if (line[i] == '"') {
            size_t end = line.find('"', i + 1);
            if (end == std::string::npos) end = line.size();
            word = line.substr(i + 1, end - i - 1);
            i = end + 1;
        } else {
            while (i < line.size() && !isspace(static_cast<unsigned char>(line[i]))) word += line[i++];
        }
        words.push_back(word);
    }
    return words;
}
}  // namespace

void SimHost::command(const std::string& line) {
    std::vector<std::string> words = tokenize(line);
    if (words.empty()) return;
    const std::string& name = words[0];
    if (name == "quit" || name == "exit") {
        m_quit = true;
        return;
    }
    if ((name == "changelevel" || name == "map") && words.size() > 1) {
        activateMap(words[1]);
        return;
    }
    auto cmd = m_commands.find(name);
    if (cmd != m_commands.end()) {
        m_argv = words;
        size_t args = line.find(name) + name.size();
        m_args = args < line.size() ? line.substr(args + 1) : "";
        if (m_times) {
            // The entry's words are chosen before the call: only the call is timed.
            std::string what = "console " + name + (words.size() > 1 ? " " + words[1] : "");
            HookTimes::Scope timed(m_times, m_times->entryText(what.c_str()));
            cmd->second();
        } else {
            cmd->second();
        }
        m_argv.clear();
        m_args.clear();
        return;
    }
    auto cvar = m_cvars.find(name);
    if (cvar != m_cvars.end()) {
        if (words.size() > 1)
            changeCvar(name, words[1]);
        else
            print("\"" + name + "\" is \"" + cvar->second.value + "\"\n");
        return;
    }
    print("Unknown command: " + name + "\n");
}

void SimHost::shutdown() {
    deactivateMap();
    // The engine ends the game DLL through GameShutdown; Metamod's hook table routes it.
    dispatch("GameShutdown", m_new_pre, m_new_post, m_game_new,
             &NEW_DLL_FUNCTIONS::pfnGameShutdown);
}
