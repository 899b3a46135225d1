#include "broadcast/connections.h"

#include "host/config.h"

ConnectionManager g_connmgr;

void ConnectionManager::Connection::refresh(bool resync, int64_t now) {
    m_lastSeen = now;
    if (resync) m_fullStates = CONNECTION_FULL_STATES;
}

ConnectionManager::Connection* ConnectionManager::find(uint32_t address, int port) const {
    for (Connection* c = m_connections; c != nullptr; c = c->m_next)
        if (c->m_address == address && c->m_port == port) return c;
    return nullptr;
}

int maxSpecPerIp() {
    return g_cfg.find("max_spec_per_ip") ? g_cfg.getInt("max_spec_per_ip") : DEFAULT_MAX_SPEC_PER_IP;
}

int ConnectionManager::countFrom(uint32_t address) const {
    int n = 0;
    for (Connection* c = m_connections; c != nullptr; c = c->m_next)
        if (c->m_address == address) n++;
    return n;
}

ConnectionManager::Connection* ConnectionManager::admit(uint32_t address, int port, int64_t now) {
    // Refused either way: no reply at all, so a forged source gets nothing sent to it.
    if (count() >= m_max.load(std::memory_order_relaxed)) return nullptr;
    if (countFrom(address) >= m_max_per_address.load(std::memory_order_relaxed)) return nullptr;
    Connection* c = new Connection;
    c->m_address = address;
    c->m_port = port;
    c->refresh(true, now);
    if (m_tail != nullptr)
        m_tail->m_next = c;
    else
        m_connections = c;
    m_tail = c;
    m_count.fetch_add(1, std::memory_order_relaxed);
    return c;
}

int ConnectionManager::dropSilent(int64_t now) {
    int dropped = 0;
    Connection* previous = nullptr;
    Connection* c = m_connections;
    while (c != nullptr) {
        Connection* next = c->m_next;
        if (now - c->m_lastSeen > CONNECTION_TIMEOUT_MS) {
            if (previous != nullptr)
                previous->m_next = next;
            else
                m_connections = next;
            if (m_tail == c) m_tail = previous;
            delete c;
            m_count.fetch_sub(1, std::memory_order_relaxed);
            dropped++;
        } else {
            previous = c;
        }
        c = next;
    }
    return dropped;
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
