#include "web/visitor.h"

#include <cstring>

#include "host/config.h"
#include "web/demos.h"
#include "web/live.h"
#include "web/request.h"
#include "web/response.h"

Visitor::Visitor() {
    m_function = VisitorService;
    m_argument = this;
    m_stack_size = VISITOR_STACK_SIZE;
    m_name = VISITOR_THREAD_NAME;
    // Its waits are on the connection, which requestStop shuts down, and on m_ready, which it
    // posts; a wake would double the descriptors every visitor costs.
    m_wakeable = false;
}

Visitor::~Visitor() {
    if (m_joinable) requestStop();
    stop();
    m_socket.stop();
    m_ready.destroy();
    m_lock.destroy();
}

bool Visitor::prepare() {
    if (m_prepared) return true;
    if (!m_lock.init()) return false;
    if (!m_ready.init()) {
        m_lock.destroy();
        return false;
    }
    m_prepared = true;
    return true;
}

bool Visitor::serve(StreamSocket* connection, bool has_room) {
    if (!prepare()) {
        connection->stop();
        return false;
    }
    // Idle, the thread touches m_socket only to finish closing the last connection, under the
    // lock; it reads the new one after the post.
    m_lock.lock();
    m_socket.m_fd = connection->m_fd;
    m_lock.unlock();
    connection->m_fd = -1;
    m_hasRoom = has_room;
    m_idle.store(false, std::memory_order_relaxed);
    m_ready.post();
    if (m_joinable) return true;
    if (start()) return true;
    m_socket.stop();
    m_idle.store(true, std::memory_order_relaxed);
    return false;
}

void Visitor::requestStop() {
    m_running.store(false, std::memory_order_relaxed);
    m_lock.lock();
    m_socket.shutdownBoth();
    m_lock.unlock();
    m_ready.post();
}

void Visitor::serveConnection() {
    StreamSocket* socket = &m_socket;
    char buffer[REQUEST_BUFFER_SIZE];
    RequestCarry carry;
    while (running()) {
        char* path;
        char* query;
        char* modified_since;
        if (getRequestedFile(socket, &path, &query, buffer, sizeof(buffer), &carry,
                             &modified_since) != 0)
            break;  // silent, closed, refused or malformed: no answer
        // The stream keeps its own read of the configuration: a held request must not keep
        // replaced texts from being freed for its whole wait.
        if (isLivePath(path)) {
            if (!sendLive(socket, path)) break;
            continue;
        }
        ConfigReadScope reading(g_cfg);  // the answer may hold the configuration's texts
        if (isDemosPath(path)) {
            if (!sendDemos(socket, path)) break;
            continue;
        }
        const char* file = path;
        char* fill = nullptr;  // only the start page is filled
        if (strcmp(path, "/") == 0) {
            file = m_hasRoom ? "/index.html" : "/toomany.html";
            fill = query;
        }
        if (!sendFile(socket, file, fill, modified_since, &m_pages)) break;  // a broken response ends the connection
    }
    m_lock.lock();
    m_idle.store(true, std::memory_order_release);
    m_socket.shutdownBoth();
    m_socket.stop();
    m_lock.unlock();
}

void* VisitorService(void* argument) {
    Visitor* self = static_cast<Visitor*>(argument);
    while (self->waitForConnection()) self->serveConnection();
    return nullptr;
}
