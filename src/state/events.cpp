// The base chunk and the event chunks.
#include "state/events.h"

#include <cstring>

#include "state/bytes.h"

int wireTextLength(const char* text) {
    if (text == nullptr) return 0;
    size_t length = strlen(text);
    return length > TEXT_MAX ? TEXT_MAX : static_cast<int>(length);
}

// Reads a length byte and that many bytes at in (available bytes there), keeping at most
// keep bytes in out (terminated). Returns the bytes consumed, or -1 when the text runs past.
int readText(const char* in, int available, char* out, int keep) {
    if (available < 1) return -1;
    int length = getByte(in);
    if (1 + length > available) return -1;
    int kept = length < keep ? length : keep;
    memcpy(out, in + 1, static_cast<size_t>(kept));
    out[kept] = '\0';
    return 1 + length;
}

int writeText(char* out, const char* text) {
    int length = wireTextLength(text);
    putByte(out, length);
    if (length > 0) memcpy(out + 1, text, static_cast<size_t>(length));
    return 1 + length;
}

int PacketChunk::storeData(char*) { return 0; }
int PacketChunk::loadData(const char*) { return 0; }
PacketChunk::~PacketChunk() = default;
int PacketChunk::getHeader() { return m_header; }
int PacketChunk::getSize() { return 1; }
bool PacketChunk::empty() { return true; }

int PacketChunk::loadPacket(const char* in, int available) {
    if (available < 1) return -1;
    m_header = getByte(in);
    return 1 + loadData(in + 1);
}

DeathPacketChunk::DeathPacketChunk(int killer, int victim, int headshot, const char* weapon)
    : m_killer(static_cast<uint8_t>(killer)), m_victim(static_cast<uint8_t>(victim)),
      m_headshot(static_cast<uint8_t>(headshot)), m_weapon(weapon),
      m_size(4 + wireTextLength(weapon)) {}

int DeathPacketChunk::storeData(char* out) {
    putByte(out, m_killer);
    putByte(out + 1, m_victim);
    putByte(out + 2, m_headshot);
    writeText(out + 3, m_weapon);
    return m_size;
}

int DeathPacketChunk::loadPacket(const char* in, int available) {
    if (available < 4) return -1;
    int text = readText(in + 3, available - 3, m_received, TEXT_MAX);
    if (text < 0) return -1;
    m_killer = getByte(in);
    m_victim = getByte(in + 1);
    m_headshot = getByte(in + 2);
    return 3 + text;
}

int MsgPacketChunk::storeData(char* out) {
    putByte(out, m_code);
    putByte(out + 1, m_arg1);
    putByte(out + 2, m_arg2);
    return 3;
}

int MsgPacketChunk::loadPacket(const char* in, int available) {
    if (available < 3) return -1;
    m_code = getByte(in);
    m_arg1 = getByte(in + 1);
    m_arg2 = getByte(in + 2);
    return 3;
}

ChatPacketChunk::ChatPacketChunk(int kind, int sender, const char* text)
    : m_length(wireTextLength(text)), m_kind(static_cast<uint8_t>(kind)),
      m_sender(static_cast<uint8_t>(sender)) {
    if (m_length > 0) memcpy(m_text, text, static_cast<size_t>(m_length));
    m_text[m_length] = '\0';
    m_size = 3 + m_length;
}

int ChatPacketChunk::storeData(char* out) {
    putByte(out, m_kind);
    putByte(out + 1, m_sender);
    writeText(out + 2, m_text);
    return m_size;
}

int ChatPacketChunk::loadPacket(const char* in, int available) {
    if (available < 3) return -1;
    int text = readText(in + 2, available - 2, m_text, TEXT_MAX);
    if (text < 0) return -1;
    m_kind = getByte(in);
    m_sender = getByte(in + 1);
    m_length = static_cast<int>(strlen(m_text));
    m_size = 3 + m_length;
    return 2 + text;
}

int GrenadePacketChunk::storeData(char* out) {
    putByte(out, m_id);
    putShort(out + 1, m_x);
    putShort(out + 3, m_y);
    putByte(out + 5, m_event);
    putByte(out + 6, m_type);
    return m_size;
}

int GrenadePacketChunk::loadPacket(const char* in, int available) {
    if (available < 7) return -1;
    m_id = getByte(in);
    m_x = static_cast<int16_t>(getShort(in + 1));
    m_y = static_cast<int16_t>(getShort(in + 3));
    m_event = getByte(in + 5);
    m_type = getByte(in + 6);
    return 7;
}

int RTimePacketChunk::storeData(char* out) {
    putShort(out, m_seconds);
    return 2;
}

int RTimePacketChunk::loadPacket(const char* in, int available) {
    if (available < 2) return -1;
    m_seconds = static_cast<int16_t>(getShort(in));
    return 2;
}
