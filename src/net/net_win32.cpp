// The layer over Winsock and Win32 threads (Windows). The host process has started Winsock;
// the plugin never calls WSAStartup itself.
#include "net/net.h"
#include "net/faults.h"

// A Winsock fd_set is a counted list; the poller's waits hold every kept-alive web connection.
#define FD_SETSIZE (POLLER_MAX + 2)
#include <winsock2.h>
#include <windows.h>

#include <climits>
#include <cstring>
#include <new>

static_assert(sizeof(InetRecord) == sizeof(sockaddr_in), "InetRecord mirrors sockaddr_in");
static_assert(offsetof(sockaddr_in, sin_port) == offsetof(InetRecord, m_port), "port offset");
static_assert(offsetof(sockaddr_in, sin_addr) == offsetof(InetRecord, m_address), "address offset");
static_assert(AF_INET == INET_FAMILY, "AF_INET");
static_assert(sizeof(HANDLE) <= sizeof(uintptr_t), "HANDLE fits the handle");
static_assert(sizeof(HANDLE) <= sizeof(Mutex::m_mutex), "HANDLE fits in place");

namespace {

constexpr int READY_FAILED = -1;
constexpr int READY_TIMEOUT = 0;
constexpr int READY_OK = 1;

// The Thread this thread runs, for the wake socket its waits also watch; null on threads not
// started here (the host's main thread).
thread_local const Thread* t_current = nullptr;

intptr_t currentWake() { return t_current != nullptr ? t_current->m_wake : -1; }

// Descriptors travel as int above this layer; INVALID_SOCKET becomes -1.
SOCKET toSocket(int fd) { return static_cast<SOCKET>(static_cast<unsigned int>(fd)); }

sockaddr_in toSystem(const InetAddress& address) {
    sockaddr_in native;
    memcpy(&native, &address.m_address, sizeof(native));
    return native;
}

void fromSystem(const sockaddr_in& native, InetAddress* address) {
    memcpy(&address->m_address, &native, sizeof(native));
    address->m_length = INET_ADDRESS_LENGTH;
}

// select() is fine here: a Winsock fd_set is a list of sockets, not a bitmap indexed by them.
// The current thread's wake socket (readable once woken) ends the wait as a time-out; fd < 0
// waits on it alone.
int waitReady(int fd, bool for_write, int timeout_ms) {
    if (timeout_ms < 0) return READY_OK;  // the system call blocks instead
    int64_t deadline = monotonicMillis() + timeout_ms;
    int remaining = timeout_ms;
    intptr_t wake = currentWake();
    for (;;) {
        fd_set reads;
        fd_set writes;
        FD_ZERO(&reads);
        FD_ZERO(&writes);
        fd_set* watched = for_write ? &writes : &reads;
        if (fd >= 0) FD_SET(toSocket(fd), watched);
        if (wake >= 0) FD_SET(static_cast<SOCKET>(wake), &reads);
        timeval wait{remaining / 1000, (remaining % 1000) * 1000};
        int n = select(0, &reads, &writes, nullptr, &wait);
        if (n > 0 && fd >= 0 && FD_ISSET(toSocket(fd), watched)) return READY_OK;
        if (n >= 0) return READY_TIMEOUT;  // the time-out, or the wake
        if (WSAGetLastError() != WSAEINTR) return READY_FAILED;
        int64_t left = deadline - monotonicMillis();
        remaining = left > 0 ? static_cast<int>(left) : 0;
    }
}

int openSocket(int* fd, int type, int protocol, bool broadcast, const InetAddress* address,
               bool* in_use = nullptr) {
    if (*fd >= 0) {  // re-init must not leak the old socket
        closesocket(toSocket(*fd));
        *fd = -1;
    }
    if (!address) return -1;
    SOCKET s = socket(AF_INET, type, protocol);
    if (s == INVALID_SOCKET) return -1;
    BOOL one = TRUE;
    const char* option = reinterpret_cast<const char*>(&one);
    if (broadcast) setsockopt(s, SOL_SOCKET, SO_BROADCAST, option, sizeof(one));
    setsockopt(s, SOL_SOCKET, SO_REUSEADDR, option, sizeof(one));
    sockaddr_in native = toSystem(*address);
    if (bind(s, reinterpret_cast<const sockaddr*>(&native), INET_ADDRESS_LENGTH) != 0) {
        if (in_use) *in_use = WSAGetLastError() == WSAEADDRINUSE;
        closesocket(s);
        return -2;
    }
    *fd = static_cast<int>(s);
    return 0;
}

void closeSocket(int* fd) {
    if (*fd < 0) return;
    closesocket(toSocket(*fd));
    *fd = -1;
}

// A pending connection reset before we took it, or a short lack of resources: the listening
// socket itself is fine.
bool acceptErrorIsTransient(int error) {
    return error == WSAECONNRESET || error == WSAEWOULDBLOCK || error == WSAENETDOWN;
}

bool acceptErrorIsExhaustion(int error) { return error == WSAEMFILE || error == WSAENOBUFS; }

DWORD WINAPI threadMain(LPVOID argument) {
    Thread* thread = static_cast<Thread*>(argument);
    t_current = thread;
    thread->m_function(thread->m_argument);
    thread->m_finished.store(true, std::memory_order_release);
    return 0;
}

HANDLE nativeMutex(const Mutex& mutex) {
    HANDLE handle;
    memcpy(&handle, mutex.m_mutex, sizeof(handle));
    return handle;
}

// A datagram socket connected to itself on loopback: a wake is one datagram to it, never read,
// and being connected it takes datagrams from nobody else. INVALID_SOCKET (as -1) on failure.
intptr_t openWake() {
    SOCKET s = socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP);
    if (s == INVALID_SOCKET) return -1;
    sockaddr_in self{};
    self.sin_family = AF_INET;
    self.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    int length = sizeof(self);
    if (bind(s, reinterpret_cast<sockaddr*>(&self), length) != 0 ||
        getsockname(s, reinterpret_cast<sockaddr*>(&self), &length) != 0 ||
        connect(s, reinterpret_cast<sockaddr*>(&self), length) != 0) {
        closesocket(s);
        return -1;
    }
    return static_cast<intptr_t>(s);
}

