// What one map of a game came to, told three ways so that one can be held against another: the
// server's own log (mp_logdetail 3), simhost's trace, and a demo file read as a spectator reads
// the stream (spectate's model of the game).
#pragma once

#include <map>
#include <string>
#include <vector>

struct PlayerFacts {
    std::string team;  // "T", "CT", "SPECTATOR"; empty when not known
    int kills = 0;     // the scoreboard's frags: a team mate's kill or one's own grenade takes one
    int deaths = 0;
};

struct MapFacts {
    std::vector<std::string> kills;   // "killer > victim with weapon"; the world is "(world)"
    std::vector<std::string> chats;   // "name [kind]: text", without the game's line end
    std::vector<std::string> rounds;  // each round's winner in order: "T", "CT" or "draw"
    int plants = 0;
    int defuses = 0;
    int score_t = 0;
    int score_ct = 0;
    std::map<std::string, PlayerFacts> players;  // by name, as last seen on the map
};

// The maps of a server's log files read in order; each "Loading map" line opens one, and
// Metamod's re-reading of its plugins (ServerDeactivate) closes it.
std::vector<MapFacts> factsOfLogs(const std::vector<std::string>& paths);
// The maps of a simhost trace; each "map" line opens one.
std::vector<MapFacts> factsOfTrace(const std::string& path);
// One demo file; false with the reason when it cannot be read to its end.
bool factsOfDemo(const std::string& path, MapFacts* facts, std::string* fault);
// What the demo has otherwise than expected, one line each in a fixed order; empty when they
// agree. Kills and chat lines are compared as collections: the log's order within a second is
// not the stream's.
std::vector<std::string> differences(const MapFacts& expected, const MapFacts& demo);
