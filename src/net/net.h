// The portable layer over IPv4 sockets, threads, the mutex and the clock. One POSIX and one Win32
// implementation (net_posix.cpp, net_win32.cpp) behind this one surface; nothing here names a
// platform type. No operation logs or throws: every failure is a return value, and callers word
// the message. Every blocking operation takes a time-out in milliseconds (a negative one means no
// readiness wait: the system call itself blocks) so that workers notice their stop flag.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <cstdio>

constexpr int INET_ADDRESS_LENGTH = 16;         // size of the IPv4 socket address record
constexpr uint16_t INET_FAMILY = 2;             // AF_INET on both platforms
constexpr uint32_t INET_ANY = 0;                // host order: every interface
constexpr uint32_t INET_LOOPBACK = 0x7f000001;  // host order: 127.0.0.1
constexpr int INET_TEXT_MAX = 16;               // "255.255.255.255" and its terminator

// The system's IPv4 socket address, field for field; the platform files check the layout.
struct InetRecord {
    uint16_t m_family;   // INET_FAMILY
    uint16_t m_port;     // network order
    uint32_t m_address;  // network order
    uint8_t m_zero[8];
};

// An IPv4 socket address followed by the length the system calls use.
class InetAddress {
public:
    InetRecord m_address{};
    int m_length = INET_ADDRESS_LENGTH;  // reset to 16 before every bind, accept and receive-from

    void set(uint32_t host_address, int port);  // both in host order; clears the record first
    void setAny(int port) { set(INET_ANY, port); }
    void setLoopback(int port) { set(INET_LOOPBACK, port); }
    int getPort() const;          // host order
    uint32_t getAddress() const;  // host order
    // Writes "a.b.c.d" into buffer (cut to size, always terminated when size > 0); returns buffer.
    const char* format(char* buffer, size_t size) const;
};

// One datagram buffer; owns nothing.
struct DatagramPacket {
    InetAddress* m_address = nullptr;  // the peer: filled by receive, read by send
    char* m_data = nullptr;
    int m_length = 0;    // valid bytes: set by receive, read by send
    int m_capacity = 0;  // size of m_data: read by receive
};

class DatagramSocket {
public:
    int m_fd = -1;  // -1 while closed

    // Opens a UDP socket (SO_BROADCAST, SO_REUSEADDR) bound to address. 0 bound; -1 no socket
    // created; -2 bind failed (socket closed again). An open socket is closed first.
    int init(const InetAddress* address);
    // True when one datagram was read: at most m_capacity bytes (the rest of a longer one is
    // lost), m_length and the sender's address set. False on time-out, failed wait, empty read.
    bool receive(DatagramPacket* packet, int timeout_ms);
    // True when m_data[0..m_length) went to the system for m_address as one datagram.
    bool send(DatagramPacket* packet, int timeout_ms);
    void stop();  // closes the descriptor if open
};

// Bytes an accepted connection may hold that the peer has not yet been sent (Linux): past them
// a send waits, and times out, as soon as the peer stops reading. The reader must take half of
// it per time-out to keep its connection: 6.4 KiB/s with the web server's 5 s.
constexpr int STREAM_UNSENT_MAX = 64 * 1024;

// The local port a bound socket holds (what port 0 became); 0 when closed or unknown.
int boundPort(int descriptor);

class StreamSocket {
public:
    int m_fd = -1;  // -1 while closed
    int m_error = 0;  // errno (Winsock: WSAGetLastError) of the last failed accept
    bool m_exhausted = false;  // that failure was a lack of descriptors or memory, not the peer's
    bool m_in_use = false;     // the last init's bind failed because another socket holds the port

    // Opens a TCP socket (SO_REUSEADDR) bound to address; not yet listening. Results as
    // DatagramSocket::init.
    int init(const InetAddress* address);
    bool listen(int backlog);  // false when closed or the system refuses
    // 1: a connection was accepted into a new StreamSocket stored through out, which the caller
    // owns; 0: nothing accepted in time; -1: accept failed but this socket is fine (a peer that
    // gave up before being accepted, a lack of descriptors or memory: the caller backs off, as a
    // queued connection keeps the socket readable); -2: this socket is closed or broken, or the
    // wait failed. m_error holds the system's error of the last -1 or failed accept.
    int accept(StreamSocket** out, InetAddress* peer, int timeout_ms);
    // -1 closed or failed wait; 0 time-out; else the system result (bytes, 0 peer closed, -1).
    int receive(char* buffer, int length, int timeout_ms);
    // -1 closed or failed wait; 0 time-out; else the system result (bytes, maybe fewer, or -1).
    // A peer that has gone away gives -1, never a signal. On an accepted connection a peer that
    // reads nothing makes the send wait, and time out, once STREAM_UNSENT_MAX bytes are queued.
    int send(const char* data, int length, int timeout_ms);
    // 1 when a read would not block (data, the peer's close, or our own shutdownBoth), 0 on
    // time-out, -1 closed or failed wait. Reads nothing.
    int waitReadable(int timeout_ms);
    // Sends up to length bytes of file from offset straight from the file, without reading them
    // into this process (Linux: sendfile); the file's own position is neither used nor moved.
    // Results as send, the time-out bounding the whole call; -2 where the system has no such
    // call (Windows: the caller reads and sends). On a thread started here a peer that has gone
    // away gives -1, never a signal. Returns within timeout_ms, as send.
    int sendFromFile(FILE* file, int64_t offset, int length, int timeout_ms);
    bool valid() const { return m_fd >= 0; }
    void shutdownBoth();  // ends both directions so a thread blocked on the socket wakes; keeps it open
    void stop();          // closes the descriptor if open
};

