#include "broadcast/heartbeat.h"

#include "broadcast/connections.h"
#include "stream/chunks.h"
#include "stream/packet.h"

HeartbeatAsk readHeartbeat(const char* data, int length) {
    if (data == nullptr || length < PACKET_RESERVED + 1 + 3) return HeartbeatAsk::nothing;
    if (static_cast<uint8_t>(data[PACKET_RESERVED]) != CHUNK_HBEAT) return HeartbeatAsk::nothing;
    return data[PACKET_RESERVED + 2] != 0 ? HeartbeatAsk::resync : HeartbeatAsk::keep;
}

bool serveHeartbeat(ConnectionManager& connections, const char* data, int length,
                    uint32_t address, int port, int64_t now) {
    HeartbeatAsk ask = readHeartbeat(data, length);
    if (ask == HeartbeatAsk::nothing) return false;
    ConnectionManager::Connection* c = connections.find(address, port);
    if (c != nullptr) {
        c->refresh(ask == HeartbeatAsk::resync, now);
        return true;
    }
    return connections.admit(address, port, now) != nullptr;
}
