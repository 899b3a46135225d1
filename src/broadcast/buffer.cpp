#include "broadcast/buffer.h"

PacketBuffer g_pck_buffer;

void PacketBuffer::setDelay(int seconds) {
    // The encoder's newest element may still be in the making while the sender takes: at least
    // one element always stays behind, whatever delay is asked for.
    int elements = seconds * 2;
    m_delay.store(elements < 1 ? 1 : elements, std::memory_order_relaxed);
}

PacketBuffer::BufferElement* PacketBuffer::add() {
    BufferElement* element = new BufferElement;
    append(element);
    return element;
}

void PacketBuffer::append(BufferElement* element) {
    element->m_reset = m_reset;
    m_reset = 0;
    element->m_next = nullptr;
    element->m_prev = m_last;
    if (m_last != nullptr)
        m_last->m_next = element;
    else
        m_first = element;
    m_last = element;
    m_count++;
    if (m_count > PACKET_BUFFER_MAX) {
        BufferElement* oldest = m_first;
        m_first = oldest->m_next;
        m_first->m_prev = nullptr;
        m_first->m_reset |= oldest->m_reset;  // the sender must still start its mirror afresh
        delete oldest;
        m_count--;
        m_dropped.fetch_add(1, std::memory_order_relaxed);
    }
}

PacketBuffer::BufferElement* PacketBuffer::take() {
    if (m_count <= m_delay.load(std::memory_order_relaxed)) return nullptr;
    delete m_current;  // the sender is done with it: it only takes again when it is
    BufferElement* element = m_first;
    m_first = element->m_next;
    if (m_first != nullptr)
        m_first->m_prev = nullptr;
    else
        m_last = nullptr;
    element->m_next = nullptr;
    m_count--;
    m_current = element;
    return element;
}

void PacketBuffer::clear() {
    delete m_current;
    m_current = nullptr;
    while (m_first != nullptr) {
        BufferElement* next = m_first->m_next;
        delete m_first;
        m_first = next;
    }
    m_last = nullptr;
    m_count = 0;
}
