// The network services: the web server and the spectator sender, each on its socket and thread.
// Attach opens them, and so does "kovitv reload" after it has stopped them.
#include <cstdio>

#include "broadcast/sender.h"
#include "host/config.h"
#include "host/host.h"
#include "net/globals.h"
#include "net/net.h"
#include "plugin/plugin.h"
#include "web/applet_server.h"

namespace {

InetAddress anyAddress(int port) {
    InetAddress address;
    address.setAny(port);
    return address;
}

void reportSocket(const char* format, const InetAddress& address) {
    char dotted[32];
    char text[64];
    address.format(dotted, sizeof(dotted));
    snprintf(text, sizeof(text), "%s:%d", dotted, address.getPort());
    LOG_ERROR(format, text);
}

void openTcp() {
    InetAddress address = anyAddress(g_cfg.getInt("tcp_port"));
    bool listening = g_tcp_socket.init(&address) == 0 && g_tcp_socket.valid() &&
                     g_tcp_socket.listen(g_cfg.getInt("tcp_queue"));
    if (!listening) {
        g_tcp_socket.stop();
        reportSocket("Failed to open TCP socket on %s", address);
        return;
    }
    g_tcp_thread.m_function = AppletSender;
    g_tcp_thread.m_argument = &g_tcp_thread;
    if (!startLongLivedThread(&g_tcp_thread)) LOG_ERROR("Failed to run AppletSender");
}

void openUdp() {
    InetAddress address = anyAddress(g_cfg.getInt("udp_port"));
    if (g_udp_socket.init(&address) != 0) {
        reportSocket("Failed to open UDP socket on %s", address);
        return;
    }
    g_udp_thread.m_function = PacketSender;
    g_udp_thread.m_argument = &g_udp_thread;
    if (!startLongLivedThread(&g_udp_thread)) LOG_ERROR("Failed to run PacketSender");
}

}  // namespace

void initThreadsAndSockets() {
    openTcp();
    openUdp();
}
