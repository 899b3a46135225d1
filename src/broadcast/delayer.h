// The delta encoder: one thread per map turning closed snapshot slots into delayed packets.
#pragma once

// Thread function of g_delay_thread; its argument is the Thread object itself.
void* PacketDelayer(void* thread);
