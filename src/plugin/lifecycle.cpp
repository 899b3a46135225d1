// Per-map start and stop, shutdown and unload.
#include "plugin/lifecycle.h"

#include <cstdlib>
#include <cstring>

#include "broadcast/buffer.h"
#include "broadcast/connections.h"
#include "broadcast/delayer.h"
#include "broadcast/sender.h"
#include "capture/capture.h"
#include "capture/record.h"
#include "demo/demo.h"
#include "host/config.h"
#include "host/host.h"
#include "net/globals.h"
#include "net/net.h"
#include "plugin/hooks.h"
#include "plugin/overview.h"
#include "plugin/plugin.h"
#include "state/names.h"
#include "state/state.h"
#include "web/missing_page.h"

namespace {

// zoom * 100 truncated toward zero, in 16 bits; a value no int can hold gives 0.
uint16_t zoomPercent(float zoom) {
    float z = zoom * 100.0f;
    if (!(z > -2147483648.0f && z < 2147483648.0f)) return 0;
    return static_cast<uint16_t>(static_cast<int>(z));
}

void fillMapRecord(const char* map) {
    float zoom = 1.0f;
    int rotated = 0, origin_x = 0, origin_y = 0;
    if (getMapInfo(map, &zoom, &rotated, &origin_x, &origin_y)) {
        if (g_cfg.getInt("ext_overviews")) {
            extractOverview(map, "txt");
            extractOverview(map, "bmp");
        }
    } else {
        // Most community maps have no description: normal, said once for each map start.
        LOG_MESSAGE("ServerActivate_Post :: Map \"%s\" has no overview description "
                    "(overviews/%s.txt): spectators see it without its picture",
                    map, map);
    }
    int name = g_name_coll.put(map);

    if (g_cfg.getInt("record_demos")) {
        g_mut1.lock();
        int result = g_demo.start(map);
        g_mut1.unlock();
        if (result != 0)
            LOG_ERROR("ServerActivate_Post :: Failed to start demo record: cannot create "
                      "\"%s\" (%s)",
                      g_demo.failedPath(), strerror(g_demo.error()));
    }

    MapState& record = g_current->m_map;
    record.m_name = static_cast<uint32_t>(name);
    record.m_origin_x = static_cast<int16_t>(origin_x);
    record.m_origin_y = static_cast<int16_t>(origin_y);
    record.m_zoom = zoomPercent(zoom);
    record.m_rotated = static_cast<uint8_t>(rotated);
    record.m_changed = 1;

    ScoreState& score = g_current->m_score;
    score.m_score[1] = 0;
    score.m_score[2] = 0;
    score.m_changed = 1;

    BombState& bomb = g_current->m_bomb;
    bomb.m_x = 0;
    bomb.m_y = 0;
    bomb.m_state = 0;
    bomb.m_changed = 1;
}

// The encoder is joined before anything it reads is cleared; what it had not yet taken, the
// slot being filled included, is encoded here, so the map's last events and score are in the
// broadcast and the demo (a few slots at most).
void endMap() {
    g_delay_thread.stop();
    if (g_current != nullptr) delayRemainingSlots();
    reportDemoFailure();
    reportDropped();
    g_mut1.lock();
    g_demo.close();
    g_mut1.unlock();
    g_statemgr.clear();
    g_name_coll.clear();
    for (PlayerRecord& player : g_players) player.clear();
    g_grenades.clear();
    // Hooks that run between maps (a client leaving) find no slot and skip, instead of writing
    // into a slot the next map would send without clearing it.
    g_current = nullptr;
}

}  // namespace

void reportDropped() {
    int events = g_dropped_events.exchange(0, std::memory_order_relaxed);
    if (events > 0)
        LOG_ERROR("PacketDelayer :: %d events dropped this map: a snapshot holds at most %d packets",
                  events, int(SNAPSHOT_PACKETS_MAX));
    if (capture::g_refused_events > 0)
        LOG_ERROR("Capture :: %d events dropped this map: a half-second slot holds at most %d",
                  capture::g_refused_events, int(EVENTS_MAX));
    capture::g_refused_events = 0;
    if (g_name_coll.refused() > 0)
        LOG_ERROR("Capture :: %d names shown empty this map: a map keeps at most %d names",
                  g_name_coll.refused(), int(NAMES_MAX));
    int elements = g_pck_buffer.m_dropped.exchange(0, std::memory_order_relaxed);
    if (elements > 0)
        LOG_ERROR("PacketDelayer :: %d snapshots dropped unsent: the delay buffer holds at most %d",
                  elements, int(PACKET_BUFFER_MAX));
}

void reportDemoFailure() {
    if (g_demo.failed())
        LOG_ERROR("PacketDelayer :: Failed to write demo, recording stopped: \"%s\" (%s)",
                  g_demo.path(), strerror(g_demo.error()));
}

void ServerActivate_Post(edict_t* pEdictList, int /*edictCount*/, int /*clientMax*/) {
    // A map start without the previous map's end would reset the ring under a running encoder.
    if (g_delay_thread.running()) endMap();

    resolveUserMessages();
    g_max_clients.store(gpGlobals->maxClients, std::memory_order_relaxed);
    g_first_player = pEdictList;
    g_statemgr.restart(&gpGlobals->time);
    g_roundtime.m_clock = &gpGlobals->time;
    g_roundtime.m_seconds = 0;
    g_roundtime.m_last_second = 0;
    g_roundtime.m_bomb = false;
    rearmMissingStartPage();
    g_pck_buffer.m_reset = 1;  // the encoder is stopped: nobody else touches it now

    const char* map = STRING(gpGlobals->mapname);
    LOG_DEVELOPER("ServerActivate_Post :: Reading map info");
    if (g_current != nullptr) fillMapRecord(map);

    if (!startLongLivedThread(&g_delay_thread))
        LOG_ERROR("ServerActivate_Post :: Failed to run PacketDelayer");
    g_cfg.set("hostname", g_engfuncs.pfnCVarGetString("hostname"));
    setMetaIgnored();
}

void ServerDeactivate_Post() {
    endMap();
    setMetaIgnored();
}

// Runs when the server quits and again from Meta_Detach: the second run finds everything down.
void GameShutdown() {
    LOG_DEVELOPER("GameShutdown :: Start");
    stopWebPortRetry();
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

void unloadPlugin() {
    // Threads first: the encoder reads the names and the slots, the sender the queue and its
    // mirror, web visitors the configuration.
    g_delay_thread.stop();
    g_udp_thread.stop();
    g_tcp_thread.stop();
    g_grenades.clear();
    g_cfg.clear();
    g_pck_buffer.clear();
    g_connmgr.clear();
    g_demo.close();
    g_tcp_socket.stop();
    g_udp_socket.stop();
    // The slots before the names: queued death chunks point at weapon names.
    g_statemgr.release();
    l_statemgr.release();
    g_current = nullptr;
    g_name_coll.release();
    l_name_coll.release();
    g_mut1.destroy();
}

void registerUnload() {
    static bool registered = false;
    if (registered) return;
    // Exit handlers run in reverse order of registration, and every global's destructor was
    // registered when it was built, before the host could call us: this one runs first.
    registered = atexit(unloadPlugin) == 0;
}
