#include "hook_times.h"

#include <chrono>
#include <cstdio>
#include <cstring>

int64_t HookTimes::nowNs() {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
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

void HookTimes::add(int entry, int64_t ns) {
    m_span_ns += ns;
    if (entry < 0) return;
    Entry& e = m_entries[entry];
    e.m_calls++;
    if (ns > e.m_max) e.m_max = ns;
    e.m_counts[bucketOf(ns)]++;
}

double HookTimes::percentile(const Entry& e, double p) const {
    // The top of the bucket the p-th call falls in: never less than the true value.
    uint64_t rank = uint64_t(p * double(e.m_calls - 1)) + 1, seen = 0;
    for (int b = 0; b < BUCKETS; b++) {
        seen += e.m_counts[b];
        if (seen >= rank) {
            int64_t top = bucketTop(b);
            return double(top < e.m_max ? top : e.m_max) / 1000.0;
        }
    }
    return double(e.m_max) / 1000.0;
}

std::string HookTimes::report() const {
    std::string out = "simhost: time inside the plugin on the main thread, microseconds\n";
    char line[160];
    snprintf(line, sizeof(line), "%-34s %10s %9s %9s %9s %11s\n", "call", "calls", "p50", "p99",
             "p99.9", "max");
    out += line;
    for (int i = 0; i < m_used; i++) {
        const Entry& e = m_entries[i];
        if (e.m_calls == 0) continue;
        snprintf(line, sizeof(line), "%-34s %10llu %9.2f %9.2f %9.2f %11.2f\n", e.m_text,
                 static_cast<unsigned long long>(e.m_calls), percentile(e, 0.5),
                 percentile(e, 0.99), percentile(e, 0.999), double(e.m_max) / 1000.0);
        out += line;
    }
    return out;
}
