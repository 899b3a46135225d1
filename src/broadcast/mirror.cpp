#include "broadcast/mirror.h"

#include "stream/chunks.h"

namespace {

void applyPlayer(PlayerState& record, const PlayerPacketChunk& chunk) {
    const PlayerState& got = chunk.m_got;
    uint8_t mask = chunk.m_mask;
    record.m_index = got.m_index;
    if (mask & CHANGED_POSITION) {
        record.m_x = got.m_x;
        record.m_y = got.m_y;
        record.m_yaw = got.m_yaw;
    }
    if (mask & CHANGED_HEALTH) record.m_health = got.m_health;
    if (mask & CHANGED_STATE) record.m_state = got.m_state;
    if (mask & CHANGED_KILLS) {
        record.m_kills = got.m_kills;
        record.m_deaths = got.m_deaths;
    }
    if (mask & CHANGED_TEAM) record.m_team = got.m_team;
    if (mask & CHANGED_NAME) record.m_name = got.m_name;
    if (mask & CHANGED_WEAPON) record.m_weapon = got.m_weapon;
    if (mask & CHANGED_ICONS) record.m_icons = got.m_icons;
    record.m_changed |= mask;
}

void applyMap(MapState& map, const MapState& got) {
    map.m_name = got.m_name;
    map.m_origin_x = got.m_origin_x;
    map.m_origin_y = got.m_origin_y;
    map.m_zoom = got.m_zoom;
    map.m_rotated = got.m_rotated;
    map.m_changed = 1;
}

}  // namespace

void applyChunk(StateManager::States& mirror, ChunkReader& reader, PacketChunk* chunk) {
    if (chunk == &reader.m_player) {
        int slot = reader.header();
        if (slot >= 0 && slot < MAX_PLAYERS) applyPlayer(mirror.m_players[slot], reader.m_player);
    } else if (chunk == &reader.m_map) {
        applyMap(mirror.m_map, reader.m_map.m_got);
    } else if (chunk == &reader.m_score) {
        // Signed bytes on the wire, widened.
        mirror.m_score.m_score[1] = reader.m_score.m_terrorists;
        mirror.m_score.m_score[2] = reader.m_score.m_cts;
        mirror.m_score.m_changed = 1;
    } else if (chunk == &reader.m_bomb) {
        mirror.m_bomb.m_x = reader.m_bomb.m_got.m_x;
        mirror.m_bomb.m_y = reader.m_bomb.m_got.m_y;
        mirror.m_bomb.m_state = reader.m_bomb.m_got.m_state;
        mirror.m_bomb.m_changed = 1;
    }
}

void applyPacket(StateManager::States& mirror, ChunkReader& reader, Packet& packet) {
    reader.begin(packet);
    while (PacketChunk* chunk = reader.next()) applyChunk(mirror, reader, chunk);
}

void clearMirror(StateManager& mirror, NamesCollection& names) {
    mirror.clear();
    names.clear();
}

void buildFullState(PacketManager& out, StateManager::States& mirror, NamesCollection& names,
                    int max_clients) {
    out.clear();
    out.addChunk(HBeatPacketChunk(2, 0, 0));  // never empty: it always opens the first packet
    out.addChunk(MapPacketChunk(&mirror.m_map, &names));
    out.addChunk(ScorePacketChunk(&mirror.m_score));
    out.addChunk(BombPacketChunk(&mirror.m_bomb));
    if (max_clients > MAX_PLAYERS) max_clients = MAX_PLAYERS;
    for (int slot = 0; slot < max_clients; slot++) {
        PlayerState& record = mirror.m_players[slot];
        record.m_index = static_cast<uint8_t>(slot);
        out.addChunk(PlayerPacketChunk(&record, &names));
    }
}
