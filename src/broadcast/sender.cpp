#include "broadcast/sender.h"

#include "broadcast/heartbeat.h"
#include "broadcast/mirror.h"
#include "host/host.h"
#include "net/globals.h"
#include "stream/chunks.h"

StateManager l_statemgr;
NamesCollection l_name_coll;

SpectatorSender::SpectatorSender(DatagramSocket* socket, ConnectionManager* connections,
                                 StateManager* mirror, NamesCollection* names)
    : m_socket(socket), m_connections(connections), m_mirror(mirror), m_names(names),
      m_reader(names) {
    m_in.m_address = &m_peer;
    m_in.m_data = m_received;
    m_in.m_capacity = HEARTBEAT_READ;
    m_out.m_address = &m_to;
}

int SpectatorSender::maxClients() const {
    int n = m_max_clients;
    if (n < 0) n = g_max_clients.load(std::memory_order_relaxed);
    // Before any map start (tests that drive the thread alone) the globals are not being written.
    if (n < 0) n = gpGlobals != nullptr ? gpGlobals->maxClients : 0;
    return n < 0 ? 0 : (n > MAX_PLAYERS ? MAX_PLAYERS : n);
}

bool SpectatorSender::handleDatagram(const char* data, int length, uint32_t address, int port,
                                     int64_t now) {
    return serveHeartbeat(*m_connections, data, length, address, port, now);
}

void SpectatorSender::receivePhase() {
    int64_t began = monotonicMillis();
    int read = 0;
    for (; read < SENDER_RECEIVES; read++) {
        if (!m_socket->receive(&m_in, SENDER_RECEIVE_WAIT_MS)) break;
        handleDatagram(m_received, m_in.m_length, m_peer.getAddress(), m_peer.getPort(), m_clock());
    }
    // A receive that fails at once (a socket error, a failed wait) instead of waiting would
    // turn an idle loop into a busy one: the phase takes its wait all the same.
    if (read == 0) Thread::sleep(static_cast<int>(began + SENDER_RECEIVE_WAIT_MS - monotonicMillis()));
    m_connections->dropSilent(m_clock());
}

void SpectatorSender::sendPackets(const PacketManager& packets,
                                  const ConnectionManager::Connection& to) {
    m_to.set(to.m_address, to.m_port);
    for (Packet* p = packets.first(); p != nullptr; p = p->m_next) {
        m_out.m_data = p->m_ptr;  // straight from the element's buffer
        m_out.m_length = p->m_length;
        m_socket->send(&m_out, SENDER_SEND_WAIT_MS);  // a lost datagram is what resync is for
    }
}

void SpectatorSender::sendPhase(PacketBuffer::BufferElement& element) {
    StateManager::States& mirror = *m_mirror->slot(0);
    if (m_fragments) m_fragments->beginElement(mirror, *m_names, maxClients());
    // Before the element's own packets are read back, so a full state sent now holds only
    // what the fresh game state has carried.
    if (element.m_reset) clearMirror(*m_mirror, *m_names);

    ConnectionManager::Connection* c;
    for (c = m_connections->m_connections; c != nullptr; c = c->m_next)
        if (c->m_fullStates <= 0) sendPackets(element.m_packets, *c);

    for (Packet* p = element.m_packets.first(); p != nullptr; p = p->m_next)
        applyPacket(mirror, m_reader, *p);
    if (m_fragments) m_fragments->endElement(element, mirror, *m_names);

    for (c = m_connections->m_connections; c != nullptr; c = c->m_next)
        if (c->m_fullStates > 0) break;
    if (c == nullptr) return;  // nobody awaits a full state: none is built

    buildFullState(m_full, mirror, *m_names, maxClients());
    m_full_states_built++;
    for (; c != nullptr; c = c->m_next) {
        if (c->m_fullStates <= 0) continue;
        c->m_fullStates--;
        sendPackets(m_full, *c);
    }
    m_full.clear();
}

void SpectatorSender::run(Thread* self) {
    int pass = 0;
    while (self->running()) {
        PacketBuffer::BufferElement* element = nullptr;
        if (++pass % SENDER_SERVE_EVERY != 0) {
            g_mut1.lock();
            element = g_pck_buffer.take();
            g_mut1.unlock();
        }
        if (element != nullptr) {
            sendPhase(*element);  // it stays the buffer's current element until the next take
        } else {
            receivePhase();
            pass = 0;
        }
    }
    m_connections->clear();
}

void* PacketSender(void* arg) {
    Thread* self = static_cast<Thread*>(arg);
    if (!l_statemgr.allocated()) l_statemgr.allocate(0);  // attach sizes it; never run without
    SpectatorSender sender(&g_udp_socket, &g_connmgr, &l_statemgr, &l_name_coll);
    if (httpStreamEnabled()) sender.m_fragments = &g_fragments;
    sender.run(self);
    // The mirror may be released before the next sender starts: its fragment starts afresh.
    g_fragments.abandon();
    return nullptr;
}
