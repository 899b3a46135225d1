// The layer over BSD sockets, POSIX threads and mutexes (Linux).
#include "net/net.h"
#include "net/faults.h"

#include <arpa/inet.h>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <ctime>
#include <malloc.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <new>
#include <poll.h>
#include <pthread.h>
#include <sys/epoll.h>
#include <sys/eventfd.h>
#include <sys/ioctl.h>
#include <sys/prctl.h>
#include <sys/sendfile.h>
#include <sys/socket.h>
#include <unistd.h>

static_assert(sizeof(InetRecord) == sizeof(sockaddr_in), "InetRecord mirrors sockaddr_in");
static_assert(offsetof(sockaddr_in, sin_port) == offsetof(InetRecord, m_port), "port offset");
static_assert(offsetof(sockaddr_in, sin_addr) == offsetof(InetRecord, m_address), "address offset");
static_assert(AF_INET == INET_FAMILY, "AF_INET");
static_assert(sizeof(pthread_t) <= sizeof(uintptr_t), "pthread_t fits the handle");
static_assert(sizeof(pthread_mutex_t) <= sizeof(Mutex::m_mutex), "pthread_mutex_t fits in place");
static_assert(alignof(pthread_mutex_t) <= 8, "pthread_mutex_t alignment");

namespace {
struct NativeSemaphore {
    pthread_mutex_t m_mutex;
    pthread_cond_t m_condition;
    unsigned m_count;
};
}  // namespace
static_assert(sizeof(NativeSemaphore) <= sizeof(Semaphore::m_native), "the semaphore fits in place");
static_assert(alignof(NativeSemaphore) <= 8, "the semaphore's alignment");

