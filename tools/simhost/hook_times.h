// Time spent inside the plugin on the main thread: one fixed log-linear histogram per hook (and
// per console command and map change), filled around each call with a steady clock. Nothing is
// allocated while measuring, so the figures are the plugin's, not the measurement's.
#pragma once

#include <cstdint>
#include <string>

class HookTimes {
public:
    static constexpr int MAX_ENTRIES = 80;
    static constexpr int NAME_MAX = 48;
    // Values below 32 ns exactly, above in 16 steps per power of two up to 2^41 ns (36 min).
    static constexpr int LINEAR = 32;
    static constexpr int STEPS = 16;
    static constexpr int BUCKETS = LINEAR + (41 - 5) * STEPS;

    static int64_t nowNs();
    static int bucketOf(int64_t ns);
    static int64_t bucketTop(int bucket);  // the largest value the bucket holds

    bool enabled() const { return m_enabled; }
    void enable() { m_enabled = true; }
    // The entry for name (first part) and detail (second, may be null); -1 when the table is
    // full. A call site passes the same literals each time, so the pointers are compared first.
    int entry(const char* name, const char* detail);
    int entryText(const char* text);  // for text that does not outlive the call
    void add(int entry, int64_t ns);  // also counted into the running span
    void beginSpan() { m_span_ns = 0; }
    int64_t span() const { return m_span_ns; }
    // The table: per entry calls, p50, p99, p99.9 and max in microseconds.
    std::string report() const;

private:
    struct Entry {
        const char* m_name = nullptr;
        const char* m_detail = nullptr;
        char m_text[NAME_MAX] = {};
        uint64_t m_calls = 0;
        int64_t m_max = 0;
        uint64_t m_counts[BUCKETS] = {};
    };
    double percentile(const Entry& e, double p) const;

    bool m_enabled = false;
    int m_used = 0;
    int64_t m_span_ns = 0;
    Entry m_entries[MAX_ENTRIES];
};
