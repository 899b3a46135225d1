// Spectator connections: who receives the stream. Owned by the spectator sender thread; the count
// and the limit are also read, without a lock, by the main thread (version variable) and the web
// server (start page choice).
#pragma once

#include <atomic>
#include <cstdint>
#include <ctime>

class ConnectionManager {
public:
    struct Connection {
        uint32_t m_address = 0;  // host order
        int m_port = 0;          // host order
        int m_fullStates = 2;    // elements still to be sent as full states; <= 0: up to date
        time_t m_lastSeen = 0;   // last heartbeat
        Connection* m_next = nullptr;

        void refresh(bool resync);  // a heartbeat arrived
    };

    ConnectionManager() = default;
    ~ConnectionManager() { clear(); }
    ConnectionManager(const ConnectionManager&) = delete;
    ConnectionManager& operator=(const ConnectionManager&) = delete;

    void clear();  // frees every connection; m_count 0

    Connection* m_connections = nullptr;  // in order of arrival
    Connection* m_tail = nullptr;
    std::atomic<int> m_count{0};
    std::atomic<int> m_max{0};  // from max_spec; 0 admits nobody
};

extern ConnectionManager g_connmgr;
