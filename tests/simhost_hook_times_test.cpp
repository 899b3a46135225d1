// simhost's hook timer: its buckets and the percentiles read from them.
#include <gtest/gtest.h>

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
        if (b > 0) EXPECT_LT(HookTimes::bucketTop(b - 1), v) << v;
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
    for (int i = 0; i < 998; i++) times.add(fast, 100);
    times.add(fast, 3000);
    times.add(fast, 9000);
    times.add(slow, 150000000);
    std::string report = times.report();
    // 1000 calls: p50 and p99 0.1 us, p99.9 the 999th call (3 us, within its bucket), max 9 us.
    EXPECT_NE(report.find("StartFrame pre"), std::string::npos) << report;
    EXPECT_NE(report.find("1000      0.10      0.10      3.07      9.00"), std::string::npos) << report;
    EXPECT_NE(report.find("150000.00"), std::string::npos) << report;
}
