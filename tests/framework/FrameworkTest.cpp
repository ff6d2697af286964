// What the module takes for granted of the framework stand-in and of its target (built
// natively and for the display under qemu): events on the application's own thread, the
// display ID, the virtual clock, the serial port's flag words and 32-bit tick arithmetic.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>

#include <atomic>
#include <mutex>
#include <thread>

#include "host/framework/Clock.h"
#include "host/framework/Framework.h"
#include "host/framework/Tv.h"
#include "platform/CApplication.h"
#include "platform/ORVALE.h"
#include "platform/PCTime.h"
#include "platform/TvControl.h"

namespace {

using kw::host::Clock;
using Bytes = std::vector<unsigned char>;

PTEvent makeEvent(int type, Bytes bytes)
{
    PTEvent ev;
    ev.nEventType = type;
    ev.nDataSize = static_cast<uint16_t>(bytes.size());
    ev.pData = new unsigned char[bytes.size()];
    std::copy(bytes.begin(), bytes.end(), static_cast<unsigned char*>(ev.pData));
    return ev;
}

class RecordingApp : public ORVALE0300::CApplication {
public:
    int t_OnUserMessage(const PTEvent* ev) override
    {
        auto* p = static_cast<unsigned char*>(ev->pData);
        std::lock_guard<std::mutex> lock(m_mutex);
        events.emplace_back(ev->nEventType, Bytes(p, p + ev->nDataSize));
        threads.push_back(std::this_thread::get_id());
        if (ev->nEventType == 0x2809) return 0;  // left to the framework to free
        delete[] p;
        return 1;
    }
    std::mutex m_mutex;
    std::vector<std::pair<int, Bytes>> events;
    std::vector<std::thread::id> threads;
};

TEST(Framework, EventsReachTheAppOnItsOwnThreadInOrderAndTvGivesTheDisplayId)
{
    RecordingApp app;
    auto& fw = kw::host::Framework::instance();
    ASSERT_TRUE(fw.registerApp("test.app", &app));
    EXPECT_EQ(1, ORVALE0300::ORVALE::SendEvent(makeEvent(0x2808, {0xFF, 1}), "test.app", false));
    EXPECT_EQ(1, ORVALE0300::ORVALE::SendEvent(makeEvent(0x2809, {2}), "test.app", false));
    PTEvent lost = makeEvent(0x2808, {1});
    EXPECT_EQ(0, ORVALE0300::ORVALE::SendEvent(lost, "test.no-such-app", false));
    std::thread::id appThread;
    ASSERT_TRUE(fw.runOnAppThread("test.app", [&] { appThread = std::this_thread::get_id(); }));
    fw.unregisterApp("test.app");
    EXPECT_EQ(app.events, (std::vector<std::pair<int, Bytes>>{{0x2808, {0xFF, 1}}, {0x2809, {2}}}));
    EXPECT_EQ(app.threads, (std::vector<std::thread::id>{appThread, appThread}));
    EXPECT_NE(appThread, std::this_thread::get_id());

    unsigned char id = 0;
    kw::host::tv::setDisplayId(5);
    kw::host::tv::setAvailable(false);
    EXPECT_EQ(0, TvControl::GetTv()->GetDisplayID(&id));
    EXPECT_EQ(0, id);
    kw::host::tv::setAvailable(true);
    EXPECT_NE(0, TvControl::GetTv()->GetDisplayID(&id));
    EXPECT_EQ(5, id);
    kw::host::tv::setDisplayId(1);
}

TEST(VirtualClock, SleepAdvancesAtOnceRunningDueTimersOnAnotherThreadAcrossTheWrap)
{
    kw::host::VirtualClockScope scope(0xFFFFFF00u);
    std::atomic<uint32_t> firedAt{0}, nestedAt{0};
    std::thread::id timerThread;
    Clock::schedule(0x150, [&] {
        firedAt = PCTime::Tick();
        timerThread = std::this_thread::get_id();
        Clock::schedule(0, [&] { nestedAt = PCTime::Tick(); });  // runs in the same sleep
    });
    const uint32_t start = PCTime::Tick();
    PCTime::Sleep(0x200, 0);
    PCTime::Sleep(-5, 0);  // a negative pause is no pause
    const uint32_t end = PCTime::Tick();
    EXPECT_EQ(0x100u, end);
    EXPECT_EQ(0x200, static_cast<int32_t>(end - start));
    EXPECT_EQ(0x100u, firedAt.load());  // the pause moved time in one step
    EXPECT_EQ(0x100u, nestedAt.load());
    EXPECT_NE(timerThread, std::this_thread::get_id());
    // A 30 s age test across the wrap, as the reply purge makes it.
    EXPECT_GT(static_cast<int32_t>(end - (start - 30001u)), 30000);
}

TEST(PlatformAbi, SerialFlagsSignalAndWordSizes)
{
    EXPECT_EQ(O_RDWR | O_NOCTTY | O_NONBLOCK, 0x902);
    EXPECT_EQ(O_ASYNC | O_NONBLOCK, 0x2800);
    EXPECT_EQ(SIGIO, 29);
    // The lock keeps the owner's thread id in an atomic word; it must never need a lock.
    EXPECT_TRUE(std::atomic<pthread_t>::is_always_lock_free);
    EXPECT_EQ(sizeof(unsigned int), 4u);  // PCTime::Tick wraps modulo 2^32
#if defined(__arm__)
    EXPECT_EQ(sizeof(pthread_t), 4u);
    EXPECT_EQ(sizeof(long), 4u);
#endif
}

}  // namespace
