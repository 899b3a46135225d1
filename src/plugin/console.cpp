// The "kovitv" server console command.
#include <cstring>

#include "broadcast/buffer.h"
#include "demo/demo.h"
#include "host/config.h"
#include "host/host.h"
#include "net/globals.h"
#include "net/net.h"
#include "plugin/plugin.h"

namespace {

const char* runningText(const Thread& t) { return t.m_running ? "running" : "not running"; }

void printUsageAndStatus() {
    UTIL_ServerPrint("Usage: kovitv <command> [argument]\n");
    UTIL_ServerPrint("Commands:\n");
    UTIL_ServerPrint("   delay seconds  - set delay in seconds\n");
    UTIL_ServerPrint("   record on      - enable demo recording\n");
    UTIL_ServerPrint("   record off     - disable demo recording\n");
    UTIL_ServerPrint("   reload         - reload sockets and threads\n");

    const char* dir = g_cfg.getString("dir");
    // The last start or write of a demo failed: recording is wanted but does not happen.
    int demo_error = g_demo.error();
    if (!g_cfg.getInt("record_demos"))
        UTIL_ServerPrint("\nDemo recording: disabled\n");
    else if (demo_error != 0)
        UTIL_ServerPrint("\nDemo recording: enabled, failing: %s\n", strerror(demo_error));
    else
        UTIL_ServerPrint("\nDemo recording: enabled\n");
    UTIL_ServerPrint("Delay: %d seconds\n", g_cfg.getInt("delay"));
    // A working socket shows the port it holds, which port 0 leaves to the system.
    if (g_udp_socket.m_fd >= 0)
        UTIL_ServerPrint("UDP port: %d (working)\n", boundPort(g_udp_socket.m_fd));
    else
        UTIL_ServerPrint("UDP port: %d (not working)\n", g_cfg.getInt("udp_port"));
    int tcp_port = g_cfg.getInt("tcp_port");
    if (g_tcp_socket.m_fd >= 0)
        UTIL_ServerPrint("TCP port: %d (working)\n", boundPort(g_tcp_socket.m_fd));
    else if (webPortRetrying())
        UTIL_ServerPrint("TCP port: %d not working (port %d in use, retrying)\n", tcp_port,
                         tcp_port);
    else
        UTIL_ServerPrint("TCP port: %d (not working)\n", tcp_port);
    UTIL_ServerPrint("Applet sender: %s\n", runningText(g_tcp_thread));
    UTIL_ServerPrint("Gameplay sender: %s\n", runningText(g_udp_thread));
    UTIL_ServerPrint("Gameplay delayer: %s\n", runningText(g_delay_thread));
    UTIL_ServerPrint("Max. spectators: %d\n", g_cfg.getInt("max_spec"));
    UTIL_ServerPrint("Kovi TV dir: %s\n", dir ? dir : "");
}

void setDelay(const char* word) {
    int n = configNumber(word);
    if (n < 30 || n > 300) {
        n = 30;
        UTIL_ServerPrint("Delay must be between 30 and 300 seconds.\n");
    }
    g_cfg.set("delay", n);
    g_pck_buffer.setDelay(n);  // one whole int; the sender reads it under g_mut1
    UTIL_ServerPrint("Setting delay to %d seconds.\n", n);
}

void setRecording(const char* word) {
    bool enabled = strcmp(word, "off") != 0;
    if (!enabled && g_delay_thread.running()) {
        // The encoder closes it before its next record: waiting here for g_mut1 would hold
        // the game for as long as a write to a slow disk takes.
        g_demo.requestClose();
    } else if (!enabled) {
        g_mut1.lock();
        g_demo.close();
        g_mut1.unlock();
    }
    g_cfg.set("record_demos", enabled ? 1 : 0);
    UTIL_ServerPrint("Demo recording is %s.\n", enabled ? "enabled" : "disabled");
    if (enabled) UTIL_ServerPrint("Setting will take effect after a map change.\n");
}

void reload() {
    // The workers are joined before their sockets close under them. Both are told and woken at
    // once, so the accept thread stops its visitors while the sender ends.
    g_udp_thread.m_running.store(false, std::memory_order_relaxed);
    g_tcp_thread.m_running.store(false, std::memory_order_relaxed);
    g_udp_thread.wake();
    g_tcp_thread.wake();
    g_udp_thread.stop();
    g_tcp_thread.stop();
    g_tcp_socket.stop();
    g_udp_socket.stop();
    initThreadsAndSockets();
    UTIL_ServerPrint("Reload accomplished. Type \"kovitv\" for results.\n");
}

}  // namespace

void kovitv_command() {
    int argc = g_engfuncs.pfnCmd_Argc();
    const char* command = argc > 1 ? g_engfuncs.pfnCmd_Argv(1) : "";
    if (argc >= 3 && strcmp(command, "delay") == 0)
        setDelay(g_engfuncs.pfnCmd_Argv(2));
    else if (argc >= 3 && strcmp(command, "record") == 0)
        setRecording(g_engfuncs.pfnCmd_Argv(2));
    else if (argc >= 2 && strcmp(command, "reload") == 0)
        reload();
    else
        printUsageAndStatus();
}
