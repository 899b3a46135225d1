// One web visitor: an accepted connection served by its own thread, request after request,
// until the peer closes, stays silent for 5 s, sends a refused request or is told to stop.
#pragma once

#include <atomic>
#include <cstddef>

#include "net/net.h"

// What a visitor's thread needs: a request buffer, a file block, a file name and a header,
// about 7 KiB, plus the C library's file and formatting calls. A game server is a 32-bit process
// and every visitor holds its stack, so it is small.
constexpr size_t VISITOR_STACK_SIZE = 64 * 1024;

class Visitor : public Thread {
public:
    // Takes the accepted connection; the thread is not started yet.
    Visitor(StreamSocket* socket, bool has_room);
    // Stops a thread still running (the connection shut down, then the join), then closes and
    // deletes the connection.
    ~Visitor();
    Visitor(const Visitor&) = delete;
    Visitor& operator=(const Visitor&) = delete;

    // Clears the flag and shuts the connection down so that a blocked read or send returns now.
    // Any thread; the descriptor stays open until the visitor is destroyed.
    void requestStop();
    // True once the service has shut its connection down: the thread is returning and a join
    // takes no longer than that. A peer that saw the close may already be connecting again, and
    // its place must be free by then.
    bool done() const { return m_done.load(std::memory_order_acquire) || finished(); }

    std::atomic<bool> m_done{false};
    StreamSocket* m_socket;  // owned; closed only by the destructor, after the join
    bool m_hasRoom;          // the spectator sender had room when the connection was accepted
};

// Thread function of a visitor; the argument is the Visitor. Serves requests on its connection,
// "/" as /index.html (or /toomany.html without room) with placeholders filled, and shuts the
// connection down when it ends so that the peer sees the close at once.
void* VisitorService(void* visitor);
