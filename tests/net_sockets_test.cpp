// The sockets layer on loopback: only 127.0.0.1 and ports the system picks.
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <dirent.h>
#include <netinet/in.h>
#include <pthread.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <thread>

#include "net/net.h"

namespace {

int openDescriptors() {
    int count = 0;
    DIR* dir = opendir("/proc/self/fd");
    if (!dir) return -1;
    while (readdir(dir)) ++count;
    closedir(dir);
    return count;
}

int localPort(int fd) {
    sockaddr_in a{};
    socklen_t length = sizeof(a);
    if (getsockname(fd, reinterpret_cast<sockaddr*>(&a), &length) != 0) return -1;
    return ntohs(a.sin_port);
}

InetAddress loopback(int port) {
    InetAddress a;
    a.setLoopback(port);
    return a;
}

// A UDP socket on 127.0.0.1 at a port of the system's choosing.
struct BoundUdp {
    DatagramSocket socket;
    InetAddress address;
    BoundUdp() {
        InetAddress any = loopback(0);
        if (socket.init(&any) == 0) address = loopback(localPort(socket.m_fd));
    }
    ~BoundUdp() { socket.stop(); }
};

// A listening TCP socket on 127.0.0.1 at a port of the system's choosing.
struct Listener {
    StreamSocket socket;
    InetAddress address;
    Listener() {
        InetAddress any = loopback(0);
        if (socket.init(&any) == 0 && socket.listen(4))
            address = loopback(localPort(socket.m_fd));
    }
    ~Listener() { socket.stop(); }
};

// A plain client descriptor connected to the listener.
int connectTo(const InetAddress& address) {
    int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a;
    memcpy(&a, &address.m_address, sizeof(a));
    if (connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof(a)) != 0) {
        close(fd);
        return -1;
    }
    return fd;
}

// A connected pair: the layer's accepted end and a plain client descriptor.
struct Connection {
    Listener listener;
    int client = -1;
    StreamSocket* server = nullptr;
    Connection() {
        client = connectTo(listener.address);
        InetAddress peer;
        if (client >= 0) listener.socket.accept(&server, &peer, 2000);
    }
    ~Connection() {
        if (client >= 0) close(client);
        if (server) {
            server->stop();
            delete server;
        }
    }
};

void ignoreSignal(int) {}

}  // namespace

// --- addresses -------------------------------------------------------------------------------

TEST(InetAddress, MatchesTheSystemRecordByteForByte) {
    InetAddress a;
    a.set(0xc0a80102, 27015);
    sockaddr_in native{};
    native.sin_family = AF_INET;
    native.sin_port = htons(27015);
    inet_pton(AF_INET, "192.168.1.2", &native.sin_addr);
    ASSERT_EQ(sizeof(a.m_address), sizeof(native));
    EXPECT_EQ(memcmp(&a.m_address, &native, sizeof(native)), 0);
    EXPECT_EQ(a.m_length, 16);
    EXPECT_EQ(a.getPort(), 27015);
    EXPECT_EQ(a.getAddress(), 0xc0a80102u);
}

TEST(InetAddress, FormatsDottedQuadsAndCutsToTheBuffer) {
    char text[INET_TEXT_MAX];
    InetAddress a;
    a.set(0xfffefdfc, 1);
    EXPECT_STREQ(a.format(text, sizeof(text)), "255.254.253.252");
    a.setAny(1);
    EXPECT_STREQ(a.format(text, sizeof(text)), "0.0.0.0");
    char small[6];
    a.setLoopback(1);
    EXPECT_STREQ(a.format(small, sizeof(small)), "127.0");
}

// --- datagrams -------------------------------------------------------------------------------

TEST(DatagramSocket, CarriesADatagramAcrossLoopbackWithTheSendersAddress) {
    BoundUdp a, b;
    ASSERT_GE(a.socket.m_fd, 0);
    ASSERT_GE(b.socket.m_fd, 0);
    char out[] = "heartbeat";
    DatagramPacket send{&b.address, out, 9, 0};
    ASSERT_TRUE(a.socket.send(&send, 150));

    char in[64];
    InetAddress from;
    DatagramPacket receive{&from, in, 0, sizeof(in)};
    ASSERT_TRUE(b.socket.receive(&receive, 2000));
    EXPECT_EQ(receive.m_length, 9);
    EXPECT_EQ(memcmp(in, "heartbeat", 9), 0);
    EXPECT_EQ(from.getAddress(), INET_LOOPBACK);
    EXPECT_EQ(from.getPort(), a.address.getPort());
}

