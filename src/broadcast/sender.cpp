#include "broadcast/sender.h"

#include "net/net.h"
#include "plugin/globals.h"

StateManager l_statemgr;
NamesCollection l_name_coll;

// Until the stream exists, heartbeats are read and dropped so the socket never backs up.
void* PacketSender(void* arg) {
    Thread* self = static_cast<Thread*>(arg);
    char buffer[64];
    InetAddress peer;
    DatagramPacket packet;
    packet.m_address = &peer;
    packet.m_data = buffer;
    packet.m_capacity = sizeof(buffer);
    while (self->m_running) g_udp_socket.receive(&packet, 10);
    return nullptr;
}
