#include "web/applet_server.h"

#include <new>

#include "broadcast/connections.h"
#include "host/config.h"
#include "host/host.h"
#include "net/globals.h"
#include "net/net.h"
#include "web/list.h"
#include "web/visitor.h"

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

// Sleeps in short steps so that a stop request is not held up by a long backoff.
void pauseWhileRunning(const Thread* self, int ms) {
    while (ms > 0 && self->running()) {
        int step = ms < ACCEPT_PAUSE_MS ? ms : ACCEPT_PAUSE_MS;
        Thread::sleep(step);
        ms -= step;
    }
}

// Visitors beyond the limit (lowered by a reload) go once idle; so does one whose thread has
// ended by itself. The others wait for their next connection.
void trimIdle(List<Visitor>& visitors, int limit) {
    int extra = visitors.count() - limit;
    visitors.removeIf([&extra](Visitor* v) {
        if (v->m_joinable && v->finished()) return true;
        if (extra <= 0 || !v->idle()) return false;
        --extra;
        return true;
    });
}

// Every visitor is told first and woken, then all are joined: one at a time, each stop would
// wait for that visitor's read time-out.
void stopAll(List<Visitor>& visitors) {
    for (auto* e = visitors.head(); e; e = e->m_next) e->m_object->requestStop();
    for (auto* e = visitors.head(); e; e = e->m_next) e->m_object->stop();
    visitors.clear();
}

// Counted before the close, so that whoever sees the close also sees the count.
void refuse(StreamSocket* connection, int limit, bool* refusing) {
    g_refused_visitors.fetch_add(1, std::memory_order_release);
    if (!*refusing) {  // logged once per burst
        *refusing = true;
        s_refusal_limit.store(limit, std::memory_order_relaxed);
        s_refusal_to_report.store(true, std::memory_order_release);
    }
    connection->stop();
    delete connection;
}

// An idle visitor takes the connection; a new one is made only when none is idle and fewer
// than the limit are busy.
void admit(List<Visitor>& visitors, StreamSocket* connection, bool* refusing) {
    int limit = maxVisitors();
    Visitor* visitor = nullptr;
    int busy = 0;
    for (auto* e = visitors.head(); e; e = e->m_next) {
        if (!e->m_object->idle())
            ++busy;
        else if (!visitor)
            visitor = e->m_object;
    }
    if (busy >= limit) return refuse(connection, limit, refusing);
    *refusing = false;

    bool has_room = g_connmgr.m_count.load() < g_connmgr.m_max.load();
    if (!visitor) {
        visitor = new (std::nothrow) Visitor;
        if (!visitor || !visitors.append(visitor)) {
            delete visitor;
            connection->stop();
            delete connection;
            return;
        }
    }
    if (!visitor->serve(connection, has_room))  // the connection is closed either way
        visitors.removeIf([visitor](Visitor* v) { return v == visitor; });
    delete connection;
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
    List<Visitor> visitors;
    bool refusing = false;
    int pause = 0;
    int backoff = 0;  // the wait after the last failed accept; 0: the last one did not fail
    // At once as well: a reload has just ended every service's threads, and a reload every
    // interval or more often would otherwise never leave time for one.
    int64_t heap_released = monotonicMillis() - HEAP_RELEASE_INTERVAL_MS;
    while (self->running()) {
        if (monotonicMillis() - heap_released >= HEAP_RELEASE_INTERVAL_MS) {
            releaseFreeHeap();
            heap_released = monotonicMillis();
        }
        // Only failed accepts pause: at one connection per pause a burst overflows the backlog,
        // and the system drops connections that the clients then retry a second or more later.
        pauseWhileRunning(self, pause);
        trimIdle(visitors, maxVisitors());
        StreamSocket* connection = nullptr;
        InetAddress peer;
        int result = g_tcp_socket.accept(&connection, &peer, ACCEPT_WAIT_MS);
        if (result == -2) break;  // the listening socket is closed or broken
        if (result == -1) {       // the socket is fine: wait, longer while it goes on
            // Logged when descriptors or memory run short; a peer that gave up is its own affair.
            if (backoff == 0 && g_tcp_socket.m_exhausted) {
                s_accept_error.store(g_tcp_socket.m_error, std::memory_order_relaxed);
                s_accept_failure_to_report.store(true, std::memory_order_release);
            }
            backoff = nextBackoff(backoff);
            pause = backoff;
            continue;
        }
        backoff = 0;
        pause = 0;
        if (result == 1) admit(visitors, connection, &refusing);
    }
    stopAll(visitors);
    return nullptr;
}
