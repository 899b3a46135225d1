// Web connections and the visitors' threads that answer them. A connection waiting for its next
// request holds no thread: the accept thread watches it (web/visitor_pool.h) and, once a request
// comes, hands it to a visitor, which answers request after request while they are already
// there and then gives the connection back. Threads are kept rather than started per
// connection: glibc gives each new thread a heap of its own (an arena) and, as threads came and
// went, the heaps filled one after another (+3 % resident memory a game hour over a day).
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>

#include "net/net.h"
#include "web/request.h"
#include "web/start_page.h"

// What a visitor's thread needs: a file block, a file name and a header, a few KiB, plus the C
// library's file and formatting calls. A game server is a 32-bit process and every visitor
// holds its stack, so it is small.
constexpr size_t VISITOR_STACK_SIZE = 64 * 1024;
constexpr const char* VISITOR_THREAD_NAME = "kovitv-visitor";  // ps, top -H, and the soak

class VisitorPool;

// Where a connection is; the pool's lock guards it.
enum class ConnectionState {
    waiting,   // watched by the accept thread for its next request
    queued,    // a request has come; no visitor has taken it yet
    answered,  // a visitor holds it
};

struct Connection {
    StreamSocket m_socket;
    bool m_hasRoom = false;  // the spectator sender had room when the connection was accepted
    bool m_watched = false;  // the poller has seen it before (a watch again re-arms it)
    ConnectionState m_state = ConnectionState::waiting;
    int64_t m_since = 0;     // when it began waiting or was queued: the silent ones are closed
    Connection* m_previous = nullptr;  // every connection of the pool
    Connection* m_next = nullptr;
    Connection* m_queue = nullptr;     // the next queued one
    // A request is read into the connection's own buffer: bytes of the next one that came with
    // it stay there for whichever visitor answers it.
    RequestCarry m_carry;
    char m_buffer[REQUEST_BUFFER_SIZE];
};

class Visitor : public Thread {
public:
    // service: the thread function (the pool's), given the Visitor.
    Visitor(void* (*service)(void*), VisitorPool* pool);
    ~Visitor();  // joins the thread; the pool has told it to stop
    Visitor(const Visitor&) = delete;
    Visitor& operator=(const Visitor&) = delete;

    bool prepare();  // the semaphore, once; false when the system refuses it

    // Visitor thread: answers the requests that have come on connection. True when it is to
    // wait for its next request, false when it is to be closed (silent, closed by the peer,
    // refused, or an answer broke off).
    bool answer(Connection* connection);

    // The pool's, under its lock.
    Semaphore m_ready;                  // one post per connection handed over, and one to stop
    Connection* m_handed = nullptr;     // what the post brings; null: stop
    bool m_asleep = false;              // waiting for a post
    Visitor* m_nextAsleep = nullptr;    // the pool's stack of waiting visitors
    Visitor* m_nextVisitor = nullptr;   // every visitor of the pool
    // When the request in hand began (monotonicMillis, wrapping): answers longer than a few
    // milliseconds (a held live request, a slow reader, a request still arriving) no longer
    // count against the visitors answering at once. Set by the visitor, read by the pool.
    std::atomic<uint32_t> m_started{0};
    VisitorPool* m_pool;

private:
    bool m_prepared = false;
    StartPage m_pages;  // the visitor thread's own
};
