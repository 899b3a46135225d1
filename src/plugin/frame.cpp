// Each frame's start: the capture moves on, then the main thread passes on what the other
// rooms' threads may not tell the host themselves.
#include "broadcast/connections.h"
#include "capture/hooks.h"
#include "host/host.h"
#include "plugin/hooks.h"
#include "plugin/plugin.h"
#include "plugin/version.h"
#include "state/state.h"
#include "web/applet_server.h"
#include "web/missing_page.h"

namespace {

// The sender thread keeps the count; a change shows in the version variable a frame later.
void publishSpectators() {
    int count = g_connmgr.m_count.load(std::memory_order_relaxed);
    if (count == g_spectators) return;
    g_spectators = count;
    setVersionCvar(count, g_connmgr.m_max.load(std::memory_order_relaxed));
}

}  // namespace

void StartFrame() {
    capture::advanceFrame();
    publishSpectators();
    reportRefusedVisitors();  // the web server's threads may not log; the main thread does
    reportAcceptFailures();
    reportMissingStartPage();
    retryWebPort();
    setMetaIgnored();
}
