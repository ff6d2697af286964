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

PTEvent event(int type, std::initializer_list<unsigned char> bytes = {})
{
    PTEvent ev;
    ev.nEventType = type;
    if (bytes.size() == 0) return ev;
    auto* p = new unsigned char[bytes.size()];
    std::copy(bytes.begin(), bytes.end(), p);
    ev.pData = p;
    ev.nDataSize = static_cast<uint16_t>(bytes.size());
    return ev;
}

TEST(PCSemaphore, CountsGivesAndWakesATaker)
{
    PCSemaphore sem;
    EXPECT_FALSE(sem.Take());  // not created yet
    ASSERT_TRUE(sem.Create(0));
    EXPECT_FALSE(sem.Create(1));
    EXPECT_TRUE(sem.Give());  // gives accumulate
    EXPECT_TRUE(sem.Give());
    EXPECT_TRUE(sem.Take());
    EXPECT_TRUE(sem.Take());

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
    EXPECT_TRUE(t.finished);
    EXPECT_FALSE(t.IsCreated());
    EXPECT_NE(t.bodyThread, std::this_thread::get_id());
    EXPECT_TRUE(t.startedAsCreated);
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
    ASSERT_TRUE(q.Push(event(1)));
    ASSERT_TRUE(q.Push(event(2, {1, 2, 3})));
    EXPECT_EQ(q.Size(), 2u);
    PTEvent ev;
    ASSERT_TRUE(q.Pop(&ev));
    EXPECT_EQ(ev.nEventType, 1);
    EXPECT_TRUE(q.Pop(nullptr));  // dropped with its payload
    q.Push(event(3, {4}));
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

    PTEvent refused = event(5, {6});
    EXPECT_FALSE(q.Push(refused));
    delete[] static_cast<unsigned char*>(refused.pData);  // a refused push leaves it to the caller
    q.Reopen();
    EXPECT_TRUE(q.Push(event(4, {5})));
    q.Close();
    EXPECT_EQ(q.Size(), 1u);  // closing leaves it queued; it goes with the queue

    PCTask task;
    EXPECT_EQ(task.t_OnUser(&ev), 0);
    task.GetQueue()->Push(event(1, {1, 2}));
    task.GetQueue()->Push(event(2, {3}));
    task.t_OnClearQueue();
    EXPECT_EQ(task.GetQueue()->Size(), 0u);
}

TEST(PCMem, CopiesFillsAndTerminatesStrings)
{
    unsigned char buf[4] = {0, 0, 0, 0};
    const unsigned char src[3] = {1, 2, 3};
    PCMem::Copy(buf, src, 3);
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
