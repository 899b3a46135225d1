// The long-lived network objects: created empty at library load, opened at attach, closed at
// shutdown. Each socket is used by one thread at a time (its worker, or the main thread while
// that worker is stopped).
#pragma once

#include "net/net.h"

extern StreamSocket g_tcp_socket;    // the applet server's listening socket
extern DatagramSocket g_udp_socket;  // the spectator socket
extern Thread g_tcp_thread;          // AppletSender
extern Thread g_udp_thread;          // PacketSender
extern Thread g_delay_thread;        // PacketDelayer, started per map

// Starts one of the long-lived threads: never without the shared mutex, nothing if it runs.
bool startLongLivedThread(Thread* thread);
