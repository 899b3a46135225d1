// What spectate prints: the live terminal view, and JSON lines for scripts.
#pragma once

#include <string>

#include "game.h"

struct Traffic {
    double m_bytes_per_s = 0;
    double m_datagrams_per_s = 0;
    long long m_bytes = 0;      // since the start
    long long m_datagrams = 0;
    long long m_ignored = 0;    // from other addresses
    long long m_damaged = 0;    // not a sound packet
};

struct ViewStatus {
    const char* m_server = "";
    double m_elapsed = 0;       // seconds since the start
    double m_silent = 0;        // seconds since the last datagram; negative: none yet
    const Traffic* m_traffic = nullptr;
    bool m_resync_pending = false;
};

// A full screen: ANSI cursor home, the lines (each erasing its rest), erase below.
std::string renderTerminal(const SpectatorGame& game, const ViewStatus& status);

// One JSON object per line, each with "type" and "t" (seconds since the start).
std::string jsonState(const SpectatorGame& game, double t);
std::string jsonEvent(const GameEvent& event, double t);
std::string jsonTraffic(const Traffic& traffic, double t);
// A JSON string literal: quotes, backslashes and control bytes escaped; bytes that are not
// UTF-8 read as Latin-1, so every line is valid JSON whatever a player calls himself.
std::string jsonString(const std::string& text);
