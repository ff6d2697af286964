#pragma once
// Every command test runs on virtual time against a fresh scripted panel attached to the
// process-wide command API.
#include <gtest/gtest.h>

#include <cstdint>

#include "command/VoRIXSNMPApi.h"
#include "host/framework/Clock.h"
#include "tests/support/PanelDouble.h"

namespace kw::command::test {

class ApiTest : public ::testing::Test {
protected:
    void TearDown() override
    {
        // Every path of a transaction must give the lock back.
        EXPECT_EQ(0, m_api->m_Lock.m_nLockCount);
        EXPECT_EQ(pthread_t{}, m_api->m_Lock.m_OwnerThread.load());
    }

    static uint32_t now() { return kw::host::Clock::now(); }

    // Virtual time between the last frame's send and now, i.e. the pause plus the wait of a
    // transaction that has just returned.
    uint32_t sinceLastSend() const
    {
        const auto frames = m_panel.frames();
        EXPECT_FALSE(frames.empty());
        return frames.empty() ? 0 : now() - frames.back().tick;
    }

    size_t repliesLeft() const
    {
        VoAutoLockSNMP guard(&m_api->m_ReplyLock);
        return m_api->m_ReplyList.size();
    }

    // Order matters: the panel detaches before the clock leaves virtual time.
    kw::host::VirtualClockScope m_clock{5000};
    VoRIXSNMPApi* m_api = VoRIXSNMPApi::GetInstance();
    kw::test::PanelDouble m_panel{m_api};
};

}  // namespace kw::command::test