void closeWake(Thread* thread) {
    if (thread->m_wake < 0) return;
    closesocket(static_cast<SOCKET>(thread->m_wake));
    thread->m_wake = -1;
}

}  // namespace

// --- datagrams ------------------------------------------------------------------------------

int DatagramSocket::init(const InetAddress* address) {
    return openSocket(&m_fd, SOCK_DGRAM, IPPROTO_UDP, true, address);
}

bool DatagramSocket::receive(DatagramPacket* packet, int timeout_ms) {
    if (m_fd < 0 || !packet || !packet->m_data || packet->m_capacity <= 0) return false;
    if (waitReady(m_fd, false, timeout_ms) != READY_OK) return false;
    sockaddr_in from{};
    int from_length = INET_ADDRESS_LENGTH;
    int n;
    int error = 0;
    do {
        n = recvfrom(toSocket(m_fd), packet->m_data, packet->m_capacity, 0,
                     reinterpret_cast<sockaddr*>(&from), &from_length);
        error = n < 0 ? WSAGetLastError() : 0;
    } while (n < 0 && error == WSAEINTR);
    // Winsock fails a datagram longer than the buffer but fills the buffer: the same cut
    // datagram the Linux build reads.
    if (n < 0 && error == WSAEMSGSIZE) n = packet->m_capacity;
    // WSAECONNRESET is the ICMP port-unreachable answer to an earlier send: nothing to read.
    if (n < 1) return false;
    packet->m_length = n;
    if (packet->m_address) fromSystem(from, packet->m_address);
    return true;
}

bool DatagramSocket::send(DatagramPacket* packet, int timeout_ms) {
    if (m_fd < 0 || !packet || !packet->m_address || !packet->m_data || packet->m_length < 0)
        return false;
    if (waitReady(m_fd, true, timeout_ms) != READY_OK) return false;
    packet->m_address->m_length = INET_ADDRESS_LENGTH;
    sockaddr_in to = toSystem(*packet->m_address);
    int n;
    do {
        n = sendto(toSocket(m_fd), packet->m_data, packet->m_length, 0,
                   reinterpret_cast<const sockaddr*>(&to), INET_ADDRESS_LENGTH);
    } while (n < 0 && WSAGetLastError() == WSAEINTR);
    return n > 0;
}

void DatagramSocket::stop() { closeSocket(&m_fd); }

// --- streams --------------------------------------------------------------------------------

