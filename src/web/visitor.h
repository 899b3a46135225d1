// One web visitor: a thread that serves one accepted connection at a time, request after
// request, until the peer closes, stays silent for 5 s, sends a refused request or the visitor
// is told to stop; then it waits for the next connection the accept loop hands it. Threads are
// kept rather than started per connection: glibc gives each new thread a heap of its own
// (an arena) and, as threads came and went, the heaps filled one after another with the
// pages each touched (+3 % resident memory a game hour over a day).
#pragma once

#include <atomic>
#include <cstddef>

#include "net/net.h"
#include "web/start_page.h"

// What a visitor's thread needs: a request buffer, a file block, a file name and a header,
// about 7 KiB, plus the C library's file and formatting calls. A game server is a 32-bit process
// and every visitor holds its stack, so it is small.
constexpr size_t VISITOR_STACK_SIZE = 64 * 1024;
constexpr const char* VISITOR_THREAD_NAME = "kovitv-visitor";  // ps, top -H, and the soak

class Visitor : public Thread {
public:
    Visitor();
    // Stops the thread (its connection shut down, then the join) and closes the connection.
    ~Visitor();
    Visitor(const Visitor&) = delete;
    Visitor& operator=(const Visitor&) = delete;

    // Accept loop: hands an idle visitor its next connection, whose descriptor it takes
    // (connection is left closed, for the caller to delete), starting the thread the first time.
    // False when the visitor cannot serve (no lock or thread from the system): the connection
    // is then closed, and the visitor is to be deleted.
    bool serve(StreamSocket* connection, bool has_room);
    // True while the visitor has no connection. Set before its last connection is shut down: a
    // peer that saw the close may already be connecting again, and its place must be free.
    bool idle() const { return m_idle.load(std::memory_order_acquire); }
    // Clears the flag, shuts the connection down so that a blocked read or send returns now, and
    // wakes a visitor waiting for a connection. Accept loop only; the join follows (stop()).
    void requestStop();

    // Visitor thread: serves the connection handed over, then closes it and becomes idle.
    void serveConnection();
    bool waitForConnection() { return m_ready.wait() && running(); }

private:
    bool prepare();  // the lock and the semaphore, once

    std::atomic<bool> m_idle{true};
    bool m_prepared = false;
    bool m_hasRoom = false;  // the spectator sender had room when the connection was accepted
    // Guards the descriptor's close (visitor) against the stopper's shutdown (accept loop): a
    // descriptor closed in between could be reused at once by another socket.
    Mutex m_lock;
    Semaphore m_ready;       // one post per connection handed over, and one to stop
    StreamSocket m_socket;   // the current connection; closed while idle
    StartPage m_pages;       // the visitor thread's own
};

// Thread function of a visitor; the argument is the Visitor. Serves connection after connection,
// "/" as /index.html (or /toomany.html without room) with placeholders filled, and shuts each
// connection down when it ends so that the peer sees the close at once.
void* VisitorService(void* visitor);
