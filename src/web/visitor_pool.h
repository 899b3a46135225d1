// The web server's connections and visitors. The accept thread admits connections, watches
// those waiting for a request, queues the ones whose request has come and hands them to
// visitors; a visitor that finishes takes the next request itself (queued, or straight from the
// poller) before it sleeps. Quick answers are given one at a time, as by a single event loop:
// on a game server's two or four cores fifty threads woken for fifty kept-alive connections
// kept one request in thousands waiting 100-300 ms for its thread to be scheduled, and the web
// server must not take the game's cores. An answer that lasts (a held live request, a slow
// reader, a request still arriving) stops counting after VISITOR_BUSY_MS and another visitor
// starts on the queue, so slow peers cannot hold the rest up. At most max_visitors connections
// and as many threads.
#pragma once

#include <cstdint>

#include "net/net.h"
#include "web/visitor.h"

constexpr int VISITORS_ANSWERING = 1;  // quick answers at once (beside the lasting ones)
constexpr int VISITOR_BUSY_MS = 5;     // an answer this old counts as a lasting one
// A visitor takes one request from the poller at a time: the others, left there, wake the accept
// thread, which hands them to other visitors.
constexpr int VISITOR_REPORTS = 1;

class VisitorPool {
public:
    Poller m_poller;

    bool init();     // the lock and the poller; false when the system refuses one
    // Stops and joins every visitor, then closes every connection and the poller. Accept thread.
    void stopAll();

    // Accept thread. Takes the accepted socket's descriptor (socket is left closed, for the
    // caller to delete) and watches it: 1; 0 when limit connections are open already (the
    // socket is left open: the caller counts the refusal before the peer can see the close);
    // -1 when memory or the poller failed (closed).
    int admit(StreamSocket* socket, bool has_room, int limit);
    // Watched connections with a request (or whose peer closed), by the tags the poller
    // reported: queued for visitors.
    void reported(void* const* tags, int count);
    // Hands queued connections to sleeping visitors, or to new ones while fewer than limit
    // threads run, as long as fewer than VISITORS_ANSWERING answers are recent. The ms after
    // which it should run again while some stay queued, -1 when none do.
    int dispatch(int limit);
    // Closes connections silent for WEB_TIMEOUT_MS, and lets sleeping visitors beyond limit go.
    void sweep(int limit);

    // Visitor threads. The next connection to answer: a queued one, else one handed over after
    // a sleep; null when the visitor is to stop.
    Connection* next(Visitor* visitor);
    void wait(Connection* connection);   // watched again for its next request
    void close(Connection* connection);  // its place is free before the peer sees the close

    int connections() const { return m_connections; }  // for tests; racy by nature

private:
    void closeNow(Connection* connection);  // unlinked already; closes and frees
    void unlink(Connection* connection);    // under the lock
    void enqueue(Connection* connection);   // under the lock
    Connection* dequeue(Visitor* visitor);  // under the lock: the queue's first, now answered
    Visitor* wakeable(int limit);           // under the lock: a sleeping or a new visitor

    Mutex m_lock;
    Connection* m_first = nullptr;  // every connection
    int m_connections = 0;
    Connection* m_queueHead = nullptr;
    Connection* m_queueTail = nullptr;
    Visitor* m_visitors = nullptr;  // every visitor
    int m_threads = 0;
    Visitor* m_asleep = nullptr;    // the last to sleep first: the threads in use stay few
};