TEST(DatagramSocket, CutsALongDatagramToTheCapacityAndLosesTheRest) {
    BoundUdp a, b;
    char out[40];
    for (int i = 0; i < 40; ++i) out[i] = static_cast<char>(i);
    DatagramPacket send{&b.address, out, 40, 0};
    ASSERT_TRUE(a.socket.send(&send, 150));

    char in[16];
    InetAddress from;
    DatagramPacket receive{&from, in, 0, sizeof(in)};
    ASSERT_TRUE(b.socket.receive(&receive, 2000));
    EXPECT_EQ(receive.m_length, 16);
    EXPECT_EQ(memcmp(in, out, 16), 0);
    EXPECT_FALSE(b.socket.receive(&receive, 10)) << "the tail came as a second datagram";
}

TEST(DatagramSocket, ReceiveOnAnIdleSocketTimesOut) {
    BoundUdp a;
    char in[16];
    InetAddress from;
    DatagramPacket receive{&from, in, 0, sizeof(in)};
    int64_t before = monotonicMillis();
    EXPECT_FALSE(a.socket.receive(&receive, 10));
    int64_t waited = monotonicMillis() - before;
    EXPECT_GE(waited, 5);
    EXPECT_LT(waited, 5000);
}

TEST(DatagramSocket, ReceiveSurvivesASignalDuringTheWait) {
    struct sigaction action {};
    struct sigaction previous {};
    action.sa_handler = ignoreSignal;  // no SA_RESTART: the wait sees EINTR
    sigaction(SIGUSR1, &action, &previous);

    BoundUdp a, b;
    char in[16];
    InetAddress from;
    DatagramPacket receive{&from, in, 0, sizeof(in)};
    std::atomic<bool> received{false};
    std::thread receiver([&] { received = b.socket.receive(&receive, 5000); });
    Thread::sleep(50);
    pthread_kill(receiver.native_handle(), SIGUSR1);
    Thread::sleep(50);
    char out[] = "late";
    DatagramPacket send{&b.address, out, 4, 0};
    a.socket.send(&send, 150);
    receiver.join();
    sigaction(SIGUSR1, &previous, nullptr);
    EXPECT_TRUE(received);
    EXPECT_EQ(receive.m_length, 4);
}

TEST(DatagramSocket, RefusesABusyPortWithoutLeakingTheDescriptor) {
    int holder = socket(AF_INET, SOCK_DGRAM, 0);  // bound without address reuse
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ASSERT_EQ(bind(holder, reinterpret_cast<sockaddr*>(&a), sizeof(a)), 0);
    InetAddress busy = loopback(localPort(holder));

    int before = openDescriptors();
    DatagramSocket s;
    EXPECT_EQ(s.init(&busy), -2);
    EXPECT_EQ(s.m_fd, -1);
    EXPECT_EQ(openDescriptors(), before);
    close(holder);
}

TEST(DatagramSocket, InitOfAnOpenSocketClosesTheOldDescriptor) {
    BoundUdp a;
    int before = openDescriptors();
    InetAddress any = loopback(0);
    EXPECT_EQ(a.socket.init(&any), 0);
    EXPECT_EQ(openDescriptors(), before);
}

TEST(DatagramSocket, FailsEveryOperationOnceClosedOrGivenNoBuffer) {
    BoundUdp a, b;
    char data[16] = "x";
    InetAddress from;
    DatagramPacket packet{&b.address, data, 1, sizeof(data)};

    DatagramPacket empty{&from, data, 0, 0};
    ASSERT_TRUE(a.socket.send(&packet, 150));
    EXPECT_FALSE(b.socket.receive(&empty, 100)) << "read into a buffer of capacity 0";
    DatagramPacket nowhere{nullptr, data, 1, 0};
    EXPECT_FALSE(a.socket.send(&nowhere, 150));
    EXPECT_FALSE(a.socket.send(nullptr, 150));
    EXPECT_FALSE(a.socket.receive(nullptr, 10));

    a.socket.stop();
    EXPECT_EQ(a.socket.m_fd, -1);
    EXPECT_FALSE(a.socket.send(&packet, 150));
    EXPECT_FALSE(a.socket.receive(&packet, 10));
    a.socket.stop();  // a second stop is harmless
    EXPECT_EQ(a.socket.m_fd, -1);
}

// --- streams ---------------------------------------------------------------------------------

