#include "stream/packet.h"

#include <cstring>

#include "stream/chunks.h"

void Packet::reset() {
    m_ptr = m_data;
    m_length = PACKET_RESERVED;
    m_position = PACKET_RESERVED;
    m_next = nullptr;
    m_data[0] = 0;
    m_data[1] = 0;
}

Packet* PacketManager::open() {
    Packet* packet = new Packet;
    packet->reset();
    if (m_last == nullptr)
        m_packets = packet;
    else
        m_last->m_next = packet;
    m_last = packet;
    m_current = packet;
    m_count++;
    return packet;
}

void PacketManager::addChunk(PacketChunk& chunk) {
    if (chunk.empty()) return;
    int n = chunk.getSize();
    if (opens(n)) {
        open();
        if (n < 0 || 1 + n > PACKET_SIZE - PACKET_RESERVED) return;  // cannot fit anywhere
    }
    Packet* packet = m_current;
    char* at = packet->m_ptr + packet->m_length;
    at[0] = static_cast<char>(chunk.getHeader());
    packet->m_length += 1 + chunk.storeData(at + 1);
}

bool PacketManager::wouldOpen(PacketChunk& chunk) {
    return !chunk.empty() && opens(chunk.getSize());
}

bool PacketManager::opens(int size) const {
    return m_current == nullptr || 1 + size > PACKET_SIZE - m_current->m_length;
}

bool PacketManager::addRaw(const char* bytes, int length) {
    if (length < PACKET_RESERVED || length > PACKET_SIZE) return false;
    Packet* packet = open();
    memcpy(packet->m_data, bytes, static_cast<size_t>(length));
    packet->m_length = length;
    return true;
}

int PacketManager::bytes() const {
    int total = 0;
    for (Packet* packet = m_packets; packet != nullptr; packet = packet->m_next)
        total += packet->m_length;
    return total;
}

void PacketManager::clear() {
    m_current = nullptr;
    Packet* packet = m_packets;
    while (packet != nullptr) {
        Packet* next = packet->m_next;
        delete packet;
        packet = next;
    }
    m_packets = m_last = nullptr;
    m_count = 0;
}
