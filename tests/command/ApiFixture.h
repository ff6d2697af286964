#pragma once
// Every command test runs on virtual time against a fresh scripted panel attached to the
// process-wide command API.
#include <gtest/gtest.h>

#include <cstdint>

#include "command/VoRIXSNMPApi.h"
#include "host/framework/Clock.h"
#include "tests/support/PanelDouble.h"

namespace kw::command::test {

using Bytes = std::vector<uint8_t>;

class ApiTest : public ::testing::Test {
protected:
    void TearDown() override
    {
        // Every path of a transaction must give the lock back.
        EXPECT_EQ(0, m_api->m_Lock.m_nLockCount);
        EXPECT_EQ(pthread_t{}, m_api->m_Lock.m_OwnerThread.load());
    }
    static uint32_t now() { return kw::host::Clock::now(); }
    // Pause plus wait of the transaction that has just returned.
    uint32_t sinceLastSend() const
    {
        const auto frames = m_panel.frames();
        return frames.empty() ? 0 : now() - frames.back().tick;
    }
    Bytes lastFrame() const
    {
        const auto frames = m_panel.frames();
        return frames.empty() ? Bytes{} : frames.back().bytes;
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
