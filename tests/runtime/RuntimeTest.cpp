// The recursive lock, event, thread, singleton, pack, and the time and trace helpers.
#include <gtest/gtest.h>

#include <memory>
#include <stdexcept>

#include "host/framework/Clock.h"
#include "runtime/VoEventSNMP.h"
#include "runtime/VoLockSNMP.h"
#include "runtime/VoPackSNMP.h"
#include "runtime/VoSingletonSNMP.h"
#include "runtime/VoThreadSNMP.h"
#include "runtime/VoUtilSNMP.h"
#include "tests/support/Contender.h"

namespace {

using Bytes = std::vector<unsigned char>;

// The owner re-enters and releases only at its last unlock; a stranger's unlock, or one of a
// free lock, changes nothing. A contender is seen asleep on the lock until then.
TEST(VoLockSNMP, RecursiveOwnerReleasesOnlyAtLastUnlock)
{
    VoLockSNMP lock;
    lock.Unlock();
    lock.Lock();
    {
        VoAutoLockSNMP inner(&lock);
        VoAutoLockSNMP none(nullptr);
        EXPECT_EQ(2, lock.m_nLockCount);
    }
    lock.Lock();
    std::thread([&] { lock.Unlock(); }).join();
    EXPECT_EQ(2, lock.m_nLockCount);
    kw::test::Contender other([&] { VoAutoLockSNMP guard(&lock); });
    ASSERT_TRUE(other.blocked());
    lock.Unlock();
    EXPECT_EQ(1, lock.m_nLockCount);
    EXPECT_TRUE(pthread_equal(lock.m_OwnerThread.load(), pthread_self()));
    ASSERT_TRUE(other.blocked());
    lock.Unlock();
    EXPECT_TRUE(other.finish());
    EXPECT_EQ(pthread_t{}, lock.m_OwnerThread.load());
    EXPECT_EQ(0, lock.m_nLockCount);

    long counter = 0;  // deliberately plain: only the lock protects it
    std::thread threads[4];
    for (auto& t : threads) {
        t = std::thread([&] {
            for (int i = 0; i < 2000; ++i) {
                VoAutoLockSNMP outer(&lock), inner(&lock);
                ++counter;
            }
        });
    }
    for (auto& t : threads) t.join();
    EXPECT_EQ(8000, counter);
}

TEST(VoEventSNMP, SignalsAccumulateAndRearmTakesOneWithoutBlocking)
{
    VoEventSNMP event;
    EXPECT_NE(0, event.SetWait(true));  // empty: returns at once
    for (int i = 0; i < 3; ++i) EXPECT_EQ(0, event.SetWait(false));
    EXPECT_EQ(0, event.WaitEvent());
    EXPECT_EQ(0, event.SetWait(true));
    EXPECT_EQ(0, event.WaitEvent());
    EXPECT_NE(0, event.SetWait(true));
}

// A body that blocks on an event, as the module's service threads do; its owner wakes it.
class BlockingThread : public VoThreadSNMP {
public:
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
};

TEST(VoThreadSNMP, SecondCreateIsRefusedAndARestartClearsTheStopFlag)
{
    BlockingThread thread;
    thread.Destroy();  // no thread: nothing to stop
    ASSERT_EQ(1, thread.CreateThread("kwtest"));
    thread.m_Started.WaitEvent();
    EXPECT_EQ(0, thread.CreateThread("kwtest"));
    thread.Destroy();
    EXPECT_TRUE(thread.m_bStop.load());
    EXPECT_FALSE(thread.IsCreated());
    thread.m_Wake.SetWait(true);
    ASSERT_EQ(1, thread.CreateThread("kwtest"));  // must not see the first run's stop request
    thread.m_Started.WaitEvent();
    EXPECT_FALSE(thread.m_bStop.load());
    thread.Destroy();
    EXPECT_EQ(2, thread.m_nRuns.load());

    VoThreadSNMP idle;
    idle.DestroyThread();
    EXPECT_FALSE(idle.m_bStop.load());
    ASSERT_EQ(1, idle.CreateThread("kwtest"));
    idle.Destroy();  // joins the empty base body
    EXPECT_FALSE(idle.IsCreated());
}

struct FailsOnce : VoSingletonSNMP<FailsOnce> {
    FailsOnce()
    {
        if (s_nAttempts++ == 0) throw std::runtime_error("first construction fails");
    }
    static int s_nAttempts;
};
int FailsOnce::s_nAttempts = 0;

TEST(VoSingletonSNMP, FailedConstructionLeavesNoInstanceThenConstructsOnce)
{
    EXPECT_THROW(FailsOnce::GetInstance(), std::runtime_error);
    EXPECT_EQ(nullptr, FailsOnce::m_pObject);
    FailsOnce* instance = FailsOnce::GetInstance();
    ASSERT_NE(nullptr, instance);
    EXPECT_EQ(instance, FailsOnce::GetInstance());
    EXPECT_EQ(2, FailsOnce::s_nAttempts);
}

TEST(VoPackSNMP, PushPopAndCopy)
{
    VoPackSNMP pack;
    std::unique_ptr<unsigned char[]> empty(pack.GetData());
    EXPECT_NE(nullptr, empty);  // a zero-length array, still the caller's to free
    const unsigned char a[] = {1, 2}, b[] = {3, 4};
    pack.PushData(nullptr, 5);
    pack.PushData(a, 0);
    pack.PushData(a, 2);
    pack.PushData(b, 2);
    std::unique_ptr<unsigned char[]> copy(pack.GetData());
    EXPECT_EQ((Bytes{1, 2, 3, 4}), Bytes(copy.get(), copy.get() + 4));
    copy[0] = 0xEE;  // the copy is the caller's own
    EXPECT_EQ((Bytes{1, 2, 3, 4}), pack.m_vecData);

    unsigned char dest[5] = {0xAA, 0xAA, 0xAA, 0xAA, 0xAA};
    EXPECT_EQ(0, pack.PopData(dest, 5));  // more than held: nothing taken
    EXPECT_EQ(0, pack.PopData(nullptr, 1));
    EXPECT_EQ(0, pack.PopData(dest, 0));
    EXPECT_EQ(1, pack.PopData(dest, 2));  // FIFO
    EXPECT_EQ(1, pack.PopData(dest + 2, 2));
    EXPECT_EQ((Bytes{1, 2, 3, 4, 0xAA}), Bytes(dest, dest + 5));
    EXPECT_EQ(0, pack.PopData(dest, 1));
}

TEST(VoUtilSNMP, TimeFollowsTheFrameworkClockAndPrintfWritesNothing)
{
    {
        kw::host::VirtualClockScope clock(0xFFFFFFF0u);
        VoSleepSNMP(0x20);
        VoSleepSNMP(0);
        EXPECT_EQ(0x10u, VoGetTickCountSNMP());
    }
    for (bool enabled : {false, true}) {
        g_bEnableDebugMsgSNMP = enabled;
        testing::internal::CaptureStdout();
        testing::internal::CaptureStderr();
        EXPECT_EQ(0, VoPrintfSNMP("value %d %s\n", 42, "text"));
        EXPECT_EQ("", testing::internal::GetCapturedStdout() + testing::internal::GetCapturedStderr());
    }
    g_bEnableDebugMsgSNMP = false;
}

}  // namespace