namespace {

constexpr int READY_FAILED = -1;
constexpr int READY_TIMEOUT = 0;
constexpr int READY_OK = 1;

// The Thread this thread runs, for the wake descriptor its waits also watch; null on threads
// not started here (the host's main thread).
thread_local const Thread* t_current = nullptr;

int currentWake() {
    return t_current != nullptr ? static_cast<int>(t_current->m_wake) : -1;
}

// The record is copied rather than cast so that the system's type never aliases ours.
sockaddr_in toSystem(const InetAddress& address) {
    sockaddr_in native;
    memcpy(&native, &address.m_address, sizeof(native));
    return native;
}

void fromSystem(const sockaddr_in& native, InetAddress* address) {
    memcpy(&address->m_address, &native, sizeof(native));
    address->m_length = INET_ADDRESS_LENGTH;
}

// poll() rather than select(): an FD_SET of a descriptor at or above FD_SETSIZE writes out of
// bounds, and a game server can hold more than 1024 descriptors. The current thread's wake
// descriptor (it stays readable once woken) ends the wait as a time-out; fd < 0 waits on it alone.
int waitReady(int fd, short events, int timeout_ms) {
    if (timeout_ms < 0) return READY_OK;  // the system call blocks instead
    int64_t deadline = monotonicMillis() + timeout_ms;
    int remaining = timeout_ms;
    int wake = currentWake();
    for (;;) {
        pollfd entries[2] = {{fd, events, 0}, {wake, POLLIN, 0}};  // poll skips a negative fd
        int n = poll(entries, 2, remaining);
        if (n > 0 && entries[0].revents != 0)
            return (entries[0].revents & POLLNVAL) ? READY_FAILED : READY_OK;
        if (n >= 0) return READY_TIMEOUT;  // the time-out, or the wake
        if (errno != EINTR) return READY_FAILED;
        int64_t left = deadline - monotonicMillis();
        remaining = left > 0 ? static_cast<int>(left) : 0;
    }
}

// With a time-out the read must not block after all (a UDP datagram with a bad checksum is
// dropped only at the read, after poll reported it).
int readFlags(int timeout_ms) { return timeout_ms >= 0 ? MSG_DONTWAIT : 0; }

int openSocket(int* fd, int type, int protocol, bool broadcast, const InetAddress* address,
               bool* in_use = nullptr) {
    if (*fd >= 0) {  // re-init must not leak the old descriptor
        close(*fd);
        *fd = -1;
    }
    if (!address) return -1;
    int s = socket(AF_INET, type, protocol);
    if (s < 0) return -1;
    int one = 1;
    if (broadcast) setsockopt(s, SOL_SOCKET, SO_BROADCAST, &one, sizeof(one));
    setsockopt(s, SOL_SOCKET, SO_REUSEADDR, &one, sizeof(one));
    sockaddr_in native = toSystem(*address);
    if (bind(s, reinterpret_cast<const sockaddr*>(&native), INET_ADDRESS_LENGTH) != 0) {
        if (in_use) *in_use = errno == EADDRINUSE;
        close(s);
        return -2;
    }
    *fd = s;
    return 0;
}

void closeSocket(int* fd) {
    if (*fd < 0) return;
    close(*fd);  // not retried on EINTR: Linux has released the descriptor already
    *fd = -1;
}

// Errors of one pending connection (it was reset before we took it, or the network failed
// under it) or a short lack of resources: the listening socket itself is fine.
bool acceptErrorIsTransient(int error) {
    switch (error) {
    case ECONNABORTED: case EPROTO: case ENETDOWN: case ENOPROTOOPT: case EHOSTDOWN:
    case ENONET: case EHOSTUNREACH: case EOPNOTSUPP: case ENETUNREACH: case EPERM:
    case EAGAIN: case ETIMEDOUT:
        return true;
    default:
        return false;
    }
}

bool acceptErrorIsExhaustion(int error) {
    return error == EMFILE || error == ENFILE || error == ENOBUFS || error == ENOMEM;
}

void* threadMain(void* argument) {
    Thread* thread = static_cast<Thread*>(argument);
    t_current = thread;
    if (thread->m_name) prctl(PR_SET_NAME, thread->m_name, 0, 0, 0);
    // sendfile has no MSG_NOSIGNAL: a SIGPIPE it raises stays pending on this thread, harmless,
    // whatever the host does with the signal.
    sigset_t pipe;
    sigemptyset(&pipe);
    sigaddset(&pipe, SIGPIPE);
    pthread_sigmask(SIG_BLOCK, &pipe, nullptr);
    void* result = thread->m_function(thread->m_argument);
    thread->m_finished.store(true, std::memory_order_release);
    return result;
}

pthread_t nativeThread(const Thread& thread) {
    pthread_t native;
    memcpy(&native, &thread.m_handle, sizeof(native));
    return native;
}

pthread_mutex_t* nativeMutex(Mutex* mutex) {
    return std::launder(reinterpret_cast<pthread_mutex_t*>(mutex->m_mutex));
}

// A requested stack below the system minimum or off a page boundary is refused by some libcs.
size_t usableStackSize(size_t requested) {
    long page = sysconf(_SC_PAGESIZE);
    size_t page_size = page > 0 ? static_cast<size_t>(page) : 4096;
    size_t size = requested < static_cast<size_t>(PTHREAD_STACK_MIN) ? PTHREAD_STACK_MIN : requested;
    return (size + page_size - 1) / page_size * page_size;
}

void closeWake(Thread* thread) {
    if (thread->m_wake < 0) return;
    close(static_cast<int>(thread->m_wake));
    thread->m_wake = -1;
}

}  // namespace

// --- datagrams ------------------------------------------------------------------------------

int DatagramSocket::init(const InetAddress* address) {
    return openSocket(&m_fd, SOCK_DGRAM, IPPROTO_UDP, true, address);
}

bool DatagramSocket::receive(DatagramPacket* packet, int timeout_ms) {
    if (m_fd < 0 || !packet || !packet->m_data || packet->m_capacity <= 0) return false;
    if (int error = KOVITV_FAULT(udp_receive_error)) {
        KOVITV_FAULT_HIT(udp_receive_failures);
        errno = error;
        return false;
    }
    if (waitReady(m_fd, POLLIN, timeout_ms) != READY_OK) return false;
    sockaddr_in from{};
    socklen_t from_length = INET_ADDRESS_LENGTH;
    ssize_t n;
    do {
        n = recvfrom(m_fd, packet->m_data, static_cast<size_t>(packet->m_capacity),
                     readFlags(timeout_ms), reinterpret_cast<sockaddr*>(&from), &from_length);
    } while (n < 0 && errno == EINTR);
    if (n < 1) return false;
    packet->m_length = static_cast<int>(n);
    if (packet->m_address) fromSystem(from, packet->m_address);
    return true;
}

