// Threads, the mutex and the clock.
#include <gtest/gtest.h>

#include <sched.h>

#include <atomic>

#include "net/net.h"

namespace {

// A worker in the shape of the plugin's: its argument is its own Thread, and it polls the flag.
struct Worker : Thread {
    std::atomic<int> entries{0};
    std::atomic<bool> sawRunning{false};
    std::atomic<bool> leftLoop{false};
    std::atomic<bool> loop{true};  // false: return at once

    Worker() {
        m_function = run;
        m_argument = this;
    }
    ~Worker() { stop(); }

    static void* run(void* argument) {
        Worker* self = static_cast<Worker*>(argument);
        self->entries.fetch_add(1);
        self->sawRunning = self->running();
        while (self->loop && self->running()) Thread::sleep(1);
        self->leftLoop = true;
        return nullptr;
    }
};

// Bounded wait for the worker to return by itself.
bool waitFinished(const Thread& t) {
    for (int i = 0; i < 5000 && !t.finished(); ++i) Thread::sleep(1);
    return t.finished();
}

void* useStack(void* argument) {
    volatile char block[16 * 1024];
    for (size_t i = 0; i < sizeof(block); i += 512) block[i] = static_cast<char>(i / 512 + 1);
    static_cast<std::atomic<int>*>(argument)->store(block[512]);
    return nullptr;
}

void* storeTwo(void* argument) {
    static_cast<std::atomic<int>*>(argument)->store(2);
    return nullptr;
}

struct Counter {
    Mutex* mutex;
    int value = 0;
};

void* countUnderLock(void* argument) {
    Counter* c = static_cast<Counter*>(argument);
    for (int i = 0; i < 20000; ++i) {
        c->mutex->lock();
        int v = c->value;
        if (i % 64 == 0) sched_yield();  // widens the window a missing lock would lose updates in
        c->value = v + 1;
        c->mutex->unlock();
    }
    return nullptr;
}

// A worker that waits once, for far longer than any test runs, in a sleep or on a socket, and
// records how long the wait lasted and what it gave.
struct LongWait : Thread {
    enum Kind { SLEEP, RECEIVE, ACCEPT } kind;
    DatagramSocket* udp = nullptr;
    StreamSocket* tcp = nullptr;
    std::atomic<bool> waiting{false};
    std::atomic<int64_t> lasted{-1};
    std::atomic<int> result{99};

    explicit LongWait(Kind k) : kind(k) {
        m_function = run;
        m_argument = this;
    }
    ~LongWait() { stop(); }

    static constexpr int WAIT_MS = 120000;

    static void* run(void* argument) {
        LongWait* self = static_cast<LongWait*>(argument);
        char byte;
        InetAddress from;
        DatagramPacket packet{&from, &byte, 0, 1};
        StreamSocket* accepted = nullptr;
        self->waiting = true;
        int64_t began = monotonicMillis();
        if (self->kind == SLEEP) Thread::sleep(WAIT_MS);
        if (self->kind == RECEIVE) self->result = self->udp->receive(&packet, WAIT_MS) ? 1 : 0;
        if (self->kind == ACCEPT) self->result = self->tcp->accept(&accepted, &from, WAIT_MS);
        self->lasted = monotonicMillis() - began;
        delete accepted;
        return nullptr;
    }
};

}  // namespace

// --- threads ---------------------------------------------------------------------------------

// A stop that waited for the worker's time-out would hold the game thread at every map change:
// each wait ends at the stop, and as a time-out (nothing read, nothing accepted).
TEST(Thread, StopEndsTheWorkersSleepAndSocketWaitsAtOnce) {
    DatagramSocket udp;
    StreamSocket tcp;
    InetAddress any;
    any.setLoopback(0);
    ASSERT_EQ(udp.init(&any), 0);
    ASSERT_EQ(tcp.init(&any), 0);
    ASSERT_TRUE(tcp.listen(4));
    for (LongWait::Kind kind : {LongWait::SLEEP, LongWait::RECEIVE, LongWait::ACCEPT}) {
        LongWait w(kind);
        w.udp = &udp;
        w.tcp = &tcp;
        ASSERT_TRUE(w.start());
        while (!w.waiting) Thread::sleep(1);
        Thread::sleep(20);  // into the wait itself
        w.stop();
        EXPECT_GE(w.lasted, 0) << "kind " << kind;
        EXPECT_LT(w.lasted, LongWait::WAIT_MS / 2) << "kind " << kind;
        if (kind != LongWait::SLEEP) {
            EXPECT_EQ(w.result, 0) << "kind " << kind;
        }
    }
    udp.stop();
    tcp.stop();
}

