#include "view.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>

namespace {

std::string format(const char* fmt, ...) __attribute__((format(printf, 1, 2)));
std::string format(const char* fmt, ...) {
    char buffer[512];
    va_list args;
    va_start(args, fmt);
    vsnprintf(buffer, sizeof(buffer), fmt, args);
    va_end(args);
    return buffer;
}

// Length of the UTF-8 sequence starting at s (within n bytes), or 0 when it is not one.
size_t utf8Length(const unsigned char* s, size_t n) {
    size_t len = s[0] >= 0xF0 && s[0] <= 0xF4 ? 4 : s[0] >= 0xE0 ? 3 : s[0] >= 0xC2 && s[0] < 0xE0 ? 2 : 0;
    if (len == 0 || len > n) return 0;
    for (size_t i = 1; i < len; i++)
        if ((s[i] & 0xC0) != 0x80) return 0;
    return len;
}

const char* bombText(int state) {
    switch (state) {
        case 1: return "dropped";
        case 2: return "planted";
        default: return "carried";
    }
}

std::string icons(const PlayerState& p) {
    std::string out;
    if (p.m_icons & ICON_C4) out += "C4 ";
    if (p.m_icons & ICON_DEFUSER) out += "kit ";
    if (p.m_state & STATE_FIRED) out += "fire ";
    if (p.m_state & STATE_HIT) out += "hit ";
    if (!out.empty()) out.pop_back();
    return out;
}

// By the state bits alone: the game gives the dead health 1 once they watch as observers.
bool alive(const PlayerState& p) { return (p.m_state & STATE_ALIVE) && !(p.m_state & STATE_DEAD); }

std::string clockText(int seconds) {
    if (seconds == -2) return "-:--";
    if (seconds < 0) return "0:00";
    return format("%d:%02d", seconds / 60, seconds % 60);
}

// Texts from the network never reach the terminal as control sequences.
std::string printable(const std::string& text) {
    std::string out = text;
    for (char& c : out)
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) c = '?';
    return out;
}

std::string cut(const std::string& text, size_t width) {
    return printable(text.size() <= width ? text : text.substr(0, width));
}

void teamRows(std::string& out, const SpectatorGame& game, int team, const char* title) {
    out += format("%s\x1b[K\n", title);
    for (int slot = 0; slot < MAX_PLAYERS; slot++) {
        if (!game.present(slot)) continue;
        const PlayerState& p = game.state().m_players[slot];
        bool spectator = p.m_team != 1 && p.m_team != 2;
        if (team == 0 ? !spectator : p.m_team != team) continue;
        out += format(" %2d %-20s %3d %3d %3d  %-12s %-5s %-13s (%6d, %6d) %4d\x1b[K\n", slot,
                      cut(game.text(p.m_name), 20).c_str(), alive(p) ? p.m_health : 0, p.m_kills,
                      p.m_deaths, weaponName(p.m_weapon), alive(p) ? "alive" : "dead",
                      icons(p).c_str(), p.m_x, p.m_y, p.m_yaw);
    }
}

}  // namespace

std::string jsonString(const std::string& text) {
    std::string out = "\"";
    const unsigned char* s = reinterpret_cast<const unsigned char*>(text.data());
    size_t n = text.size();
    for (size_t i = 0; i < n;) {
        unsigned char c = s[i];
        if (c == '"' || c == '\\') {
            out += '\\';
            out += static_cast<char>(c);
            i++;
        } else if (c < 0x20 || c == 0x7F) {
            out += format("\\u%04x", c);
            i++;
        } else if (c < 0x80) {
            out += static_cast<char>(c);
            i++;
        } else if (size_t len = utf8Length(s + i, n - i)) {
            out.append(text, i, len);
            i += len;
        } else {
            out += format("\\u%04x", c);  // Latin-1
            i++;
        }
    }
    return out + "\"";
}

