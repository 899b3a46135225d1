// libFuzzer target: what a spectator client does with hostile datagrams. The input is a run of
// packets, each a two-byte big-endian length and its bytes; every packet is walked chunk by chunk
// (each described as text) and applied to a mirror, and the run is received by the reference
// spectator client and drawn. The full state built from that mirror must read back into a fresh
// mirror as the same game.
#include <sanitizer/asan_interface.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "broadcast/mirror.h"
#include "demo/demo_text.h"
#include "game.h"
#include "state/names.h"
#include "state/state.h"
#include "stream/packet.h"
#include "stream/reader.h"
#include "view.h"

namespace {

// A packet's buffer is always 512 bytes: poisoning what lies past its length makes AddressSanitizer
// report a reader that looks beyond the packet, not only beyond the buffer.
void fence(PacketManager& packets, bool on) {
    for (Packet* p = packets.first(); p != nullptr; p = p->m_next) {
        if (on)
            ASAN_POISON_MEMORY_REGION(p->m_data + p->m_length, size_t(PACKET_SIZE - p->m_length));
        else
            ASAN_UNPOISON_MEMORY_REGION(p->m_data, size_t(PACKET_SIZE));
    }
}

void describeAll(ChunkReader& reader, Packet& packet) {
    char text[1024];
    reader.begin(packet);
    while (PacketChunk* chunk = reader.next()) {
        describeChunk(reader, chunk, TextStyle::plain, text, sizeof(text));
        if (strnlen(text, sizeof(text)) >= sizeof(text)) abort();
        describeChunk(reader, chunk, TextStyle::json, text, sizeof(text));
        if (strnlen(text, sizeof(text)) >= sizeof(text)) abort();
    }
    if (packet.m_position > packet.m_length) abort();
}

const char* text(const NamesCollection& names, uint32_t id) { return names.get(int(id)); }

void compare(StateManager::States& a, NamesCollection& an, StateManager::States& b,
             NamesCollection& bn) {
    if (strcmp(text(an, a.m_map.m_name), text(bn, b.m_map.m_name)) != 0) abort();
    if (a.m_map.m_origin_x != b.m_map.m_origin_x || a.m_map.m_origin_y != b.m_map.m_origin_y ||
        a.m_map.m_zoom != b.m_map.m_zoom || a.m_map.m_rotated != b.m_map.m_rotated)
        abort();
    if (a.m_score.m_score[1] != b.m_score.m_score[1] || a.m_score.m_score[2] != b.m_score.m_score[2])
        abort();
    if (a.m_bomb.m_x != b.m_bomb.m_x || a.m_bomb.m_y != b.m_bomb.m_y ||
        a.m_bomb.m_state != b.m_bomb.m_state)
        abort();
    for (int i = 0; i < MAX_PLAYERS; i++) {
        const PlayerState& p = a.m_players[i];
        const PlayerState& q = b.m_players[i];
        if (p.m_x != q.m_x || p.m_y != q.m_y || p.m_yaw != q.m_yaw || p.m_health != q.m_health ||
            p.m_state != q.m_state || p.m_kills != q.m_kills || p.m_deaths != q.m_deaths ||
            p.m_team != q.m_team || p.m_weapon != q.m_weapon || p.m_icons != q.m_icons ||
            strcmp(text(an, p.m_name), text(bn, q.m_name)) != 0)
            abort();
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static StateManager* mirrors = [] {
        StateManager* m = new StateManager;
        m->allocate(1);  // slot 0 what the packets said, slot 1 what the full state says
        return m;
    }();
    NamesCollection names;
    NamesCollection rebuilt_names;
    clearMirror(*mirrors, names);
    StateManager::States& mirror = *mirrors->slot(0);
    ChunkReader reader(&names);

    PacketManager packets;
    size_t at = 0;
    while (at + 2 <= size) {
        size_t length = size_t(data[at] << 8 | data[at + 1]) % (PACKET_SIZE + 1);
        at += 2;
        if (length > size - at) length = size - at;
        if (!packets.addRaw(reinterpret_cast<const char*>(data + at), int(length))) {
            if (length >= PACKET_RESERVED) abort();  // every length 2..512 is a packet
        }
        at += length;
    }
    fence(packets, true);
    for (Packet* p = packets.first(); p != nullptr; p = p->m_next) {
        describeAll(reader, *p);
        applyPacket(mirror, reader, *p);
        if (p->m_position != p->m_length) abort();  // a walk always ends at the packet's end
    }

    SpectatorGame* game = new SpectatorGame;
    double now = 0;
    for (Packet* p = packets.first(); p != nullptr; p = p->m_next) {
        game->receive(p->m_ptr, p->m_length, now += 0.25);
        game->m_events.clear();
    }
    fence(packets, false);
    game->expire(now + 10);
    Traffic traffic;
    ViewStatus status;
    status.m_traffic = &traffic;
    if (renderTerminal(*game, status).empty() || jsonState(*game, now).empty()) abort();
    delete game;

    PacketManager full;
    buildFullState(full, mirror, names, MAX_PLAYERS);
    StateManager::States& rebuilt = *mirrors->slot(1);
    ChunkReader again(&rebuilt_names);
    for (Packet* p = full.first(); p != nullptr; p = p->m_next) {
        if (p->m_length < PACKET_RESERVED || p->m_length > PACKET_SIZE) abort();
        applyPacket(rebuilt, again, *p);
        if (again.m_truncated || again.m_skipped != 0) abort();  // our own packets are clean
    }
    compare(mirror, names, rebuilt, rebuilt_names);
    clearMirror(*mirrors, names);
    rebuilt_names.clear();
    return 0;
}
