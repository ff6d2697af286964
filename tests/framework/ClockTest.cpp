// The clock behind PCTime: virtual time for tests, real time otherwise.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <mutex>
#include <thread>

#include "host/framework/Clock.h"
#include "platform/PCTime.h"

namespace {

using kw::host::Clock;
using kw::host::VirtualClockScope;

struct Firing {
    uint32_t tick = 0;
    std::thread::id thread;
    bool fired = false;
};

// Records when and where timers ran; read only after a Sleep or drain has waited for them.
class Recorder {
public:
    std::function<void()> at(int i)
    {
        return [this, i] {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_firings[i] = {PCTime::Tick(), std::this_thread::get_id(), true};
        };
    }
    Firing get(int i)
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_firings[i];
    }

private:
    std::mutex m_mutex;
    Firing m_firings[2];
};

TEST(VirtualClock, SleepAdvancesAtOnceAndRunsDueTimersOnTheClockThread)
{
    VirtualClockScope scope(1000);
    EXPECT_TRUE(Clock::isVirtual());
    const auto start = std::chrono::steady_clock::now();
    PCTime::Sleep(10000, 0);
    PCTime::Sleep(-5, 0);  // a negative pause is no pause
    EXPECT_EQ(PCTime::Tick(), 11000u);
    Clock::advance(500);
    EXPECT_EQ(PCTime::Tick(), 11500u);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));

    Recorder rec;
    Clock::schedule(150, rec.at(0));
    Clock::schedule(250, rec.at(1));
    PCTime::Sleep(200, 0);
    EXPECT_TRUE(rec.get(0).fired);
    EXPECT_NE(rec.get(0).thread, std::this_thread::get_id());
    EXPECT_EQ(rec.get(0).tick, 11700u);  // the pause moved time in one step
    EXPECT_FALSE(rec.get(1).fired);
    PCTime::Sleep(100, 0);
    EXPECT_TRUE(rec.get(1).fired);
}

TEST(VirtualClock, TimersScheduledByTimersRunInTheSameSleep)
{
    VirtualClockScope scope;
    Recorder rec;
    Clock::schedule(10, [&] {
        PCTime::Sleep(20, 0);  // a timer that sleeps does not wait for itself
        Clock::schedule(0, rec.at(0));
        Clock::schedule(5, rec.at(1));
    });
    PCTime::Sleep(100, 0);
    EXPECT_EQ(PCTime::Tick(), 120u);  // the timer's own pause counts too
    EXPECT_TRUE(rec.get(0).fired);
    EXPECT_FALSE(rec.get(1).fired);  // due at 125
    PCTime::Sleep(5, 0);
    EXPECT_TRUE(rec.get(1).fired);
}

TEST(VirtualClock, TickWrapsAndSignedDifferencesStayRight)
{
    VirtualClockScope scope(0xFFFFFF00u);
    Recorder rec;
    const uint32_t t0 = PCTime::Tick();
    Clock::schedule(0x180, rec.at(0));  // due after the wrap
    PCTime::Sleep(0x200, 0);
    const uint32_t t1 = PCTime::Tick();
    EXPECT_EQ(t1, 0x100u);
    EXPECT_EQ(static_cast<int32_t>(t1 - t0), 0x200);
    EXPECT_EQ(static_cast<int32_t>(t0 - t1), -0x200);
    ASSERT_TRUE(rec.get(0).fired);
    EXPECT_EQ(rec.get(0).tick, 0x100u);
}

TEST(RealClock, LeavingVirtualTimeDropsTimersAndRealTimeRuns)
{
    Recorder rec;
    {
        VirtualClockScope scope;
        Clock::schedule(1000, rec.at(0));
    }
    ASSERT_FALSE(Clock::isVirtual());
    Clock::drain();
    EXPECT_FALSE(rec.get(0).fired);

    const uint32_t t0 = PCTime::Tick();
    PCTime::Sleep(20, 0);
    EXPECT_GE(static_cast<int32_t>(PCTime::Tick() - t0), 20);
    Clock::advance(100000);  // real time cannot be moved
    EXPECT_LT(static_cast<int32_t>(PCTime::Tick() - t0), 100000);
    Clock::schedule(5, rec.at(1));
    Clock::drain();
    ASSERT_TRUE(rec.get(1).fired);
    EXPECT_NE(rec.get(1).thread, std::this_thread::get_id());
    EXPECT_GE(static_cast<int32_t>(rec.get(1).tick - t0), 5);
}

}  // namespace