std::string jsonState(const SpectatorGame& game, double t) {
    const StateManager::States& s = game.state();
    std::string out = format("{\"type\":\"state\",\"t\":%.2f,\"map\":", t);
    out += jsonString(game.mapName());
    out += format(",\"score\":{\"t\":%d,\"ct\":%d},\"round_time\":%d", s.m_score.m_score[1],
                  s.m_score.m_score[2], game.m_round_seconds == -2 ? -1 : game.m_round_seconds);
    out += format(",\"bomb\":{\"state\":\"%s\",\"x\":%d,\"y\":%d}", bombText(s.m_bomb.m_state),
                  s.m_bomb.m_x, s.m_bomb.m_y);
    out += ",\"players\":[";
    bool first = true;
    for (int slot = 0; slot < MAX_PLAYERS; slot++) {
        if (!game.present(slot)) continue;
        const PlayerState& p = s.m_players[slot];
        out += first ? "" : ",";
        first = false;
        out += format("{\"slot\":%d,\"name\":", slot) + jsonString(game.text(p.m_name));
        out += format(",\"team\":\"%s\",\"alive\":%s,\"health\":%d,\"kills\":%d,\"deaths\":%d,"
                      "\"weapon\":\"%s\",\"c4\":%s,\"defuser\":%s,\"state\":%d,\"x\":%d,\"y\":%d,"
                      "\"yaw\":%d}",
                      teamName(p.m_team), alive(p) ? "true" : "false", alive(p) ? p.m_health : 0,
                      p.m_kills,
                      p.m_deaths, weaponName(p.m_weapon), (p.m_icons & ICON_C4) ? "true" : "false",
                      (p.m_icons & ICON_DEFUSER) ? "true" : "false", p.m_state, p.m_x, p.m_y,
                      p.m_yaw);
    }
    out += "],\"grenades\":[";
    first = true;
    for (int id = 0; id < GRENADE_SLOTS; id++) {
        const GrenadeView& g = game.m_grenades[id];
        if (!g.m_active) continue;
        out += first ? "" : ",";
        first = false;
        out += format("{\"id\":%d,\"type\":\"%s\",\"x\":%d,\"y\":%d,\"exploded\":%s}", id,
                      grenadeTypeName(g.m_type), g.m_x, g.m_y,
                      g.m_event == GRENADE_EXPLODED ? "true" : "false");
    }
    return out + "]}";
}

std::string jsonEvent(const GameEvent& e, double t) {
    std::string out = format("{\"t\":%.2f,", t);
    switch (e.m_type) {
        case GameEvent::RESET:
            return out + "\"type\":\"reset\",\"reason\":" + jsonString(e.m_reason) + "}";
        case GameEvent::KILL:
            return out + "\"type\":\"kill\",\"killer\":" + jsonString(e.m_kill.m_killer) +
                   ",\"victim\":" + jsonString(e.m_kill.m_victim) +
                   ",\"weapon\":" + jsonString(e.m_kill.m_weapon) +
                   ",\"headshot\":" + (e.m_kill.m_headshot ? "true" : "false") + "}";
        case GameEvent::CHAT:
            return out + format("\"type\":\"chat\",\"kind\":\"%s\",\"slot\":%d,\"name\":",
                                chatKindName(e.m_chat.m_kind), e.m_chat.m_slot) +
                   jsonString(e.m_chat.m_name) + ",\"text\":" + jsonString(e.m_chat.m_text) + "}";
        case GameEvent::ANNOUNCE:
            return out + format("\"type\":\"announce\",\"code\":%d,\"text\":", e.m_code) +
                   jsonString(announcementText(e.m_code)) + "}";
        case GameEvent::SCOREBOARD: {
            out += format("\"type\":\"scoreboard\",\"wall\":%.3f,\"map\":", e.m_wall) + jsonString(e.m_map);
            out += format(",\"score\":{\"t\":%d,\"ct\":%d},\"players\":[", e.m_score[0], e.m_score[1]);
            for (size_t i = 0; i + 2 < e.m_board.size(); i += 3)
                out += format("%s[%d,%d,%d]", i ? "," : "", e.m_board[i], e.m_board[i + 1],
                              e.m_board[i + 2]);
            return out + "]}";
        }
    }
    return out + "\"type\":\"unknown\"}";
}

