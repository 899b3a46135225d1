// The demo recorder: one file per map holding the packets of every encoded snapshot, undelayed.
//
// File: the format byte 2, then one record per snapshot: a packet count (one byte), and per
// packet its length (two bytes, big-endian, reserved bytes included) and its bytes XORed with
// DEMO_MASK. Counts and lengths are stored plain.
//
// start, write and close run under g_mut1 (game thread and encoder thread); init runs at attach
// before any thread exists.
#pragma once

#include <atomic>
#include <cstdint>
#include <cstdio>

class PacketManager;

enum : uint8_t { DEMO_FORMAT = 2, DEMO_MASK = 0x6D };
enum { DEMO_NAME_MAX = 255, DEMO_RECORD_PACKETS_MAX = 255 };

class DemoRecorder {
public:
    DemoRecorder() = default;
    ~DemoRecorder() { close(); }
    DemoRecorder(const DemoRecorder&) = delete;
    DemoRecorder& operator=(const DemoRecorder&) = delete;

    // m_folder = "<base>/demos", created. 0 when it exists afterwards, -1 otherwise (error() and
    // failedPath() then say why).
    int init(const char* base);
    // Opens "<folder>/<mmddyy>/<HHMM>_<map>.kdem" (local time), closing a file still open.
    // 0 recording; -1 the date folder cannot be made; -2 the file cannot be opened.
    int start(const char* map);
    // Appends one record of every packet of packets (at most DEMO_RECORD_PACKETS_MAX; a count
    // byte cannot say more). 0 written; -1 the write failed: the file is cut back to its last
    // whole record and closed, and failed() reports it once.
    int write(const PacketManager* packets);
    void close();
    bool recording() const { return m_file != nullptr; }
    // Any thread, no lock: the next write closes the file instead of writing (start forgets
    // the request). The game thread asks this while the encoder runs, so that it never waits
    // for g_mut1 behind a write to a slow disk.
    void requestClose() { m_close_wanted.store(true, std::memory_order_release); }

    // Main thread: true once after a write failure closed the file (the encoder may not log).
    bool failed() { return m_failed.exchange(false, std::memory_order_acq_rel); }
    const char* path() const { return m_path; }  // of the file opened last
    // The system's error (errno) of the last failed start or write; 0 once a start succeeds.
    int error() const { return m_error.load(std::memory_order_relaxed); }
    // The folder or file the last failed start could not make (main thread).
    const char* failedPath() const { return m_failed_path; }

    FILE* m_file = nullptr;
    char m_folder[DEMO_NAME_MAX + 1] = {};

private:
    int startFailed(const char* path, int result);  // keeps path and errno; returns result

    char m_path[DEMO_NAME_MAX + 1] = {};
    char m_failed_path[DEMO_NAME_MAX + 1] = {};
    std::atomic<int> m_error{0};
    long m_whole = 0;  // bytes of the file that end on a whole record
    std::atomic<bool> m_failed{false};
    std::atomic<bool> m_close_wanted{false};
};

extern DemoRecorder g_demo;

// Writes packets to g_demo while it records (under g_mut1): the encoder's snapshot recorder.
void recordSnapshot(const PacketManager* packets);