TEST(StreamSocket, AcceptTimesOutWithoutAClientAndFailsAtOnceAfterStop) {
    Listener l;
    ASSERT_TRUE(l.socket.valid());
    StreamSocket* accepted = nullptr;
    InetAddress peer;
    int64_t before = monotonicMillis();
    EXPECT_EQ(l.socket.accept(&accepted, &peer, 300), 0);
    EXPECT_GE(monotonicMillis() - before, 200);
    EXPECT_EQ(accepted, nullptr);

    l.socket.stop();
    before = monotonicMillis();
    EXPECT_EQ(l.socket.accept(&accepted, &peer, 5000), -2);
    EXPECT_LT(monotonicMillis() - before, 1000);
    EXPECT_FALSE(l.socket.listen(4));
}

TEST(StreamSocket, AcceptHandsOverANewSocketAndThePeerAddress) {
    Listener l;
    int client = connectTo(l.address);
    ASSERT_GE(client, 0);
    StreamSocket* accepted = nullptr;
    InetAddress peer;
    ASSERT_EQ(l.socket.accept(&accepted, &peer, 2000), 1);
    ASSERT_NE(accepted, nullptr);
    EXPECT_TRUE(accepted->valid());
    EXPECT_NE(accepted->m_fd, l.socket.m_fd);
    EXPECT_EQ(peer.getAddress(), INET_LOOPBACK);
    EXPECT_EQ(peer.getPort(), localPort(client));
    EXPECT_EQ(l.socket.accept(nullptr, &peer, 0), -2);
    accepted->stop();
    delete accepted;
    close(client);
}

TEST(StreamSocket, AcceptFailsOnceTheListeningSocketIsShutDown) {
    Listener l;
    l.socket.shutdownBoth();
    StreamSocket* accepted = nullptr;
    InetAddress peer;
    EXPECT_EQ(l.socket.accept(&accepted, &peer, 2000), -2);
    EXPECT_TRUE(l.socket.valid()) << "shutdown must not close the descriptor";
}

TEST(StreamSocket, RefusesABusyPortWithoutLeakingTheDescriptor) {
    Listener holder;  // listening: address reuse does not let a second socket bind
    int before = openDescriptors();
    StreamSocket s;
    EXPECT_EQ(s.init(&holder.address), -2);
    EXPECT_EQ(s.m_fd, -1);
    EXPECT_FALSE(s.valid());
    EXPECT_EQ(openDescriptors(), before);
}

TEST(StreamSocket, CarriesBytesBothWaysAndReadsZeroOnTimeOutAndOnPeerClose) {
    Connection c;
    ASSERT_NE(c.server, nullptr);
    char buffer[32];
    EXPECT_EQ(c.server->send("HTTP/1.1", 8, 1000), 8);
    EXPECT_EQ(read(c.client, buffer, sizeof(buffer)), 8);
    EXPECT_EQ(memcmp(buffer, "HTTP/1.1", 8), 0);

    EXPECT_EQ(c.server->receive(buffer, sizeof(buffer), 20), 0) << "time-out";

    ASSERT_EQ(write(c.client, "GET /", 5), 5);
    EXPECT_EQ(c.server->receive(buffer, sizeof(buffer), 2000), 5);
    EXPECT_EQ(memcmp(buffer, "GET /", 5), 0);

    close(c.client);
    c.client = -1;
    EXPECT_EQ(c.server->receive(buffer, sizeof(buffer), 2000), 0) << "peer closed";
}

TEST(StreamSocket, SendToAPeerThatHasGoneAwayIsAnErrorNotASignal) {
    struct sigaction fatal {};
    struct sigaction previous {};
    fatal.sa_handler = SIG_DFL;  // the layer alone must keep the process alive
    sigaction(SIGPIPE, &fatal, &previous);

    Connection c;
    ASSERT_NE(c.server, nullptr);
    close(c.client);
    c.client = -1;
    char block[1024] = {};
    int result = 0;
    for (int i = 0; i < 100 && result >= 0; ++i) {  // the first sends may still be queued
        result = c.server->send(block, sizeof(block), 1000);
        Thread::sleep(5);
    }
    sigaction(SIGPIPE, &previous, nullptr);
    EXPECT_EQ(result, -1);
}

TEST(StreamSocket, SendToAPeerThatStopsReadingReturnsInsteadOfBlocking) {
    Connection c;
    ASSERT_NE(c.server, nullptr);
    int small = 16 * 1024;  // a send far larger than the buffer would block a blocking send
    setsockopt(c.server->m_fd, SOL_SOCKET, SO_SNDBUF, &small, sizeof(small));
    static char block[1 << 20];
    std::atomic<int> result{1};
    std::atomic<bool> done{false};
    std::thread sender([&] {
        for (int rounds = 0; result > 0 && rounds < 100000; ++rounds)
            result = c.server->send(block, sizeof(block), 20);
        done = true;
    });
    for (int i = 0; i < 10000 && !done; ++i) Thread::sleep(1);
    bool returned = done;
    if (!returned) c.server->shutdownBoth();  // frees the blocked sender so the test can end
    sender.join();
    EXPECT_TRUE(returned) << "send blocked past its time-out";
    EXPECT_EQ(result, 0);
}

