// The network services: the web server and the spectator sender, each on its socket and thread.
// Attach opens them, and so does "kovitv reload" after it has stopped them.
#include <cstdio>
#include <cstring>

#include "broadcast/sender.h"
#include "demo/demo.h"
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

// While another program holds the web port: main thread only, read every frame.
bool s_web_retrying = false;
int64_t s_web_retry_at = 0;  // monotonicMillis of the next try

// retrying: a try of the retry timer, which logs only when the port is had or fails otherwise.
void openTcp(bool retrying) {
    s_web_retrying = false;
    InetAddress address = anyAddress(g_cfg.getInt("tcp_port"));
    bool listening = g_tcp_socket.init(&address) == 0 && g_tcp_socket.valid() &&
                     g_tcp_socket.listen(g_cfg.getInt("tcp_queue"));
    if (!listening) {
        bool in_use = g_tcp_socket.m_in_use;
        g_tcp_socket.stop();
        if (in_use) {
            s_web_retrying = true;
            s_web_retry_at = monotonicMillis() + WEB_PORT_RETRY_MS;
            if (!retrying)
                reportSocket("Failed to open TCP socket on %s: the port is in use, trying again "
                             "every 10 s",
                             address);
        } else {
            reportSocket("Failed to open TCP socket on %s", address);
        }
        return;
    }
    if (retrying)
        LOG_MESSAGE("AppletSender :: TCP port %d is free now: the web server listens",
                    address.getPort());
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

// Where the plugin listens and how it runs, in one line the admin sees without developer 1.
void reportStartUp() {
    const char* address = g_cfg.getString("address");
    char web[160];
    int tcp_port = g_cfg.getInt("tcp_port");
    if (g_tcp_socket.valid() && address && *address)
        snprintf(web, sizeof(web), "http://%s:%d/", address, boundPort(g_tcp_socket.m_fd));
    else if (g_tcp_socket.valid())
        snprintf(web, sizeof(web), "port %d on every interface", boundPort(g_tcp_socket.m_fd));
    else if (s_web_retrying)
        snprintf(web, sizeof(web), "not working (port %d in use, retrying)", tcp_port);
    else
        snprintf(web, sizeof(web), "not working (port %d)", tcp_port);
    char udp[64];
    if (g_udp_socket.m_fd >= 0)
        snprintf(udp, sizeof(udp), "%d", boundPort(g_udp_socket.m_fd));
    else
        snprintf(udp, sizeof(udp), "%d not working", g_cfg.getInt("udp_port"));
    char recording[96] = "off";
    if (g_cfg.getInt("record_demos") && g_demo.error() != 0)
        snprintf(recording, sizeof(recording), "on (failing: %s)", strerror(g_demo.error()));
    else if (g_cfg.getInt("record_demos"))
        snprintf(recording, sizeof(recording), "on");
    LOG_MESSAGE("Kovi TV %s: spectators on UDP port %s, web %s, delay %d s, recording %s, at most "
                "%d spectators",
                KOVITV_VERSION, udp, web, g_cfg.getInt("delay"), recording,
                g_cfg.getInt("max_spec"));
}

void initThreadsAndSockets() {
    openTcp(false);
    openUdp();
}

void retryWebPort() {
    if (!s_web_retrying || monotonicMillis() < s_web_retry_at) return;
    openTcp(true);
}

bool webPortRetrying() { return s_web_retrying; }

void stopWebPortRetry() { s_web_retrying = false; }
