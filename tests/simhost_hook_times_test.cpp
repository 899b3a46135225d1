// simhost's hook timer: its buckets and the percentiles read from them.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "hook_times.h"

TEST(SimhostHookTimes, EveryValueFallsInABucketWhoseTopIsNotBelowIt) {
    int last = -1;
    for (int64_t v : {0LL, 1LL, 31LL, 32LL, 33LL, 63LL, 64LL, 1000LL, 4999LL, 5000LL, 123456789LL,
                      (1LL << 40) + 12345}) {
        int b = HookTimes::bucketOf(v);
        ASSERT_GE(b, last) << v;  // ordered
        last = b;
        EXPECT_GE(HookTimes::bucketTop(b), v);
        // At most a sixteenth above the value: fine enough to tell 4 from 5 microseconds.
        EXPECT_LE(HookTimes::bucketTop(b), v + v / 16 + 1) << v;
        if (b > 0) {
            EXPECT_LT(HookTimes::bucketTop(b - 1), v) << v;
        }
    }
    EXPECT_EQ(HookTimes::bucketOf(-5), 0);
    EXPECT_EQ(HookTimes::bucketOf(INT64_MAX), HookTimes::BUCKETS - 1);
}

TEST(SimhostHookTimes, PercentilesComeFromTheCallsOfEachEntryAlone) {
    static HookTimes times;  // large: kept off the stack
    int fast = times.entry("StartFrame", "pre");
    int slow = times.entry("ServerActivate", "post");
    EXPECT_EQ(times.entry("StartFrame", "pre"), fast);
    std::string text = "StartFrame";
    EXPECT_EQ(times.entry(text.c_str(), "pre"), fast);  // the same words from elsewhere
    for (int i = 0; i < 996; i++) times.add(fast, 100);
    times.add(fast, 3000);
    times.add(fast, 9000, 0, 1);  // preempted: its length is the machine's
    times.add(fast, 7000, 2, 0);  // blocked
    times.add(fast, 6000, 1, 1);
    times.add(slow, 150000000);
    int joined = times.entry("ServerDeactivate", "post");
    times.add(joined, 100000000, 1, 0);  // a join: no quiet call to show
    std::string report = times.report();
    // 1000 calls: p50 and p99 0.1 us, p99.9 the 999th call (7 us, within its bucket), max 9 us.
    auto row = [&](const char* name, double* v) {
        size_t at = report.find(name);
        if (at == std::string::npos) return 0;
        return sscanf(report.c_str() + at + strlen(name),
                      "%lf %lf %lf %lf %lf %lf %lf %lf %lf %lf", &v[0], &v[1], &v[2], &v[3],
                      &v[4], &v[5], &v[6], &v[7], &v[8], &v[9]);
    };
    double v[10];
    ASSERT_EQ(row("StartFrame pre", v), 10) << report;
    EXPECT_EQ(v[0], 1000);
    EXPECT_NEAR(v[1], 0.1, 0.01);
    EXPECT_NEAR(v[2], 0.1, 0.01);
    EXPECT_GE(v[3], 7.0);
    EXPECT_LE(v[3], 7.0 * 17 / 16 + 0.01);
    EXPECT_EQ(v[4], 9.0);
    EXPECT_EQ(v[5], v[3]);  // no host service called: the own time is the whole
    EXPECT_EQ(v[6], 2);  // waited
    EXPECT_EQ(v[7], 2);  // preempted
    // The quiet calls are the 996 short ones and the 3 us one: their p99.9 is still the short
    // calls' bucket, their max the 3 us call.
    EXPECT_NEAR(v[8], 0.1, 0.01);
    EXPECT_EQ(v[9], 3.0);
    ASSERT_EQ(row("ServerActivate post", v), 10) << report;
    EXPECT_EQ(v[0], 1);
    EXPECT_EQ(v[1], 150000.0);  // capped by the true maximum, not the bucket's top
    EXPECT_EQ(v[4], 150000.0);
    EXPECT_EQ(row("ServerDeactivate post", v), 8) << report;  // quiet columns read "-"
    EXPECT_EQ(v[6], 1);
}

// A host service timed inside a plugin call is taken from that call's own time only, not from
// the calls before or after it; one called outside any plugin call (by the game) is not timed.
TEST(SimhostHookTimes, OwnTimeLeavesOutTheHostServicesCalledInside) {
    static HookTimes times;
    auto spin = [](int64_t ns) {
        for (int64_t until = HookTimes::nowNs() + ns; HookTimes::nowNs() < until;) {}
    };
    const auto host_service = HookTimes::Kind::host_service;
    {
        HookTimes::Scope outside(&times, "(host) print", nullptr, host_service);
        spin(2000000);
    }
    for (int i = 0; i < 3; i++) {
        HookTimes::Scope frame(&times, "StartFrame");
        HookTimes::Scope host(&times, "(host) store", nullptr, host_service);
        spin(20000000);  // 20 ms inside the host service, next to nothing outside it
    }
    { HookTimes::Scope think(&times, "Think"); spin(3000000); }
    std::string report = times.report();
    auto row = [&](const char* name, double* v) {
        size_t at = report.find(name);
        if (at == std::string::npos) return 0;
        return sscanf(report.c_str() + at + strlen(name), "%lf %lf %lf %lf %lf %lf", &v[0],
                      &v[1], &v[2], &v[3], &v[4], &v[5]);
    };
    double v[6];
    ASSERT_EQ(row("StartFrame", v), 6) << report;
    EXPECT_GE(v[4], 20000.0);  // the whole call holds the host service
    EXPECT_LT(v[5], 1000.0) << report;
    ASSERT_EQ(row("Think", v), 6) << report;
    EXPECT_GE(v[5], 3000.0) << report;  // the host services before it are not taken from it
    EXPECT_LT(v[5], 20000.0) << report;
    EXPECT_EQ(report.find("(host) print"), std::string::npos) << report;
    ASSERT_EQ(row("(host) store", v), 6) << report;
    EXPECT_GE(v[5], 20000.0) << report;  // a host service's own row is its whole time
}

// Measuring a host service takes two system calls (the switch counts) besides its clock reads;
// that cost is the measurement's, so the enclosing call's own time leaves it out as well.
TEST(SimhostHookTimes, OwnTimeLeavesOutTheMeasuringOfHostServices) {
    static HookTimes times;
    const auto host_service = HookTimes::Kind::host_service;
    for (int call = 0; call < 21; call++) {
        HookTimes::Scope frame(&times, "StartFrame");
        for (int i = 0; i < 200; i++) HookTimes::Scope host(&times, "(host) nothing", nullptr,
                                                            host_service);
    }
    std::string report = times.report();
    double v[6];
    size_t at = report.find("StartFrame");
    ASSERT_NE(at, std::string::npos) << report;
    ASSERT_EQ(sscanf(report.c_str() + at + strlen("StartFrame"), "%lf %lf %lf %lf %lf %lf",
                     &v[0], &v[1], &v[2], &v[3], &v[4], &v[5]),
              6)
        << report;
    // Without the measuring left out, own time is most of the whole (the two system calls).
    EXPECT_LT(v[5], v[1] / 3) << report;
}
