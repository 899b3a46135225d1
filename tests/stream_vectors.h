// Hand-written bytes of every chunk kind: header byte first, then the data, big-endian.
// The records that produce them are described beside each vector; tools' tests reuse them.
#pragma once

#include <cstdint>
#include <vector>

namespace vectors {

using Bytes = std::vector<uint8_t>;

// Slot 3, x -1, y 0x1234, yaw 90, health 100, state alive+spawned, 5 kills, 2 deaths,
// counter-terrorist, name "Bob", weapon 28, defuser. Mask 0xFF: every group.
inline const Bytes kPlayerFull = {
    3,    0xFF, 0xFF, 0xFF, 0x12, 0x34, 0x00, 0x5A,  // header, mask, x, y, yaw
    100,  0x24, 5,    2,    2,                       // health, state, kills, deaths, team
    3,    'B',  'o',  'b',  28,   0x08,              // name, weapon, icons
};

// The same player after turning to yaw -45 and dying once more: position and kills only.
inline const Bytes kPlayerDelta = {
    3, 0x09, 0xFF, 0xFF, 0x12, 0x34, 0xFF, 0xD3, 5, 3,
};

// "de_kovi", zoom 1.23 (123), rotated, origin (-200, 350).
inline const Bytes kMap = {
    32, 7, 'd', 'e', '_', 'k', 'o', 'v', 'i', 0x00, 0x7B, 1, 0xFF, 0x38, 0x01, 0x5E,
};

// A map chunk with no name: what the first element of every map carries.
inline const Bytes kMapEmpty = {32, 0, 0x00, 0x00, 0, 0x00, 0x00, 0x00, 0x00};

// Terrorists 300 (sent modulo 256: 44), counter-terrorists 2.
inline const Bytes kScore = {36, 44, 2};

// Planted at (-1000, 512).
inline const Bytes kBomb = {40, 0xFC, 0x18, 0x02, 0x00, 2};

inline const Bytes kRoundTime = {41, 0x00, 0x73};  // 115 s left
inline const Bytes kRoundOver = {41, 0xFF, 0xFF};  // the last tick: -1

// Killed by the world (255), victim slot 4, headshot, "knife".
inline const Bytes kDeath = {33, 255, 4, 1, 5, 'k', 'n', 'i', 'f', 'e'};

inline const Bytes kRadioBombPlanted = {34, 2, 0, 0};

// All-chat (kind 2) from slot 7: "gg".
inline const Bytes kChat = {35, 2, 7, 2, 'g', 'g'};
inline const Bytes kChatEmpty = {35, 2, 7, 0};

inline const Bytes kHeartbeat = {38, 2, 0, 0};

// Grenade 31 thrown at (100, -100), high explosive.
inline const Bytes kGrenade = {39, 31, 0x00, 0x64, 0xFF, 0x9C, 11, 2};

}  // namespace vectors