bool DatagramSocket::send(DatagramPacket* packet, int timeout_ms) {
    if (m_fd < 0 || !packet || !packet->m_address || !packet->m_data || packet->m_length < 0)
        return false;
    packet->m_address->m_length = INET_ADDRESS_LENGTH;
    sockaddr_in to = toSystem(*packet->m_address);
    if (int error = KOVITV_FAULT(udp_send_error)) {
        int port = KOVITV_FAULT(udp_send_error_port);
        if (port == 0 || port == packet->m_address->getPort()) {
            KOVITV_FAULT_HIT(udp_send_failures);
            errno = error;
            return false;
        }
    }
    // Sent first, waited for only when the buffer is full: a poll before every datagram cost
    // the sender a fifth of its time.
    int flags = timeout_ms >= 0 ? MSG_DONTWAIT : 0;
    for (bool waited = false;; waited = true) {
        ssize_t n;
        do {
            n = sendto(m_fd, packet->m_data, static_cast<size_t>(packet->m_length), flags,
                       reinterpret_cast<const sockaddr*>(&to), INET_ADDRESS_LENGTH);
        } while (n < 0 && errno == EINTR);
        if (n > 0) return true;
        bool full = n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == ENOBUFS);
        if (!full || waited || timeout_ms < 0) return false;
        if (waitReady(m_fd, POLLOUT, timeout_ms) != READY_OK) return false;
    }
}

void DatagramSocket::stop() { closeSocket(&m_fd); }

// --- streams --------------------------------------------------------------------------------

int StreamSocket::init(const InetAddress* address) {
    m_in_use = false;
    return openSocket(&m_fd, SOCK_STREAM, 0, false, address, &m_in_use);
}

int boundPort(int descriptor) {
    sockaddr_in local{};
    socklen_t length = sizeof(local);
    if (descriptor < 0 ||
        getsockname(descriptor, reinterpret_cast<sockaddr*>(&local), &length) != 0)
        return 0;
    return ntohs(local.sin_port);
}

bool StreamSocket::listen(int backlog) { return m_fd >= 0 && ::listen(m_fd, backlog) == 0; }

int StreamSocket::accept(StreamSocket** out, InetAddress* peer, int timeout_ms) {
    if (m_fd < 0 || !out) return -2;
    int ready = waitReady(m_fd, POLLIN, timeout_ms);
    if (ready == READY_TIMEOUT) return 0;
    if (ready == READY_FAILED) return -2;
    sockaddr_in from{};
    socklen_t from_length = INET_ADDRESS_LENGTH;
    int fd = -1;
    if (int error = KOVITV_FAULT(accept_error)) {
        KOVITV_FAULT_HIT(accept_failures);
        errno = error;
    } else {
        do {
            fd = ::accept(m_fd, reinterpret_cast<sockaddr*>(&from), &from_length);
        } while (fd < 0 && errno == EINTR);
    }
    if (fd < 0) {
        m_error = errno;
        m_exhausted = acceptErrorIsExhaustion(errno);
        return m_exhausted || acceptErrorIsTransient(errno) ? -1 : -2;
    }
    StreamSocket* accepted = new (std::nothrow) StreamSocket;
    if (!accepted) {  // a lack of memory, like one of descriptors, passes
        close(fd);
        m_error = ENOMEM;
        m_exhausted = true;
        return -1;
    }
    // Responses go out in several sends; without this each waits on the peer's delayed ACK.
    int one = 1;
    setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof(one));
    // The system grows a connection's send buffer to megabytes even while the peer reads
    // nothing, so every send would find room and no time-out would end it. Bytes the peer has
    // not yet been sent are held to this: a send then waits, and times out, once the peer stops
    // reading. What is in flight is not limited, so neither is the rate.
    int unsent = STREAM_UNSENT_MAX;
    setsockopt(fd, IPPROTO_TCP, TCP_NOTSENT_LOWAT, &unsent, sizeof(unsent));
    accepted->m_fd = fd;
    if (peer) fromSystem(from, peer);
    *out = accepted;
    return 1;
}

