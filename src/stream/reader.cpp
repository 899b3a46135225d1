#include "stream/reader.h"

ChunkReader::ChunkReader(NamesCollection* names) : m_player(nullptr, names), m_map(nullptr, names) {}

void ChunkReader::begin(Packet& packet) {
    m_packet = &packet;
    packet.m_position = PACKET_RESERVED;
    m_skipped = 0;
    m_truncated = false;
    m_header = -1;
}

PacketChunk* ChunkReader::chunkFor(int header) {
    if (header <= CHUNK_PLAYER_LAST) return &m_player;
    switch (header) {
        case CHUNK_MAP: return &m_map;
        case CHUNK_DEATH: return &m_death;
        case CHUNK_MSG: return &m_msg;
        case CHUNK_CHAT: return &m_chat;
        case CHUNK_SCORE: return &m_score;
        case CHUNK_HBEAT: return &m_hbeat;
        case CHUNK_GRENADE: return &m_grenade;
        case CHUNK_BOMB: return &m_bomb;
        case CHUNK_RTIME: return &m_rtime;
        default: return nullptr;
    }
}

PacketChunk* ChunkReader::next() {
    if (m_packet == nullptr) return nullptr;
    Packet& p = *m_packet;
    int length = p.m_length;
    if (length > PACKET_SIZE) length = PACKET_SIZE;
    while (p.m_position < length) {
        m_offset = p.m_position;
        p.m_position += m_plain.loadPacket(p.m_ptr + p.m_position, length - p.m_position);
        int header = m_plain.getHeader();
        PacketChunk* chunk = chunkFor(header);
        if (chunk == nullptr) {
            m_skipped++;
            continue;
        }
        int used = chunk->loadPacket(p.m_ptr + p.m_position, length - p.m_position);
        if (used < 0) {
            m_truncated = true;
            p.m_position = length;
            return nullptr;
        }
        if (chunk == &m_player) m_player.m_got.m_index = static_cast<uint8_t>(header);
        p.m_position += used;
        m_header = header;
        return chunk;
    }
    return nullptr;
}
