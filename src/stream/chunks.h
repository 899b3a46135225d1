// The chunk family on the wire: the events of state/events.h and the state chunks, built from a
// slot's records. Writers build chunks and hand them to PacketManager::addChunk; readers keep one
// object per class and reuse it (see reader.h).
#pragma once

#include <cstdint>

#include "state/events.h"
#include "state/state.h"

class NamesCollection;

class PlayerPacketChunk : public PacketChunk {
public:
    explicit PlayerPacketChunk(PlayerState* record = nullptr, NamesCollection* names = nullptr)
        : m_record(record), m_names(names) {}
    int storeData(char* out) override;
    int getHeader() override;
    int getSize() override;  // full form: every group, mask 0xFF
    bool empty() override { return getSize() == 1; }
    int loadPacket(const char* in, int available) override;

    static int groupSize(uint8_t bit);  // fixed size of a group other than the name

    PlayerState* m_record;
    int m_size = 1;
    bool m_full = true;
    NamesCollection* m_names;
    uint8_t m_mask = 0;
    PlayerState m_got{};  // values read: groups of m_mask, m_name an id of m_names
};

class MapPacketChunk : public PacketChunk {
public:
    explicit MapPacketChunk(MapState* record = nullptr, NamesCollection* names = nullptr)
        : m_record(record), m_names(names) {}
    int storeData(char* out) override;
    int getHeader() override { return CHUNK_MAP; }
    int getSize() override;
    bool empty() override { return getSize() == 0; }
    int loadPacket(const char* in, int available) override;

    MapState* m_record;
    int m_size = 0;
    bool m_full = true;
    NamesCollection* m_names;
    MapState m_got{};
};

class ScorePacketChunk : public PacketChunk {
public:
    explicit ScorePacketChunk(ScoreState* record = nullptr) : m_record(record) {}
    int storeData(char* out) override;
    int getHeader() override { return CHUNK_SCORE; }
    int getSize() override;
    bool empty() override { return getSize() == 0; }
    int loadPacket(const char* in, int available) override;

    ScoreState* m_record;
    int m_size = 0;
    bool m_full = true;
    int8_t m_terrorists = 0;  // read back
    int8_t m_cts = 0;
};

class BombPacketChunk : public PacketChunk {
public:
    explicit BombPacketChunk(BombState* record = nullptr) : m_record(record) {}
    int storeData(char* out) override;
    int getHeader() override { return CHUNK_BOMB; }
    int getSize() override;
    bool empty() override { return getSize() == 0; }
    int loadPacket(const char* in, int available) override;

    BombState* m_record;
    int m_size = 0;
    bool m_full = true;
    BombState m_got{};
};

class HBeatPacketChunk : public PacketChunk {
public:
    explicit HBeatPacketChunk(int a = 2, int b = 0, int c = 0)
        : m_bytes{static_cast<uint8_t>(a), static_cast<uint8_t>(b), static_cast<uint8_t>(c)} {}
    int storeData(char* out) override;
    int getHeader() override { return CHUNK_HBEAT; }
    int getSize() override { return 3; }
    bool empty() override { return false; }
    int loadPacket(const char* in, int available) override;

    uint8_t m_bytes[3];
};
