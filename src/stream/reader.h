// Walks the chunks of one packet, one reusable object per chunk class. Unknown header bytes are
// stepped over one at a time; a chunk that claims more bytes than the packet holds ends the walk
// (and sets m_truncated), so no read ever goes past m_length.
#pragma once

#include "stream/chunks.h"
#include "stream/packet.h"

class ChunkReader {
public:
    // Names read back from player and map chunks enter names (may be null).
    explicit ChunkReader(NamesCollection* names);
    ChunkReader(const ChunkReader&) = delete;
    ChunkReader& operator=(const ChunkReader&) = delete;

    // Starts a walk at the packet's first chunk.
    void begin(Packet& packet);
    // The next chunk of the packet, read into this reader's object of its class, or null at
    // the end. Its values hold until the next call.
    PacketChunk* next();

    int header() const { return m_header; }  // of the chunk next() returned
    int offset() const { return m_offset; }  // where that chunk's header byte is

    PacketChunk m_plain;
    PlayerPacketChunk m_player;
    MapPacketChunk m_map;
    DeathPacketChunk m_death;
    MsgPacketChunk m_msg;
    ChatPacketChunk m_chat;
    ScorePacketChunk m_score;
    HBeatPacketChunk m_hbeat;
    GrenadePacketChunk m_grenade;
    BombPacketChunk m_bomb;
    RTimePacketChunk m_rtime;

    int m_skipped = 0;         // unknown header bytes stepped over in this packet
    bool m_truncated = false;  // the walk ended at a chunk running past the packet's end

private:
    PacketChunk* chunkFor(int header);

    Packet* m_packet = nullptr;
    int m_header = -1;
    int m_offset = 0;
};
