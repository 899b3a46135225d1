// Big-endian field access for chunk data.
#pragma once

#include <cstdint>

inline void putByte(char* out, int value) { out[0] = static_cast<char>(value & 0xFF); }
inline void putShort(char* out, int value) {
    out[0] = static_cast<char>((value >> 8) & 0xFF);
    out[1] = static_cast<char>(value & 0xFF);
}
inline uint8_t getByte(const char* in) { return static_cast<uint8_t>(in[0]); }
inline uint16_t getShort(const char* in) {
    return static_cast<uint16_t>((static_cast<uint8_t>(in[0]) << 8) | static_cast<uint8_t>(in[1]));
}

// Texts: a length byte, then the bytes (at most 255, see wireTextLength).
int writeText(char* out, const char* text);
int readText(const char* in, int available, char* out, int keep);
