#include <gtest/gtest.h>

#include "host/framework/Clock.h"
#include "runtime/VoUtilSNMP.h"

namespace {

TEST(VoUtilSNMP, TimeFollowsTheFrameworkClock)
{
    kw::host::VirtualClockScope clock(5000);
    EXPECT_EQ(VoGetTickCountSNMP(), 5000u);
    VoSleepSNMP(250);
    EXPECT_EQ(VoGetTickCountSNMP(), 5250u);
    VoSleepSNMP(0);
    EXPECT_EQ(VoGetTickCountSNMP(), 5250u);
}

TEST(VoUtilSNMP, TickWrapsModulo32Bits)
{
    kw::host::VirtualClockScope clock(0xFFFFFFF0u);
    VoSleepSNMP(0x20);
    EXPECT_EQ(VoGetTickCountSNMP(), 0x10u);
    EXPECT_EQ(VoGetTickCountSNMP() - 0xFFFFFFF0u, 0x20u);
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