// The wake lasts until the join: a restarted thread must wait again, not spin through waits
// that a previous stop ended. The host's own thread is never woken.
TEST(Thread, AWakeEndsWithItsRunAndSparesTheCallersThread) {
    LongWait first(LongWait::SLEEP);
    ASSERT_TRUE(first.start());
    while (!first.waiting) Thread::sleep(1);
    first.stop();
    EXPECT_EQ(first.m_wake, -1);

    struct Timed : Thread {
        std::atomic<int64_t> slept{-1};
        static void* run(void* argument) {
            Timed* self = static_cast<Timed*>(argument);
            int64_t began = monotonicMillis();
            Thread::sleep(40);
            self->slept = monotonicMillis() - began;
            return nullptr;
        }
    } again;
    again.m_function = Timed::run;
    again.m_argument = &again;
    for (int run = 0; run < 2; ++run) {
        ASSERT_TRUE(again.start());
        ASSERT_TRUE(waitFinished(again));
        EXPECT_GE(again.slept, 35) << "run " << run;
        again.wake();  // finished, not joined: the wake is for this run only
        again.join();
    }
    int64_t began = monotonicMillis();
    again.wake();  // joined: nothing to wake
    Thread::sleep(30);
    EXPECT_GE(monotonicMillis() - began, 25);
}

// Without a wake the worker's waits run to their time-outs, and the stop still joins it.
TEST(Thread, AThreadWithoutAWakeIsStillStoppedAndJoined) {
    Worker w;
    w.m_wakeable = false;
    ASSERT_TRUE(w.start());
    EXPECT_EQ(w.m_wake, -1);
    w.stop();
    EXPECT_TRUE(w.leftLoop);
    EXPECT_FALSE(w.m_joinable);
}

TEST(Thread, StartRunsTheFunctionWhichSeesTheFlagAlreadySet) {
    Worker w;
    ASSERT_TRUE(w.start());
    EXPECT_TRUE(w.running());
    for (int i = 0; i < 5000 && w.entries == 0; ++i) Thread::sleep(1);  // a stop would clear it
    w.stop();
    EXPECT_EQ(w.entries, 1);
    EXPECT_TRUE(w.sawRunning);
    EXPECT_TRUE(w.leftLoop);
    EXPECT_FALSE(w.running());
}

TEST(Thread, StartOnARunningThreadCreatesNoSecondThread) {
    Worker w;
    ASSERT_TRUE(w.start());
    EXPECT_TRUE(w.start());
    EXPECT_TRUE(w.start());
    w.stop();
    EXPECT_EQ(w.entries, 1);
}

TEST(Thread, StopJoinsAThreadWhoseFunctionHasAlreadyReturned) {
    Worker w;
    w.loop = false;
    ASSERT_TRUE(w.start());
    ASSERT_TRUE(waitFinished(w));
    EXPECT_TRUE(w.running()) << "the flag stays set until stop";
    w.stop();
    EXPECT_FALSE(w.running());
    EXPECT_FALSE(w.finished()) << "joined: nothing left to reap";
}

TEST(Thread, FinishedTellsAReaperWhenJoinWillNotWait) {
    Worker w;
    EXPECT_FALSE(w.finished());
    ASSERT_TRUE(w.start());
    EXPECT_FALSE(w.finished()) << "still looping";
    w.loop = false;
    ASSERT_TRUE(waitFinished(w));
    w.join();
    EXPECT_FALSE(w.running());
    EXPECT_FALSE(w.finished());
    ASSERT_TRUE(w.start()) << "a joined thread can run again";
    w.stop();
    EXPECT_EQ(w.entries, 2);
}

TEST(Thread, AWorkerThatClearedItsOwnFlagIsJoinedBeforeTheNextStart) {
    Worker w;
    w.loop = false;
    ASSERT_TRUE(w.start());
    ASSERT_TRUE(waitFinished(w));
    w.m_running = false;  // ended and cleared the flag, never stopped
    ASSERT_TRUE(w.start());
    w.stop();
    EXPECT_EQ(w.entries, 2);
}

TEST(Thread, StartWithoutAFunctionFailsAndStopThenReturnsAtOnce) {
    Thread t;
    EXPECT_FALSE(t.start());
    EXPECT_FALSE(t.running());
    t.stop();
    EXPECT_FALSE(t.running());
}

