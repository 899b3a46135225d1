// The game state as the stream has told it, rebuilt by reading packets back: the sender keeps one
// to build the full state for joining spectators, and a spectator client keeps one to show the
// game. Both apply chunks through these functions, so they never disagree about what a chunk says.
// A mirror is one StateManager slot; its names are ids of the names collection its reader fills.
#pragma once

#include "state/names.h"
#include "state/state.h"
#include "stream/packet.h"
#include "stream/reader.h"

// What one chunk just read by reader (the result of ChunkReader::next) says about the state:
// player, map, score and bomb chunks are copied in; event and heartbeat chunks change nothing.
void applyChunk(StateManager::States& mirror, ChunkReader& reader, PacketChunk* chunk);
// Every chunk of a packet, in order; moves only the packet's read position.
void applyPacket(StateManager::States& mirror, ChunkReader& reader, Packet& packet);
// A fresh game state: every slot cleared and the names forgotten.
void clearMirror(StateManager& mirror, NamesCollection& names);
// The full state into out (cleared first): a heartbeat, the map, score and bomb chunks and one
// full player chunk per slot below max_clients, in slot order, occupied or not.
void buildFullState(PacketManager& out, StateManager::States& mirror, NamesCollection& names,
                    int max_clients);
