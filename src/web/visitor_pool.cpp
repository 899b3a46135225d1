#include "web/visitor_pool.h"

#include <new>

#include "web/request.h"

namespace {

uint32_t nowMillis() { return uint32_t(monotonicMillis()); }  // ages wrap harmlessly

// Answers connection after connection, "/" as /index.html (or /toomany.html without room) with
// placeholders filled; each goes back to the poller between its requests.
void* VisitorService(void* argument) {
    Visitor* self = static_cast<Visitor*>(argument);
    VisitorPool* pool = self->m_pool;
    while (Connection* connection = pool->next(self)) {
        if (self->answer(connection))
            pool->wait(connection);
        else
            pool->close(connection);
    }
    return nullptr;
}

}  // namespace

bool VisitorPool::init() {
    if (!m_lock.init()) return false;
    if (m_poller.init()) return true;
    m_lock.destroy();
    return false;
}

void VisitorPool::unlink(Connection* connection) {
    (connection->m_previous ? connection->m_previous->m_next : m_first) = connection->m_next;
    if (connection->m_next) connection->m_next->m_previous = connection->m_previous;
    connection->m_previous = connection->m_next = nullptr;
    --m_connections;
}

void VisitorPool::closeNow(Connection* connection) {
    if (connection->m_watched) m_poller.forget(connection->m_socket.m_fd);
    connection->m_socket.shutdownBoth();
    connection->m_socket.stop();
    delete connection;
}

int VisitorPool::admit(StreamSocket* socket, bool has_room, int limit) {
    m_lock.lock();
    bool full = m_connections >= limit;
    m_lock.unlock();
    if (full) return 0;
    Connection* connection = new (std::nothrow) Connection;
    if (!connection) {
        socket->stop();
        return -1;
    }
    connection->m_socket.m_fd = socket->m_fd;
    socket->m_fd = -1;
    connection->m_hasRoom = has_room;
    connection->m_since = monotonicMillis();
    // A client mostly sends its request with the connection: then it is queued at once, else
    // watched like one between requests.
    bool asked = connection->m_socket.waitReadable(0) == 1;
    m_lock.lock();
    connection->m_next = m_first;
    if (m_first) m_first->m_previous = connection;
    m_first = connection;
    ++m_connections;
    bool kept = true;
    if (asked) {
        enqueue(connection);
    } else {
        kept = m_poller.watch(connection->m_socket.m_fd, connection, false);
        connection->m_watched = kept;
        if (!kept) unlink(connection);
    }
    m_lock.unlock();
    if (kept) return 1;
    closeNow(connection);
    return -1;
}

void VisitorPool::enqueue(Connection* connection) {
    connection->m_state = ConnectionState::queued;
    connection->m_since = monotonicMillis();
    connection->m_queue = nullptr;
    (m_queueTail ? m_queueTail->m_queue : m_queueHead) = connection;
    m_queueTail = connection;
}

void VisitorPool::reported(void* const* tags, int count) {
    if (count <= 0) return;
    m_lock.lock();
    for (int i = 0; i < count; ++i) enqueue(static_cast<Connection*>(tags[i]));
    m_lock.unlock();
}

Connection* VisitorPool::dequeue(Visitor* visitor) {
    Connection* connection = m_queueHead;
    if (!connection) return nullptr;
    m_queueHead = connection->m_queue;
    if (!m_queueHead) m_queueTail = nullptr;
    connection->m_state = ConnectionState::answered;
    visitor->m_started.store(nowMillis(), std::memory_order_relaxed);
    return connection;
}

Visitor* VisitorPool::wakeable(int limit) {
    if (Visitor* visitor = m_asleep) {
        m_asleep = visitor->m_nextAsleep;
        visitor->m_asleep = false;
        return visitor;
    }
    if (m_threads >= limit) return nullptr;
    Visitor* visitor = new (std::nothrow) Visitor(VisitorService, this);
    if (visitor && visitor->prepare()) return visitor;
    delete visitor;
    return nullptr;
}

int VisitorPool::dispatch(int limit) {
    int again = -1;
    m_lock.lock();
    while (m_queueHead) {
        uint32_t now = nowMillis();
        int answering = 0;
        uint32_t soonest = VISITOR_BUSY_MS;
        for (Visitor* v = m_visitors; v; v = v->m_nextVisitor) {
            uint32_t age = now - v->m_started.load(std::memory_order_relaxed);
            if (v->m_asleep || age >= uint32_t(VISITOR_BUSY_MS)) continue;
            ++answering;
            if (uint32_t(VISITOR_BUSY_MS) - age < soonest) soonest = uint32_t(VISITOR_BUSY_MS) - age;
        }
        // Those answering take the queue themselves as they finish; look again once one of
        // them may have turned out a lasting answer.
        again = int(soonest);
        if (answering >= VISITORS_ANSWERING) break;
        Visitor* visitor = wakeable(limit);
        if (!visitor) break;  // every thread is in a lasting answer, or the system has no more
        Connection* connection = dequeue(visitor);
        visitor->m_handed = connection;
        visitor->m_ready.post();
        if (visitor->m_joinable) continue;  // it was asleep
        // A new visitor: its first wait takes the post made above.
        if (!visitor->start()) {
            delete visitor;
            connection->m_state = ConnectionState::queued;
            connection->m_queue = m_queueHead;
            if (!m_queueHead) m_queueTail = connection;
            m_queueHead = connection;
            break;
        }
        visitor->m_nextVisitor = m_visitors;
        m_visitors = visitor;
        ++m_threads;
    }
    if (!m_queueHead) again = -1;
    m_lock.unlock();
    return again;
}