int StreamSocket::init(const InetAddress* address) {
    m_in_use = false;
    return openSocket(&m_fd, SOCK_STREAM, 0, false, address, &m_in_use);
}

int boundPort(int descriptor) {
    sockaddr_in local{};
    int length = sizeof(local);
    if (descriptor < 0 ||
        getsockname(toSocket(descriptor), reinterpret_cast<sockaddr*>(&local), &length) != 0)
        return 0;
    return ntohs(local.sin_port);
}

bool StreamSocket::listen(int backlog) {
    return m_fd >= 0 && ::listen(toSocket(m_fd), backlog) == 0;
}

int StreamSocket::accept(StreamSocket** out, InetAddress* peer, int timeout_ms) {
    if (m_fd < 0 || !out) return -2;
    int ready = waitReady(m_fd, false, timeout_ms);
    if (ready == READY_TIMEOUT) return 0;
    if (ready == READY_FAILED) return -2;
    sockaddr_in from{};
    int from_length = INET_ADDRESS_LENGTH;
    SOCKET s;
    int error = 0;
    do {
        s = ::accept(toSocket(m_fd), reinterpret_cast<sockaddr*>(&from), &from_length);
        error = s == INVALID_SOCKET ? WSAGetLastError() : 0;
    } while (s == INVALID_SOCKET && error == WSAEINTR);
    if (s == INVALID_SOCKET) {
        m_error = error;
        m_exhausted = acceptErrorIsExhaustion(error);
        return m_exhausted || acceptErrorIsTransient(error) ? -1 : -2;
    }
    StreamSocket* accepted = new (std::nothrow) StreamSocket;
    if (!accepted) {  // a lack of memory, like one of descriptors, passes
        closesocket(s);
        m_error = WSAENOBUFS;
        m_exhausted = true;
        return -1;
    }
    // Responses go out in several sends; without this each waits on the peer's delayed ACK.
    BOOL one = TRUE;
    setsockopt(s, IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&one), sizeof(one));
    accepted->m_fd = static_cast<int>(s);
    if (peer) fromSystem(from, peer);
    *out = accepted;
    return 1;
}

int StreamSocket::waitReadable(int timeout_ms) {
    if (m_fd < 0) return -1;
    int ready = waitReady(m_fd, false, timeout_ms < 0 ? 0 : timeout_ms);
    return ready == READY_OK ? 1 : ready == READY_TIMEOUT ? 0 : -1;
}

int StreamSocket::receive(char* buffer, int length, int timeout_ms) {
    if (m_fd < 0 || !buffer || length <= 0) return -1;
    int ready = waitReady(m_fd, false, timeout_ms);
    if (ready != READY_OK) return ready == READY_TIMEOUT ? 0 : -1;
    int n;
    do {
        n = recv(toSocket(m_fd), buffer, length, 0);
    } while (n < 0 && WSAGetLastError() == WSAEINTR);
    return n;
}

int StreamSocket::send(const char* data, int length, int timeout_ms) {
    if (m_fd < 0 || !data || length < 0) return -1;
    int ready = waitReady(m_fd, true, timeout_ms);
    if (ready != READY_OK) return ready == READY_TIMEOUT ? 0 : -1;
    int n;
    do {
        n = ::send(toSocket(m_fd), data, length, 0);
    } while (n < 0 && WSAGetLastError() == WSAEINTR);
    return n;
}

// TransmitFile serves two transfers at once on a workstation Windows: reads and sends it is.
int StreamSocket::sendFromFile(FILE*, int64_t, int, int) { return -2; }

void StreamSocket::shutdownBoth() {
    if (m_fd >= 0) shutdown(toSocket(m_fd), SD_BOTH);
}

void StreamSocket::stop() { closeSocket(&m_fd); }

// --- threads --------------------------------------------------------------------------------

bool Thread::start() {
    if (running()) return true;
    if (m_joinable) join();  // a previous run that ended by itself
    if (!m_function) return false;
    m_finished.store(false, std::memory_order_relaxed);
    m_running.store(true, std::memory_order_relaxed);  // before the thread's first test of it
    if (m_wakeable) m_wake = openWake();

    // Windows 9x wants somewhere to write the id; the size is a reservation, not a commitment.
    DWORD id = 0;
    DWORD flags = m_stack_size > 0 ? STACK_SIZE_PARAM_IS_A_RESERVATION : 0;
    HANDLE handle = CreateThread(nullptr, m_stack_size, threadMain, this, flags, &id);
    if (!handle) {
        m_running.store(false, std::memory_order_relaxed);
        closeWake(this);
        return false;
    }
    m_handle = reinterpret_cast<uintptr_t>(handle);
    m_id = id;
    m_joinable = true;
    return true;
}

