// libFuzzer target: the sender's side of spectator datagrams. The input is a run of datagrams,
// each an address byte, a port byte, a clock step byte, a length byte and that many bytes; now
// and then the silent ones are dropped. The connections must stay a clean list of distinct
// address:port pairs, never more than the limits (in all, and per address), each last seen no
// later than now.
#include <cstdint>
#include <cstdlib>

#include "broadcast/connections.h"
#include "broadcast/heartbeat.h"

namespace {

void check(const ConnectionManager& connections, int64_t now) {
    int n = 0;
    const ConnectionManager::Connection* last = nullptr;
    for (auto* c = connections.m_connections; c != nullptr; c = c->m_next, n++) {
        if (n > connections.m_max.load()) abort();
        if (c->m_lastSeen > now || c->m_fullStates > CONNECTION_FULL_STATES) abort();
        int same_address = 1;
        for (auto* d = c->m_next; d != nullptr; d = d->m_next) {
            if (d->m_address == c->m_address && d->m_port == c->m_port) abort();
            if (d->m_address == c->m_address) same_address++;
        }
        if (same_address > connections.m_max_per_address.load()) abort();
        last = c;
    }
    if (n != connections.count() || connections.m_tail != last) abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    ConnectionManager connections;
    connections.m_max = 6;
    connections.m_max_per_address = 3;
    int64_t now = 1000;
    size_t at = 0;
    while (at + 4 <= size) {
        uint32_t address = 0x0A000000u | (data[at] & 0x07);
        int port = 27000 + (data[at + 1] & 0x0F);
        int step = data[at + 2];
        size_t length = data[at + 3] % 24;
        at += 4;
        if (length > size - at) length = size - at;
        const char* bytes = reinterpret_cast<const char*>(data + at);
        at += length;
        now += step * 40;  // up to about 10 s per datagram: silences longer than the timeout
        HeartbeatAsk ask = readHeartbeat(bytes, int(length));
        int before = connections.count();
        bool known = connections.find(address, port) != nullptr;
        bool served = serveHeartbeat(connections, bytes, int(length), address, port, now);
        if (ask == HeartbeatAsk::nothing && (served || connections.count() != before)) abort();
        if (served) {
            ConnectionManager::Connection* c = connections.find(address, port);
            if (!c || c->m_lastSeen != now) abort();
            if (ask == HeartbeatAsk::resync && c->m_fullStates != CONNECTION_FULL_STATES) abort();
            if (connections.count() != before + (known ? 0 : 1)) abort();
        } else if (ask != HeartbeatAsk::nothing && known) {
            abort();  // a known spectator's heartbeat is never refused
        } else if (ask != HeartbeatAsk::nothing && before == 0) {
            abort();  // an empty server always has a seat (the limit is above zero)
        }
        if (step & 1) {
            connections.dropSilent(now);
            for (auto* c = connections.m_connections; c != nullptr; c = c->m_next)
                if (now - c->m_lastSeen > CONNECTION_TIMEOUT_MS) abort();
        }
        check(connections, now);
    }
    return 0;
}
