// Packing and reading a full 32-player snapshot, and a names lookup that hits.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <string>

#include "state/names.h"
#include "state/state.h"
#include "stream/chunks.h"
#include "stream/packet.h"
#include "stream/reader.h"

namespace {

struct Snapshot {
    NamesCollection names;
    StateManager::States slot;

    Snapshot() {
        for (int i = 0; i < MAX_PLAYERS; i++) {
            PlayerState& p = slot.m_players[i];
            char name[16];
            snprintf(name, sizeof name, "player_name_%03d", i);  // 15 characters
            p.m_x = static_cast<int16_t>(i * 100 - 1600);
            p.m_y = static_cast<int16_t>(i * -37);
            p.m_yaw = static_cast<int16_t>(i * 11);
            p.m_health = 100;
            p.m_state = STATE_ALIVE;
            p.m_kills = static_cast<uint8_t>(i);
            p.m_team = static_cast<uint8_t>(1 + i % 2);
            p.m_name = static_cast<uint32_t>(names.put(name));
            p.m_weapon = 28;
            p.m_icons = i == 0 ? ICON_C4 : 0;
        }
        slot.m_map.m_name = static_cast<uint32_t>(names.put("de_kovi"));
        slot.m_map.m_zoom = 100;
        slot.m_score.m_score[1] = 3;
        slot.m_score.m_score[2] = 5;
    }

    // Every group of every player, the map, score and bomb, as a full state is made.
    void pack(PacketManager& out) {
        out.addChunk(HBeatPacketChunk());
        out.addChunk(MapPacketChunk(&slot.m_map, &names));
        out.addChunk(ScorePacketChunk(&slot.m_score));
        out.addChunk(BombPacketChunk(&slot.m_bomb));
        for (PlayerState& player : slot.m_players) out.addChunk(PlayerPacketChunk(&player, &names));
    }
};

void BM_PackFullSnapshot(benchmark::State& state) {
    Snapshot snapshot;
    PacketManager out;
    for (auto _ : state) {
        snapshot.pack(out);
        benchmark::DoNotOptimize(out.m_packets);
        out.clear();  // counted: freeing the packets is part of an element's life
    }
    snapshot.pack(out);
    state.counters["packets"] = out.count();
    state.counters["bytes"] = out.bytes();
}
BENCHMARK(BM_PackFullSnapshot);

void BM_ReadFullSnapshot(benchmark::State& state) {
    Snapshot snapshot;
    PacketManager packets;
    snapshot.pack(packets);
    NamesCollection names;
    ChunkReader reader(&names);
    for (auto _ : state) {
        int chunks = 0;
        for (Packet* p = packets.first(); p != nullptr; p = p->m_next) {
            reader.begin(*p);
            while (reader.next() != nullptr) chunks++;
        }
        benchmark::DoNotOptimize(chunks);
    }
}
BENCHMARK(BM_ReadFullSnapshot);

void BM_NamesPutHit(benchmark::State& state) {
    Snapshot snapshot;  // 33 names, the usual size of one map's collection
    for (auto _ : state) benchmark::DoNotOptimize(snapshot.names.put("player_name_016"));
}
BENCHMARK(BM_NamesPutHit);

}  // namespace

BENCHMARK_MAIN();
