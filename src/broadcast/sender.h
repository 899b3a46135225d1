// The spectator sender: one thread that owns g_udp_socket, the connections and the mirror of
// what spectators have been told. It sends each element of the delay buffer once it is due,
// reads it back into the mirror, sends the full state built from the mirror to spectators that
// joined or asked again, and serves the heartbeats that keep connections alive.
#pragma once

#include <cstdint>

#include "broadcast/buffer.h"
#include "broadcast/connections.h"
#include "broadcast/fragments.h"
#include "net/net.h"
#include "state/names.h"
#include "state/state.h"
#include "stream/packet.h"
#include "stream/reader.h"

enum {
    HEARTBEAT_READ = 16,           // bytes of a datagram looked at, of which the first 6 count
    SENDER_RECEIVES = 10,          // datagrams read per receive phase
    SENDER_RECEIVE_WAIT_MS = 10,   // per read: paces an idle loop and answers heartbeats quickly
    SENDER_SEND_WAIT_MS = 150,     // per datagram; a datagram not sent in time is lost
    SENDER_SERVE_EVERY = 10,       // while elements are due, every 10th pass serves the socket
};

// The sender's work without the thread, so that each phase can be driven on its own.
class SpectatorSender {
public:
    SpectatorSender(DatagramSocket* socket, ConnectionManager* connections, StateManager* mirror,
                    NamesCollection* names);
    SpectatorSender(const SpectatorSender&) = delete;
    SpectatorSender& operator=(const SpectatorSender&) = delete;

    // Up to SENDER_RECEIVES heartbeats, then the connections silent too long are dropped.
    void receivePhase();
    // One heartbeat (or anything else) from address:port, host order; false when ignored.
    bool handleDatagram(const char* data, int length, uint32_t address, int port, int64_t now);
    // One element: its packets to the up-to-date spectators, then into the mirror, then the full
    // state (built once) to every spectator still awaiting one.
    void sendPhase(PacketBuffer::BufferElement& element);
    // The thread's loop until self stops running; every connection is freed at the end.
    void run(Thread* self);

    int64_t (*m_clock)() = monotonicMillis;  // the connection clock; tests drive their own
    int m_max_clients = -1;                  // slots in a full state; -1: the engine's maxClients
    int m_full_states_built = 0;             // how often a full state was built (figures, tests)
    FragmentStore* m_fragments = nullptr;    // every element sent is also kept here; null: none

private:
    void sendPackets(const PacketManager& packets, const ConnectionManager::Connection& to);
    int maxClients() const;

    DatagramSocket* m_socket;
    ConnectionManager* m_connections;
    StateManager* m_mirror;
    NamesCollection* m_names;
    ChunkReader m_reader;
    PacketManager m_full;  // the full state of the current element
    char m_received[HEARTBEAT_READ];
    InetAddress m_peer;
    DatagramPacket m_in;
    InetAddress m_to;
    DatagramPacket m_out;
};

// Thread function of g_udp_thread; its argument is the Thread object itself.
void* PacketSender(void* thread);

extern StateManager l_statemgr;     // one slot: the game state as the stream has told it
extern NamesCollection l_name_coll;  // names of that mirror
