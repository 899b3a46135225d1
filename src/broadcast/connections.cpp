#include "broadcast/connections.h"

ConnectionManager g_connmgr;

void ConnectionManager::Connection::refresh(bool resync) {
    m_lastSeen = time(nullptr);
    if (resync) m_fullStates = 2;
}

void ConnectionManager::clear() {
    while (m_connections) {
        Connection* next = m_connections->m_next;
        delete m_connections;
        m_connections = next;
    }
    m_tail = nullptr;
    m_count.store(0, std::memory_order_relaxed);
}
