// The capture's hot paths, called as the engine calls them: one argument of a message nobody
// reads and of one the capture reads, the start of a message, one player's PlayerPostThink and a
// StartFrame that neither opens a slot nor ticks the clock. Goals: 5 ns, 20 ns, 50 ns.
#include <benchmark/benchmark.h>

#include "capture/messages.h"
#include "plugin/hooks.h"
#include "plugin/host.h"
#include "state/state.h"

namespace {

struct Host {
    globalvars_t globals{};
    meta_globals_t meta{};
    edict_t edicts[33]{};
    char strings[1] = "";

    Host() {
        gpGlobals = &globals;
        gpMetaGlobals = &meta;
        globals.pStringBase = strings;
        globals.time = 1.0f;
        int id = 64 + 7;  // Health, registered by the game
        meta.orig_ret = &id;
        RegUserMsg_Post("Health", 1);
        meta.orig_ret = nullptr;
        g_first_player = &edicts[0];
        g_statemgr.allocate(15);
        g_statemgr.restart(&globals.time);
        g_roundtime.m_seconds = -1;  // a stopped clock: no chunk per second
        edict_t& e = edicts[1];
        e.v.health = 100;
        e.v.movetype = MOVETYPE_WALK;
        e.v.origin[0] = 1234.5f;
        e.v.origin[1] = -876.25f;
        e.v.v_angle[1] = 90.7f;
    }
};

Host& host() {
    static Host h;
    return h;
}

void BM_WriteNotIntercepted(benchmark::State& state) {
    host();
    MessageBegin(MSG_ALL, 200, nullptr, nullptr);
    int value = 0;
    for (auto _ : state) WriteByte(value++);
}
BENCHMARK(BM_WriteNotIntercepted);

void BM_WriteIntercepted(benchmark::State& state) {
    Host& h = host();
    MessageBegin(MSG_ONE, gmsgHealth, nullptr, &h.edicts[1]);
    int value = 0;
    for (auto _ : state) {
        mState = 0;  // every call takes the acting path
        WriteByte(value++ & 0x7F);
    }
}
BENCHMARK(BM_WriteIntercepted);

void BM_MessageBegin(benchmark::State& state) {
    Host& h = host();
    for (auto _ : state) MessageBegin(MSG_ONE, gmsgHealth, nullptr, &h.edicts[1]);
}
BENCHMARK(BM_MessageBegin);

void BM_PlayerPostThink(benchmark::State& state) {
    Host& h = host();
    for (auto _ : state) {
        PlayerPostThink(&h.edicts[1]);
        h.edicts[1].v.origin[0] += 0.5f;
    }
}
BENCHMARK(BM_PlayerPostThink);

void BM_StartFrameNoSlotChange(benchmark::State& state) {
    Host& h = host();
    h.globals.time = g_current->m_time.load() - 0.25f;
    for (auto _ : state) StartFrame();
}
BENCHMARK(BM_StartFrameNoSlotChange);

}  // namespace

BENCHMARK_MAIN();
