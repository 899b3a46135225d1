// Spectator connections: who receives the stream. A spectator exists only through its heartbeats
// from one address and port. Owned by the spectator sender thread; the count and the limit are
// also read, without a lock, by the main thread (version variable) and the web server (start page
// choice), where a stale value only delays an update.
#pragma once

#include <atomic>
#include <cstdint>

enum {
    CONNECTION_FULL_STATES = 2,     // elements sent as full states after a join or a resync
    CONNECTION_TIMEOUT_MS = 5000,   // silent for longer than this: dropped
    DEFAULT_MAX_SPEC_PER_IP = 4,    // key max_spec_per_ip: connections of one address at once
};

class ConnectionManager {
public:
    struct Connection {
        uint32_t m_address = 0;  // host order
        int m_port = 0;          // host order
        int m_fullStates = CONNECTION_FULL_STATES;  // still to be sent as full states; <= 0: up to date
        // Last heartbeat, in monotonicMillis: a wall-clock jump must neither drop every
        // spectator nor keep dead ones.
        int64_t m_lastSeen = 0;
        Connection* m_next = nullptr;

        void refresh(bool resync, int64_t now);  // a heartbeat arrived
    };

    ConnectionManager() = default;
    ~ConnectionManager() { clear(); }
    ConnectionManager(const ConnectionManager&) = delete;
    ConnectionManager& operator=(const ConnectionManager&) = delete;

    Connection* find(uint32_t address, int port) const;
    // A new connection at the tail, awaiting the full state; null when m_max is reached or the
    // address already holds m_max_per_address connections (each port counts as one).
    Connection* admit(uint32_t address, int port, int64_t now);
    int countFrom(uint32_t address) const;  // connections of address, whatever their port
    // Frees every connection silent for more than CONNECTION_TIMEOUT_MS; returns how many.
    int dropSilent(int64_t now);
    void clear();  // frees every connection; m_count 0

    int count() const { return m_count.load(std::memory_order_relaxed); }

    Connection* m_connections = nullptr;  // in order of arrival
    Connection* m_tail = nullptr;
    std::atomic<int> m_count{0};
    std::atomic<int> m_max{0};  // from max_spec; 0 admits nobody
    // From max_spec_per_ip: one address (a heartbeat's source is easily forged) cannot take
    // every seat. 0 admits nobody, as max_spec does.
    std::atomic<int> m_max_per_address{DEFAULT_MAX_SPEC_PER_IP};
};

// max_spec_per_ip from the configuration store, DEFAULT_MAX_SPEC_PER_IP when the key is absent.
int maxSpecPerIp();

extern ConnectionManager g_connmgr;
