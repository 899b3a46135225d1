#include "web/visitor.h"

#include <cstring>

#include "host/config.h"
#include "web/demos.h"
#include "web/live.h"
#include "web/request.h"
#include "web/response.h"

Visitor::Visitor(StreamSocket* socket, bool has_room) : m_socket(socket), m_hasRoom(has_room) {
    m_function = VisitorService;
    m_argument = this;
    m_stack_size = VISITOR_STACK_SIZE;
    // Its waits are all on the connection, which requestStop shuts down; a wake would double
    // the descriptors every connection costs.
    m_wakeable = false;
}

Visitor::~Visitor() {
    if (m_joinable && !done()) requestStop();
    stop();
    if (m_socket) {
        m_socket->stop();
        delete m_socket;
    }
}

void Visitor::requestStop() {
    m_running.store(false, std::memory_order_relaxed);
    if (m_socket) m_socket->shutdownBoth();
}

void* VisitorService(void* argument) {
    Visitor* self = static_cast<Visitor*>(argument);
    char buffer[REQUEST_BUFFER_SIZE];
    RequestCarry carry;
    while (self->m_running) {
        char* path;
        char* query;
        if (getRequestedFile(self->m_socket, &path, &query, buffer, sizeof(buffer), &carry) != 0)
            break;  // silent, closed, refused or malformed: no answer
        // The stream keeps its own read of the configuration: a held request must not keep
        // replaced texts from being freed for its whole wait.
        if (isLivePath(path)) {
            if (!sendLive(self->m_socket, path)) break;
            continue;
        }
        ConfigReadScope reading(g_cfg);  // the answer may hold the configuration's texts
        if (isDemosPath(path)) {
            if (!sendDemos(self->m_socket, path)) break;
            continue;
        }
        const char* file = path;
        char* fill = nullptr;  // only the start page is filled
        if (strcmp(path, "/") == 0) {
            file = self->m_hasRoom ? "/index.html" : "/toomany.html";
            fill = query;
        }
        if (!sendFile(self->m_socket, file, fill)) break;  // a broken response ends the connection
    }
    // Closing is left to the accept loop after the join: a descriptor closed here could be
    // reused at once by another socket that the accept loop's shutdown would then hit.
    self->m_done.store(true, std::memory_order_release);
    self->m_socket->shutdownBoth();
    return nullptr;
}
