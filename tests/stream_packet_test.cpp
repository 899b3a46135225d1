// The packing rule at its boundaries.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "stream/chunks.h"
#include "stream/packet.h"
#include "stream/reader.h"

namespace {

// A chunk of any data size, filled with a recognisable byte.
class SizedChunk : public PacketChunk {
public:
    SizedChunk(int size, char fill) : m_size(size), m_fill(fill) {}
    int storeData(char* out) override {
        memset(out, m_fill, static_cast<size_t>(m_size));
        return m_size;
    }
    int getHeader() override { return CHUNK_HBEAT; }
    int getSize() override { return m_size; }
    bool empty() override { return false; }

private:
    int m_size;
    char m_fill;
};

std::vector<int> lengths(const PacketManager& manager) {
    std::vector<int> out;
    for (Packet* p = manager.first(); p != nullptr; p = p->m_next) out.push_back(p->m_length);
    return out;
}

TEST(StreamPacket, ChunksFillAPacketToExactly512) {
    PacketManager manager;
    manager.addChunk(SizedChunk(497, 'a'));  // 2 + 1 + 497 = 500
    ASSERT_EQ(lengths(manager), std::vector<int>{500});
    manager.addChunk(SizedChunk(11, 'b'));  // 500 + 12 = 512
    EXPECT_EQ(lengths(manager), std::vector<int>{512});

    PacketManager other;
    other.addChunk(SizedChunk(497, 'a'));
    other.addChunk(SizedChunk(12, 'b'));  // would end at 513: a new packet
    EXPECT_EQ(lengths(other), (std::vector<int>{500, 15}));
    EXPECT_EQ(other.m_current, other.m_last);
}

TEST(StreamPacket, LargestChunkFitsAnEmptyPacketAndLargerOnesAreDropped) {
    PacketManager manager;
    manager.addChunk(SizedChunk(PACKET_MAX_CHUNK_DATA, 'z'));
    ASSERT_EQ(lengths(manager), std::vector<int>{512});
    EXPECT_EQ(PACKET_MAX_CHUNK_DATA, 509);

    // 510 cannot fit anywhere: the packet opened for it stays with its two reserved bytes,
    // and the full packet before it is untouched.
    manager.addChunk(SizedChunk(510, 'y'));
    EXPECT_EQ(lengths(manager), (std::vector<int>{512, 2}));
    EXPECT_EQ(manager.first()->m_data[511], 'z');
    EXPECT_EQ(manager.count(), 2);

    // The next chunk goes into that near-empty packet.
    manager.addChunk(HBeatPacketChunk());
    EXPECT_EQ(lengths(manager), (std::vector<int>{512, 6}));
}

TEST(StreamPacket, EmptyChunksOpenNothing) {
    PacketManager manager;
    PacketChunk base;  // the base class is always empty
    manager.addChunk(base);
    ScoreState score{};
    ScorePacketChunk score_chunk(&score);
    score_chunk.m_full = false;
    score_chunk.m_size = 0;
    manager.addChunk(score_chunk);
    EXPECT_EQ(manager.count(), 0);
    EXPECT_EQ(manager.m_current, nullptr);
}

TEST(StreamPacket, ChunksComeBackInTheOrderAdded) {
    PacketManager manager;
    for (int i = 0; i < 300; i++) manager.addChunk(GrenadePacketChunk(i % 32, i, -i, 1, i % 3));
    EXPECT_EQ(manager.count(), 5);  // 63 grenades of 8 bytes per packet
    ChunkReader reader(nullptr);
    int i = 0;
    for (Packet* p = manager.first(); p != nullptr; p = p->m_next) {
        EXPECT_LE(p->m_length, PACKET_SIZE);
        reader.begin(*p);
        while (reader.next() != nullptr) {
            EXPECT_EQ(reader.m_grenade.m_x, i);
            i++;
        }
    }
    EXPECT_EQ(i, 300);
    manager.clear();
    EXPECT_EQ(manager.count(), 0);
    EXPECT_EQ(manager.first(), nullptr);
}

TEST(StreamPacket, RawPacketsKeepTheirBytes) {
    PacketManager manager;
    char bytes[6] = {0, 0, 38, 2, 0, 0};
    EXPECT_TRUE(manager.addRaw(bytes, 6));
    EXPECT_FALSE(manager.addRaw(bytes, 1));
    EXPECT_FALSE(manager.addRaw(bytes, PACKET_SIZE + 1));
    ASSERT_EQ(manager.count(), 1);
    EXPECT_EQ(memcmp(manager.first()->m_data, bytes, 6), 0);
    EXPECT_EQ(manager.bytes(), 6);
}

}  // namespace
