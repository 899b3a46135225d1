// Start-up: Meta_Attach sets up every room and opens the network services.
#include <cstdio>
#include <cstring>

#include "broadcast/buffer.h"
#include "broadcast/connections.h"
#include "broadcast/delayer.h"
#include "broadcast/sender.h"
#include "demo/demo.h"
#include "host/config.h"
#include "host/host.h"
#include "net/globals.h"
#include "net/net.h"
#include "plugin/lifecycle.h"
#include "plugin/plugin.h"
#include "plugin/version.h"
#include "state/names.h"
#include "state/state.h"

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
    if (g_demo.init(base) != 0)
        LOG_ERROR("Failed to create folder for demos \"%s\" (%s)", g_demo.m_folder,
                  strerror(g_demo.error()));
    g_connmgr.m_max = g_cfg.getInt("max_spec");
    g_connmgr.m_max_per_address = maxSpecPerIp();
    g_connmgr.clear();
    setVersionCvar(g_connmgr.m_count, g_connmgr.m_max);
    initThreadsAndSockets();
    g_pck_buffer.m_reset = 0;
    g_pck_buffer.setDelay(g_cfg.getInt("delay"));
    g_snapshot_recorder = recordSnapshot;
    g_delay_thread.m_function = PacketDelayer;
    g_delay_thread.m_argument = &g_delay_thread;
    g_engfuncs.pfnAddServerCommand(const_cast<char*>("kovitv"), kovitv_command);
    reportStartUp();

    LOG_DEVELOPER("Kovi TV initialization end");
    return 1;
}
