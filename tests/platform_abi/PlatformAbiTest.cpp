// What the module takes for granted about its target: the serial port's flag words and
// signal, one-word thread ids kept in an atomic, 32-bit long delays and tick arithmetic that
// survives the wrap. Built natively and for the display (armhf, under qemu); each target
// asserts its own values.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <pthread.h>
#include <signal.h>

#include <atomic>
#include <climits>
#include <cstdint>

#include "host/framework/Clock.h"
#include "platform/PCTime.h"

namespace {

TEST(PlatformAbi, SerialFlagsAndSignalHaveTheModulesValues)
{
    // The serial transport opens with these flags and asks for SIGIO; both words hold on the
    // display and on x86-64 alike.
    EXPECT_EQ(O_RDWR | O_NOCTTY | O_NONBLOCK, 0x902);
    EXPECT_EQ(O_ASYNC | O_NONBLOCK, 0x2800);
    EXPECT_EQ(SIGIO, 29);
}

TEST(PlatformAbi, WordSizes)
{
    // The lock keeps the owner's thread id in an atomic word; it must never need a lock.
    EXPECT_TRUE(std::atomic<pthread_t>::is_always_lock_free);
#if defined(__arm__)
    EXPECT_EQ(sizeof(pthread_t), 4u);
    EXPECT_EQ(sizeof(long), 4u);
    EXPECT_EQ(sizeof(void*), 4u);
#elif defined(__x86_64__)
    EXPECT_EQ(sizeof(pthread_t), 8u);
    EXPECT_EQ(sizeof(long), 8u);
#endif
    // The longest pause and wait the module asks for (10 s) fit in a long everywhere.
    EXPECT_GE(LONG_MAX, 10000L);
    EXPECT_EQ(sizeof(unsigned int), 4u);  // PCTime::Tick wraps modulo 2^32
}

TEST(PlatformAbi, TickDifferencesSurviveTheWrap)
{
    kw::host::VirtualClockScope clock(0xFFFFFFF0u);
    const unsigned int start = PCTime::Tick();
    PCTime::Sleep(0x20, 0);
    const unsigned int end = PCTime::Tick();
    EXPECT_LT(end, start);  // wrapped
    EXPECT_EQ(end - start, 0x20u);
    EXPECT_EQ(static_cast<int32_t>(end - start), 0x20);
    EXPECT_EQ(static_cast<int32_t>(start - end), -0x20);
    // A 30 s age test across the wrap, the way the reply purge makes it.
    const unsigned int old = start - 30001u;
    EXPECT_GT(static_cast<int32_t>(end - old), 30000);
}

}  // namespace
