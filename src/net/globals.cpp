#include "net/globals.h"

StreamSocket g_tcp_socket;
DatagramSocket g_udp_socket;
Thread g_tcp_thread;
Thread g_udp_thread;
Thread g_delay_thread;

bool startLongLivedThread(Thread* thread) {
    if (!g_mut1.m_valid) return false;
    thread->start();  // already running counts as started
    return thread->m_running;
}
