// Fault injection for the tests: switches that make the platform layer fail on purpose. Only the
// test build defines KOVITV_FAULT_INJECTION; in the plugin libraries every switch is a constant
// false and costs nothing.
#pragma once

#if defined(KOVITV_FAULT_INJECTION)
#include <atomic>

struct NetFaults {
    std::atomic<bool> mutex_init{false};  // Mutex::init fails as if the platform refused
    std::atomic<bool> demo_short_write{false};  // a demo record is written half, as on a full disk
};
extern NetFaults g_net_faults;
#define KOVITV_FAULT(name) (g_net_faults.name.load(std::memory_order_relaxed))
#else
#define KOVITV_FAULT(name) false
#endif
