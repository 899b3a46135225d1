#include "web/applet_server.h"

#include <new>

#include "broadcast/connections.h"
#include "host/config.h"
#include "host/host.h"
#include "net/globals.h"
#include "net/net.h"
#include "web/visitor_pool.h"

std::atomic<int> g_refused_visitors{0};

namespace {

// Set by the accept thread at the first refusal of a burst, taken by the main thread.
std::atomic<bool> s_refusal_to_report{false};
std::atomic<int> s_refusal_limit{0};
// Set by the accept thread at the first failure of a run, taken by the main thread.
std::atomic<bool> s_accept_failure_to_report{false};
std::atomic<int> s_accept_error{0};

// The next wait of a run of failed accepts: doubling, capped.
int nextBackoff(int backoff) {
    if (backoff <= 0) return ACCEPT_BACKOFF_FIRST_MS;
    return backoff >= ACCEPT_BACKOFF_MAX_MS / 2 ? ACCEPT_BACKOFF_MAX_MS : backoff * 2;
}

// Counted before the close, so that whoever sees the close also sees the count.
void noteRefusal(int limit, bool* refusing) {
    g_refused_visitors.fetch_add(1, std::memory_order_release);
    if (*refusing) return;  // logged once per burst
    *refusing = true;
    s_refusal_limit.store(limit, std::memory_order_relaxed);
    s_refusal_to_report.store(true, std::memory_order_release);
}

// Accepts what the listening socket holds, a burst at most: 1 when accepting goes on, 0 after a
// failed accept (the caller backs off first), -1 when the socket is closed or broken.
int acceptBurst(VisitorPool* pool, bool* refusing) {
    for (int i = 0; i < ACCEPT_BURST; ++i) {
        StreamSocket* accepted = nullptr;
        InetAddress peer;
        int result = g_tcp_socket.accept(&accepted, &peer, 0);
        if (result == 0) return 1;
        if (result == -2) return -1;
        if (result == -1) {
            // Logged when descriptors or memory run short; a peer that gave up is its own affair.
            if (g_tcp_socket.m_exhausted) {
                s_accept_error.store(g_tcp_socket.m_error, std::memory_order_relaxed);
                s_accept_failure_to_report.store(true, std::memory_order_release);
            }
            return 0;
        }
        int limit = maxVisitors();
        bool has_room = g_connmgr.m_count.load() < g_connmgr.m_max.load();
        int admitted = pool->admit(accepted, has_room, limit);
        if (admitted == 0) noteRefusal(limit, refusing);
        if (admitted == 1) *refusing = false;
        accepted->stop();
        delete accepted;
    }
    return 1;
}

}  // namespace

int maxVisitors() {
    return g_cfg.find("max_visitors") ? g_cfg.getInt("max_visitors") : DEFAULT_MAX_VISITORS;
}

void reportRefusedVisitors() {
    // Runs every frame: a plain load on the usual path, the exchange only when there is news.
    if (!s_refusal_to_report.load(std::memory_order_relaxed) ||
        !s_refusal_to_report.exchange(false, std::memory_order_acquire))
        return;
    LOG_ERROR("AppletSender :: %d web visitors at once, closing new connections",
              s_refusal_limit.load(std::memory_order_relaxed));
}

void reportAcceptFailures() {
    if (!s_accept_failure_to_report.load(std::memory_order_relaxed) ||
        !s_accept_failure_to_report.exchange(false, std::memory_order_acquire))
        return;
    LOG_ERROR("AppletSender :: Failed to accept a connection (system error %d), retrying",
              s_accept_error.load(std::memory_order_relaxed));
}

void* AppletSender(void* arg) {
    Thread* self = static_cast<Thread*>(arg);
    VisitorPool pool;
    // Without the poller (descriptors or memory short) nothing can be accepted: reported as a
    // failed accept and tried again, as those are.
    bool reported = false;
    while (!pool.init() && self->running()) {
        if (!reported) {
            s_accept_error.store(-1, std::memory_order_relaxed);
            s_accept_failure_to_report.store(true, std::memory_order_release);
            reported = true;
        }
        Thread::sleep(ACCEPT_BACKOFF_MAX_MS);
    }
    bool refusing = false;
    int backoff = 0;  // the wait after the last failed accept; 0: the last one did not fail
    int64_t resume = 0;  // while backing off: when the listening socket is waited for again
    int64_t swept = monotonicMillis();
    int again = -1;  // when dispatch should run again while connections stay queued
    // At once as well: a reload has just ended every service's threads, and a reload every
    // interval or more often would otherwise never leave time for one.
    int64_t heap_released = monotonicMillis() - HEAP_RELEASE_INTERVAL_MS;
    void* reports[POLL_REPORTS];
    while (self->running()) {
        int64_t now = monotonicMillis();
        if (now - heap_released >= HEAP_RELEASE_INTERVAL_MS) {
            releaseFreeHeap();
            heap_released = now;
        }
        if (resume != 0 && now >= resume) resume = 0;
        int64_t wait = ACCEPT_WAIT_MS;
        if (again >= 0 && again < wait) wait = again;
        if (resume != 0 && resume - now < wait) wait = resume - now;
        // While backing off, a queued connection keeps the listening socket readable: it is not
        // waited for then, or the loop would spin.
        bool acceptable = false;
        int n = pool.m_poller.wait(reports, POLL_REPORTS, int(wait < 0 ? 0 : wait),
                                   resume == 0 ? &g_tcp_socket : nullptr, &acceptable);
        if (n < 0 || !g_tcp_socket.valid()) break;
        pool.reported(reports, n);
        if (acceptable) {
            int accepted = acceptBurst(&pool, &refusing);
            if (accepted < 0) break;  // the listening socket is closed or broken
            // After a failed accept the loop waits, doubling while the failures go on; giving
            // up would let anyone who exhausts the descriptors take the web server down until a
            // reload.
            backoff = accepted ? 0 : nextBackoff(backoff);
            if (backoff) resume = monotonicMillis() + backoff;
        }
        again = pool.dispatch(maxVisitors());
        if (monotonicMillis() - swept >= SWEEP_INTERVAL_MS) {
            pool.sweep(maxVisitors());
            swept = monotonicMillis();
        }
    }
    pool.stopAll();
    return nullptr;
}