TEST(StreamSocket, FailsEveryOperationOnceClosedOrGivenNoBuffer) {
    Connection c;
    ASSERT_NE(c.server, nullptr);
    char buffer[8];
    EXPECT_EQ(c.server->receive(nullptr, 8, 10), -1);
    EXPECT_EQ(c.server->receive(buffer, 0, 10), -1);
    EXPECT_EQ(c.server->send(nullptr, 8, 10), -1);

    c.server->stop();
    EXPECT_FALSE(c.server->valid());
    EXPECT_EQ(c.server->receive(buffer, sizeof(buffer), 10), -1);
    EXPECT_EQ(c.server->send("x", 1, 10), -1);
    c.server->shutdownBoth();  // harmless on a closed socket
    c.server->stop();
    EXPECT_EQ(c.server->m_fd, -1);
}

// --- process ---------------------------------------------------------------------------------

// A report hands the socket to whoever takes it: it comes once, with the socket's tag, and not
// again until the socket is watched again; a forgotten socket is never reported, a peer's close
// is, and a socket watched from another thread during a wait counts in that wait.
TEST(Poller, ReportsEachWatchedSocketOnceUntilWatchedAgain) {
    Poller poller;
    ASSERT_TRUE(poller.init());
    EXPECT_FALSE(poller.init());
    Connection a, b;
    ASSERT_TRUE(a.server && b.server);
    int tag_a = 1, tag_b = 2;
    void* tags[4];
    ASSERT_TRUE(poller.watch(a.server->m_fd, &tag_a, false));
    ASSERT_TRUE(poller.watch(b.server->m_fd, &tag_b, false));
    EXPECT_EQ(poller.wait(tags, 4, 50), 0);

    ASSERT_EQ(write(a.client, "x", 1), 1);
    ASSERT_EQ(poller.wait(tags, 4, 2000), 1);
    EXPECT_EQ(tags[0], &tag_a);
    EXPECT_EQ(poller.wait(tags, 4, 50), 0);  // unread, yet not reported twice
    ASSERT_TRUE(poller.watch(a.server->m_fd, &tag_a, true));
    ASSERT_EQ(poller.wait(tags, 4, 2000), 1);  // still unread: reported again at once
    EXPECT_EQ(tags[0], &tag_a);

    poller.forget(b.server->m_fd);
    ASSERT_EQ(write(b.client, "y", 1), 1);
    EXPECT_EQ(poller.wait(tags, 4, 50), 0);

    ASSERT_TRUE(poller.watch(b.server->m_fd, &tag_b, false));
    ASSERT_EQ(poller.wait(tags, 4, 2000), 1);
    EXPECT_EQ(tags[0], &tag_b);
    close(b.client);
    b.client = -1;
    ASSERT_TRUE(poller.watch(b.server->m_fd, &tag_b, true));
    ASSERT_EQ(poller.wait(tags, 4, 2000), 1);
    EXPECT_EQ(tags[0], &tag_b);

    Connection c;
    ASSERT_TRUE(c.server);
    int tag_c = 3;
    std::thread other([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        ASSERT_EQ(write(c.client, "z", 1), 1);
        poller.watch(c.server->m_fd, &tag_c, false);
    });
    int64_t before = monotonicMillis();
    int n = poller.wait(tags, 4, 5000);
    other.join();
    ASSERT_EQ(n, 1);
    EXPECT_EQ(tags[0], &tag_c);
    EXPECT_LT(monotonicMillis() - before, 2500);
    poller.destroy();
    EXPECT_EQ(poller.wait(tags, 4, 0), -1);
}

TEST(IgnoreBrokenPipe, LeavesSigpipeIgnoredForTheProcess) {
    struct sigaction previous {};
    sigaction(SIGPIPE, nullptr, &previous);
    struct sigaction fatal {};
    fatal.sa_handler = SIG_DFL;
    sigaction(SIGPIPE, &fatal, nullptr);

    ignoreBrokenPipe();
    struct sigaction now {};
    sigaction(SIGPIPE, nullptr, &now);
    sigaction(SIGPIPE, &previous, nullptr);
    EXPECT_EQ(now.sa_handler, SIG_IGN);
}
