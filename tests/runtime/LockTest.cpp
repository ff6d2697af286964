// The recursive lock across real threads: a contender is checked to be asleep in the kernel
// before the test looks at whether it got in.
#include <gtest/gtest.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <fstream>
#include <string>
#include <thread>

#include "runtime/VoLockSNMP.h"

namespace {

// Waits (real time, bounded) until the thread's scheduler state is 'S' (asleep in a wait).
bool waitUntilBlocked(pid_t tid)
{
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (std::chrono::steady_clock::now() < deadline) {
        std::ifstream stat("/proc/self/task/" + std::to_string(tid) + "/stat");
        std::string line;
        std::getline(stat, line);
        const auto close = line.rfind(')');
        if (close != std::string::npos && close + 2 < line.size() && line[close + 2] == 'S') {
            return true;
        }
        std::this_thread::yield();
    }
    return false;
}

// A second thread that takes the lock once it can and records that it got it.
class Contender {
public:
    explicit Contender(VoLockSNMP& lock)
        : m_thread([this, &lock] {
              m_tid = static_cast<pid_t>(syscall(SYS_gettid));
              lock.Lock();
              m_acquired = true;
              lock.Unlock();
          })
    {
    }
    ~Contender() { join(); }
    // True once the contender sleeps on the lock without having got it.
    bool blocked()
    {
        while (m_tid.load() == 0) std::this_thread::yield();
        return waitUntilBlocked(m_tid.load()) && !m_acquired.load();
    }
    bool joinAcquired()
    {
        join();
        return m_acquired.load();
    }

private:
    void join()
    {
        if (m_thread.joinable()) m_thread.join();
    }
    std::atomic<pid_t> m_tid{0};
    std::atomic<bool> m_acquired{false};
    std::thread m_thread;
};

TEST(VoLockSNMP, RecursiveOwnerReleasesOnlyAtLastUnlock)
{
    VoLockSNMP lock;
    EXPECT_EQ(lock.m_OwnerThread.load(), pthread_t{});
    lock.Lock();
    lock.Lock();
    EXPECT_EQ(lock.m_nLockCount, 2);
    Contender other(lock);
    ASSERT_TRUE(other.blocked());

    lock.Unlock();
    EXPECT_EQ(lock.m_nLockCount, 1);
    EXPECT_TRUE(pthread_equal(lock.m_OwnerThread.load(), pthread_self()));
    ASSERT_TRUE(other.blocked());

    lock.Unlock();
    EXPECT_TRUE(other.joinAcquired());
    EXPECT_EQ(lock.m_OwnerThread.load(), pthread_t{});
    EXPECT_EQ(lock.m_nLockCount, 0);
}

// Neither a stranger's Unlock nor an Unlock of a free lock may give the semaphore back.
TEST(VoLockSNMP, StrayUnlocksAreIgnored)
{
    VoLockSNMP lock;
    lock.Unlock();
    EXPECT_EQ(lock.m_nLockCount, 0);
    lock.Lock();
    std::thread([&] { lock.Unlock(); }).join();
    EXPECT_EQ(lock.m_nLockCount, 1);
    EXPECT_TRUE(pthread_equal(lock.m_OwnerThread.load(), pthread_self()));

    Contender other(lock);
    ASSERT_TRUE(other.blocked());
    lock.Unlock();
    EXPECT_TRUE(other.joinAcquired());
}

TEST(VoLockSNMP, AutoLockNestsAndExcludesAcrossThreads)
{
    VoLockSNMP lock;
    {
        VoAutoLockSNMP outer(&lock);
        VoAutoLockSNMP inner(&lock);
        VoAutoLockSNMP none(nullptr);
        EXPECT_EQ(lock.m_nLockCount, 2);
    }
    EXPECT_EQ(lock.m_nLockCount, 0);

    long counter = 0;  // deliberately plain: only the lock protects it
    constexpr int kThreads = 4, kRounds = 2000;
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
    EXPECT_EQ(lock.m_OwnerThread.load(), pthread_t{});
}

}  // namespace
