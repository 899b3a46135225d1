// simhost command line: load a plugin, play maps, take console commands, shut down.
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "match.h"
#include "simhost.h"

namespace {

const char* kUsage =
    "Usage: simhost [options]\n"
    "A simulated Half-Life dedicated server with Metamod: loads a Metamod plugin, plays maps\n"
    "on a game clock, takes server console commands and shuts down as a real server does.\n"
    "\n"
    "Options:\n"
    "  --plugin PATH        plugin library to load (default: the one built beside simhost)\n"
    "  --plugins-ini FILE   load the plugin Metamod's plugins.ini names for this platform\n"
    "                       (the first \"linux\" or \"win32\" line), its path relative to\n"
    "                       --game, as a server would: the admin's install path\n"
    "  --game DIR           game folder: config, pages and demos live under it (default cstrike)\n"
    "  --map NAME           map to play; repeat for a map cycle (default de_kovi)\n"
    "  --map-time SECONDS   game seconds per map before changing to the next (default: no change)\n"
    "  --duration SECONDS   game seconds to run in all, then quit (default: until quit or end of\n"
    "                       standard input)\n"
    "  --speed X            game seconds per real second; 0 runs as fast as possible (default 1)\n"
    "  --fps N              server frames per game second (default 100)\n"
    "  --max-clients N      player slots, 1 to 32 (default 32)\n"
    "  --players N          bots playing a scripted Counter-Strike match, 0 to 32 and at most\n"
    "                       --max-clients; 0 runs the bare game with nobody on it (default 10)\n"
    "  --seed S             the match's random seed: the same seed plays the same match\n"
    "                       (default 1)\n"
    "  --match-length R     rounds to play on each map; then the server changes to the next\n"
    "                       --map, and after the last one quits (unless --duration is given,\n"
    "                       when the map cycle starts over). 0: no limit (default)\n"
    "  --trace FILE         write one JSON line per match event (joins, leaves, teams, names,\n"
    "                       spawns, kills, chat, radio, rounds, bomb, grenades) with game time\n"
    "  --overview-dir DIR   folder under --game where each map gets an overview of the match's\n"
    "                       map (overviews/<map>.txt and .bmp) unless it has them (default\n"
    "                       addons/kovitv, the plugin folder)\n"
    "  --no-overview        write no overview files\n"
    "  --cvar NAME=VALUE    set a server variable before loading (e.g. net_address=1.2.3.4:27015)\n"
    "  --localinfo KEY=VAL  set a server local information key (e.g. kovitvcfg=my.ini)\n"
    "  --exec CMD           run a console command after the first map starts; \"@T CMD\" runs it\n"
    "                       at T game seconds after the start; repeatable, run in order\n"
    "  --no-stdin           do not read console commands from standard input\n"
    "  --show-messages      print every user message the game sends\n"
    "  --hook-times         time every call into the plugin on the main thread and print, at\n"
    "                       exit, per hook and per console command calls, p50, p99, p99.9 and\n"
    "                       max in microseconds, and the longest map change\n"
    "  --help               show this text\n"
    "\n"
    "Console commands: the plugin's own (kovitv ...), changelevel MAP, quit, and NAME [VALUE]\n"
    "to read or set a server variable.\n"
    "\n"
    "The match is played on a small map of its own whatever the map's name: terrorists start\n"
    "in the south-west, counter-terrorists in the north-east, bomb site A lies south-east and\n"
    "B north-west. mp_freezetime (3), mp_roundtime (1.75) and mp_c4timer (35) set the rounds.\n"
    "\n"
    "Exit status: 0 clean run; 1 the plugin could not be loaded, attached or detached; 2 bad\n"
    "command line; 3 a hook left Metamod's result unset or tried to change the game.\n";

struct Timed {
    double at;  // game seconds since start; negative: right after the first map starts
    std::string command;
};

bool splitPair(const char* arg, std::string* key, std::string* value) {
    const char* eq = strchr(arg, '=');
    if (!eq || eq == arg) return false;
    key->assign(arg, size_t(eq - arg));
    value->assign(eq + 1);
    return true;
}

#ifdef _WIN32
const char kPlatform[] = "win32";
#else
const char kPlatform[] = "linux";
#endif

// The first line of Metamod's plugins.ini for this platform: "<platform> <path> [description]",
// the path relative to the game folder; '#', ';' and "//" start comments.
bool pluginFromIni(const std::string& ini, const std::string& gamedir, std::string* path,
                   std::string* error) {
    FILE* f = fopen(ini.c_str(), "r");
    if (!f) {
        *error = "cannot open " + ini + ": " + strerror(errno);
        return false;
    }
    char line[1024];
    bool found = false;
    while (!found && fgets(line, sizeof(line), f)) {
        char platform[32], file[512];
        const char* p = line + strspn(line, " \t");
        if (*p == '#' || *p == ';' || (p[0] == '/' && p[1] == '/')) continue;
        if (sscanf(p, "%31s %511s", platform, file) != 2 || strcmp(platform, kPlatform) != 0)
            continue;
        *path = gamedir + "/" + file;
        found = true;
    }
    fclose(f);
    if (!found) *error = ini + " has no \"" + std::string(kPlatform) + " <path>\" line";
    return found;
}

int usageError(const std::string& message) {
    fprintf(stderr, "simhost: %s\nTry 'simhost --help'.\n", message.c_str());
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    SimOptions options;
    std::string plugin_path = KOVITV_DEFAULT_PLUGIN;
    std::string plugins_ini;
    std::vector<std::string> maps;
    std::vector<Timed> commands;
    double map_time = 0.0, duration = 0.0;
    MatchOptions match_options;
    bool read_stdin = true;

    for (int i = 1; i < argc; ++i) {
        std::string arg = argv[i];
        auto value = [&](const char** out) {
            if (i + 1 >= argc) return false;
            *out = argv[++i];
            return true;
        };
        const char* v = nullptr;
        std::string key, val;
        if (arg == "--help" || arg == "-h") {
            fputs(kUsage, stdout);
            return 0;
        } else if (arg == "--no-stdin") {
            read_stdin = false;
        } else if (arg == "--show-messages") {
            options.quiet_messages = false;
        } else if (arg == "--hook-times") {
            options.hook_times = true;
        } else if (arg == "--no-overview") {
            match_options.overview_dir.clear();
        } else if (!value(&v)) {
            return usageError(arg.rfind("--", 0) == 0 ? "option " + arg + " needs a value"
                                                      : "unexpected argument " + arg);
        } else if (arg == "--plugin") {
            plugin_path = v;
        } else if (arg == "--plugins-ini") {
            plugins_ini = v;
        } else if (arg == "--game") {
            options.gamedir = v;
        } else if (arg == "--map") {
            maps.emplace_back(v);
        } else if (arg == "--map-time") {
            map_time = atof(v);
        } else if (arg == "--duration") {
            duration = atof(v);
        } else if (arg == "--speed") {
            options.speed = atof(v);
        } else if (arg == "--fps") {
            options.fps = atoi(v);
            if (options.fps < 1 || options.fps > 1000) return usageError("--fps must be 1 to 1000");
        } else if (arg == "--max-clients") {
            options.max_clients = atoi(v);
            if (options.max_clients < 1 || options.max_clients > 32)
                return usageError("--max-clients must be 1 to 32");
        } else if (arg == "--players") {
            match_options.players = atoi(v);
            if (match_options.players < 0 || match_options.players > 32)
                return usageError("--players must be 0 to 32");
        } else if (arg == "--seed") {
            match_options.seed = strtoull(v, nullptr, 10);
        } else if (arg == "--match-length") {
            match_options.rounds_per_map = atoi(v);
            if (match_options.rounds_per_map < 0) return usageError("--match-length must be 0 or more");
        } else if (arg == "--trace") {
            match_options.trace_path = v;
        } else if (arg == "--overview-dir") {
            match_options.overview_dir = v;
        } else if (arg == "--cvar" && splitPair(v, &key, &val)) {
            options.cvars[key] = val;
        } else if (arg == "--localinfo" && splitPair(v, &key, &val)) {
            options.localinfo[key] = val;
        } else if (arg == "--exec") {
            Timed t{-1.0, v};
            if (v[0] == '@') {
                char* end = nullptr;
                t.at = strtod(v + 1, &end);
                while (end && *end == ' ') ++end;
                t.command = end ? end : "";
            }
            commands.push_back(t);
        } else {
            return usageError("unknown option or malformed value: " + arg + " " + v);
        }
    }
    if (maps.empty()) maps.emplace_back("de_kovi");
    if (match_options.players > options.max_clients)
        return usageError("--players cannot exceed --max-clients");
    if (!plugins_ini.empty()) {
        std::string error;
        if (!pluginFromIni(plugins_ini, options.gamedir, &plugin_path, &error)) {
            fprintf(stderr, "simhost: %s\n", error.c_str());
            return 1;
        }
    } else if (plugin_path.find_first_of("/\\") == std::string::npos) {
        // The default plugin sits beside this program.
        std::string self = argv[0];
        size_t slash = self.find_last_of("/\\");
        plugin_path = (slash == std::string::npos ? std::string(".") : self.substr(0, slash)) +
                      "/" + plugin_path;
    }

    initSocketLibrary();
    SimHost host(options);
    Match* match = nullptr;
    if (match_options.players > 0) {
        match = new Match(host, match_options);
        host.setGame(match);  // the host owns it from here
        if (!match_options.trace_path.empty() && !match->traceOpen()) return 2;
    }
    PluginEntryPoints entry;
    std::string error;
    if (!loadPluginLibrary(plugin_path, &entry, &error)) {
        fprintf(stderr, "simhost: cannot load %s: %s\n", plugin_path.c_str(), error.c_str());
        return 1;
    }
    if (!host.load(entry)) return 1;
    if (read_stdin) startConsoleInput();

    size_t map_index = 0;
    host.activateMap(maps[0]);
    // Game time is counted frame by frame: a map change restarts the engine's clock.
    const double frame = 1.0 / options.fps;
    double elapsed = 0.0, map_elapsed = 0.0;
    size_t next_command = 0;
    bool stdin_open = read_stdin;
    std::string running_map = host.mapName();
    for (;;) {
        while (next_command < commands.size() && commands[next_command].at <= elapsed + 1e-9)
            host.command(commands[next_command++].command);
        std::string line;
        ConsoleInput in;
        while (stdin_open && (in = readConsoleLine(&line)) != ConsoleInput::none) {
            if (in == ConsoleInput::closed) {
                stdin_open = false;
                break;
            }
            host.command(line);
        }
        if (host.mapName() != running_map) {  // changed from the console
            running_map = host.mapName();
            map_elapsed = 0.0;
        }
        bool timed_left = next_command < commands.size();
        if (host.quitRequested()) break;
        if (duration > 0.0 && elapsed >= duration - 1e-6) break;
        bool match_limited = match && match_options.rounds_per_map > 0;
        if (duration <= 0.0 && !stdin_open && !timed_left && map_time <= 0.0 && !match_limited)
            break;
        if (match && match->mapDone()) {
            if (duration <= 0.0 && map_index + 1 >= maps.size()) break;
            map_index = (map_index + 1) % maps.size();
            host.activateMap(maps[map_index]);
            running_map = host.mapName();
            map_elapsed = 0.0;
            continue;
        }
        if (map_time > 0.0 && map_elapsed >= map_time - 1e-6) {
            if (duration <= 0.0 && map_index + 1 >= maps.size() && !timed_left) break;
            map_index = (map_index + 1) % maps.size();
            host.activateMap(maps[map_index]);
            running_map = host.mapName();
            map_elapsed = 0.0;
            continue;
        }
        host.runFrame();
        elapsed += frame;
        map_elapsed += frame;
    }

    host.shutdown();
    if (host.hookTimes()) host.print(host.hookTimes()->report());
    bool detached = host.unload();
    if (host.hookWarnings() > 0) {
        fprintf(stderr, "simhost: %d hook calls did not leave the game alone\n", host.hookWarnings());
        return 3;
    }
    return detached ? 0 : 1;
}
