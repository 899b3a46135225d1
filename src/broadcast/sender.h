// The spectator sender: one thread that owns g_udp_socket, the connections and the mirror of
// what spectators have been told.
#pragma once

#include "state/names.h"
#include "state/state.h"

// Thread function of g_udp_thread; its argument is the Thread object itself.
void* PacketSender(void* thread);

extern StateManager l_statemgr;     // one slot: the game state as the stream has told it
extern NamesCollection l_name_coll;  // names of that mirror
