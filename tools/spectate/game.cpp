#include "game.h"

#include <chrono>
#include <cstring>

#include "stream/chunks.h"

SpectatorGame::SpectatorGame() : m_reader(&m_names) { m_mirror.allocate(0); }

bool SpectatorGame::present(int slot) const {
    if (slot < 0 || slot >= MAX_PLAYERS) return false;
    const PlayerState& p = state().m_players[slot];
    if (text(p.m_name)[0] == '\0') return false;
    // Connection changes carry 0xC0 without the alive bit until the player is in the game.
    return !((p.m_state & STATE_CONNECTION) && !(p.m_state & STATE_ALIVE));
}

void SpectatorGame::forget(const char* reason, bool names) {
    if (names)
        clearMirror(m_mirror, m_names);
    else
        m_mirror.clear();  // the names of the chunk being read stay valid
    for (GrenadeView& g : m_grenades) g = GrenadeView();
    m_round_seconds = -2;
    if (names) {  // a new map: the old one's history goes with it
        m_feed.clear();
        m_chat.clear();
        m_announcement = -1;
    }
    GameEvent e{GameEvent::RESET, reason, {}, {}, 0, "", {}, {}, 0};
    m_events.push_back(e);
}

void SpectatorGame::record(PacketChunk* chunk, double now) {
    const StateManager::States& s = state();
    auto nameOf = [&](int slot) -> std::string {
        return slot >= 0 && slot < MAX_PLAYERS ? text(s.m_players[slot].m_name) : "";
    };
    auto teamOf = [&](int slot) { return slot >= 0 && slot < MAX_PLAYERS ? s.m_players[slot].m_team : 0; };
    if (chunk == &m_reader.m_death) {
        const DeathPacketChunk& d = m_reader.m_death;
        KillLine k;
        k.m_killer = d.m_killer == KILLER_WORLD ? "" : nameOf(d.m_killer);
        k.m_victim = nameOf(d.m_victim);
        k.m_weapon = d.m_received;
        k.m_killer_team = d.m_killer == KILLER_WORLD ? 0 : teamOf(d.m_killer);
        k.m_victim_team = teamOf(d.m_victim);
        k.m_headshot = d.m_headshot != 0;
        m_feed.push_back(k);
        if (m_feed.size() > FEED_LINES) m_feed.erase(m_feed.begin());
        m_events.push_back(GameEvent{GameEvent::KILL, "", k, {}, 0, "", {}, {}, 0});
    } else if (chunk == &m_reader.m_chat) {
        const ChatPacketChunk& c = m_reader.m_chat;
        ChatLine line{c.m_kind, c.m_sender, nameOf(c.m_sender), c.m_text};
        // The game ends each line with a line end: shown, it would be a stray '?' or an empty
        // line.
        while (!line.m_text.empty() && (line.m_text.back() == '\n' || line.m_text.back() == '\r'))
            line.m_text.pop_back();
        m_chat.push_back(line);
        if (m_chat.size() > CHAT_LINES) m_chat.erase(m_chat.begin());
        m_events.push_back(GameEvent{GameEvent::CHAT, "", {}, line, 0, "", {}, {}, 0});
    } else if (chunk == &m_reader.m_msg) {
        m_announcement = m_reader.m_msg.m_code;
        m_events.push_back(GameEvent{GameEvent::ANNOUNCE, "", {}, {}, m_announcement, "", {}, {}, 0});
    } else if (chunk == &m_reader.m_grenade) {
        const GrenadePacketChunk& g = m_reader.m_grenade;
        GrenadeView& view = m_grenades[g.m_id % GRENADE_SLOTS];
        view.m_active = true;
        view.m_type = g.m_type;
        view.m_event = g.m_event;
        view.m_x = g.m_x;
        view.m_y = g.m_y;
        view.m_at = now;
    } else if (chunk == &m_reader.m_rtime) {
        m_round_seconds = m_reader.m_rtime.m_seconds;
    }
}

