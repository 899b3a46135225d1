// Time spent inside the plugin on the main thread: one fixed log-linear histogram per hook (and
// per console command and map change), filled around each call with a steady clock. Nothing is
// allocated while measuring, so the figures are the plugin's, not the measurement's. On Linux
// each call also reads the thread's context switches before and after (outside the timed part):
// a voluntary switch means the call blocked (a lock, a socket, a sleep), an involuntary one that
// the machine took the core away; the calls with neither get a histogram of their own, which is
// the plugin's cost without the machine's noise.
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

    // Where a call began: the thread's switch counts, then the clock (read last).
    struct Mark {
        long m_waits = 0;
        long m_preempts = 0;
        int64_t m_ns = 0;
    };

    static int64_t nowNs();
    static Mark mark();
    static int bucketOf(int64_t ns);
    static int64_t bucketTop(int bucket);  // the largest value the bucket holds

    bool enabled() const { return m_enabled; }
    void enable() { m_enabled = true; }
    // The entry for name (first part) and detail (second, may be null); -1 when the table is
    // full. A call site passes the same literals each time, so the pointers are compared first.
    int entry(const char* name, const char* detail);
    int entryText(const char* text);  // for text that does not outlive the call
    // The call from begin to now; also counted into the running span unless it is a host
    // service called from inside a call already counted.
    void finish(int entry, const Mark& begin, bool in_span = true);
    // One call of ns in which the thread made that many voluntary and involuntary switches.
    void add(int entry, int64_t ns, long waits = 0, long preempts = 0);
    void beginSpan() { m_span = Mark{}; }
    void addSpan(int entry);  // the span's sums as one call
    // The table: per entry calls, p50, p99, p99.9 and max in microseconds, the calls that
    // waited or were preempted, and p99.9 and max of the calls that did neither.
    std::string report() const;

private:
    struct Entry {
        const char* m_name = nullptr;
        const char* m_detail = nullptr;
        char m_text[NAME_MAX] = {};
        uint64_t m_calls = 0;
        int64_t m_max = 0;
        int64_t m_quiet_max = 0;
        uint64_t m_quiet_calls = 0;
        uint64_t m_waited = 0;
        uint64_t m_preempted = 0;
        uint64_t m_counts[BUCKETS] = {};
        uint64_t m_quiet_counts[BUCKETS] = {};  // calls with no switch at all
    };
    static double percentile(const uint64_t* counts, int64_t max, double p);

    bool m_enabled = false;
    int m_used = 0;
    Mark m_span;  // sums since beginSpan
    Entry m_entries[MAX_ENTRIES];
};
