// The encoder's work per half-second slot: a busy slot (32 moving players and a few events)
// against its baseline, and writing the result as one demo record.
#include <benchmark/benchmark.h>

#include <cstdio>

#include "broadcast/delayer.h"
#include "demo/demo.h"
#include "state/names.h"
#include "stream/chunks.h"
#include "stream/packet.h"

namespace {

struct BusySlot {
    NamesCollection names;
    StateManager::States slot, baseline;
    int frame = 0;

    // Every player moved and turned; every fourth was hit; a kill and a clock tick happened.
    void fill() {
        frame++;
        for (int i = 0; i < MAX_PLAYERS; i++) {
            PlayerState& p = slot.m_players[i];
            p.m_x = static_cast<int16_t>(i * 100 + frame);
            p.m_y = static_cast<int16_t>(i * -37 - frame);
            p.m_yaw = static_cast<int16_t>(frame % 360);
            p.m_changed = CHANGED_POSITION;
            if (i % 4 == 0) {
                p.m_health = static_cast<uint8_t>(100 - frame % 100);
                p.m_changed |= CHANGED_HEALTH;
            }
        }
        slot.m_events.emplace<DeathPacketChunk>(1, 2, 0, "ak47");
        slot.m_events.emplace<RTimePacketChunk>(frame % 120);
    }
};

void BM_EncodeBusySlot(benchmark::State& state) {
    BusySlot s;
    long bytes = 0;
    for (auto _ : state) {
        s.fill();
        PacketManager packets;
        encodeSlot(&s.slot, &s.baseline, &s.names, MAX_PLAYERS, &packets);
        bytes += packets.bytes();
        s.slot.clear();
    }
    state.counters["bytes/slot"] = benchmark::Counter(double(bytes) / double(state.iterations()));
}
BENCHMARK(BM_EncodeBusySlot);

void BM_EncodeQuietSlot(benchmark::State& state) {
    BusySlot s;
    for (auto _ : state) {
        PacketManager packets;
        encodeSlot(&s.slot, &s.baseline, &s.names, MAX_PLAYERS, &packets);
        benchmark::DoNotOptimize(packets.count());
    }
}
BENCHMARK(BM_EncodeQuietSlot);

void BM_DemoWriteRecord(benchmark::State& state) {
    BusySlot s;
    s.fill();
    PacketManager packets;
    encodeSlot(&s.slot, &s.baseline, &s.names, MAX_PLAYERS, &packets);
    char folder[] = "/tmp/kovitv-bench-XXXXXX";
    DemoRecorder demo;
    if (mkdtemp(folder) == nullptr || demo.init(folder) != 0 || demo.start("de_bench") != 0) {
        state.SkipWithError("no demo file");
        return;
    }
    for (auto _ : state) demo.write(&packets);
    state.SetBytesProcessed(int64_t(state.iterations()) * packets.bytes());
    demo.close();
    remove(demo.path());
}
BENCHMARK(BM_DemoWriteRecord);

}  // namespace

BENCHMARK_MAIN();
