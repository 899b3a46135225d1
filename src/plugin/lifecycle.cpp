// Per-map start and stop, and shutdown.
#include "net/net.h"
#include "plugin/config.h"
#include "plugin/globals.h"
#include "plugin/hooks.h"
#include "plugin/host.h"

void ServerActivate_Post(edict_t* /*pEdictList*/, int /*edictCount*/, int /*clientMax*/) {
    if (!startLongLivedThread(&g_delay_thread))
        LOG_ERROR("ServerActivate_Post :: Failed to run PacketDelayer");
    g_cfg.set("hostname", g_engfuncs.pfnCVarGetString("hostname"));
    setMetaIgnored();
}

void ServerDeactivate_Post() {
    g_delay_thread.stop();
    setMetaIgnored();
}

// Runs when the server quits and again from Meta_Detach: the second run finds everything down.
void GameShutdown() {
    LOG_DEVELOPER("GameShutdown :: Start");
    g_delay_thread.stop();
    g_udp_thread.stop();
    g_tcp_thread.stop();
    g_cfg.clear();
    g_tcp_socket.stop();
    g_udp_socket.stop();
    g_mut1.destroy();
    LOG_DEVELOPER("GameShutdown :: End");
    setMetaIgnored();
}
