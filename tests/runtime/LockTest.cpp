#include <gtest/gtest.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>

#include "runtime/VoLockSNMP.h"

namespace {

using namespace std::chrono_literals;

pid_t currentTid()
{
    return static_cast<pid_t>(syscall(SYS_gettid));
}

// The scheduler state letter of a thread of this process ('S' while it sleeps in a wait).
char threadState(pid_t tid)
{
    std::ifstream stat("/proc/self/task/" + std::to_string(tid) + "/stat");
    std::string line;
    std::getline(stat, line);
    const auto close = line.rfind(')');
    if (close == std::string::npos || close + 2 >= line.size()) return '?';
    return line[close + 2];
}

// Waits (real time, bounded) until a thread sleeps in the kernel.
bool waitUntilBlocked(pid_t tid)
{
    const auto deadline = std::chrono::steady_clock::now() + 5s;
    while (std::chrono::steady_clock::now() < deadline) {
        if (threadState(tid) == 'S') return true;
        std::this_thread::yield();
    }
    return false;
}

// A second thread that takes the lock once it can and records that it got it.
class Contender {
public:
    explicit Contender(VoLockSNMP& lock)
        : m_thread([this, &lock] {
              m_tid.store(currentTid());
              lock.Lock();
              m_acquired.store(true);
              lock.Unlock();
          })
    {
    }
    ~Contender()
    {
        if (m_thread.joinable()) m_thread.join();
    }

    pid_t tid()
    {
        while (m_tid.load() == 0) std::this_thread::yield();
        return m_tid.load();
    }
    bool acquired() const { return m_acquired.load(); }
    void join() { m_thread.join(); }

private:
    std::atomic<pid_t> m_tid{0};
    std::atomic<bool> m_acquired{false};
    std::thread m_thread;
};

TEST(VoLockSNMP, NewLockIsFree)
{
    VoLockSNMP lock;
    EXPECT_EQ(lock.m_OwnerThread.load(), pthread_t{});
    EXPECT_EQ(lock.m_nLockCount, 0);
}

TEST(VoLockSNMP, RecursiveOwnerReleasesOnlyAtLastUnlock)
{
    VoLockSNMP lock;
    lock.Lock();
    lock.Lock();
    EXPECT_EQ(lock.m_nLockCount, 2);
    EXPECT_TRUE(pthread_equal(lock.m_OwnerThread.load(), pthread_self()));

    Contender other(lock);
    ASSERT_TRUE(waitUntilBlocked(other.tid()));
    EXPECT_FALSE(other.acquired());

    lock.Unlock();
    // Still held at depth 1: the contender cannot have taken it.
    EXPECT_EQ(lock.m_nLockCount, 1);
    EXPECT_TRUE(pthread_equal(lock.m_OwnerThread.load(), pthread_self()));
    ASSERT_TRUE(waitUntilBlocked(other.tid()));
    EXPECT_FALSE(other.acquired());

    lock.Unlock();
    other.join();
    EXPECT_TRUE(other.acquired());
    EXPECT_EQ(lock.m_OwnerThread.load(), pthread_t{});
    EXPECT_EQ(lock.m_nLockCount, 0);
}

TEST(VoLockSNMP, UnlockByNonOwnerIsIgnored)
{
    VoLockSNMP lock;
    lock.Lock();
    std::thread([&] { lock.Unlock(); }).join();
    EXPECT_EQ(lock.m_nLockCount, 1);
    EXPECT_TRUE(pthread_equal(lock.m_OwnerThread.load(), pthread_self()));

    // The semaphore was not given back either: a contender still waits for the owner.
    Contender other(lock);
    ASSERT_TRUE(waitUntilBlocked(other.tid()));
    EXPECT_FALSE(other.acquired());
    lock.Unlock();
    other.join();
    EXPECT_TRUE(other.acquired());
}

TEST(VoLockSNMP, UnlockOfFreeLockChangesNothing)
{
    VoLockSNMP lock;
    lock.Unlock();
    EXPECT_EQ(lock.m_nLockCount, 0);
    // An extra Give would let two threads in at once; the lock still excludes.
    lock.Lock();
    Contender other(lock);
    ASSERT_TRUE(waitUntilBlocked(other.tid()));
    EXPECT_FALSE(other.acquired());
    lock.Unlock();
    other.join();
    EXPECT_TRUE(other.acquired());
}

TEST(VoLockSNMP, ExcludesAcrossThreads)
{
    VoLockSNMP lock;
    long counter = 0;  // deliberately plain: only the lock protects it
    constexpr int kThreads = 4;
    constexpr int kRounds = 2000;
    std::thread threads[kThreads];
    for (auto& t : threads) {
        t = std::thread([&] {
            for (int i = 0; i < kRounds; ++i) {
                VoAutoLockSNMP outer(&lock);
                VoAutoLockSNMP inner(&lock);
                ++counter;
            }
        });
    }
    for (auto& t : threads) t.join();
    EXPECT_EQ(counter, kThreads * kRounds);
    EXPECT_EQ(lock.m_nLockCount, 0);
}

TEST(VoAutoLockSNMP, LocksForItsScope)
{
    VoLockSNMP lock;
    {
        VoAutoLockSNMP outer(&lock);
        EXPECT_EQ(lock.m_nLockCount, 1);
        {
            VoAutoLockSNMP inner(&lock);
            EXPECT_EQ(lock.m_nLockCount, 2);
        }
        EXPECT_EQ(lock.m_nLockCount, 1);
    }
    EXPECT_EQ(lock.m_nLockCount, 0);
    EXPECT_EQ(lock.m_OwnerThread.load(), pthread_t{});
}

TEST(VoAutoLockSNMP, NullLockIsNoOp)
{
    VoAutoLockSNMP guard(nullptr);
    EXPECT_EQ(guard.m_pLock, nullptr);
}

}  // namespace