bool SpectatorGame::receive(const char* data, int length, double now) {
    if (length < PACKET_RESERVED || length > PACKET_SIZE) return false;
    Packet packet;
    packet.reset();
    memcpy(packet.m_data, data, static_cast<size_t>(length));
    packet.m_length = length;
    // The stream has no reset mark: a map begins with an empty map name. The map chunk comes
    // after the element's players, so the reset is done before any chunk of its datagram.
    m_reader.begin(packet);
    while (PacketChunk* chunk = m_reader.next()) {
        if (chunk == &m_reader.m_map && text(m_reader.m_map.m_got.m_name)[0] == '\0') {
            forget("map", true);
            break;
        }
    }
    m_reader.begin(packet);
    bool leading_heartbeat = false;
    bool full_state = false;  // a full state's score comes before its players: no scoreboard
    int index = 0;
    while (PacketChunk* chunk = m_reader.next()) {
        if (chunk == &m_reader.m_map && leading_heartbeat && index == 1) {
            // A full state opens with a heartbeat and the map, and replaces everything.
            if (text(m_reader.m_map.m_got.m_name)[0] != '\0') forget("full", false);
            m_full_states++;
            full_state = true;
        } else if (chunk == &m_reader.m_player) {
            const PlayerState& known = state().m_players[m_reader.header()];
            if (!(known.m_changed & CHANGED_NAME) && !(m_reader.m_player.m_mask & CHANGED_NAME))
                m_gap = true;
        }
        leading_heartbeat = index == 0 && chunk == &m_reader.m_hbeat;
        applyChunk(*m_mirror.slot(0), m_reader, chunk);
        record(chunk, now);
        if (chunk == &m_reader.m_score && !full_state) scoreboard();
        index++;
    }
    m_changed = true;
    return !m_reader.m_truncated && m_reader.m_skipped == 0;
}

void SpectatorGame::scoreboard() {
    if (mapName()[0] == '\0') return;  // a map's opening: its name comes in a later element
    const StateManager::States& s = state();
    GameEvent e{GameEvent::SCOREBOARD, "", {}, {}, 0, "", {}, {}, 0};
    e.m_map = mapName();
    e.m_wall = std::chrono::duration<double>(std::chrono::system_clock::now().time_since_epoch()).count();
    e.m_score[0] = s.m_score.m_score[1];
    e.m_score[1] = s.m_score.m_score[2];
    for (int slot = 0; slot < MAX_PLAYERS; slot++) {
        if (!present(slot)) continue;
        e.m_board.insert(e.m_board.end(), {slot, s.m_players[slot].m_kills, s.m_players[slot].m_deaths});
    }
    m_events.push_back(e);
}

void SpectatorGame::expire(double now) {
    for (GrenadeView& g : m_grenades) {
        if (!g.m_active || g.m_event != GRENADE_EXPLODED) continue;  // in flight until it explodes
        if (now - g.m_at > GRENADE_LINGER_S) {
            g.m_active = false;
            m_changed = true;
        }
    }
}

const char* teamName(int team) {
    switch (team) {
        case 1: return "T";
        case 2: return "CT";
        default: return "SPECTATOR";
    }
}

const char* weaponName(int id) {
    static const char* const names[] = {
        "",      "p228",  "shield", "scout",   "hegrenade", "xm1014", "c4",     "mac10",
        "aug",   "smokegrenade", "elite", "fiveseven", "ump45", "sg550", "galil", "famas",
        "usp",   "glock18", "awp",   "mp5navy", "m249",     "m3",     "m4a1",   "tmp",
        "g3sg1", "flashbang", "deagle", "sg552", "ak47",     "knife",  "p90",    ""};
    return id >= 0 && id < 32 ? names[id] : "";
}

const char* chatKindName(int kind) {
    static const char* const names[] = {"CT", "T", "all", "CT dead", "T dead", "all dead",
                                        "all spectators", "spectators"};
    return kind >= 0 && kind < 8 ? names[kind] : "?";
}

const char* announcementText(int code) {
    switch (code) {
        case MSG_CTWIN: return "Counter-Terrorists win";
        case MSG_TERWIN: return "Terrorists win";
        case MSG_BOMBPL: return "Bomb planted";
        case MSG_BOMBDEF: return "Bomb defused";
        case MSG_ROUNDDRAW: return "Round draw";
        default: return "";
    }
}

const char* grenadeTypeName(int type) {
    switch (type) {
        case GRENADE_SMOKE: return "smoke";
        case GRENADE_FLASH: return "flash";
        case GRENADE_HE: return "HE";
        default: return "?";
    }
}
