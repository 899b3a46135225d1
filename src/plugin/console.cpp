// The "kovitv" server console command.
#include <cstring>

#include "broadcast/buffer.h"
#include "demo/demo.h"
#include "net/net.h"
#include "plugin/config.h"
#include "plugin/globals.h"
#include "plugin/host.h"
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
    UTIL_ServerPrint("\nDemo recording: %s\n", g_cfg.getInt("record_demos") ? "enabled" : "disabled");
    UTIL_ServerPrint("Delay: %d seconds\n", g_cfg.getInt("delay"));
    UTIL_ServerPrint("UDP port: %d (%s)\n", g_cfg.getInt("udp_port"),
                     g_udp_socket.m_fd >= 0 ? "working" : "not working");
    UTIL_ServerPrint("TCP port: %d (%s)\n", g_cfg.getInt("tcp_port"),
                     g_tcp_socket.m_fd >= 0 ? "working" : "not working");
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
