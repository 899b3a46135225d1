// Small helpers the capture hooks share for writing into the open slot.
#pragma once

#include <cstdint>

#include "state/state.h"

namespace capture {

// An engine float truncated toward zero (and kept in 16 bits); one no int can hold (NaN, infinity,
// beyond 2^31) gives 0 rather than undefined behaviour.
inline int32_t truncate32(float value) {
    if (!(value > -2147483648.0f && value < 2147483648.0f)) return 0;
    return static_cast<int32_t>(value);
}
inline int16_t truncate16(float value) {
    return static_cast<int16_t>(truncate32(value));  // wraps: the low 16 bits
}

// The game time in whole seconds, truncated toward zero.
int gameSecond();

// A 1-based player id of a message argument as a slot, or -1 outside 1..32.
inline int slotOfId(int id) {
    int slot = id - 1;
    return static_cast<unsigned>(slot) < MAX_PLAYERS ? slot : -1;
}

// The open slot's record of player slot (0..31), with m_index stored as every writer must.
inline PlayerState& player(int slot) {
    PlayerState& p = g_current->m_players[slot];
    p.m_index = static_cast<uint8_t>(slot);
    return p;
}

extern int g_refused_events;

// Builds a Chunk from args in the open slot's events. Without an open slot (no map running)
// nothing is built; beyond EVENTS_MAX in one slot the event is counted in g_refused_events (main
// thread only; logged and reset once per map).
template <class Chunk, class... Args>
void appendEvent(Args... args) {
    if (g_current == nullptr) return;
    if (!g_current->m_events.emplace<Chunk>(args...)) g_refused_events++;
}

// Character i of text, or 0 when text ends before it: sample and model paths are tested at
// fixed positions and may be shorter.
inline char charAt(const char* text, int i) {
    for (int k = 0; k < i; ++k)
        if (text[k] == '\0') return '\0';
    return text[i];
}

}  // namespace capture
