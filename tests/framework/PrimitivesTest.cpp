// The framework's primitives: thread, semaphore, queue, task, and the clock behind PCTime
// (virtual time for tests, real time otherwise).
#include <gtest/gtest.h>
#include <pthread.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <future>
#include <mutex>
#include <thread>

#include "host/framework/Clock.h"
#include "platform/PCQueue.h"
#include "platform/PCSemaphore.h"
#include "platform/PCTask.h"
#include "platform/PCThread.h"
#include "platform/PCTime.h"
#include "tests/framework/Events.h"

namespace {

TEST(PCSemaphore, CountsGivesAndWakesATaker)
{
    PCSemaphore sem;
    EXPECT_FALSE(sem.Take());  // not created yet
    ASSERT_TRUE(sem.Create(0));
    EXPECT_FALSE(sem.Create(1));
    EXPECT_TRUE(sem.Give() && sem.Give());  // gives accumulate
    EXPECT_TRUE(sem.Take() && sem.Take());

    std::atomic<bool> taken{false};
    std::thread taker([&] { taken = sem.Take(); });
    sem.Give();
    taker.join();
    EXPECT_TRUE(taken);
    sem.Destroy();
    EXPECT_FALSE(sem.Give());
    EXPECT_TRUE(sem.Create(1));  // usable again after Destroy
}

class ProbeThread : public PCThread {
public:
    void t_Main() override
    {
        pthread_attr_t attr;
        if (pthread_getattr_np(pthread_self(), &attr) == 0) {
            pthread_attr_getstacksize(&attr, &stackSize);
            pthread_attr_destroy(&attr);
        }
        bodyThread = std::this_thread::get_id();
        startedAsCreated = IsCreated();
        started.set_value();
        gate.get_future().wait();
        if (destroySelf) Destroy();
        finished = true;
    }

    std::promise<void> started, gate;
    std::thread::id bodyThread;
    size_t stackSize = 0;
    bool startedAsCreated = false;
    bool destroySelf = false;
    std::atomic<bool> finished{false};
};

TEST(PCThread, RunsBodyOnItsOwnThreadAndDestroyJoins)
{
    ProbeThread t;
    EXPECT_FALSE(t.IsCreated());
    ASSERT_EQ(t.Create("probe", 0x40000), 1);
    t.started.get_future().wait();
    EXPECT_EQ(t.Create("probe", 0x40000), 0);  // a running thread is not started twice
    t.gate.set_value();
    t.Destroy();  // waits for the body to return
    EXPECT_TRUE(t.finished && t.startedAsCreated && !t.IsCreated());
    EXPECT_NE(t.bodyThread, std::this_thread::get_id());
    EXPECT_GE(t.stackSize, 0x40000u);
    t.Destroy();  // nothing left to stop

    ProbeThread self;  // a body can end its own thread
    self.destroySelf = true;
    ASSERT_EQ(self.Create("self", 0x40000), 1);
    self.gate.set_value();
    while (!self.finished) std::this_thread::yield();
    EXPECT_FALSE(self.IsCreated());
}

// Under ASan this also proves dropped events free their payloads.
TEST(PCQueue, KeepsOrderClosingWakesAPopAndDroppedPayloadsAreFreed)
{
    PCQueue q;
    ASSERT_TRUE(q.Push(makeEvent(1)));
    ASSERT_TRUE(q.Push(makeEvent(2, {1, 2, 3})));
    EXPECT_EQ(q.Size(), 2u);
    PTEvent ev;
    ASSERT_TRUE(q.Pop(&ev));
    EXPECT_EQ(ev.nEventType, 1);
    EXPECT_TRUE(q.Pop(nullptr));  // dropped with its payload
    q.Push(makeEvent(3, {4}));
    q.Delete();
    EXPECT_EQ(q.Size(), 0u);

    std::promise<bool> popped;
    std::thread waiter([&] {
        PTEvent e;
        popped.set_value(q.Pop(&e));
    });
    q.Close();
    EXPECT_FALSE(popped.get_future().get());
    waiter.join();

    PTEvent refused = makeEvent(5, {6});
    EXPECT_FALSE(q.Push(refused));
    delete[] static_cast<unsigned char*>(refused.pData);  // a refused push leaves it to the caller
    q.Reopen();
    EXPECT_TRUE(q.Push(makeEvent(4, {5})));
    q.Close();
    EXPECT_EQ(q.Size(), 1u);  // closing leaves it queued; it goes with the queue

    PCTask task;
    EXPECT_EQ(task.t_OnUser(&ev), 0);
    task.GetQueue()->Push(makeEvent(1, {1, 2}));
    task.GetQueue()->Push(makeEvent(2, {3}));
    task.t_OnClearQueue();
    EXPECT_EQ(task.GetQueue()->Size(), 0u);
}

using kw::host::Clock;
using kw::host::VirtualClockScope;

struct Firing {
    uint32_t tick = 0;
    std::thread::id thread;
    bool fired = false;
};

// Records when and where timers ran.
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
    EXPECT_TRUE(rec.get(0).fired && !rec.get(1).fired);
    EXPECT_NE(rec.get(0).thread, std::this_thread::get_id());
    EXPECT_EQ(rec.get(0).tick, 11700u);  // the pause moved time in one step
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
    EXPECT_EQ(static_cast<int32_t>(t0 - t1), -0x200);
    EXPECT_TRUE(rec.get(0).fired);
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
