// Time spent inside the plugin on the main thread: one fixed log-linear histogram per hook (and
// per console command and map change), filled around each call with a steady clock. Nothing is
// allocated while measuring, so the figures are the plugin's, not the measurement's. On Linux
// each call also reads the thread's context switches before and after (outside the timed part):
// a voluntary switch means the call blocked (a lock, a socket, a sleep), an involuntary one that
// the machine took the core away; the calls with neither get a histogram of their own, which is
// the plugin's cost without the machine's noise. Host services the plugin calls (storing a
// variable, printing a line) are timed as rows of their own, and each call's time less theirs is
// its "own" time: what the plugin spends, not the host it calls.
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

    // Where a call began: the thread's switch counts, the host services' time so far, then the
    // clock (read last).
    struct Mark {
        long m_waits = 0;
        long m_preempts = 0;
        int64_t m_host_ns = 0;
        int64_t m_ns = 0;
    };
    enum class Kind { plugin, host_service };

    // Times the span of its own life as one call of an entry (nothing when times is null, nor
    // for a host service that no plugin call is waiting on: the game calls those too).
    class Scope {
    public:
        Scope(HookTimes* times, const char* name, const char* detail = nullptr,
              Kind kind = Kind::plugin);
        Scope(HookTimes* times, int entry);  // a plugin call of an entry already found
        ~Scope();
        Scope(const Scope&) = delete;
        Scope& operator=(const Scope&) = delete;

    private:
        void begin();
        HookTimes* m_times;
        const char* m_name = nullptr;
        const char* m_detail = nullptr;
        int m_entry = -1;
        bool m_found = false;  // m_entry holds the row, not m_name and m_detail
        Kind m_kind = Kind::plugin;
        Mark m_begin;
        int64_t m_outer_ns = 0;  // a host service: the clock before its own measuring began
    };

    static int64_t nowNs();
    static int bucketOf(int64_t ns);
    static int64_t bucketTop(int bucket);  // the largest value the bucket holds

    bool enabled() const { return m_enabled; }
    void enable() { m_enabled = true; }
    // The entry for name (first part) and detail (second, may be null); -1 when the table is
    // full. A call site passes the same literals each time, so the pointers are compared first.
    int entry(const char* name, const char* detail);
    int entryText(const char* text);  // for text that does not outlive the call
    // One call of ns in which the thread made that many voluntary and involuntary switches and
    // spent host_ns of it in host services.
    void add(int entry, int64_t ns, long waits = 0, long preempts = 0, int64_t host_ns = 0);
    void beginSpan() { m_span = Mark{}; }
    void addSpan(int entry);  // the span's sums as one call
    // The table: per entry calls, p50, p99, p99.9 and max in microseconds, p99.9 of the own
    // time, the calls that waited or were preempted, and p99.9 and max of the calls that did
    // neither.
    std::string report() const;

private:
    Mark mark() const;
    // The call from begin to now. A plugin call counts into the running span; a host service is
    // called from inside a plugin call, whose time already holds it (the scope takes the
    // service's whole span, measuring included, from that call's own time).
    void finish(int entry, const Mark& begin, Kind kind);

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
        int64_t m_own_max = 0;
        uint64_t m_own_counts[BUCKETS] = {};  // less the host services called
    };
    static double percentile(const uint64_t* counts, int64_t max, double p);

    bool m_enabled = false;
    int m_used = 0;
    Mark m_span;  // sums since beginSpan
    int64_t m_host_ns = 0;  // all host services' time
    int m_inside = 0;  // plugin calls under way
    bool m_in_host = false;  // a host service under way: one it calls is part of its row
    Entry m_entries[MAX_ENTRIES];
};
