#include <gtest/gtest.h>

#include <atomic>
#include <stdexcept>
#include <thread>

#include "runtime/VoEventSNMP.h"
#include "runtime/VoSingletonSNMP.h"
#include "runtime/VoThreadSNMP.h"

namespace {

TEST(VoEventSNMP, SignalsAccumulate)
{
    VoEventSNMP event;
    EXPECT_EQ(event.SetWait(false), 0);
    EXPECT_EQ(event.SetWait(false), 0);
    EXPECT_EQ(event.WaitEvent(), 0);
    EXPECT_EQ(event.WaitEvent(), 0);
    // Both consumed: nothing left for a re-arm to take.
    EXPECT_NE(event.SetWait(true), 0);
}

TEST(VoEventSNMP, RearmConsumesOnePendingSignalWithoutBlocking)
{
    VoEventSNMP event;
    EXPECT_NE(event.SetWait(true), 0);  // empty: returns at once
    event.SetWait(false);
    event.SetWait(false);
    EXPECT_EQ(event.SetWait(true), 0);
    EXPECT_EQ(event.SetWait(true), 0);
    EXPECT_NE(event.SetWait(true), 0);
}

TEST(VoEventSNMP, WakesWaiterOnAnotherThread)
{
    VoEventSNMP event;
    std::atomic<bool> woken{false};
    std::thread waiter([&] {
        event.WaitEvent();
        woken.store(true);
    });
    event.SetWait(false);
    waiter.join();
    EXPECT_TRUE(woken.load());
}

// A body that blocks on an event, as the module's service threads do; its owner wakes it.
class BlockingThread : public VoThreadSNMP {
public:
    void t_Main() override
    {
        m_nRuns.fetch_add(1);
        m_Started.SetWait(false);
        while (!m_bStop.load()) m_Wake.WaitEvent();
    }
    void Destroy() override
    {
        m_bStop.store(true);
        m_Wake.SetWait(false);
        DestroyThread();
    }

    std::atomic<int> m_nRuns{0};
    VoEventSNMP m_Started;
    VoEventSNMP m_Wake;
};

TEST(VoThreadSNMP, SecondCreateIsRefusedAndStartsNothing)
{
    BlockingThread thread;
    EXPECT_FALSE(thread.m_bStop.load());
    ASSERT_EQ(thread.CreateThread("kwtest"), 1);
    thread.m_Started.WaitEvent();
    EXPECT_EQ(thread.CreateThread("kwtest"), 0);

    thread.Destroy();
    EXPECT_TRUE(thread.m_bStop.load());
    EXPECT_FALSE(thread.IsCreated());
    EXPECT_EQ(thread.m_nRuns.load(), 1);
}

TEST(VoThreadSNMP, RestartClearsStopFlag)
{
    BlockingThread thread;
    ASSERT_EQ(thread.CreateThread("kwtest"), 1);
    thread.m_Started.WaitEvent();
    thread.Destroy();
    ASSERT_TRUE(thread.m_bStop.load());

    // A second run must not see the stop request of the first.
    thread.m_Wake.SetWait(true);
    ASSERT_EQ(thread.CreateThread("kwtest"), 1);
    thread.m_Started.WaitEvent();
    EXPECT_FALSE(thread.m_bStop.load());
    thread.Destroy();
    EXPECT_EQ(thread.m_nRuns.load(), 2);
}

TEST(VoThreadSNMP, DestroyWithoutThreadLeavesStopClear)
{
    VoThreadSNMP thread;
    thread.DestroyThread();
    thread.Destroy();
    EXPECT_FALSE(thread.m_bStop.load());
}

TEST(VoThreadSNMP, BaseBodyReturnsAtOnce)
{
    VoThreadSNMP thread;
    ASSERT_EQ(thread.CreateThread("kwtest"), 1);
    thread.Destroy();  // joins the empty body
    EXPECT_FALSE(thread.IsCreated());
}

struct Counted : VoSingletonSNMP<Counted> {
    Counted() { ++s_nConstructed; }
    static int s_nConstructed;
};
int Counted::s_nConstructed = 0;

struct FailsOnce : VoSingletonSNMP<FailsOnce> {
    FailsOnce()
    {
        if (s_nAttempts++ == 0) throw std::runtime_error("first construction fails");
    }
    static int s_nAttempts;
};
int FailsOnce::s_nAttempts = 0;

TEST(VoSingletonSNMP, ConstructsOnceAndReturnsSamePointer)
{
    Counted* first = Counted::GetInstance();
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(Counted::GetInstance(), first);
    EXPECT_EQ(Counted::GetInstance(), first);
    EXPECT_EQ(Counted::s_nConstructed, 1);
}

TEST(VoSingletonSNMP, FailedConstructionLeavesNoInstance)
{
    EXPECT_THROW(FailsOnce::GetInstance(), std::runtime_error);
    EXPECT_EQ(FailsOnce::m_pObject, nullptr);
    FailsOnce* instance = FailsOnce::GetInstance();
    EXPECT_NE(instance, nullptr);
    EXPECT_EQ(FailsOnce::GetInstance(), instance);
    EXPECT_EQ(FailsOnce::s_nAttempts, 2);
}

}  // namespace
