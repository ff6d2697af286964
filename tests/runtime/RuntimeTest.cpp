// Event, thread, singleton, pack and the time and trace helpers.
#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <stdexcept>
#include <thread>
#include <vector>

#include "host/framework/Clock.h"
#include "runtime/VoEventSNMP.h"
#include "runtime/VoPackSNMP.h"
#include "runtime/VoSingletonSNMP.h"
#include "runtime/VoThreadSNMP.h"
#include "runtime/VoUtilSNMP.h"

namespace {

using Bytes = std::vector<unsigned char>;

TEST(VoEventSNMP, SignalsAccumulateAndRearmTakesOneWithoutBlocking)
{
    VoEventSNMP event;
    EXPECT_NE(event.SetWait(true), 0);  // empty: returns at once
    for (int i = 0; i < 3; ++i) EXPECT_EQ(event.SetWait(false), 0);
    EXPECT_EQ(event.WaitEvent(), 0);
    EXPECT_EQ(event.SetWait(true), 0);
    EXPECT_EQ(event.WaitEvent(), 0);
    EXPECT_NE(event.SetWait(true), 0);

    std::atomic<bool> woken{false};
    std::thread waiter([&] {
        event.WaitEvent();
        woken = true;
    });
    event.SetWait(false);
    waiter.join();
    EXPECT_TRUE(woken);
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
    VoEventSNMP m_Started;
    VoEventSNMP m_Wake;
};

TEST(VoThreadSNMP, SecondCreateIsRefusedAndARestartClearsTheStopFlag)
{
    BlockingThread thread;
    ASSERT_EQ(thread.CreateThread("kwtest"), 1);
    thread.m_Started.WaitEvent();
    EXPECT_EQ(thread.CreateThread("kwtest"), 0);
    thread.Destroy();
    EXPECT_TRUE(thread.m_bStop.load());
    EXPECT_FALSE(thread.IsCreated());

    // A second run must not see the stop request of the first.
    thread.m_Wake.SetWait(true);
    ASSERT_EQ(thread.CreateThread("kwtest"), 1);
    thread.m_Started.WaitEvent();
    EXPECT_FALSE(thread.m_bStop.load());
    thread.Destroy();
    EXPECT_EQ(thread.m_nRuns.load(), 2);

    VoThreadSNMP idle;
    idle.Destroy();  // no thread: nothing to stop
    EXPECT_FALSE(idle.m_bStop.load());
    ASSERT_EQ(idle.CreateThread("kwtest"), 1);
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
    EXPECT_EQ(FailsOnce::m_pObject, nullptr);
    FailsOnce* instance = FailsOnce::GetInstance();
    ASSERT_NE(instance, nullptr);
    EXPECT_EQ(FailsOnce::GetInstance(), instance);
    EXPECT_EQ(FailsOnce::s_nAttempts, 2);
}

TEST(VoPackSNMP, PushPopAndCopy)
{
    VoPackSNMP pack;
    std::unique_ptr<unsigned char[]> empty(pack.GetData());
    EXPECT_NE(empty, nullptr);  // a zero-length array, still the caller's to free
    const unsigned char a[] = {1, 2}, b[] = {3, 4};
    pack.PushData(nullptr, 5);
    pack.PushData(a, 0);
    pack.PushData(a, 2);
    pack.PushData(b, 2);
    EXPECT_EQ(pack.m_vecData, (Bytes{1, 2, 3, 4}));

    std::unique_ptr<unsigned char[]> copy(pack.GetData());
    EXPECT_EQ(Bytes(copy.get(), copy.get() + 4), (Bytes{1, 2, 3, 4}));
    copy[0] = 0xEE;  // the copy is the caller's own
    EXPECT_EQ(pack.m_vecData[0], 1);

    unsigned char dest[5] = {0xAA, 0xAA, 0xAA, 0xAA, 0xAA};
    EXPECT_EQ(pack.PopData(dest, 5), 0);  // more than held: nothing taken
    EXPECT_EQ(pack.PopData(nullptr, 1), 0);
    EXPECT_EQ(pack.PopData(dest, 0), 0);
    EXPECT_EQ(dest[0], 0xAA);
    EXPECT_EQ(pack.PopData(dest, 2), 1);  // FIFO
    EXPECT_EQ(pack.PopData(dest + 2, 2), 1);
    EXPECT_EQ(Bytes(dest, dest + 5), (Bytes{1, 2, 3, 4, 0xAA}));
    EXPECT_EQ(pack.PopData(dest, 1), 0);

    // A full command's worth.
    Bytes in(255);
    for (size_t i = 0; i < in.size(); ++i) in[i] = static_cast<unsigned char>(i);
    for (unsigned char byte : in) pack.PushData(&byte, 1);
    std::unique_ptr<unsigned char[]> full(pack.GetData());
    EXPECT_EQ(Bytes(full.get(), full.get() + 255), in);
}

TEST(VoUtilSNMP, TimeFollowsTheFrameworkClockAndWraps)
{
    {
        kw::host::VirtualClockScope clock(5000);
        VoSleepSNMP(250);
        VoSleepSNMP(0);
        EXPECT_EQ(VoGetTickCountSNMP(), 5250u);
    }
    kw::host::VirtualClockScope clock(0xFFFFFFF0u);
    VoSleepSNMP(0x20);
    EXPECT_EQ(VoGetTickCountSNMP(), 0x10u);
}

TEST(VoUtilSNMP, PrintfWritesNothing)
{
    for (bool enabled : {false, true}) {
        g_bEnableDebugMsgSNMP = enabled;
        testing::internal::CaptureStdout();
        testing::internal::CaptureStderr();
        EXPECT_EQ(VoPrintfSNMP("value %d %s\n", 42, "text"), 0);
        EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
        EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
    }
    g_bEnableDebugMsgSNMP = false;
}

}  // namespace
