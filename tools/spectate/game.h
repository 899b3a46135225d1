// The game as one spectator sees it: every datagram of the stream is read with the project's
// chunk reader into a mirror of its own (the same code the sender uses), plus what the mirror
// does not keep: the kill feed, chat, announcements, grenades in flight and the round clock.
#pragma once

#include <string>
#include <vector>

#include "broadcast/mirror.h"
#include "state/names.h"
#include "state/state.h"
#include "stream/reader.h"

enum {
    FEED_LINES = 5,        // kills kept for the view
    CHAT_LINES = 6,        // chat lines kept for the view
    GRENADE_SLOTS = 32,    // grenade ids 0..31
    KILLER_WORLD = 255,    // a death without a killing player
};

constexpr double GRENADE_LINGER_S = 2.0;  // an exploded grenade stays on screen this long

struct KillLine {
    std::string m_killer;  // empty: the world
    std::string m_victim;
    std::string m_weapon;
    int m_killer_team = 0;
    int m_victim_team = 0;
    bool m_headshot = false;
};

struct ChatLine {
    int m_kind = 0;
    int m_slot = 0;
    std::string m_name;
    std::string m_text;  // without the line end the game puts at its end
};

struct GrenadeView {
    bool m_active = false;
    int m_type = 0;
    int m_event = 0;
    int m_x = 0;
    int m_y = 0;
    double m_at = 0;  // when it last changed
};

// Something that happened once, for the JSON lines.
struct GameEvent {
    enum Type { RESET, KILL, CHAT, ANNOUNCE, SCOREBOARD } m_type;
    std::string m_reason;  // RESET: "map" (a new map began) or "full" (a full state arrived)
    KillLine m_kill;
    ChatLine m_chat;
    int m_code = 0;        // ANNOUNCE
    // SCOREBOARD: the map, score and each present player's kills and deaths as they stood when
    // a score chunk of the running stream arrived, after every player chunk of its snapshot.
    std::string m_map;
    int m_score[2] = {};  // T, CT
    std::vector<int> m_board;  // slot, kills, deaths, ...
    double m_wall = 0;         // SCOREBOARD: when it arrived, seconds since 1970
};

class SpectatorGame {
public:
    SpectatorGame();
    SpectatorGame(const SpectatorGame&) = delete;
    SpectatorGame& operator=(const SpectatorGame&) = delete;

    // One datagram at now (seconds of the caller's clock). False when it was damaged: not a
    // packet, a chunk running past its end or a byte that is no chunk; the caller asks for a
    // resync.
    bool receive(const char* data, int length, double now);
    // Forgets grenades that exploded more than GRENADE_LINGER_S ago.
    void expire(double now);

    const StateManager::States& state() const { return *m_mirror.slot(0); }
    const char* text(uint32_t id) const { return m_names.get(static_cast<int>(id)); }
    const char* mapName() const { return text(state().m_map.m_name); }
    // A named player who is not disconnecting or still connecting.
    bool present(int slot) const;

    // Set by receive when something is new; the caller clears it after showing it.
    bool m_changed = false;
    // A player chunk for a slot never introduced (no name ever received): packets were lost.
    bool m_gap = false;
    int m_full_states = 0;     // full states received
    int m_round_seconds = -2;  // last round clock; -2 none yet, -1 ran out
    int m_announcement = -1;   // code of the last announcement, -1 none
    std::vector<KillLine> m_feed;   // newest last
    std::vector<ChatLine> m_chat;   // newest last
    GrenadeView m_grenades[GRENADE_SLOTS];
    std::vector<GameEvent> m_events;  // since the caller last emptied it

private:
    void forget(const char* reason, bool names);
    void record(PacketChunk* chunk, double now);
    void scoreboard();

    StateManager m_mirror;
    NamesCollection m_names;
    ChunkReader m_reader;
};

const char* teamName(int team);          // "T", "CT" or "SPECTATOR" (team 0: none or watching)
const char* weaponName(int id);          // Counter-Strike weapon ids; "" when unknown
const char* chatKindName(int kind);      // "CT", "T", "all", ...
const char* announcementText(int code);  // "Terrorists win", ...
const char* grenadeTypeName(int type);   // "smoke", "flash", "HE"
