#include "demo/demo_text.h"

#include <cstdarg>
#include <cstdio>

#include "state/names.h"
#include "stream/reader.h"

namespace {

class Line {
public:
    Line(char* out, size_t size, TextStyle style) : m_out(out), m_size(size), m_style(style) {
        if (size > 0) out[0] = '\0';
    }

    void raw(const char* format, ...) __attribute__((format(printf, 2, 3))) {
        if (m_used + 1 >= m_size) return;
        va_list args;
        va_start(args, format);
        int n = vsnprintf(m_out + m_used, m_size - m_used, format, args);
        va_end(args);
        if (n <= 0) return;
        size_t room = m_size - m_used - 1;
        m_used += static_cast<size_t>(n) < room ? static_cast<size_t>(n) : room;
    }

    // The chunk's kind: a word in plain text, the "type" member in JSON.
    void kind(const char* name) {
        if (m_style == TextStyle::json)
            raw("{\"type\":\"%s\"", name);
        else
            raw("%s", name);
    }
    void number(const char* key, long value) {
        if (m_style == TextStyle::json)
            raw(",\"%s\":%ld", key, value);
        else
            raw(" %s=%ld", key, value);
    }
    void hex(const char* key, unsigned value) {
        if (m_style == TextStyle::json)
            raw(",\"%s\":%u", key, value);
        else
            raw(" %s=0x%02x", key, value);
    }
    void triple(const char* key, long a, long b, long c) {
        if (m_style == TextStyle::json)
            raw(",\"%s\":[%ld,%ld,%ld]", key, a, b, c);
        else
            raw(" %s=%ld,%ld,%ld", key, a, b, c);
    }
    void text(const char* key, const char* value) {
        if (m_style == TextStyle::json)
            raw(",\"%s\":\"", key);
        else
            raw(" %s=\"", key);
        for (const unsigned char* p = reinterpret_cast<const unsigned char*>(value); *p; p++) {
            if (*p == '"' || *p == '\\')
                raw("\\%c", *p);
            else if (*p >= 0x20 && *p < 0x7f)
                raw("%c", *p);
            else if (m_style == TextStyle::json)
                raw("\\u%04x", *p);  // a byte read as Latin-1: JSON stays valid whatever came
            else
                raw("\\x%02x", *p);
        }
        raw("\"");
    }
    void end() {
        if (m_style == TextStyle::json) raw("}");
    }

private:
    char* m_out;
    size_t m_size;
    size_t m_used = 0;
    TextStyle m_style;
};

const char* nameOf(NamesCollection* names, uint32_t id) {
    return names != nullptr ? names->get(static_cast<int>(id)) : "";
}

void describePlayer(Line& line, const PlayerPacketChunk& c) {
    const PlayerState& p = c.m_got;
    line.kind("player");
    line.number("slot", p.m_index);
    line.hex("mask", c.m_mask);
    if (c.m_mask & CHANGED_POSITION) line.triple("pos", p.m_x, p.m_y, p.m_yaw);
    if (c.m_mask & CHANGED_HEALTH) line.number("health", p.m_health);
    if (c.m_mask & CHANGED_STATE) line.hex("state", p.m_state);
    if (c.m_mask & CHANGED_KILLS) {
        line.number("kills", p.m_kills);
        line.number("deaths", p.m_deaths);
    }
    if (c.m_mask & CHANGED_TEAM) line.number("team", p.m_team);
    if (c.m_mask & CHANGED_NAME) line.text("name", nameOf(c.m_names, p.m_name));
    if (c.m_mask & CHANGED_WEAPON) line.number("weapon", p.m_weapon);
    if (c.m_mask & CHANGED_ICONS) line.hex("icons", p.m_icons);
}

}  // namespace

void describeChunk(const ChunkReader& r, const PacketChunk* chunk, TextStyle style, char* out,
                   size_t size) {
    Line line(out, size, style);
    if (chunk == &r.m_player) {
        describePlayer(line, r.m_player);
    } else if (chunk == &r.m_map) {
        const MapState& m = r.m_map.m_got;
        line.kind("map");
        line.text("name", nameOf(r.m_map.m_names, m.m_name));
        line.number("zoom", m.m_zoom);
        line.number("rotated", m.m_rotated);
        line.number("x", m.m_origin_x);
        line.number("y", m.m_origin_y);
    } else if (chunk == &r.m_score) {
        line.kind("score");
        line.number("t", r.m_score.m_terrorists);
        line.number("ct", r.m_score.m_cts);
    } else if (chunk == &r.m_bomb) {
        line.kind("bomb");
        line.number("x", r.m_bomb.m_got.m_x);
        line.number("y", r.m_bomb.m_got.m_y);
        line.number("state", r.m_bomb.m_got.m_state);
    } else if (chunk == &r.m_rtime) {
        line.kind("rtime");
        line.number("seconds", r.m_rtime.m_seconds);
    } else if (chunk == &r.m_death) {
        line.kind("death");
        line.number("killer", r.m_death.m_killer);
        line.number("victim", r.m_death.m_victim);
        line.number("headshot", r.m_death.m_headshot);
        line.text("weapon", r.m_death.m_received);
    } else if (chunk == &r.m_msg) {
        line.kind("msg");
        line.number("code", r.m_msg.m_code);
        line.number("arg1", r.m_msg.m_arg1);
        line.number("arg2", r.m_msg.m_arg2);
    } else if (chunk == &r.m_chat) {
        line.kind("chat");
        line.number("kind", r.m_chat.m_kind);
        line.number("sender", r.m_chat.m_sender);
        line.text("text", r.m_chat.m_text);
    } else if (chunk == &r.m_hbeat) {
        line.kind("hbeat");
        line.triple("bytes", r.m_hbeat.m_bytes[0], r.m_hbeat.m_bytes[1], r.m_hbeat.m_bytes[2]);
    } else if (chunk == &r.m_grenade) {
        line.kind("grenade");
        line.number("id", r.m_grenade.m_id);
        line.number("type", r.m_grenade.m_type);
        line.number("event", r.m_grenade.m_event);
        line.number("x", r.m_grenade.m_x);
        line.number("y", r.m_grenade.m_y);
    } else {
        line.kind("unknown");
        line.number("header", r.header());
    }
    line.end();
}
