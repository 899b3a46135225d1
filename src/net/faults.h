// Fault injection for the tests: switches that make the platform layer and the file calls fail
// on purpose. Only the test build defines KOVITV_FAULT_INJECTION; in the plugin libraries every
// switch is a constant false (0) and costs nothing.
#pragma once

#if defined(KOVITV_FAULT_INJECTION)
#include <atomic>

struct NetFaults {
    std::atomic<bool> mutex_init{false};  // Mutex::init fails as if the platform refused
    std::atomic<bool> demo_short_write{false};  // a demo record is written half, as on a full disk
    std::atomic<bool> demo_no_space{false};     // a demo write stores nothing: ENOSPC
    // No folder can be made and no demo file created (EACCES), as in a read-only demos folder;
    // folders that exist already are still found.
    std::atomic<bool> folders_unwritable{false};

    std::atomic<int> udp_send_error{0};       // errno of every failing sendto (ENOBUFS, EPERM); 0: none
    std::atomic<int> udp_send_error_port{0};  // only sends to this port (host order) fail; 0: all
    std::atomic<int> udp_receive_error{0};    // errno of every receive, which fails at once; 0: none
    // errno of every accept (EMFILE, ENFILE, ECONNABORTED); the connection stays queued, so the
    // listening socket stays readable, as with a lack of descriptors.
    std::atomic<int> accept_error{0};
    std::atomic<int> wall_clock_offset_s{0};  // seconds added to the wall clock: a jump by hours

    // How often each injected failure happened.
    std::atomic<int> udp_send_failures{0};
    std::atomic<int> udp_receive_failures{0};
    std::atomic<int> accept_failures{0};
};
extern NetFaults g_net_faults;
#define KOVITV_FAULT(name) (g_net_faults.name.load(std::memory_order_relaxed))
#define KOVITV_FAULT_HIT(name) (g_net_faults.name.fetch_add(1, std::memory_order_relaxed))
#else
#define KOVITV_FAULT(name) false
#define KOVITV_FAULT_HIT(name) ((void)0)
#endif
