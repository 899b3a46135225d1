// The spectator sender: one thread that owns g_udp_socket.
#pragma once

// Thread function of g_udp_thread; its argument is the Thread object itself.
void* PacketSender(void* thread);
