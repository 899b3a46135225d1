// Start-up: Meta_Attach and the network services it opens.
#include <cstdio>
#include <cstring>

#include "net/net.h"
#include "plugin/config.h"
#include "plugin/globals.h"
#include "plugin/host.h"
#include "plugin/plugin.h"
#include "broadcast/buffer.h"
#include "broadcast/connections.h"
#include "broadcast/delayer.h"
#include "broadcast/sender.h"
#include "demo/demo.h"
#include "plugin/lifecycle.h"
#include "state/names.h"
#include "state/state.h"
#include "web/applet_server.h"

StreamSocket g_tcp_socket;
DatagramSocket g_udp_socket;
Thread g_tcp_thread;
Thread g_udp_thread;
Thread g_delay_thread;

void registerVersionCvar();

bool startLongLivedThread(Thread* thread) {
    if (!g_mut1.m_valid) return false;
    thread->start();  // already running counts as started
    return thread->m_running;
}

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

KOVITV_EXPORT int Meta_Attach(PLUG_LOADTIME /*now*/, META_FUNCTIONS* pFunctionTable,
                              meta_globals_t* pMGlobals, gamedll_funcs_t* pGamedllFuncs) {
    if (!pMGlobals) {
        LOG_ERROR("Meta_Attach called with null pMGlobals");
        return 0;
    }
    gpMetaGlobals = pMGlobals;
    if (!pFunctionTable) {
        LOG_ERROR("Meta_Attach called with null pFunctionTable");
        return 0;
    }
    memcpy(pFunctionTable, &gMetaFunctionTable, sizeof(META_FUNCTIONS));
    gpGamedllFuncs = pGamedllFuncs;
    LOG_DEVELOPER("Kovi TV initialization start");

    registerVersionCvar();
    ignoreBrokenPipe();
    registerUnload();
    g_statemgr.allocate(CAPTURE_RING_LAST);
    l_statemgr.allocate(0);
    // A map's usual names (players, weapons, the map), so the game thread's puts allocate nothing.
    g_name_coll.reserve(NAMES_RESERVED, 32);
    g_pck_buffer.clear();  // empty already, unless a previous attach in this process left some
    if (!g_mut1.init()) LOG_ERROR("Failed to init mutex");
    g_engfuncs.pfnGetGameDir(g_gamedir);
    loadConfiguration();
    char base[256];
    const char* dir = g_cfg.getString("dir");
    if (snprintf(base, sizeof(base), "%s/%s", g_gamedir, dir ? dir : "") < 0) base[0] = '\0';
    if (g_demo.init(base) != 0) LOG_ERROR("Failed to create folder for demos");
    g_connmgr.m_max = g_cfg.getInt("max_spec");
    g_connmgr.m_max_per_address = maxSpecPerIp();
    g_connmgr.clear();
    setVersionCvar(g_connmgr.m_count, g_connmgr.m_max);
    initThreadsAndSockets();
    g_pck_buffer.m_reset = 0;
    g_pck_buffer.setDelay(g_cfg.getInt("delay"));
    g_delay_thread.m_function = PacketDelayer;
    g_delay_thread.m_argument = &g_delay_thread;
    g_engfuncs.pfnAddServerCommand(const_cast<char*>("kovitv"), kovitv_command);

    LOG_DEVELOPER("Kovi TV initialization end");
    return 1;
}