int StreamSocket::waitReadable(int timeout_ms) {
    if (m_fd < 0) return -1;
    int ready = waitReady(m_fd, POLLIN, timeout_ms < 0 ? 0 : timeout_ms);
    return ready == READY_OK ? 1 : ready == READY_TIMEOUT ? 0 : -1;
}

int StreamSocket::receive(char* buffer, int length, int timeout_ms) {
    if (m_fd < 0 || !buffer || length <= 0) return -1;
    // Read first, waited for only when nothing is there: a kept-alive browser's next request has
    // often arrived already.
    for (bool waited = timeout_ms < 0;; waited = true) {
        ssize_t n;
        do {
            n = recv(m_fd, buffer, static_cast<size_t>(length), readFlags(timeout_ms));
        } while (n < 0 && errno == EINTR);
        bool empty = n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK);
        if (!empty) return static_cast<int>(n);
        if (waited) return 0;
        int ready = waitReady(m_fd, POLLIN, timeout_ms);
        if (ready != READY_OK) return ready == READY_TIMEOUT ? 0 : -1;
    }
}

int StreamSocket::send(const char* data, int length, int timeout_ms) {
    if (m_fd < 0 || !data || length < 0) return -1;
    // MSG_NOSIGNAL: a peer that has gone away is an error result even if SIGPIPE is not ignored.
    // MSG_DONTWAIT: a peer that stops reading must not hold this thread past its time-out (the
    // send may then be partial). Sent first, waited for only when the buffer is full.
    int flags = MSG_NOSIGNAL | (timeout_ms >= 0 ? MSG_DONTWAIT : 0);
    for (bool waited = false;; waited = true) {
        ssize_t n;
        do {
            n = ::send(m_fd, data, static_cast<size_t>(length), flags);
        } while (n < 0 && errno == EINTR);
        bool full = n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK);
        if (!full || timeout_ms < 0) return static_cast<int>(n);
        if (waited) return 0;
        int ready = waitReady(m_fd, POLLOUT, timeout_ms);
        if (ready != READY_OK) return ready == READY_TIMEOUT ? 0 : -1;
    }
}

int StreamSocket::sendFromFile(FILE* file, int64_t offset, int length, int timeout_ms) {
    if (m_fd < 0 || !file || offset < 0 || length < 0) return -1;
    // sendfile has no MSG_DONTWAIT, and a send time-out (SO_SNDTIMEO) is counted afresh by each
    // call: one that sent a little and then waited its full time would be followed by another
    // wait. The socket (blocking, as every one here) is made non-blocking for the call instead,
    // as send's flag makes it, and the wait is poll's alone. FIONBIO rather than fcntl, whose
    // i386 symbol is GLIBC_2.28's.
    int on = 1;
    if (timeout_ms >= 0 && ioctl(m_fd, FIONBIO, &on) != 0) return -1;
    int result;
    for (bool waited = false;; waited = true) {
        off_t position = static_cast<off_t>(offset);
        ssize_t n;
        do {
            n = sendfile(m_fd, fileno(file), &position, static_cast<size_t>(length));
        } while (n < 0 && errno == EINTR);
        bool full = n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK);
        if (!full || timeout_ms < 0) {
            result = static_cast<int>(n);
            break;
        }
        if (waited) {
            result = 0;
            break;
        }
        int ready = waitReady(m_fd, POLLOUT, timeout_ms);
        if (ready != READY_OK) {
            result = ready == READY_TIMEOUT ? 0 : -1;
            break;
        }
    }
    if (timeout_ms >= 0) {
        int error = errno;
        int off = 0;
        ioctl(m_fd, FIONBIO, &off);
        errno = error;
    }
    return result;
}

