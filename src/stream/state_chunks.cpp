// Player, map, score and bomb chunks, and the heartbeat.
#include <cstring>

#include "state/bytes.h"
#include "state/names.h"
#include "stream/chunks.h"

namespace {

const char* nameText(NamesCollection* names, uint32_t id) {
    return names != nullptr ? names->get(static_cast<int>(id)) : "";
}

int readName(const char* in, int available, NamesCollection* names, uint32_t* id) {
    char text[NAME_READ_MAX + 1];
    int used = readText(in, available, text, NAME_READ_MAX);
    if (used < 0) return -1;
    *id = names != nullptr ? static_cast<uint32_t>(names->put(text)) : 0;
    return used;
}

}  // namespace

int PlayerPacketChunk::groupSize(uint8_t bit) {
    switch (bit) {
        case CHANGED_POSITION: return 6;
        case CHANGED_KILLS: return 2;
        case CHANGED_NAME: return 1;  // plus the text
        default: return 1;
    }
}

int PlayerPacketChunk::getHeader() { return m_record != nullptr ? m_record->m_index : m_got.m_index; }

int PlayerPacketChunk::getSize() {
    if (m_full) {
        m_mask = 0xFF;
        m_full = false;
    }
    // Derived from the mask every time, so the size promised always equals what storeData
    // writes, whatever a delta writer put in m_size.
    int size = 1;
    for (int bit = 0x01; bit <= 0x80; bit <<= 1)
        if (m_mask & bit) size += groupSize(static_cast<uint8_t>(bit));
    if ((m_mask & CHANGED_NAME) && m_record != nullptr)
        size += wireTextLength(nameText(m_names, m_record->m_name));
    m_size = size;
    return m_size;
}

int PlayerPacketChunk::storeData(char* out) {
    const PlayerState& r = *m_record;
    char* at = out;
    putByte(at++, m_mask);
    if (m_mask & CHANGED_POSITION) {
        putShort(at, r.m_x);
        putShort(at + 2, r.m_y);
        putShort(at + 4, r.m_yaw);
        at += 6;
    }
    if (m_mask & CHANGED_HEALTH) putByte(at++, r.m_health);
    if (m_mask & CHANGED_STATE) putByte(at++, r.m_state);
    if (m_mask & CHANGED_KILLS) {
        putByte(at++, r.m_kills);
        putByte(at++, r.m_deaths);
    }
    if (m_mask & CHANGED_TEAM) putByte(at++, r.m_team);
    if (m_mask & CHANGED_NAME) at += writeText(at, nameText(m_names, r.m_name));
    if (m_mask & CHANGED_WEAPON) putByte(at++, r.m_weapon);
    if (m_mask & CHANGED_ICONS) putByte(at++, r.m_icons);
    return static_cast<int>(at - out);
}

int PlayerPacketChunk::loadPacket(const char* in, int available) {
    if (available < 1) return -1;
    uint8_t mask = getByte(in);
    // Fixed groups first, so a short chunk is refused before any name enters the collection.
    int fixed = 1;
    for (int bit = 0x01; bit <= 0x80; bit <<= 1)
        if (mask & bit) fixed += groupSize(static_cast<uint8_t>(bit));
    if (fixed > available) return -1;

    PlayerState got{};
    got.m_index = m_got.m_index;
    int at = 1;
    if (mask & CHANGED_POSITION) {
        got.m_x = static_cast<int16_t>(getShort(in + at));
        got.m_y = static_cast<int16_t>(getShort(in + at + 2));
        got.m_yaw = static_cast<int16_t>(getShort(in + at + 4));
        at += 6;
    }
    if (mask & CHANGED_HEALTH) got.m_health = getByte(in + at++);
    if (mask & CHANGED_STATE) got.m_state = getByte(in + at++);
    if (mask & CHANGED_KILLS) {
        got.m_kills = getByte(in + at++);
        got.m_deaths = getByte(in + at++);
    }
    if (mask & CHANGED_TEAM) got.m_team = getByte(in + at++);
    if (mask & CHANGED_NAME) {
        // Checked before the name is entered: the bytes after it must be there too.
        if (available - at < 1 || 1 + getByte(in + at) + (fixed - at - 1) > available - at)
            return -1;
        int used = readName(in + at, available - at, m_names, &got.m_name);
        if (used < 0) return -1;
        at += used;
    }
    if (mask & CHANGED_WEAPON) got.m_weapon = getByte(in + at++);
    if (mask & CHANGED_ICONS) got.m_icons = getByte(in + at++);
    got.m_changed = mask;
    m_mask = mask;
    m_got = got;
    m_size = at;
    return at;
}

int MapPacketChunk::getSize() {
    if (m_full || m_size != 0) {
        m_size = 8 + (m_record != nullptr ? wireTextLength(nameText(m_names, m_record->m_name)) : 0);
        m_full = false;
    }
    return m_size;
}

int MapPacketChunk::storeData(char* out) {
    const MapState& r = *m_record;
    int at = writeText(out, nameText(m_names, r.m_name));
    putShort(out + at, r.m_zoom);
    putByte(out + at + 2, r.m_rotated);
    putShort(out + at + 3, r.m_origin_x);
    putShort(out + at + 5, r.m_origin_y);
    return at + 7;
}

int MapPacketChunk::loadPacket(const char* in, int available) {
    if (available < 1 || 1 + getByte(in) + 7 > available) return -1;
    MapState got{};
    int at = readName(in, available, m_names, &got.m_name);
    if (at < 0) return -1;
    got.m_zoom = getShort(in + at);
    got.m_rotated = getByte(in + at + 2);
    got.m_origin_x = static_cast<int16_t>(getShort(in + at + 3));
    got.m_origin_y = static_cast<int16_t>(getShort(in + at + 5));
    got.m_changed = 1;
    m_got = got;
    return at + 7;
}

int ScorePacketChunk::getSize() {
    if (m_full || m_size != 0) {
        m_size = 2;
        m_full = false;
    }
    return m_size;
}

int ScorePacketChunk::storeData(char* out) {
    putByte(out, m_record->m_score[1]);
    putByte(out + 1, m_record->m_score[2]);
    return 2;
}

int ScorePacketChunk::loadPacket(const char* in, int available) {
    if (available < 2) return -1;
    m_terrorists = static_cast<int8_t>(getByte(in));
    m_cts = static_cast<int8_t>(getByte(in + 1));
    return 2;
}

int BombPacketChunk::getSize() {
    if (m_full || m_size != 0) {
        m_size = 5;
        m_full = false;
    }
    return m_size;
}

int BombPacketChunk::storeData(char* out) {
    putShort(out, m_record->m_x);
    putShort(out + 2, m_record->m_y);
    putByte(out + 4, m_record->m_state);
    return 5;
}

int BombPacketChunk::loadPacket(const char* in, int available) {
    if (available < 5) return -1;
    m_got.m_x = static_cast<int16_t>(getShort(in));
    m_got.m_y = static_cast<int16_t>(getShort(in + 2));
    m_got.m_state = getByte(in + 4);
    m_got.m_changed = 1;
    return 5;
}

int HBeatPacketChunk::storeData(char* out) {
    for (int i = 0; i < 3; i++) putByte(out + i, m_bytes[i]);
    return 3;
}

int HBeatPacketChunk::loadPacket(const char* in, int available) {
    if (available < 3) return -1;
    for (int i = 0; i < 3; i++) m_bytes[i] = getByte(in + i);
    return 3;
}