void VisitorPool::sweep(int limit) {
    int64_t now = monotonicMillis();
    Connection* silent = nullptr;
    Visitor* extra = nullptr;
    m_lock.lock();
    for (Connection* c = m_first; c;) {
        Connection* next = c->m_next;
        if (c->m_state == ConnectionState::waiting && now - c->m_since >= WEB_TIMEOUT_MS) {
            unlink(c);
            c->m_queue = silent;
            silent = c;
        }
        c = next;
    }
    // Beyond a lowered limit, sleeping visitors go; busy ones once they sleep.
    while (m_threads > limit && m_asleep) {
        Visitor* visitor = m_asleep;
        m_asleep = visitor->m_nextAsleep;
        visitor->m_asleep = false;
        visitor->m_handed = nullptr;
        visitor->m_running.store(false, std::memory_order_relaxed);
        visitor->m_ready.post();
        for (Visitor** v = &m_visitors; *v; v = &(*v)->m_nextVisitor) {
            if (*v != visitor) continue;
            *v = visitor->m_nextVisitor;
            break;
        }
        --m_threads;
        visitor->m_nextVisitor = extra;
        extra = visitor;
    }
    m_lock.unlock();
    while (Connection* c = silent) {
        silent = c->m_queue;
        closeNow(c);
    }
    while (Visitor* visitor = extra) {
        extra = visitor->m_nextVisitor;
        delete visitor;  // joins: it was asleep, so it ends at once
    }
}

Connection* VisitorPool::next(Visitor* visitor) {
    m_lock.lock();
    // Checked under the lock, where stopAll clears it: a visitor that has not gone to sleep by
    // then never does.
    if (!visitor->running()) {
        m_lock.unlock();
        return nullptr;
    }
    if (!visitor->m_handed) {
        Connection* connection = dequeue(visitor);
        if (!connection) {
            // Requests that have come since are taken here rather than through the accept
            // thread: a busy visitor goes on without waking it or being woken.
            m_lock.unlock();
            void* reports[VISITOR_REPORTS];
            int n = m_poller.wait(reports, VISITOR_REPORTS, 0);
            m_lock.lock();
            for (int i = 0; i < n; ++i) enqueue(static_cast<Connection*>(reports[i]));
            if (!visitor->running()) {  // stopAll passed while the lock was let go
                m_lock.unlock();
                return nullptr;
            }
            connection = dequeue(visitor);
        }
        if (connection) {
            m_lock.unlock();
            return connection;
        }
        visitor->m_asleep = true;
        visitor->m_nextAsleep = m_asleep;
        m_asleep = visitor;
    }
    m_lock.unlock();
    if (!visitor->m_ready.wait()) return nullptr;
    m_lock.lock();
    Connection* connection = visitor->m_handed;
    visitor->m_handed = nullptr;
    m_lock.unlock();
    // A connection handed over just before a stop stays in the list, which stopAll closes.
    return visitor->running() ? connection : nullptr;
}

void VisitorPool::wait(Connection* connection) {
    m_lock.lock();
    connection->m_state = ConnectionState::waiting;
    connection->m_since = monotonicMillis();
    bool watched = m_poller.watch(connection->m_socket.m_fd, connection, connection->m_watched);
    connection->m_watched |= watched;
    if (!watched) unlink(connection);
    m_lock.unlock();
    if (!watched) closeNow(connection);
}

void VisitorPool::close(Connection* connection) {
    m_lock.lock();
    unlink(connection);
    m_lock.unlock();
    closeNow(connection);
}

void VisitorPool::stopAll() {
    m_lock.lock();
    // Every visitor is told first and woken, then all are joined: one at a time, each stop
    // would wait for that visitor's read time-out.
    for (Visitor* v = m_visitors; v; v = v->m_nextVisitor) {
        v->m_running.store(false, std::memory_order_relaxed);
        if (!v->m_asleep) continue;
        v->m_asleep = false;
        v->m_handed = nullptr;
        v->m_ready.post();
    }
    m_asleep = nullptr;
    // Under the lock, so that no visitor closes the descriptor in between and another socket
    // takes its number.
    for (Connection* c = m_first; c; c = c->m_next)
        if (c->m_state == ConnectionState::answered) c->m_socket.shutdownBoth();
    Visitor* visitors = m_visitors;
    m_visitors = nullptr;
    m_threads = 0;
    m_lock.unlock();
    while (Visitor* visitor = visitors) {
        visitors = visitor->m_nextVisitor;
        delete visitor;
    }
    while (Connection* c = m_first) {
        unlink(c);
        closeNow(c);
    }
    m_queueHead = m_queueTail = nullptr;
    m_poller.destroy();
    m_lock.destroy();
}