void Thread::stop() {
    m_running.store(false, std::memory_order_relaxed);
    if (!m_joinable) return;
    if (!m_finished.load(std::memory_order_acquire)) wake();
    join();
}

void Thread::wake() {
    if (m_wake < 0) return;
    char byte = 1;
    ::send(static_cast<SOCKET>(m_wake), &byte, 1, 0);
}

void Thread::join() {
    if (!m_joinable) return;
    HANDLE handle = reinterpret_cast<HANDLE>(m_handle);
    WaitForSingleObject(handle, INFINITE);
    CloseHandle(handle);
    m_handle = 0;
    m_joinable = false;
    m_running.store(false, std::memory_order_relaxed);
    closeWake(this);
}

void Thread::sleep(int ms) {
    if (ms <= 0) return;
    if (currentWake() >= 0)
        waitReady(-1, false, ms);
    else
        Sleep(static_cast<DWORD>(ms));
}

// --- mutex ----------------------------------------------------------------------------------

bool Mutex::init() {
    if (m_valid || KOVITV_FAULT(mutex_init)) return false;
    HANDLE handle = CreateMutexA(nullptr, FALSE, nullptr);
    if (!handle) return false;
    memcpy(m_mutex, &handle, sizeof(handle));
    m_valid = true;
    return true;
}

void Mutex::lock() {
    if (m_valid) WaitForSingleObject(nativeMutex(*this), INFINITE);
}

void Mutex::unlock() {
    if (m_valid) ReleaseMutex(nativeMutex(*this));
}

void Mutex::destroy() {
    if (!m_valid) return;
    m_valid = false;
    CloseHandle(nativeMutex(*this));
    memset(m_mutex, 0, sizeof(m_mutex));
}

// --- semaphore ------------------------------------------------------------------------------

namespace {
HANDLE nativeSemaphore(const Semaphore& semaphore) {
    HANDLE handle;
    memcpy(&handle, semaphore.m_native, sizeof(handle));
    return handle;
}
}  // namespace

bool Semaphore::init() {
    if (m_valid) return false;
    HANDLE handle = CreateSemaphoreA(nullptr, 0, LONG_MAX, nullptr);
    if (!handle) return false;
    memcpy(m_native, &handle, sizeof(handle));
    m_valid = true;
    return true;
}

void Semaphore::post() {
    if (m_valid) ReleaseSemaphore(nativeSemaphore(*this), 1, nullptr);
}

bool Semaphore::wait() {
    return m_valid && WaitForSingleObject(nativeSemaphore(*this), INFINITE) == WAIT_OBJECT_0;
}

void Semaphore::destroy() {
    if (!m_valid) return;
    m_valid = false;
    CloseHandle(nativeSemaphore(*this));
    memset(m_native, 0, sizeof(m_native));
}

// --- process --------------------------------------------------------------------------------

// --- poller ---------------------------------------------------------------------------------

namespace {

struct PollerEntry {
    SOCKET m_socket;
    void* m_tag;
    bool m_armed;
};

struct PollerTable {
    CRITICAL_SECTION m_lock;
    int m_count = 0;
    PollerEntry m_entries[POLLER_MAX];
};

PollerTable* pollerTable(const Poller* poller) { return static_cast<PollerTable*>(poller->m_table); }

}  // namespace

bool Poller::init() {
    if (m_table) return false;
    PollerTable* table = new (std::nothrow) PollerTable;
    if (!table) return false;
    intptr_t wake = openWake();
    u_long nonblocking = 1;
    if (wake < 0 || ioctlsocket(static_cast<SOCKET>(wake), FIONBIO, &nonblocking) != 0) {
        if (wake >= 0) closesocket(static_cast<SOCKET>(wake));
        delete table;
        return false;
    }
    InitializeCriticalSection(&table->m_lock);
    m_table = table;
    m_handle = wake;
    return true;
}