TEST(Thread, RunsOnASmallRequestedStack) {
    std::atomic<int> result{-1};
    Thread t;
    t.m_function = useStack;
    t.m_argument = &result;
    t.m_stack_size = 64 * 1024;
    ASSERT_TRUE(t.start());
    ASSERT_TRUE(waitFinished(t));
    t.join();
    EXPECT_EQ(result, 2);
}

TEST(Thread, AStackRequestBelowTheSystemMinimumStillRuns) {
    std::atomic<int> result{-1};
    Thread t;
    t.m_function = storeTwo;  // the system minimum may be no more than a few pages
    t.m_argument = &result;
    t.m_stack_size = 1;
    ASSERT_TRUE(t.start());
    t.stop();
    EXPECT_EQ(result, 2);
}

// --- mutex -----------------------------------------------------------------------------------

TEST(Mutex, LockAndUnlockDoNothingBeforeInitAndAfterDestroy) {
    Mutex m;
    EXPECT_FALSE(m.m_valid);
    m.lock();
    m.lock();  // a real non-recursive lock would block here
    m.unlock();
    ASSERT_TRUE(m.init());
    m.lock();
    m.unlock();
    m.destroy();
    EXPECT_FALSE(m.m_valid);
    m.lock();
    m.lock();
    m.unlock();
    m.destroy();  // a second destroy is harmless
}

TEST(Mutex, InitFailsWhenAlreadyValidAndWorksAgainAfterDestroy) {
    Mutex m;
    ASSERT_TRUE(m.init());
    EXPECT_FALSE(m.init());
    EXPECT_TRUE(m.m_valid);
    m.destroy();
    EXPECT_TRUE(m.init());
    m.destroy();
}

TEST(Mutex, KeepsTwoThreadsOutOfEachOther) {
    Mutex m;
    ASSERT_TRUE(m.init());
    Counter c{&m};
    Thread a, b;
    a.m_function = b.m_function = countUnderLock;
    a.m_argument = b.m_argument = &c;
    ASSERT_TRUE(a.start());
    ASSERT_TRUE(b.start());
    ASSERT_TRUE(waitFinished(a));
    ASSERT_TRUE(waitFinished(b));
    a.join();
    b.join();
    m.destroy();
    EXPECT_EQ(c.value, 40000);
}

// --- semaphore -------------------------------------------------------------------------------

TEST(Semaphore, PostsAreCountedAndNothingWorksWhileInvalid) {
    Semaphore s;
    s.post();  // invalid: nothing
    EXPECT_FALSE(s.wait());
    ASSERT_TRUE(s.init());
    EXPECT_FALSE(s.init());
    s.post();
    s.post();
    EXPECT_TRUE(s.wait());  // both posts made before the waits are kept
    EXPECT_TRUE(s.wait());
    s.destroy();
    EXPECT_FALSE(s.wait());
}

namespace {
struct Waiters {
    Semaphore ready;
    std::atomic<int> woken{0};
};
void* takeOne(void* argument) {
    Waiters* w = static_cast<Waiters*>(argument);
    if (w->ready.wait()) w->woken.fetch_add(1);
    return nullptr;
}
}  // namespace

// Each post wakes one waiter and no more: a visitor's thread waits here for its next connection.
TEST(Semaphore, ConcurrentWaitersEachTakeOnePost) {
    Waiters w;
    ASSERT_TRUE(w.ready.init());
    Thread threads[4];
    for (Thread& t : threads) {
        t.m_function = takeOne;
        t.m_argument = &w;
        ASSERT_TRUE(t.start());
    }
    Thread::sleep(50);
    EXPECT_EQ(w.woken.load(), 0);
    w.ready.post();
    w.ready.post();
    int64_t deadline = monotonicMillis() + 5000;
    while (w.woken.load() < 2 && monotonicMillis() < deadline) Thread::sleep(5);
    Thread::sleep(50);
    EXPECT_EQ(w.woken.load(), 2);
    w.ready.post();
    w.ready.post();
    for (Thread& t : threads) t.join();
    EXPECT_EQ(w.woken.load(), 4);
    w.ready.destroy();
}

// --- clock and sleep -------------------------------------------------------------------------

TEST(MonotonicMillis, NeverGoesBackAndAdvancesAcrossASleep) {
    int64_t previous = monotonicMillis();
    for (int i = 0; i < 1000; ++i) {
        int64_t now = monotonicMillis();
        ASSERT_GE(now, previous);
        previous = now;
    }
    int64_t before = monotonicMillis();
    Thread::sleep(30);
    EXPECT_GE(monotonicMillis() - before, 25);
}