void StreamSocket::shutdownBoth() {
    if (m_fd >= 0) shutdown(m_fd, SHUT_RDWR);
}

void StreamSocket::stop() { closeSocket(&m_fd); }

// --- threads --------------------------------------------------------------------------------

bool Thread::start() {
    if (running()) return true;
    if (m_joinable) join();  // a previous run that ended by itself
    if (!m_function) return false;
    m_finished.store(false, std::memory_order_relaxed);
    m_running.store(true, std::memory_order_relaxed);  // before the thread's first test of it
    // Never read: once written it stays readable until the join closes it.
    if (m_wakeable) m_wake = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);

    pthread_attr_t attributes;
    pthread_attr_t* used = nullptr;
    if (m_stack_size > 0 && pthread_attr_init(&attributes) == 0) {
        used = &attributes;
        // A refused size leaves the default stack rather than no thread.
        pthread_attr_setstacksize(&attributes, usableStackSize(m_stack_size));
    }
    pthread_t native;
    int error = pthread_create(&native, used, threadMain, this);
    if (used) pthread_attr_destroy(used);
    if (error != 0) {
        m_running.store(false, std::memory_order_relaxed);
        closeWake(this);
        return false;
    }
    m_handle = 0;
    memcpy(&m_handle, &native, sizeof(native));
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
    uint64_t one = 1;
    ssize_t written;
    do {
        written = write(static_cast<int>(m_wake), &one, sizeof(one));
    } while (written < 0 && errno == EINTR);
}

void Thread::join() {
    if (!m_joinable) return;
    pthread_join(nativeThread(*this), nullptr);
    m_joinable = false;
    m_running.store(false, std::memory_order_relaxed);
    closeWake(this);
}

void Thread::sleep(int ms) {
    if (ms <= 0) return;
    if (currentWake() >= 0) {
        waitReady(-1, 0, ms);
        return;
    }
    timespec left{ms / 1000, static_cast<long>(ms % 1000) * 1000000L};
    while (nanosleep(&left, &left) != 0 && errno == EINTR) {
    }
}

// --- mutex ----------------------------------------------------------------------------------

bool Mutex::init() {
    if (m_valid || KOVITV_FAULT(mutex_init)) return false;
    pthread_mutex_t* native = new (m_mutex) pthread_mutex_t;
    if (pthread_mutex_init(native, nullptr) != 0) return false;
    m_valid = true;
    return true;
}

void Mutex::lock() {
    if (m_valid) pthread_mutex_lock(nativeMutex(this));
}

void Mutex::unlock() {
    if (m_valid) pthread_mutex_unlock(nativeMutex(this));
}

void Mutex::destroy() {
    if (!m_valid) return;
    m_valid = false;
    pthread_mutex_destroy(nativeMutex(this));
}

// --- semaphore ------------------------------------------------------------------------------

namespace {
NativeSemaphore* nativeSemaphore(Semaphore* semaphore) {
    return std::launder(reinterpret_cast<NativeSemaphore*>(semaphore->m_native));
}
}  // namespace

bool Semaphore::init() {
    if (m_valid) return false;
    NativeSemaphore* native = new (m_native) NativeSemaphore;
    native->m_count = 0;
    if (pthread_mutex_init(&native->m_mutex, nullptr) != 0) return false;
    if (pthread_cond_init(&native->m_condition, nullptr) != 0) {
        pthread_mutex_destroy(&native->m_mutex);
        return false;
    }
    m_valid = true;
    return true;
}

void Semaphore::post() {
    if (!m_valid) return;
    NativeSemaphore* native = nativeSemaphore(this);
    pthread_mutex_lock(&native->m_mutex);
    ++native->m_count;
    pthread_cond_signal(&native->m_condition);
    pthread_mutex_unlock(&native->m_mutex);
}

