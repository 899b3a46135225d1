// The match's own random numbers: PCG32 (O'Neill), so a seed gives the same game on every
// platform and nothing else in the process (rand(), the engine's RandomLong) disturbs it.
#pragma once

#include <cstdint>

class Random {
public:
    explicit Random(uint64_t seed) {
        next();
        m_state += seed;
        next();
    }
    uint32_t next() {
        uint64_t old = m_state;
        m_state = old * 6364136223846793005ULL + 1442695040888963407ULL;
        uint32_t shifted = uint32_t(((old >> 18u) ^ old) >> 27u);
        uint32_t rot = uint32_t(old >> 59u);
        return (shifted >> rot) | (shifted << ((32u - rot) & 31u));
    }
    int range(int lo, int hi) {  // lo..hi inclusive
        return hi <= lo ? lo : lo + int(next() % uint32_t(hi - lo + 1));
    }
    float unit() { return float(next() >> 8) * (1.0f / 16777216.0f); }  // [0, 1)
    float between(float lo, float hi) { return lo + (hi - lo) * unit(); }
    bool chance(float p) { return unit() < p; }

private:
    uint64_t m_state = 0;
};
