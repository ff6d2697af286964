// The command transaction: pacing, the reply wait, acknowledgement, failures and the lock.
#include <atomic>
#include <thread>

#include "tests/command/ApiFixture.h"

namespace kw::command::test {
namespace {

using Bytes = std::vector<uint8_t>;

// The commands the panel needs longer to apply.
const uint8_t kSlowCommands[] = {0x01, 0x02, 0x03, 0x3E, 0x71, 0x72, 0x75, 0x78, 0x7A, 0xA8, 0xA9};

TEST_F(ApiTest, DelayTableListsTheSlowCommandsAndDefaultsTheRest)
{
    EXPECT_EQ(11u, m_api->m_mapCmdDelay.size());
    for (uint8_t cmd : kSlowCommands) {
        EXPECT_EQ(400, m_api->GetCmdDelay(static_cast<char>(cmd))) << int(cmd);
    }
    for (uint8_t cmd : {0x00, 0x11, 0x7B, 0xA7, 0xAA, 0xB0, 0xFF}) {
        EXPECT_EQ(200, m_api->GetCmdDelay(static_cast<char>(cmd))) << int(cmd);
    }
    // Lookups do not insert, and filling the table again only overwrites.
    m_api->SetCmdDealyTimeMap();
    EXPECT_EQ(11u, m_api->m_mapCmdDelay.size());
}

TEST_F(ApiTest, PausesTheTableDelayForSetsAndParameterGetsAndAFlat100ForGets)
{
    m_panel.setDefaultEcho();
    struct Case {
        uint8_t cmd;
        uint32_t setPause;
    };
    std::vector<Case> cases;
    for (uint8_t cmd : kSlowCommands) cases.push_back({cmd, 400});
    for (uint8_t cmd : {0x11, 0x3D, 0xA7, 0xB0}) cases.push_back({cmd, 200});

    for (const Case& c : cases) {
        SCOPED_TRACE(int(c.cmd));
        unsigned char value = 0x01;
        ASSERT_EQ(1, m_api->SendParam(RIX_SET, c.cmd, &value));
        EXPECT_EQ(c.setPause, sinceLastSend());
        ASSERT_EQ(1, m_api->SendParam(RIX_GET_PARAM, c.cmd, &value));
        EXPECT_EQ(c.setPause, sinceLastSend());
        ASSERT_EQ(1, m_api->SendParam(RIX_GET, c.cmd, &value));
        EXPECT_EQ(100u, sinceLastSend());
    }
    EXPECT_EQ(3 * cases.size(), m_panel.frames().size());
}

TEST_F(ApiTest, ReplyDuringThePauseIsTakenRightAfterIt)
{
    unsigned char value = 0;
    m_panel.answer(0x71, {0x04}, 'A', 390);
    ASSERT_EQ(1, m_api->PModeControl(RIX_GET_PARAM, &value));
    EXPECT_EQ(0x04, value);
    EXPECT_EQ(400u, sinceLastSend());
}

TEST_F(ApiTest, ReplyAfterThePauseIsFoundAtTheNextPoll)
{
    unsigned char value = 0;
    m_panel.answer(0x11, {0x01}, 'A', 450);
    ASSERT_EQ(1, m_api->PowerControl(RIX_SET, &value));
    EXPECT_EQ(0x01, value);
    // Pause 200, then polls every 100 ms: found at 500.
    EXPECT_EQ(500u, sinceLastSend());
}

TEST_F(ApiTest, NoReplyGivesUpAfterTenSeconds)
{
    unsigned char value = 0x5A;
    EXPECT_EQ(0, m_api->PowerControl(RIX_GET, &value));
    EXPECT_EQ(0x5A, value);
    const uint32_t elapsed = sinceLastSend();
    EXPECT_GE(elapsed, 100u + 10000u);
    EXPECT_LT(elapsed, 100u + 10000u + 200u);
}

TEST_F(ApiTest, RepliesToOtherCommandsAreNotTaken)
{
    unsigned char value = 0x5A;
    m_panel.deliverRaw(kw::test::PanelDouble::replyFrame(0x12, {0x09}), 10);
    EXPECT_EQ(0, m_api->PowerControl(RIX_GET, &value));
    EXPECT_EQ(0x5A, value);
    EXPECT_EQ(1u, repliesLeft());
}

TEST_F(ApiTest, RefusedReplyFailsAndIsDiscarded)
{
    unsigned char value = 0x5A;
    m_panel.answer(0x11, {0x01}, 'N');
    EXPECT_EQ(0, m_api->PowerControl(RIX_SET, &value));
    EXPECT_EQ(0x5A, value);
    EXPECT_EQ(0u, repliesLeft());

    unsigned char f1 = 1, f2 = 2;
    m_panel.answer(0xA3, {0x07, 0x08}, 'N');
    EXPECT_EQ(0, m_api->OSDDisplayTypeOnOff(RIX_GET, &f1, &f2));
    EXPECT_EQ(1, f1);
    EXPECT_EQ(2, f2);
    EXPECT_EQ(0u, repliesLeft());
}

TEST_F(ApiTest, LateReplyIsTakenByTheNextTransactionForTheSameCommand)
{
    unsigned char value = 0x5A;
    EXPECT_EQ(0, m_api->PowerControl(RIX_GET, &value));

    // The answer to the timed-out command arrives afterwards and waits in the list.
    m_panel.deliverRaw(kw::test::PanelDouble::replyFrame(0x11, {0x07}), 0);
    kw::host::Clock::drain();
    ASSERT_EQ(1u, repliesLeft());

    m_panel.answer(0x11, {0x09});
    ASSERT_EQ(1, m_api->PowerControl(RIX_GET, &value));
    EXPECT_EQ(0x07, value);
    // The fresh answer is now the stale one.
    ASSERT_EQ(1, m_api->PowerControl(RIX_GET, &value));
    EXPECT_EQ(0x09, value);
}

TEST_F(ApiTest, MissingSenderFailsAtOnceWithoutPauseOrWait)
{
    m_panel.setDefaultEcho();
    m_api->m_pSender = nullptr;
    const uint32_t start = now();
    unsigned char value = 0x01;
    EXPECT_EQ(0, m_api->PowerControl(RIX_SET, &value));
    EXPECT_EQ(0, m_api->PowerControl(RIX_GET, &value));
    unsigned char f1 = 1, f2 = 2;
    EXPECT_EQ(0, m_api->OSDDisplayTypeOnOff(RIX_SET, &f1, &f2));
    EXPECT_EQ(start, now());
    EXPECT_TRUE(m_panel.frames().empty());
    EXPECT_EQ(0x01, value);
}

TEST_F(ApiTest, RefusedSendFailsAtOnceWithoutPauseOrWait)
{
    for (int result : {0, -1}) {
        SCOPED_TRACE(result);
        m_panel.clearFrames();
        m_panel.setSendResult(result);
        const uint32_t start = now();
        unsigned char value = 0x01;
        EXPECT_EQ(0, m_api->PowerControl(RIX_SET, &value));
        EXPECT_EQ(0, m_api->Get_ScreenSizeControl(&value));
        EXPECT_EQ(start, now());
        EXPECT_EQ(2u, m_panel.frames().size());
    }
}

TEST_F(ApiTest, UnknownModesSendNothingAndFail)
{
    m_panel.setDefaultEcho();
    const uint32_t start = now();
    for (int mode : {-1, 3, 7, 255}) {
        SCOPED_TRACE(mode);
        const auto eMode = static_cast<eRIXType>(mode);
        unsigned char value = 0x01;
        EXPECT_EQ(0, m_api->PowerControl(eMode, &value));
        EXPECT_EQ(0, m_api->PowerControl(eMode, nullptr));
        unsigned char f1 = 1, f2 = 2;
        EXPECT_EQ(0, m_api->VideoWallUserControl(eMode, &f1, &f2));
        VoPackSNMP pack;
        pack.PushData(&value, 1);
        EXPECT_EQ(nullptr, m_api->SendRIXData(eMode, 0x11, 200, &pack));
        EXPECT_EQ(0x01, value);
        EXPECT_EQ(1, f1);
    }
    EXPECT_TRUE(m_panel.frames().empty());
    EXPECT_EQ(start, now());
}

TEST_F(ApiTest, DataModesWithoutDataSendNothingAndFail)
{
    m_panel.setDefaultEcho();
    VoPackSNMP empty;
    EXPECT_EQ(nullptr, m_api->SendRIXData(RIX_GET_PARAM, 0xA9, 400, &empty));
    EXPECT_EQ(nullptr, m_api->SendRIXData(RIX_GET_PARAM, 0xA9, 400, nullptr));
    EXPECT_EQ(nullptr, m_api->SendRIXData(RIX_SET, 0x11, 200, nullptr));
    std::vector<unsigned char*> none;
    EXPECT_EQ(0, m_api->SendParam(RIX_GET_PARAM, 0xA9, &none));
    EXPECT_TRUE(m_panel.frames().empty());

    // A set with an empty pack is a command without data, and goes out.
    nsVoRIXSNMP::_stVoRIXData* reply = m_api->SendRIXData(RIX_SET, 0x11, 200, &empty);
    ASSERT_NE(nullptr, reply);
    EXPECT_EQ(0x11, reply->nCmd);
    delete[] reply->pData;
    delete reply;
    ASSERT_EQ(1u, m_panel.frames().size());
    EXPECT_EQ((Bytes{0x11, 0x00}), m_panel.frames()[0].bytes);
}

TEST_F(ApiTest, TransactionReturnsTheAcknowledgedRecordToTheCaller)
{
    m_panel.answer(0x0D, {1, 2, 3, 4, 5, 6});
    VoPackSNMP pack;
    const unsigned char ignored[] = {0xEE, 0xEE};
    pack.PushData(ignored, 2);
    nsVoRIXSNMP::_stVoRIXData* reply = m_api->SendRIXData(RIX_GET, 0x0D, 400, &pack);
    ASSERT_NE(nullptr, reply);
    EXPECT_EQ(0x41, reply->nAck);
    ASSERT_EQ(6u, reply->nSize);
    EXPECT_EQ(6, reply->pData[5]);
    delete[] reply->pData;
    delete reply;
    // A get ignores the pack and the given delay.
    EXPECT_EQ((Bytes{0x0D, 0x00}), m_panel.frames().back().bytes);
    EXPECT_EQ(100u, sinceLastSend());
    EXPECT_EQ(0u, repliesLeft());
}

TEST_F(ApiTest, OwnerReentersWhileAnotherThreadWaitsForTheLock)
{
    m_panel.setDefaultEcho();
    m_api->m_Lock.Lock();

    std::atomic<int> otherResult{-1};
    std::thread other([&] {
        unsigned char volume = 0x20;
        otherResult = m_api->VolumeControl(RIX_SET, &volume);
    });

    // The owner's own transactions nest inside its hold.
    unsigned char power = 0x01;
    EXPECT_EQ(1, m_api->PowerControl(RIX_SET, &power));
    EXPECT_EQ(1, m_api->PowerControl(RIX_GET, &power));
    EXPECT_EQ(1, m_api->m_Lock.m_nLockCount);
    for (const auto& frame : m_panel.frames()) EXPECT_EQ(0x11, frame.bytes[0]);
    EXPECT_EQ(-1, otherResult.load());

    m_api->m_Lock.Unlock();
    other.join();
    EXPECT_EQ(1, otherResult.load());
    const auto frames = m_panel.frames();
    ASSERT_EQ(3u, frames.size());
    EXPECT_EQ((Bytes{0x12, 0x01, 0x20}), frames[2].bytes);
}

TEST_F(ApiTest, TwoThreadsNeverHaveTwoCommandsOutstanding)
{
    m_panel.setDefaultEcho();
    constexpr int kRounds = 15;
    std::atomic<int> failures{0};
    auto setter = [&] {
        for (int i = 0; i < kRounds; ++i) {
            unsigned char value = static_cast<unsigned char>(i);
            if (m_api->VolumeControl(RIX_SET, &value) != 1 || value != i) ++failures;
        }
    };
    auto getter = [&] {
        for (int i = 0; i < kRounds; ++i) {
            unsigned char value = 0xFF;
            if (m_api->MuteControl(RIX_GET, &value) != 1 || value != 0x00) ++failures;
        }
    };
    std::thread a(setter);
    std::thread b(getter);
    a.join();
    b.join();
    EXPECT_EQ(0, failures.load());

    // Each command goes out only once the previous one has paused and taken its reply.
    const auto frames = m_panel.frames();
    ASSERT_EQ(2u * kRounds, frames.size());
    for (size_t i = 1; i < frames.size(); ++i) {
        const uint32_t pause = frames[i - 1].bytes[0] == 0x12 ? 200 : 100;
        EXPECT_GE(frames[i].tick - frames[i - 1].tick, pause) << i;
    }
}

}  // namespace
}  // namespace kw::command::test
