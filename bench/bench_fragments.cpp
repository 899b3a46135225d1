// The spectator sender's extra cost per element for the fragment store: the same send phase
// (no spectators, so only the mirror and the store work) with and without the store. The
// difference (time per iteration is per element) is the store's share, including the full
// state built once per fragment.
#include <benchmark/benchmark.h>

#include <string>

#include "broadcast/fragments.h"
#include "broadcast/sender.h"
#include "stream/chunks.h"

namespace {

void noOverview(const char*, char* out, int size) {
    if (size > 0) out[0] = '\0';
}

void sendElements(benchmark::State& state, bool keep) {
    DatagramSocket socket;  // never opened: nobody is connected
    ConnectionManager connections;
    StateManager mirror, game;
    NamesCollection names, game_names;
    mirror.allocate(0);
    game.allocate(0);
    FragmentStore store;
    store.m_find_overview = noOverview;
    SpectatorSender sender(&socket, &connections, &mirror, &names);
    sender.m_max_clients = 32;
    if (keep) sender.m_fragments = &store;

    // A 32-player snapshot: every player's full record, about three packets.
    PacketBuffer::BufferElement element;
    for (int i = 0; i < 32; i++) {
        PlayerState& p = game.slot(0)->m_players[i];
        p.m_index = uint8_t(i);
        p.m_x = int16_t(i * 10);
        p.m_name = uint32_t(game_names.put(("player" + std::to_string(i)).c_str()));
        element.m_packets.addChunk(PlayerPacketChunk(&p, &game_names));
    }
    for (auto _ : state) sender.sendPhase(element);
    state.SetItemsProcessed(state.iterations());
}

void BM_SendPhaseWithoutStore(benchmark::State& state) { sendElements(state, false); }
void BM_SendPhaseWithStore(benchmark::State& state) { sendElements(state, true); }

}  // namespace

BENCHMARK(BM_SendPhaseWithoutStore);
BENCHMARK(BM_SendPhaseWithStore);
BENCHMARK_MAIN();
