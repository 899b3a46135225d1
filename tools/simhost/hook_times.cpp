#include "hook_times.h"

#include <chrono>
#include <cstdio>
#include <cstring>
#ifdef __linux__
#include <sys/resource.h>
#endif

int64_t HookTimes::nowNs() {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

HookTimes::Mark HookTimes::mark() const {
    Mark m;
    m.m_host_ns = m_host_ns;
#ifdef __linux__
    struct rusage r;
    if (getrusage(RUSAGE_THREAD, &r) == 0) {
        m.m_waits = r.ru_nvcsw;
        m.m_preempts = r.ru_nivcsw;
    }
#endif
    m.m_ns = nowNs();
    return m;
}

int HookTimes::bucketOf(int64_t ns) {
    if (ns < LINEAR) return ns < 0 ? 0 : int(ns);
    int e = 63 - __builtin_clzll(uint64_t(ns));  // 5 and up
    int b = LINEAR + (e - 5) * STEPS + int((ns >> (e - 4)) & (STEPS - 1));
    return b < BUCKETS ? b : BUCKETS - 1;
}

int64_t HookTimes::bucketTop(int bucket) {
    if (bucket < LINEAR) return bucket;
    int e = (bucket - LINEAR) / STEPS + 5;
    int64_t step = (bucket - LINEAR) % STEPS;
    return ((int64_t(STEPS) + step + 1) << (e - 4)) - 1;
}

int HookTimes::entry(const char* name, const char* detail) {
    for (int i = 0; i < m_used; i++)
        if (m_entries[i].m_name == name && m_entries[i].m_detail == detail) return i;
    char text[NAME_MAX];
    snprintf(text, sizeof(text), "%s%s%s", name, detail ? " " : "", detail ? detail : "");
    int i = entryText(text);  // the same words from another call site share the entry
    if (i >= 0 && m_entries[i].m_name == nullptr) {
        m_entries[i].m_name = name;
        m_entries[i].m_detail = detail;
    }
    return i;
}

int HookTimes::entryText(const char* text) {
    for (int i = 0; i < m_used; i++)
        if (strncmp(m_entries[i].m_text, text, NAME_MAX - 1) == 0) return i;
    if (m_used == MAX_ENTRIES) return -1;
    snprintf(m_entries[m_used].m_text, NAME_MAX, "%s", text);
    return m_used++;
}

HookTimes::Scope::Scope(HookTimes* times, const char* name, const char* detail, Kind kind)
    : m_times(times), m_name(name), m_detail(detail), m_kind(kind) {
    begin();
}

HookTimes::Scope::Scope(HookTimes* times, int entry)
    : m_times(times), m_entry(entry), m_found(true) {
    begin();
}

void HookTimes::Scope::begin() {
    if (!m_times) return;
    if (m_kind == Kind::host_service) {
        if (m_times->m_inside == 0 || m_times->m_in_host) {
            m_times = nullptr;
            return;
        }
        m_times->m_in_host = true;
        m_outer_ns = nowNs();
    } else {
        m_times->m_inside++;
    }
    m_begin = m_times->mark();
}

HookTimes::Scope::~Scope() {
    if (!m_times) return;
    m_times->finish(m_found ? m_entry : m_times->entry(m_name, m_detail), m_begin, m_kind);
    if (m_kind == Kind::plugin) {
        m_times->m_inside--;
        return;
    }
    // The switch counts read around the service are a system call each, a microsecond or more
    // on a busy machine: the plugin's own time is what remains without them as well.
    m_times->m_host_ns += nowNs() - m_outer_ns;
    m_times->m_in_host = false;
}

void HookTimes::finish(int entry, const Mark& begin, Kind kind) {
    int64_t ns = nowNs() - begin.m_ns;
    Mark end = mark();  // read after the clock: getrusage's own cost is not timed
    long waits = end.m_waits - begin.m_waits, preempts = end.m_preempts - begin.m_preempts;
    int64_t host_ns = end.m_host_ns - begin.m_host_ns;
    if (kind == Kind::host_service) {
        host_ns = 0;
    } else {
        m_span.m_ns += ns;
        m_span.m_waits += waits;
        m_span.m_preempts += preempts;
        m_span.m_host_ns += host_ns;
    }
    add(entry, ns, waits, preempts, host_ns);
}

void HookTimes::addSpan(int entry) {
    add(entry, m_span.m_ns, m_span.m_waits, m_span.m_preempts, m_span.m_host_ns);
}

void HookTimes::add(int entry, int64_t ns, long waits, long preempts, int64_t host_ns) {
    if (entry < 0) return;
    Entry& e = m_entries[entry];
    e.m_calls++;
    if (ns > e.m_max) e.m_max = ns;
    e.m_counts[bucketOf(ns)]++;
    int64_t own = ns - host_ns;
    if (own > e.m_own_max) e.m_own_max = own;
    e.m_own_counts[bucketOf(own)]++;
    if (waits > 0) e.m_waited++;
    if (preempts > 0) e.m_preempted++;
    if (waits == 0 && preempts == 0) {
        e.m_quiet_calls++;
        if (ns > e.m_quiet_max) e.m_quiet_max = ns;
        e.m_quiet_counts[bucketOf(ns)]++;
    }
}

double HookTimes::percentile(const uint64_t* counts, int64_t max, double p) {
    // The top of the bucket the p-th call falls in: never less than the true value.
    uint64_t calls = 0;
    for (int b = 0; b < BUCKETS; b++) calls += counts[b];
    if (calls == 0) return 0.0;
    uint64_t rank = uint64_t(p * double(calls - 1)) + 1, seen = 0;
    for (int b = 0; b < BUCKETS; b++) {
        seen += counts[b];
        if (seen >= rank) {
            int64_t top = bucketTop(b);
            return double(top < max ? top : max) / 1000.0;
        }
    }
    return double(max) / 1000.0;
}

std::string HookTimes::report() const {
    std::string out = "simhost: time inside the plugin on the main thread, microseconds\n"
                      "  (own: less the host services it called, which have rows of their own; "
                      "waited: calls in which\n   the thread blocked; preempted: calls in which it "
                      "lost the core; quiet: calls with neither)\n";
    char line[224];
    snprintf(line, sizeof(line), "%-34s %10s %9s %9s %9s %11s %9s %8s %9s %11s %11s\n", "call",
             "calls", "p50", "p99", "p99.9", "max", "own p99.9", "waited", "preempted",
             "quiet p99.9", "quiet max");
    out += line;
    for (int i = 0; i < m_used; i++) {
        const Entry& e = m_entries[i];
        if (e.m_calls == 0) continue;
        char quiet[32] = "          -           -";  // every call waited or was preempted
        if (e.m_quiet_calls > 0)
            snprintf(quiet, sizeof(quiet), "%11.2f %11.2f",
                     percentile(e.m_quiet_counts, e.m_quiet_max, 0.999), double(e.m_quiet_max) / 1000.0);
        snprintf(line, sizeof(line),
                 "%-34s %10llu %9.2f %9.2f %9.2f %11.2f %9.2f %8llu %9llu %s\n", e.m_text,
                 static_cast<unsigned long long>(e.m_calls),
                 percentile(e.m_counts, e.m_max, 0.5), percentile(e.m_counts, e.m_max, 0.99),
                 percentile(e.m_counts, e.m_max, 0.999), double(e.m_max) / 1000.0,
                 percentile(e.m_own_counts, e.m_own_max, 0.999),
                 static_cast<unsigned long long>(e.m_waited),
                 static_cast<unsigned long long>(e.m_preempted), quiet);
        out += line;
    }
    return out;
}
