// The delta encoder: one thread per map turning each closed snapshot slot of g_statemgr into one
// element of the delay buffer (and one demo record, through g_snapshot_recorder), encoded
// against the baseline slot.
#pragma once

#include <atomic>

#include "state/state.h"

class NamesCollection;
class PacketManager;

// Thread function of g_delay_thread; its argument is the Thread object itself.
void* PacketDelayer(void* thread);

// One round of the thread: takes the next closed slot of g_statemgr, encodes it, queues it in
// g_pck_buffer and hands it to g_snapshot_recorder. False when no slot was closed.
bool delaySlot();

// Map end, with the encoder thread stopped: encodes what the ring still holds, the closed slots
// and the one being filled, so that the map's last half second (a round's end in the frame of a
// changelevel) reaches the delay buffer and the demo. Returns the number of slots encoded.
int delayRemainingSlots();

// Takes each encoded snapshot as it is queued, under g_mut1: the demo recorder, which the plugin
// sets at attach, before the encoder thread starts. Null: snapshots are only queued.
using SnapshotRecorder = void (*)(const PacketManager* packets);
extern SnapshotRecorder g_snapshot_recorder;

// A demo record's count byte says at most this many packets, so no snapshot ever makes more.
enum { SNAPSHOT_PACKETS_MAX = 255 };

// Appends to packets what slot says beyond baseline, and brings baseline up to date: player
// groups of the first max_clients players, then map, score, bomb, then the slot's events in
// order; a heartbeat when that made no packet. Names are looked up in names. An event that would
// open packet SNAPSHOT_PACKETS_MAX + 1 is dropped; returns how many were.
int encodeSlot(StateManager::States* slot, StateManager::States* baseline,
               NamesCollection* names, int max_clients, PacketManager* packets);

// Events the encoder dropped since the main thread last looked (it logs them once per map).
extern std::atomic<int> g_dropped_events;
