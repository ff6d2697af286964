// The framework's thread, semaphore, queue, task and copy primitives.
#include <gtest/gtest.h>
#include <pthread.h>

#include <atomic>
#include <future>
#include <thread>

#include "platform/PCMem.h"
#include "platform/PCQueue.h"
#include "platform/PCSemaphore.h"
#include "platform/PCTask.h"
#include "platform/PCThread.h"

namespace {

unsigned char* payload(std::initializer_list<unsigned char> bytes)
{
    auto* p = new unsigned char[bytes.size()];
    std::copy(bytes.begin(), bytes.end(), p);
    return p;
}

PTEvent event(int type, unsigned char* data = nullptr, uint16_t size = 0)
{
    PTEvent ev;
    ev.nEventType = type;
    ev.pData = data;
    ev.nDataSize = size;
    return ev;
}

TEST(PCSemaphore, CountsGivesAndWakesATaker)
{
    PCSemaphore sem;
    EXPECT_FALSE(sem.Take());  // not created yet
    ASSERT_TRUE(sem.Create(0));
    EXPECT_FALSE(sem.Create(1));

    // Gives accumulate: two gives let two takes through without blocking.
    EXPECT_TRUE(sem.Give());
    EXPECT_TRUE(sem.Give());
    EXPECT_TRUE(sem.Take());
    EXPECT_TRUE(sem.Take());

    std::atomic<bool> taken{false};
    std::thread taker([&] {
        sem.Take();
        taken = true;
    });
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

    std::promise<void> started;
    std::promise<void> gate;
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
    EXPECT_TRUE(t.IsCreated());

    t.gate.set_value();
    t.Destroy();  // waits for the body to return
    EXPECT_TRUE(t.finished);
    EXPECT_FALSE(t.IsCreated());
    EXPECT_NE(t.bodyThread, std::this_thread::get_id());
    EXPECT_TRUE(t.startedAsCreated);
    EXPECT_GE(t.stackSize, 0x40000u);
    t.Destroy();  // nothing left to stop
}

TEST(PCThread, BodyCanEndItsOwnThread)
{
    ProbeThread t;
    t.destroySelf = true;
    ASSERT_EQ(t.Create("self", 0x40000), 1);
    t.started.get_future().wait();
    t.gate.set_value();
    while (!t.finished) std::this_thread::yield();
    EXPECT_FALSE(t.IsCreated());
}

TEST(PCQueue, KeepsOrderAndClosingWakesAWaitingPop)
{
    PCQueue q;
    ASSERT_TRUE(q.Push(event(1)));
    ASSERT_TRUE(q.Push(event(2)));
    EXPECT_EQ(q.Size(), 2u);
    PTEvent ev;
    ASSERT_TRUE(q.Pop(&ev));
    EXPECT_EQ(ev.nEventType, 1);
    ASSERT_TRUE(q.Pop(&ev));
    EXPECT_EQ(ev.nEventType, 2);

    std::promise<bool> popped;
    std::thread waiter([&] {
        PTEvent e;
        popped.set_value(q.Pop(&e));
    });
    q.Close();
    EXPECT_FALSE(popped.get_future().get());
    waiter.join();

    EXPECT_FALSE(q.Push(event(3)));
    q.Reopen();
    EXPECT_TRUE(q.Push(event(4)));
}

TEST(PCQueue, DroppedEventsFreeTheirPayloads)
{
    PCQueue q;
    q.Push(event(1, payload({1, 2, 3}), 3));
    q.Push(event(2, payload({4}), 1));
    q.Push(event(3));             // no payload
    EXPECT_TRUE(q.Pop(nullptr));  // dropped with its payload
    q.Delete();
    EXPECT_EQ(q.Size(), 0u);

    // Closing leaves queued events poppable; whatever is left goes with the queue.
    q.Push(event(4, payload({5}), 1));
    q.Close();
    unsigned char* refused = payload({6});
    EXPECT_FALSE(q.Push(event(5, refused, 1)));
    delete[] refused;  // a refused push leaves the payload with the caller
    EXPECT_EQ(q.Size(), 1u);
}

TEST(PCTask, DefaultHandlersDoNothingAndClearQueueFreesPayloads)
{
    PCTask task;
    task.t_Idle();
    task.t_OnExit();
    PTEvent ev = event(7);
    EXPECT_EQ(task.t_OnUser(&ev), 0);

    task.GetQueue()->Push(event(1, payload({1, 2}), 2));
    task.GetQueue()->Push(event(2, payload({3}), 1));
    task.t_OnClearQueue();
    EXPECT_EQ(task.GetQueue()->Size(), 0u);
}

TEST(PCMem, CopiesFillsAndTerminatesStrings)
{
    unsigned char buf[4] = {0, 0, 0, 0};
    const unsigned char src[3] = {1, 2, 3};
    PCMem::Copy(buf, src, 3);
    EXPECT_EQ(buf[2], 3);
    PCMem::Set(buf, 0xAB, 2);
    EXPECT_EQ(buf[1], 0xAB);
    EXPECT_EQ(buf[2], 3);

    char text[4];
    PCString::Copy(text, "abcdef", sizeof(text));
    EXPECT_STREQ(text, "abc");
    PCString::Copy(text, nullptr, sizeof(text));
    EXPECT_STREQ(text, "");
}

}  // namespace
