// Chunk layouts against hand-written bytes, and write-then-read round trips.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "state/names.h"
#include "stream/chunks.h"
#include "stream/packet.h"
#include "stream/reader.h"
#include "stream_vectors.h"

namespace {

using vectors::Bytes;

// The bytes a chunk puts into a fresh packet, after the two reserved bytes.
Bytes packed(PacketChunk& chunk) {
    PacketManager manager;
    manager.addChunk(chunk);
    if (manager.first() == nullptr) return {};
    const Packet* packet = manager.first();
    return Bytes(packet->m_data + PACKET_RESERVED, packet->m_data + packet->m_length);
}

// A packet holding the given chunk bytes.
void loadBytes(Packet& packet, const Bytes& bytes) {
    packet.reset();
    memcpy(packet.m_data + PACKET_RESERVED, bytes.data(), bytes.size());
    packet.m_length = PACKET_RESERVED + static_cast<int>(bytes.size());
}

PlayerState bob(NamesCollection& names) {
    PlayerState p{};
    p.m_index = 3;
    p.m_x = -1;
    p.m_y = 0x1234;
    p.m_yaw = 90;
    p.m_health = 100;
    p.m_state = STATE_ALIVE | STATE_SPAWNED;
    p.m_kills = 5;
    p.m_deaths = 2;
    p.m_team = 2;
    p.m_name = static_cast<uint32_t>(names.put("Bob"));
    p.m_weapon = 28;
    p.m_icons = ICON_DEFUSER;
    return p;
}

TEST(StreamChunks, StateChunksMatchTheirVectors) {
    NamesCollection names;
    PlayerState player = bob(names);
    PlayerPacketChunk full(&player, &names);
    EXPECT_EQ(full.getSize(), 18);  // 15 + "Bob"
    EXPECT_EQ(packed(full), vectors::kPlayerFull);

    player.m_yaw = -45;
    player.m_deaths = 3;
    PlayerPacketChunk delta(&player, &names);
    delta.m_full = false;
    delta.m_mask = CHANGED_POSITION | CHANGED_KILLS;
    EXPECT_EQ(packed(delta), vectors::kPlayerDelta);

    MapState map{};
    map.m_name = static_cast<uint32_t>(names.put("de_kovi"));
    map.m_zoom = 123;
    map.m_rotated = 1;
    map.m_origin_x = -200;
    map.m_origin_y = 350;
    MapPacketChunk mapChunk(&map, &names);
    EXPECT_EQ(packed(mapChunk), vectors::kMap);

    MapState nameless{};
    MapPacketChunk emptyMap(&nameless, &names);
    EXPECT_EQ(emptyMap.getSize(), 8);
    EXPECT_EQ(packed(emptyMap), vectors::kMapEmpty);

    ScoreState score{};
    score.m_score[0] = 99;  // never sent
    score.m_score[1] = 300;
    score.m_score[2] = 2;
    ScorePacketChunk scoreChunk(&score);
    EXPECT_EQ(packed(scoreChunk), vectors::kScore);

    BombState bomb{};
    bomb.m_x = -1000;
    bomb.m_y = 512;
    bomb.m_state = 2;
    BombPacketChunk bombChunk(&bomb);
    EXPECT_EQ(packed(bombChunk), vectors::kBomb);

    RTimePacketChunk clock(115), over(-1);
    EXPECT_EQ(packed(clock), vectors::kRoundTime);
    EXPECT_EQ(packed(over), vectors::kRoundOver);
}

TEST(StreamChunks, EventChunksMatchTheirVectors) {
    DeathPacketChunk death(255, 4, 1, "knife");
    EXPECT_EQ(death.getSize(), 9);
    EXPECT_EQ(packed(death), vectors::kDeath);

    MsgPacketChunk radio(MSG_BOMBPL);
    EXPECT_EQ(packed(radio), vectors::kRadioBombPlanted);

    ChatPacketChunk chat(2, 7, "gg"), silent(2, 7, "");
    EXPECT_EQ(packed(chat), vectors::kChat);
    EXPECT_EQ(packed(silent), vectors::kChatEmpty);

    HBeatPacketChunk beat;
    EXPECT_EQ(packed(beat), vectors::kHeartbeat);

    GrenadePacketChunk grenade(31, 100, -100, GRENADE_THROWN, GRENADE_HE);
    EXPECT_EQ(packed(grenade), vectors::kGrenade);
}

TEST(StreamChunks, RecordChunksAreEmptyOnlyWhenLeftOut) {
    NamesCollection names;
    PlayerState player{};
    PlayerPacketChunk nothing(&player, &names);
    nothing.m_full = false;
    nothing.m_mask = 0;
    EXPECT_TRUE(nothing.empty());
    EXPECT_EQ(packed(nothing), Bytes{});

    // An unknown name id is written as an empty name.
    player.m_name = 987654;
    PlayerPacketChunk unknown(&player, &names);
    unknown.m_full = false;
    unknown.m_mask = CHANGED_NAME;
    EXPECT_EQ(packed(unknown), (Bytes{0, CHANGED_NAME, 0}));

    ScoreState score{};
    ScorePacketChunk leftOut(&score);
    leftOut.m_full = false;
    leftOut.m_size = 0;
    EXPECT_TRUE(leftOut.empty());
    BombState bomb{};
    BombPacketChunk fullBomb(&bomb);
    EXPECT_EQ(fullBomb.getSize(), 5);
}

TEST(StreamChunks, ReaderReadsEveryVectorBack) {
    NamesCollection names;
    ChunkReader reader(&names);
    Bytes all;
    for (const Bytes* v : {&vectors::kPlayerFull, &vectors::kMap, &vectors::kScore,
                           &vectors::kBomb, &vectors::kRoundOver, &vectors::kDeath,
                           &vectors::kRadioBombPlanted, &vectors::kChat, &vectors::kHeartbeat,
                           &vectors::kGrenade, &vectors::kPlayerDelta})
        all.insert(all.end(), v->begin(), v->end());
    Packet packet;
    loadBytes(packet, all);
    reader.begin(packet);

    ASSERT_NE(reader.next(), nullptr);
    EXPECT_EQ(reader.header(), 3);
    const PlayerState& p = reader.m_player.m_got;
    EXPECT_EQ(reader.m_player.m_mask, 0xFF);
    EXPECT_EQ(p.m_index, 3);
    EXPECT_EQ(p.m_x, -1);
    EXPECT_EQ(p.m_y, 0x1234);
    EXPECT_EQ(p.m_yaw, 90);
    EXPECT_EQ(p.m_health, 100);
    EXPECT_EQ(p.m_kills, 5);
    EXPECT_EQ(p.m_deaths, 2);
    EXPECT_EQ(p.m_team, 2);
    EXPECT_STREQ(names.get(static_cast<int>(p.m_name)), "Bob");
    EXPECT_EQ(p.m_weapon, 28);
    EXPECT_EQ(p.m_icons, ICON_DEFUSER);

    ASSERT_NE(reader.next(), nullptr);
    EXPECT_EQ(reader.header(), CHUNK_MAP);
    EXPECT_STREQ(names.get(static_cast<int>(reader.m_map.m_got.m_name)), "de_kovi");
    EXPECT_EQ(reader.m_map.m_got.m_zoom, 123);
    EXPECT_EQ(reader.m_map.m_got.m_rotated, 1);
    EXPECT_EQ(reader.m_map.m_got.m_origin_x, -200);
    EXPECT_EQ(reader.m_map.m_got.m_origin_y, 350);

    ASSERT_NE(reader.next(), nullptr);
    EXPECT_EQ(reader.m_score.m_terrorists, 44);
    EXPECT_EQ(reader.m_score.m_cts, 2);
    ASSERT_NE(reader.next(), nullptr);
    EXPECT_EQ(reader.m_bomb.m_got.m_x, -1000);
    EXPECT_EQ(reader.m_bomb.m_got.m_y, 512);
    EXPECT_EQ(reader.m_bomb.m_got.m_state, 2);
    ASSERT_NE(reader.next(), nullptr);
    EXPECT_EQ(reader.m_rtime.m_seconds, -1);
    ASSERT_NE(reader.next(), nullptr);
    EXPECT_EQ(reader.m_death.m_killer, 255);
    EXPECT_EQ(reader.m_death.m_victim, 4);
    EXPECT_EQ(reader.m_death.m_headshot, 1);
    EXPECT_STREQ(reader.m_death.m_received, "knife");
    ASSERT_NE(reader.next(), nullptr);
    EXPECT_EQ(reader.m_msg.m_code, MSG_BOMBPL);
    ASSERT_NE(reader.next(), nullptr);
    EXPECT_EQ(reader.m_chat.m_kind, 2);
    EXPECT_EQ(reader.m_chat.m_sender, 7);
    EXPECT_STREQ(reader.m_chat.m_text, "gg");
    ASSERT_NE(reader.next(), nullptr);
    EXPECT_EQ(reader.header(), CHUNK_HBEAT);
    EXPECT_EQ(reader.m_hbeat.m_bytes[0], 2);
    ASSERT_NE(reader.next(), nullptr);
    EXPECT_EQ(reader.m_grenade.m_id, 31);
    EXPECT_EQ(reader.m_grenade.m_x, 100);
    EXPECT_EQ(reader.m_grenade.m_y, -100);
    EXPECT_EQ(reader.m_grenade.m_event, GRENADE_THROWN);
    EXPECT_EQ(reader.m_grenade.m_type, GRENADE_HE);

    // The delta carries only its groups; the same reader object is reused.
    ASSERT_NE(reader.next(), nullptr);
    EXPECT_EQ(reader.m_player.m_mask, CHANGED_POSITION | CHANGED_KILLS);
    EXPECT_EQ(reader.m_player.m_got.m_yaw, -45);
    EXPECT_EQ(reader.m_player.m_got.m_deaths, 3);
    EXPECT_EQ(reader.m_player.m_got.m_name, 0u);

    EXPECT_EQ(reader.next(), nullptr);
    EXPECT_FALSE(reader.m_truncated);
    EXPECT_EQ(reader.m_skipped, 0);
}

// Names of 0, 63, 64 and 300 bytes: a writer cuts at 255 with a matching length byte, a reader
// keeps 63 and still steps over everything.
TEST(StreamChunks, NameLengthsRoundTrip) {
    for (size_t length : {0u, 63u, 64u, 255u, 300u}) {
        SCOPED_TRACE(length);
        NamesCollection written, read;
        std::string name(length, 'n');
        for (size_t i = 0; i < length; i++) name[i] = static_cast<char>('a' + i % 26);
        PlayerState player{};
        player.m_index = 31;
        player.m_name = static_cast<uint32_t>(written.put(name.c_str()));
        player.m_weapon = 7;
        MapState map{};
        map.m_name = player.m_name;
        map.m_zoom = 100;

        PacketManager manager;
        PlayerPacketChunk playerChunk(&player, &written);
        MapPacketChunk mapChunk(&map, &written);
        manager.addChunk(playerChunk);
        manager.addChunk(mapChunk);
        manager.addChunk(HBeatPacketChunk());
        size_t sent = length > 255 ? 255 : length;
        EXPECT_EQ(playerChunk.getSize(), static_cast<int>(15 + sent));
        EXPECT_EQ(mapChunk.getSize(), static_cast<int>(8 + sent));

        ChunkReader reader(&read);
        int chunks = 0;
        for (Packet* packet = manager.first(); packet != nullptr; packet = packet->m_next) {
            reader.begin(*packet);
            while (PacketChunk* chunk = reader.next()) {
                chunks++;
                std::string kept = name.substr(0, sent < 63 ? sent : 63);
                if (chunk == &reader.m_player) {
                    EXPECT_EQ(reader.m_player.m_got.m_weapon, 7);  // the bytes after the name
                    EXPECT_EQ(read.get(static_cast<int>(reader.m_player.m_got.m_name)), kept);
                } else if (chunk == &reader.m_map) {
                    EXPECT_EQ(reader.m_map.m_got.m_zoom, 100);
                    EXPECT_EQ(read.get(static_cast<int>(reader.m_map.m_got.m_name)), kept);
                }
            }
            EXPECT_FALSE(reader.m_truncated);
        }
        EXPECT_EQ(chunks, 3);
    }
}

TEST(StreamChunks, LongTextsAreCutToWhatTheLengthByteSays) {
    std::string text(400, 'x');
    ChatPacketChunk chat(1, 2, text.c_str());
    EXPECT_EQ(chat.getSize(), 3 + 255);
    Bytes bytes = packed(chat);
    ASSERT_EQ(bytes.size(), 1u + 3 + 255);
    EXPECT_EQ(bytes[3], 255);

    DeathPacketChunk death(1, 2, 0, text.c_str());
    EXPECT_EQ(death.getSize(), 4 + 255);
    EXPECT_EQ(packed(death).size(), 1u + 4 + 255);
}

TEST(StreamChunks, ReaderStaysInsideThePacket) {
    NamesCollection names;
    ChunkReader reader(&names);
    Packet packet;

    // Unknown headers 37 and 42+ are stepped over one byte at a time.
    loadBytes(packet, {37, 42, 200, 255, 38, 2, 0, 0});
    reader.begin(packet);
    ASSERT_NE(reader.next(), nullptr);
    EXPECT_EQ(reader.header(), CHUNK_HBEAT);
    EXPECT_EQ(reader.m_skipped, 4);
    EXPECT_EQ(reader.next(), nullptr);

    // Last chunks claiming more than remains: the walk stops, nothing enters the names.
    const Bytes cut[] = {
        {38, 2, 0},                                // heartbeat one byte short
        {3, 0x20, 10, 'a', 'b'},                   // player name longer than the packet
        {3, 0xFF, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 1, 0, 1},  // icons byte missing after the name
        {32, 3, 'a', 'b', 'c', 0, 100, 0},         // map without its origin
        {33, 1, 2, 0, 9, 'k'},                     // death weapon cut
        {35, 1, 2, 200},                           // chat text cut
        {39, 1, 2, 3},                             // grenade cut
    };
    for (const Bytes& bytes : cut) {
        loadBytes(packet, bytes);
        reader.begin(packet);
        EXPECT_EQ(reader.next(), nullptr) << "header " << int(bytes[0]);
        EXPECT_TRUE(reader.m_truncated);
        EXPECT_EQ(packet.m_position, packet.m_length);
    }
    EXPECT_EQ(names.count(), 0);

    // A length beyond the buffer itself is never trusted.
    packet.reset();
    memset(packet.m_data, 38, sizeof packet.m_data);
    packet.m_length = 100000;
    reader.begin(packet);
    int read = 0;
    while (reader.next() != nullptr) read++;
    EXPECT_EQ(read, (PACKET_SIZE - PACKET_RESERVED) / 4);
    EXPECT_TRUE(reader.m_truncated);
}

}  // namespace