std::string jsonTraffic(const Traffic& tr, double t) {
    return format("{\"type\":\"traffic\",\"t\":%.2f,\"bytes_per_s\":%.0f,\"datagrams_per_s\":%.1f,"
                  "\"bytes\":%lld,\"datagrams\":%lld,\"ignored\":%lld,\"damaged\":%lld}",
                  t, tr.m_bytes_per_s, tr.m_datagrams_per_s, tr.m_bytes, tr.m_datagrams,
                  tr.m_ignored, tr.m_damaged);
}

std::string renderTerminal(const SpectatorGame& game, const ViewStatus& st) {
    const StateManager::States& s = game.state();
    const Traffic& tr = *st.m_traffic;
    std::string out = "\x1b[H";
    std::string link = st.m_silent < 0    ? "waiting for the server"
                       : st.m_silent > 3 ? format("silent for %.0f s", st.m_silent)
                                         : "receiving";
    if (st.m_resync_pending) link += ", resync asked";
    out += format("\x1b[1mKOVI TV\x1b[0m  %s  %s  |  %.0f B/s  %.1f datagrams/s  |  %.0f s\x1b[K\n",
                  st.m_server, link.c_str(), tr.m_bytes_per_s, tr.m_datagrams_per_s, st.m_elapsed);
    const char* map = game.mapName();
    out += format("Map %s   Terrorists %d : %d Counter-Terrorists   Round %s   Bomb %s",
                  map[0] ? printable(map).c_str() : "(none)", s.m_score.m_score[1], s.m_score.m_score[2],
                  clockText(game.m_round_seconds).c_str(), bombText(s.m_bomb.m_state));
    if (s.m_bomb.m_state != 0) out += format(" at (%d, %d)", s.m_bomb.m_x, s.m_bomb.m_y);
    out += "\x1b[K\n\x1b[K\n";
    out += format(" %2s %-20s %3s %3s %3s  %-12s %-5s %-13s %-16s %4s\x1b[K\n", "#", "Name", "HP",
                  "K", "D", "Weapon", "", "Icons", "Position", "Yaw");
    teamRows(out, game, 1, "\x1b[31mTerrorists\x1b[0m");
    teamRows(out, game, 2, "\x1b[34mCounter-Terrorists\x1b[0m");
    teamRows(out, game, 0, "Spectators");

    out += "\x1b[K\nGrenades:";
    bool any = false;
    for (int id = 0; id < GRENADE_SLOTS; id++) {
        const GrenadeView& g = game.m_grenades[id];
        if (!g.m_active) continue;
        any = true;
        out += format("  %s #%d (%d, %d)%s", grenadeTypeName(g.m_type), id, g.m_x, g.m_y,
                      g.m_event == GRENADE_EXPLODED ? " exploded" : "");
    }
    out += any ? "\x1b[K\n" : " none\x1b[K\n";
    if (game.m_announcement >= 0)
        out += format("Last: %s\x1b[K\n", announcementText(game.m_announcement));
    out += "Kills:\x1b[K\n";
    for (const KillLine& k : game.m_feed)
        out += format("  %s [%s] %s%s\x1b[K\n",
                      k.m_killer.empty() ? "(world)" : printable(k.m_killer).c_str(),
                      printable(k.m_weapon).c_str(), printable(k.m_victim).c_str(),
                      k.m_headshot ? " (headshot)" : "");
    out += "Chat:\x1b[K\n";
    for (const ChatLine& c : game.m_chat)
        out += format("  [%s] %s: %s\x1b[K\n", chatKindName(c.m_kind),
                      printable(c.m_name).c_str(), printable(c.m_text).c_str());
    out += format("\x1b[K\n%lld datagrams, %lld bytes, %lld ignored, %lld damaged; "
                  "type r and Enter to resync, q to quit\x1b[K\n\x1b[J",
                  tr.m_datagrams, tr.m_bytes, tr.m_ignored, tr.m_damaged);
    return out;
}