// A worker thread with a cooperative stop flag. Only the owning thread calls start, stop and join.
// A stop also wakes the thread: every wait it is in or comes to through this layer (socket waits
// with a time-out, Thread::sleep) ends at once as a time-out, so the join waits only for the work
// in hand, never for a time-out to run out.
class Thread {
public:
    uintptr_t m_handle = 0;  // the platform thread (pthread_t, or the Win32 thread handle)
    uint32_t m_id = 0;       // Win32 thread id; 0 on Linux
    // True while the thread is meant to run; the thread function polls it. Relaxed is enough: the
    // join gives the final synchronisation.
    std::atomic<bool> m_running{false};
    void* (*m_function)(void*) = nullptr;
    void* m_argument = nullptr;  // by convention the Thread object itself
    size_t m_stack_size = 0;     // 0: the platform default
    // Shown by ps and top for the thread (Linux: at most 15 characters); null: the process's.
    // Read at start.
    const char* m_name = nullptr;
    // The wake costs a descriptor while the thread runs (an eventfd; on Windows a loopback
    // datagram socket). A thread whose waits are all on a socket that the stopper shuts down
    // can go without. Read at start.
    bool m_wakeable = true;
    // The wake descriptor of the current run, -1 when none (not wakeable, or the system refused
    // one: the waits then last until their time-outs, as bounded as they were).
    intptr_t m_wake = -1;

    bool running() const { return m_running.load(std::memory_order_relaxed); }
    // Runs m_function(m_argument) on a new thread. True when it runs; true at once without a second
    // thread when already running.
    bool start();
    // Clears the flag, wakes the thread and returns when it has ended (at once when there is none).
    void stop();
    // Ends the thread's current and later waits, until it is joined; any thread may call it while
    // the owner has not joined. The flag is cleared first by whoever wants the thread to end.
    void wake();
    // True when the thread function has returned and the thread waits to be joined.
    bool finished() const { return m_joinable && m_finished.load(std::memory_order_acquire); }
    // Waits for the thread to end, without clearing the flag first; for a finished thread.
    void join();
    // Nothing for ms <= 0. On a thread started here it ends early when the thread is woken.
    static void sleep(int ms);

    // Internal: set by the thread when its function has returned.
    std::atomic<bool> m_finished{false};
    bool m_joinable = false;  // a platform thread exists that has not been joined
};

// The system's non-recursive lock. Invalid until init, and again after destroy; while invalid,
// lock and unlock do nothing.
class Mutex {
public:
    // The platform mutex, in place (pthread_mutex_t, or the Win32 handle in its first bytes).
    alignas(8) unsigned char m_mutex[64] = {};
    bool m_valid = false;

    bool init();  // false when already valid or the platform refuses
    void lock();
    void unlock();
    void destroy();  // if valid: invalid, then the platform mutex is destroyed
};

// A count of wake-ups: post adds one, wait takes one and waits while there is none. Invalid
// until init, and again after destroy; while invalid, post does nothing and wait returns false.
// The wait has no time-out: whoever wants the waiter to stop clears its flag and posts.
class Semaphore {
public:
    // The platform's objects, in place (a pthread mutex, condition and count, or a Win32 handle).
    alignas(8) unsigned char m_native[128] = {};
    bool m_valid = false;

    bool init();  // false when already valid or the platform refuses
    void post();
    bool wait();  // true when one was taken
    void destroy();  // if valid: invalid, then the platform objects are destroyed; nobody waits
};

// Sockets waiting to become readable, each reported once (data, the peer's close or an error)
// and then left out until watched again, so that whoever takes a report owns the socket alone.
// Any thread may watch, forget and wait. Linux: epoll; Windows: select over at
// most POLLER_MAX sockets, woken by a watch so that a socket watched during a wait counts at once.
constexpr int POLLER_MAX = 1000;
class Poller {
public:
    intptr_t m_handle = -1;  // the epoll descriptor; Windows: the wake socket
    void* m_table = nullptr; // Windows: the watched sockets and their lock; null on Linux

    bool init();     // false when already open or the system refuses
    void destroy();  // forgets every socket (closing none); the waiter has returned
    // Reports fd once, with tag, when it becomes readable; again = it was watched before and
    // has been reported since. False when the system refuses (the socket is then not watched).
    bool watch(int fd, void* tag, bool again);
    void forget(int fd);  // before the socket is closed, by whoever owns it
    // Waits up to timeout_ms (the current thread's wake ends it as a time-out) and stores the tags
    // of up to max reported sockets: their count, 0 on time-out, -1 when the wait failed. Several
    // threads may wait; each report goes to one. also, when given, is waited for beside them,
    // unwatched (reported in *also_ready as long as it is readable); without it a wait of 0 ms
    // only takes the reports that are there.
    int wait(void** tags, int max, int timeout_ms, const StreamSocket* also = nullptr,
             bool* also_ready = nullptr);
};

// Guards the delay buffer's queue and the demo recorder; never held while encoding or sending.
extern Mutex g_mut1;

// Hands the heap's free pages back to the system (glibc: malloc_trim). glibc gives threads heaps
// of their own and keeps in each what its threads freed, so as threads come and go (web visitors,
// the services restarted by a reload) the heaps fill one after another. Takes each heap's lock in
// turn, for about a millisecond: never on the game thread. Windows: nothing.
void releaseFreeHeap();

// Linux: sends to closed connections return errors instead of raising SIGPIPE, process-wide.
// Windows: nothing.
void ignoreBrokenPipe();

// Milliseconds from an arbitrary origin; never goes back (not the wall clock).
int64_t monotonicMillis();

// The wall clock in seconds since 1970 (UTC), for names and dates people read; it may jump
// either way when the system's time is set. Never used to measure a span.
int64_t wallClockSeconds();
