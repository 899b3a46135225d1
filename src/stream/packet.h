// Packets of the spectator stream: 512-byte buffers of two reserved bytes and chunks back to
// back, and the manager that packs the chunks of one snapshot into them.
#pragma once

class PacketChunk;

enum {
    PACKET_SIZE = 512,
    PACKET_RESERVED = 2,
    // The largest chunk data an empty packet takes: 2 reserved + 1 header + 509 = 512.
    PACKET_MAX_CHUNK_DATA = PACKET_SIZE - PACKET_RESERVED - 1,
};

struct Packet {
    char m_data[PACKET_SIZE];
    char* m_ptr;
    int m_length;    // bytes in use, reserved bytes included
    int m_position;  // a reader's offset
    Packet* m_next;  // the manager's list

    void reset();
};

class PacketManager {
public:
    PacketManager() = default;
    ~PacketManager() { clear(); }
    PacketManager(const PacketManager&) = delete;
    PacketManager& operator=(const PacketManager&) = delete;

    // Packs one chunk: never split, a new packet only when the current one is full, dropped
    // when it cannot fit an empty packet. getSize() may settle a chunk's form, hence non-const.
    void addChunk(PacketChunk& chunk);
    void addChunk(PacketChunk&& chunk) { addChunk(chunk); }
    // True when addChunk(chunk) would open a packet; an empty chunk adds nothing.
    bool wouldOpen(PacketChunk& chunk);
    void clear();

    // Appends a copy of raw packet bytes (a demo record, a datagram); false when the length is
    // not 2 to 512.
    bool addRaw(const char* bytes, int length);

    Packet* first() const { return m_packets; }
    int count() const { return m_count; }
    int bytes() const;  // sum of the packets' lengths

    Packet* m_packets = nullptr;  // in the order they were opened
    Packet* m_last = nullptr;
    int m_count = 0;
    Packet* m_current = nullptr;  // the packet being filled, or null before the first chunk

private:
    Packet* open();
    bool opens(int size) const;  // a chunk of size data bytes needs a new packet
};
