// The applet web server: one thread accepting visitors on g_tcp_socket.
#pragma once

// Thread function of g_tcp_thread; its argument is the Thread object itself.
void* AppletSender(void* thread);
