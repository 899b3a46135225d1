#include "broadcast/delayer.h"

#include "broadcast/buffer.h"
#include "host/host.h"
#include "net/net.h"
#include "state/names.h"
#include "stream/chunks.h"
#include "stream/packet.h"

namespace {

constexpr int IDLE_MS = 100;  // a slot lasts 500 ms: polling at this rate stays within one slot

int maxClients() {
    int n = gpGlobals != nullptr ? gpGlobals->maxClients : 0;  // one int, read without a lock
    if (n < 0) return 0;
    return n > MAX_PLAYERS ? MAX_PLAYERS : n;
}

void encodePlayer(PlayerState* now, PlayerState* known, NamesCollection* names,
                  PacketManager* packets) {
    if (now->m_changed == 0) return;  // nothing written this slot, whatever the values say
    uint8_t mask = 0;
    if (now->changedPosition(known)) {
        known->m_x = now->m_x;
        known->m_y = now->m_y;
        known->m_yaw = now->m_yaw;
        mask |= CHANGED_POSITION;
    }
    if (now->changedHealth(known)) {
        known->m_health = now->m_health;
        mask |= CHANGED_HEALTH;
    }
    if (now->changedState(known)) {
        known->m_state = now->m_state;
        mask |= CHANGED_STATE;
    }
    if (now->changedKills(known)) {
        known->m_kills = now->m_kills;
        known->m_deaths = now->m_deaths;
        mask |= CHANGED_KILLS;
    }
    if (now->changedTeam(known)) {
        known->m_team = now->m_team;
        mask |= CHANGED_TEAM;
    }
    if (now->changedName(known)) {
        known->m_name = now->m_name;
        mask |= CHANGED_NAME;
    }
    if (now->changedWeapon(known)) {
        known->m_weapon = now->m_weapon;
        mask |= CHANGED_WEAPON;
    }
    if (now->changedIcons(known)) {
        known->m_icons = now->m_icons;
        mask |= CHANGED_ICONS;
    }
    if (mask == 0) return;
    known->m_changed |= mask;
    PlayerPacketChunk chunk(now, names);
    chunk.m_full = false;
    chunk.m_mask = mask;
    packets->addChunk(chunk);
}

void encodeMap(MapState* now, MapState* known, NamesCollection* names, PacketManager* packets) {
    if (known->m_changed && (!now->m_changed || now->sameAs(*known))) return;
    // A slot the map start never wrote still opens the map's stream: with no name and zero
    // geometry rather than whatever an earlier map left in it.
    MapState sent{};
    if (now->m_changed) sent = *now;
    *known = sent;
    known->m_changed = 1;
    MapPacketChunk chunk(&sent, names);
    packets->addChunk(chunk);
}

void encodeScore(ScoreState* now, ScoreState* known, PacketManager* packets) {
    if (known->m_changed && (!now->m_changed || (now->m_score[1] == known->m_score[1] &&
                                                 now->m_score[2] == known->m_score[2])))
        return;
    known->m_score[1] = now->m_score[1];
    known->m_score[2] = now->m_score[2];
    known->m_changed = 1;
    ScorePacketChunk chunk(now);
    packets->addChunk(chunk);
}

void encodeBomb(BombState* now, BombState* known, PacketManager* packets) {
    if (known->m_changed && (!now->m_changed || (now->m_x == known->m_x &&
                                                 now->m_y == known->m_y &&
                                                 now->m_state == known->m_state)))
        return;
    known->m_x = now->m_x;
    known->m_y = now->m_y;
    known->m_state = now->m_state;
    known->m_changed = 1;
    BombPacketChunk chunk(now);
    packets->addChunk(chunk);
}

}  // namespace

std::atomic<int> g_dropped_events{0};
SnapshotRecorder g_snapshot_recorder = nullptr;

int encodeSlot(StateManager::States* slot, StateManager::States* baseline,
               NamesCollection* names, int max_clients, PacketManager* packets) {
    if (max_clients > MAX_PLAYERS) max_clients = MAX_PLAYERS;
    for (int i = 0; i < max_clients; i++) {
        slot->m_players[i].m_index = static_cast<uint8_t>(i);
        baseline->m_players[i].m_index = static_cast<uint8_t>(i);
        encodePlayer(&slot->m_players[i], &baseline->m_players[i], names, packets);
    }
    encodeMap(&slot->m_map, &baseline->m_map, names, packets);
    encodeScore(&slot->m_score, &baseline->m_score, packets);
    encodeBomb(&slot->m_bomb, &baseline->m_bomb, packets);
    // Players, map, score and bomb take a few packets at most; only events can run over. A later,
    // smaller event may still fit the last packet.
    int dropped = 0;
    for (EventNode* node = slot->m_events.m_head; node != nullptr; node = node->m_next) {
        PacketChunk& chunk = *node->m_chunk;
        if (packets->count() >= SNAPSHOT_PACKETS_MAX && packets->wouldOpen(chunk)) {
            dropped++;
            continue;
        }
        packets->addChunk(chunk);
    }
    if (packets->count() == 0) packets->addChunk(HBeatPacketChunk(2, 0, 0));
    return dropped;
}

bool delaySlot() {
    StateManager::States* slot = g_statemgr.take();
    if (slot == nullptr) return false;
    // Filled before it is linked: the sender can never meet an element in the making.
    PacketBuffer::BufferElement* element = new PacketBuffer::BufferElement;
    int dropped =
        encodeSlot(slot, g_statemgr.baseline(), &g_name_coll, maxClients(), &element->m_packets);
    if (dropped > 0) g_dropped_events.fetch_add(dropped, std::memory_order_relaxed);
    g_mut1.lock();
    g_pck_buffer.append(element);
    if (g_snapshot_recorder != nullptr) g_snapshot_recorder(&element->m_packets);
    g_mut1.unlock();
    return true;
}

int delayRemainingSlots() {
    int slots = 0;
    while (delaySlot()) slots++;
    if (g_statemgr.closeOpen())
        while (delaySlot()) slots++;
    return slots;
}

void* PacketDelayer(void* arg) {
    Thread* self = static_cast<Thread*>(arg);
    while (self->running()) {
        if (!delaySlot()) Thread::sleep(IDLE_MS);  // closed slots are taken back to back
    }
    return nullptr;
}
