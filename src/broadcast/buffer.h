// The delay buffer: elements of packets (one per half-second snapshot) queued by the encoder
// and taken by the spectator sender once more than m_delay are waiting. g_mut1 guards the queue,
// m_count, m_current and m_reset while the encoder runs.
#pragma once

#include <atomic>
#include <cstdint>

#include "stream/packet.h"

// The longest delay (300 s) in elements, and 20 s more: a queue this long means no sender is
// taking (its socket could not be opened) or one has fallen far behind, and only the oldest
// element, which no delay would keep, is given up.
enum { PACKET_BUFFER_MAX = 2 * 300 + 40 };

class PacketBuffer {
public:
    struct BufferElement {
        uint8_t m_reset = 0;  // first element of a fresh game state (map start)
        PacketManager m_packets;
        BufferElement* m_prev = nullptr;
        BufferElement* m_next = nullptr;
    };

    PacketBuffer() = default;
    ~PacketBuffer() { clear(); }
    PacketBuffer(const PacketBuffer&) = delete;
    PacketBuffer& operator=(const PacketBuffer&) = delete;

    void setDelay(int seconds);  // m_delay = 2 * seconds; never 0
    BufferElement* add();        // under g_mut1; linked at the end, filled by the caller after
    // Under g_mut1: links an element the caller has already filled (taking it over), with the
    // reset mark, exactly as add() would have made it. Beyond PACKET_BUFFER_MAX the oldest is
    // freed (its reset mark passes on) and counted in m_dropped.
    void append(BufferElement* element);
    BufferElement* take();       // under g_mut1; null unless more than m_delay are queued
    void clear();                // frees m_current and every queued element (unload)

    BufferElement* m_first = nullptr;
    BufferElement* m_last = nullptr;
    int m_count = 0;
    uint8_t m_reset = 0;
    std::atomic<int> m_delay{60};
    std::atomic<int> m_dropped{0};  // elements freed unsent; the main thread logs and resets it
    BufferElement* m_current = nullptr;  // the element the sender is sending now
};

extern PacketBuffer g_pck_buffer;