void Poller::destroy() {
    PollerTable* table = pollerTable(this);
    if (!table) return;
    DeleteCriticalSection(&table->m_lock);
    delete table;
    m_table = nullptr;
    closesocket(static_cast<SOCKET>(m_handle));
    m_handle = -1;
}

bool Poller::watch(int fd, void* tag, bool again) {
    PollerTable* table = pollerTable(this);
    if (!table || fd < 0) return false;
    (void)again;  // the table finds the socket either way
    bool watched = false;
    EnterCriticalSection(&table->m_lock);
    for (int i = 0; i < table->m_count && !watched; ++i) {
        if (table->m_entries[i].m_socket != toSocket(fd)) continue;
        table->m_entries[i] = {toSocket(fd), tag, true};
        watched = true;
    }
    if (!watched && table->m_count < POLLER_MAX) {
        table->m_entries[table->m_count++] = {toSocket(fd), tag, true};
        watched = true;
    }
    LeaveCriticalSection(&table->m_lock);
    // A wait in progress selects over the sockets it found armed: it starts again with this one.
    char byte = 1;
    if (watched) ::send(static_cast<SOCKET>(m_handle), &byte, 1, 0);
    return watched;
}

void Poller::forget(int fd) {
    PollerTable* table = pollerTable(this);
    if (!table || fd < 0) return;
    EnterCriticalSection(&table->m_lock);
    for (int i = 0; i < table->m_count; ++i) {
        if (table->m_entries[i].m_socket != toSocket(fd)) continue;
        table->m_entries[i] = table->m_entries[--table->m_count];
        break;
    }
    LeaveCriticalSection(&table->m_lock);
}

int Poller::wait(void** tags, int max, int timeout_ms, const StreamSocket* also,
                 bool* also_ready) {
    if (also_ready) *also_ready = false;
    PollerTable* table = pollerTable(this);
    if (!table || max <= 0) return -1;
    SOCKET own = static_cast<SOCKET>(m_handle);
    intptr_t wake = currentWake();
    fd_set reads;
    FD_ZERO(&reads);
    FD_SET(own, &reads);
    if (wake >= 0) FD_SET(static_cast<SOCKET>(wake), &reads);
    if (also && also->m_fd >= 0) FD_SET(toSocket(also->m_fd), &reads);
    EnterCriticalSection(&table->m_lock);
    for (int i = 0; i < table->m_count; ++i)
        if (table->m_entries[i].m_armed) FD_SET(table->m_entries[i].m_socket, &reads);
    LeaveCriticalSection(&table->m_lock);
    int remaining = timeout_ms < 0 ? 0 : timeout_ms;
    timeval limit{remaining / 1000, (remaining % 1000) * 1000};
    int n = select(0, &reads, nullptr, nullptr, &limit);
    if (n < 0) return WSAGetLastError() == WSAEINTR ? 0 : -1;
    // The watches that woke it are in the table: emptied, not read. Only by a waiter that
    // blocks: one that merely takes what is there would leave the blocked one asleep.
    if (FD_ISSET(own, &reads) && (timeout_ms > 0 || also)) {
        char drain[64];
        while (recv(own, drain, sizeof(drain), 0) > 0) {
        }
    }
    if (also_ready && also && also->m_fd >= 0) *also_ready = FD_ISSET(toSocket(also->m_fd), &reads);
    int count = 0;
    EnterCriticalSection(&table->m_lock);
    for (int i = 0; i < table->m_count && count < max; ++i) {
        PollerEntry& entry = table->m_entries[i];
        if (!entry.m_armed || !FD_ISSET(entry.m_socket, &reads)) continue;
        entry.m_armed = false;
        tags[count++] = entry.m_tag;
    }
    LeaveCriticalSection(&table->m_lock);
    return count;
}

void releaseFreeHeap() {}  // the process heap is one, shared by every thread

void ignoreBrokenPipe() {}  // Winsock reports a closed connection as an error; no signal exists

int64_t monotonicMillis() {
    // QueryPerformanceCounter rather than GetTickCount64, which Windows XP lacks; split so that
    // count * 1000 cannot overflow.
    LARGE_INTEGER frequency;
    LARGE_INTEGER count;
    QueryPerformanceFrequency(&frequency);
    QueryPerformanceCounter(&count);
    int64_t f = frequency.QuadPart;
    int64_t c = count.QuadPart;
    return c / f * 1000 + c % f * 1000 / f;
}
