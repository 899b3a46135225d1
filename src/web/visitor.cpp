#include "web/visitor.h"

#include <cstring>

#include "host/config.h"
#include "web/demos.h"
#include "web/live.h"
#include "web/response.h"

Visitor::Visitor(void* (*service)(void*), VisitorPool* pool) : m_pool(pool) {
    m_function = service;
    m_argument = this;
    m_stack_size = VISITOR_STACK_SIZE;
    m_name = VISITOR_THREAD_NAME;
    // Its waits are on a connection, which the pool shuts down to stop it, and on m_ready,
    // which the pool posts; a wake would double the descriptors every visitor costs.
    m_wakeable = false;
}

Visitor::~Visitor() {
    stop();
    m_ready.destroy();
}

bool Visitor::prepare() {
    if (m_prepared) return true;
    m_prepared = m_ready.init();
    return m_prepared;
}

bool Visitor::answer(Connection* connection) {
    StreamSocket* socket = &connection->m_socket;
    for (;;) {
        m_started.store(uint32_t(monotonicMillis()), std::memory_order_relaxed);
        char* path;
        char* query;
        char* modified_since;
        // The poller saw the request begin: the read waits only for the rest of it.
        if (!running() ||
            getRequestedFile(socket, &path, &query, connection->m_buffer,
                             sizeof(connection->m_buffer), &connection->m_carry,
                             &modified_since) != 0)
            return false;  // silent, closed, refused or malformed: no answer
        bool answered;
        // The stream keeps its own read of the configuration: a held request must not keep
        // replaced texts from being freed for its whole wait.
        if (isLivePath(path)) {
            answered = sendLive(socket, path);
        } else {
            ConfigReadScope reading(g_cfg);  // the answer may hold the configuration's texts
            if (isDemosPath(path)) {
                answered = sendDemos(socket, path);
            } else {
                const char* file = path;
                char* fill = nullptr;  // only the start page is filled
                if (strcmp(path, "/") == 0) {
                    file = connection->m_hasRoom ? "/index.html" : "/toomany.html";
                    fill = query;
                }
                answered = sendFile(socket, file, fill, modified_since, &m_pages);
            }
        }
        if (!answered) return false;  // a broken response ends it
        // A request that came with this one is answered now; otherwise the poller waits.
        if (connection->m_carry.m_length == 0) return true;
    }
}
