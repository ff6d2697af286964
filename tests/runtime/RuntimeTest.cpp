// The recursive lock, the event and the thread base.
#include <gtest/gtest.h>

#include "runtime/VoEventSNMP.h"
#include "runtime/VoLockSNMP.h"
#include "runtime/VoThreadSNMP.h"
#include "tests/support/Contender.h"

namespace {

// The owner re-enters and releases only at its last unlock; a stranger's unlock, or one of a
// free lock, changes nothing. A contender is seen asleep on the lock until then.
TEST(VoLockSNMP, RecursiveOwnerReleasesOnlyAtLastUnlock)
{
    VoLockSNMP lock;
    lock.Unlock();
    lock.Lock();
    {
        VoAutoLockSNMP inner(&lock), none(nullptr);
        EXPECT_EQ(2, lock.m_nLockCount);
    }
    lock.Lock();
    std::thread([&] { lock.Unlock(); }).join();
    kw::test::Contender other([&] { VoAutoLockSNMP guard(&lock); });
    ASSERT_TRUE(other.blocked());
    lock.Unlock();
    EXPECT_EQ(1, lock.m_nLockCount);
    EXPECT_TRUE(pthread_equal(lock.m_OwnerThread.load(), pthread_self()));
    ASSERT_TRUE(other.blocked());
    lock.Unlock();
    EXPECT_TRUE(other.finish());
    EXPECT_EQ(std::make_pair(pthread_t{}, 0),
              std::make_pair(lock.m_OwnerThread.load(), lock.m_nLockCount));
}

// The event counts signals; a re-arm takes one without blocking. A blocked thread body is woken
// by its owner's stop; a second start is refused, a restart clears the stop flag.
TEST(VoThreadSNMP, EventsCountAndThreadsStopAndRestart)
{
    struct Blocking : VoThreadSNMP {
        void t_Main() override
        {
            ++m_nRuns;
            m_Started.SetWait(false);
            while (!m_bStop.load()) m_Wake.WaitEvent();
        }
        void Destroy() override
        {
            m_bStop = true;
            m_Wake.SetWait(false);
            DestroyThread();
        }
        std::atomic<int> m_nRuns{0};
        VoEventSNMP m_Started, m_Wake;
    } thread;
    VoEventSNMP& event = thread.m_Wake;
    EXPECT_NE(0, event.SetWait(true));  // empty: returns at once
    for (int i = 0; i < 3; ++i) EXPECT_EQ(0, event.SetWait(false));
    // Braced lists evaluate in order: take, re-arm, take, then empty.
    EXPECT_EQ((std::vector<bool>{true, true, true, false}),
              (std::vector<bool>{event.WaitEvent() == 0, event.SetWait(true) == 0,
                                 event.WaitEvent() == 0, event.SetWait(true) == 0}));

    thread.DestroyThread();  // no thread: nothing to stop
    EXPECT_FALSE(thread.m_bStop.load());
    for (int run = 1; run <= 2; ++run) {
        ASSERT_EQ(1, thread.CreateThread("kwtest"));
        thread.m_Started.WaitEvent();
        EXPECT_FALSE(thread.m_bStop.load());  // a restart must not see the first stop request
        EXPECT_EQ(0, thread.CreateThread("kwtest"));
        thread.Destroy();
        EXPECT_TRUE(thread.m_bStop.load() && !thread.IsCreated());
        thread.m_Wake.SetWait(true);
    }
    EXPECT_EQ(2, thread.m_nRuns.load());
}

}  // namespace
