// A spectator's datagram: the only bytes anyone on the internet can make the sender read.
// Offsets 0-1 are unread, 2 is the heartbeat header, 3-5 its bytes (the 5th byte, offset 4,
// asks for the full state again); the rest is never looked at.
#pragma once

#include <cstdint>

class ConnectionManager;

enum class HeartbeatAsk { nothing, keep, resync };

// What length bytes of data ask for; nothing when they are not a heartbeat.
HeartbeatAsk readHeartbeat(const char* data, int length);

// A datagram from address:port (host order) at now (monotonic ms): a heartbeat refreshes its
// connection or admits a new one. False when ignored, or refused because connections is full
// (no reply of any kind either way).
bool serveHeartbeat(ConnectionManager& connections, const char* data, int length,
                    uint32_t address, int port, int64_t now);
