// The applet web server: one thread that accepts visitors on g_tcp_socket, watches the kept-
// alive connections between their requests and hands each request to a visitor (web/visitor.h,
// web/visitor_pool.h), whose thread answers it from the plugin folder. At most max_visitors
// connections are open at once, and as many visitors' threads; idle threads are kept for the
// next requests.
#pragma once

#include <atomic>

constexpr int DEFAULT_MAX_VISITORS = 64;  // key max_visitors: live visitors at once
// The accept loop's longest wait per pass (a stop wakes it; every pass lets idle visitors beyond
// a lowered limit go), the most connections it accepts before it looks at the others' requests,
// the most reports it takes per pass, and how often it closes connections silent for 5 s.
constexpr int ACCEPT_WAIT_MS = 200;
constexpr int ACCEPT_BURST = 32;
constexpr int POLL_REPORTS = 64;
constexpr int SWEEP_INTERVAL_MS = 100;
// After an accept that failed while the listening socket is fine (descriptors or memory short,
// a peer gone first) the loop waits, doubling from the first to the last figure while the
// failures go on: a queued connection keeps the socket readable, so it would spin, yet giving up
// would let anyone who exhausts the descriptors take the web server down until a reload.
constexpr int ACCEPT_BACKOFF_FIRST_MS = 10;
constexpr int ACCEPT_BACKOFF_MAX_MS = 1000;
// How often the accept thread hands the heaps' free pages back to the system (releaseFreeHeap):
// it is the thread that mostly waits, and its visitors' threads are among those whose heaps
// would otherwise keep what they freed (the soak's short form with glibc's defaults and visitors'
// threads kept: +16 % resident memory a game hour without it).
constexpr int HEAP_RELEASE_INTERVAL_MS = 30000;

// Thread function of g_tcp_thread; its argument is the Thread object itself. Ends when its flag
// is cleared or the listening socket fails, after stopping and freeing every visitor.
void* AppletSender(void* thread);

// max_visitors from the configuration store, DEFAULT_MAX_VISITORS when the key is absent.
int maxVisitors();

// Main thread, once a frame: logs one line when the visitor limit has started refusing
// connections since the last call (one line per burst: the accept thread cannot log itself).
void reportRefusedVisitors();

// Main thread, once a frame: logs one line when accepting has started failing for want of
// descriptors or memory since the last call (one line per run of failures, with the system's
// error).
void reportAcceptFailures();

// Connections closed at once because the limit was reached, since the plugin was loaded.
extern std::atomic<int> g_refused_visitors;