bool Semaphore::wait() {
    if (!m_valid) return false;
    NativeSemaphore* native = nativeSemaphore(this);
    pthread_mutex_lock(&native->m_mutex);
    while (native->m_count == 0) pthread_cond_wait(&native->m_condition, &native->m_mutex);
    --native->m_count;
    pthread_mutex_unlock(&native->m_mutex);
    return true;
}

void Semaphore::destroy() {
    if (!m_valid) return;
    m_valid = false;
    NativeSemaphore* native = nativeSemaphore(this);
    pthread_cond_destroy(&native->m_condition);
    pthread_mutex_destroy(&native->m_mutex);
}

// --- poller ---------------------------------------------------------------------------------

bool Poller::init() {
    if (m_handle >= 0) return false;
    int fd = epoll_create1(EPOLL_CLOEXEC);
    if (fd < 0) return false;
    m_handle = fd;
    return true;
}

void Poller::destroy() {
    if (m_handle < 0) return;
    close(static_cast<int>(m_handle));
    m_handle = -1;
}

bool Poller::watch(int fd, void* tag, bool again) {
    if (m_handle < 0 || fd < 0) return false;
    // One-shot: the report disables the socket, so no other waiter's report can follow it
    // while its owner reads.
    epoll_event event{};
    event.events = EPOLLIN | EPOLLRDHUP | EPOLLONESHOT;
    event.data.ptr = tag;
    return epoll_ctl(static_cast<int>(m_handle), again ? EPOLL_CTL_MOD : EPOLL_CTL_ADD, fd,
                     &event) == 0;
}

void Poller::forget(int fd) {
    if (m_handle < 0 || fd < 0) return;
    epoll_event unused{};  // kernels before 2.6.9 want one even for a delete
    epoll_ctl(static_cast<int>(m_handle), EPOLL_CTL_DEL, fd, &unused);
}

int Poller::wait(void** tags, int max, int timeout_ms, const StreamSocket* also,
                 bool* also_ready) {
    if (also_ready) *also_ready = false;
    if (m_handle < 0 || max <= 0) return -1;
    int epoll = static_cast<int>(m_handle);
    if (also || timeout_ms > 0) {
        // The epoll descriptor is itself readable while reports wait: it is polled beside the
        // other socket and the thread's wake, then the reports are taken without blocking.
        int64_t deadline = monotonicMillis() + (timeout_ms < 0 ? 0 : timeout_ms);
        int remaining = timeout_ms < 0 ? 0 : timeout_ms;
        for (;;) {
            pollfd entries[3] = {{epoll, POLLIN, 0},
                                 {also ? also->m_fd : -1, POLLIN, 0},
                                 {currentWake(), POLLIN, 0}};  // poll skips a negative fd
            int n = poll(entries, 3, remaining);
            if (n >= 0) {
                if (entries[0].revents & POLLNVAL) return -1;
                if (also_ready) *also_ready = entries[1].revents != 0;
                if (entries[0].revents == 0) return 0;  // the time-out, the wake or also alone
                break;
            }
            if (errno != EINTR) return -1;
            int64_t left = deadline - monotonicMillis();
            remaining = left > 0 ? static_cast<int>(left) : 0;
        }
    }
    constexpr int BATCH = 64;
    epoll_event events[BATCH];
    int n;
    do {
        n = epoll_wait(epoll, events, max < BATCH ? max : BATCH, 0);
    } while (n < 0 && errno == EINTR);
    if (n < 0) return -1;
    for (int i = 0; i < n; ++i) tags[i] = events[i].data.ptr;
    return n;
}

// --- process --------------------------------------------------------------------------------

void releaseFreeHeap() { malloc_trim(0); }

void ignoreBrokenPipe() {
    struct sigaction action;
    memset(&action, 0, sizeof(action));
    action.sa_handler = SIG_IGN;
    sigemptyset(&action.sa_mask);
    sigaction(SIGPIPE, &action, nullptr);
}

int64_t monotonicMillis() {
    timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<int64_t>(now.tv_sec) * 1000 + now.tv_nsec / 1000000;
}
