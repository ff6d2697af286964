// The command transaction (pacing, reply wait, acknowledgement, failures, the lock) and what
// the two SendParam forms put on the wire and write back into the caller's bytes.
#include <array>
#include <atomic>
#include <cstring>
#include <thread>

#include "tests/command/ApiFixture.h"

namespace kw::command::test {
namespace {

using kw::test::PanelDouble;

// The pause each operation gets per mode is checked against the catalogue; this covers the
// table itself, including the slow commands no operation sends.
TEST_F(ApiTest, DelayTableAndTheGetRecord)
{
    for (uint8_t cmd : {0x01, 0x02, 0x03, 0x3E, 0x71, 0x72, 0x75, 0x78, 0x7A, 0xA8, 0xA9}) {
        EXPECT_EQ(400, m_api->GetCmdDelay(static_cast<char>(cmd))) << int(cmd);
    }
    for (uint8_t cmd : {0x00, 0x11, 0x3D, 0x7B, 0xA7, 0xB0, 0xFF}) {
        EXPECT_EQ(200, m_api->GetCmdDelay(static_cast<char>(cmd))) << int(cmd);
    }
    // Lookups do not insert, and filling the table again only overwrites.
    m_api->SetCmdDealyTimeMap();
    EXPECT_EQ(11u, m_api->m_mapCmdDelay.size());

    // A get ignores the pack and the given delay, and hands the record to the caller.
    m_panel.answer(0x0D, {1, 2, 3, 4, 5, 6});
    VoPackSNMP pack;
    const unsigned char ignored[] = {0xEE, 0xEE};
    pack.PushData(ignored, 2);
    nsVoRIXSNMP::_stVoRIXData* reply = m_api->SendRIXData(RIX_GET, 0x0D, 400, &pack);
    ASSERT_NE(nullptr, reply);
    EXPECT_EQ(0x41, reply->nAck);
    EXPECT_EQ(6u, reply->nSize);
    delete[] reply->pData;
    delete reply;
    EXPECT_EQ((Bytes{0x0D, 0x00}), lastFrame());
    EXPECT_EQ(100u, sinceLastSend());
    EXPECT_EQ(0u, repliesLeft());
}

TEST_F(ApiTest, ReplyWaitAndTimeout)
{
    unsigned char value = 0;
    m_panel.answer(0x71, {0x04}, 'A', 390);  // during the pause: taken right after it
    ASSERT_EQ(1, m_api->PModeControl(RIX_GET_PARAM, &value));
    EXPECT_EQ(0x04, value);
    EXPECT_EQ(400u, sinceLastSend());
    m_panel.answer(0x11, {0x01}, 'A', 450);  // after it: found at the next 100 ms poll
    ASSERT_EQ(1, m_api->PowerControl(RIX_SET, &value));
    EXPECT_EQ(0x01, value);
    EXPECT_EQ(500u, sinceLastSend());

    // No reply, or only one to another command: gives up after ten seconds.
    value = 0x5A;
    m_panel.deliverRaw(PanelDouble::replyFrame(0x12, {0x09}), 10);
    EXPECT_EQ(0, m_api->PowerControl(RIX_GET, &value));
    EXPECT_EQ(0x5A, value);
    EXPECT_GE(sinceLastSend(), 100u + 10000u);
    EXPECT_LT(sinceLastSend(), 100u + 10000u + 200u);
    EXPECT_EQ(1u, repliesLeft());
}

TEST_F(ApiTest, LateReplyIsTakenByTheNextTransactionForTheSameCommand)
{
    unsigned char value = 0x5A;
    EXPECT_EQ(0, m_api->PowerControl(RIX_GET, &value));
    m_panel.deliverRaw(PanelDouble::replyFrame(0x11, {0x07}), 0);
    kw::host::Clock::drain();
    ASSERT_EQ(1u, repliesLeft());

    m_panel.answer(0x11, {0x09});
    ASSERT_EQ(1, m_api->PowerControl(RIX_GET, &value));
    EXPECT_EQ(0x07, value);
    ASSERT_EQ(1, m_api->PowerControl(RIX_GET, &value));  // the fresh answer is now the stale one
    EXPECT_EQ(0x09, value);
}

// Refused, timed out or not sent: both forms fail, write nothing and leave no reply behind.
TEST_F(ApiTest, FailedTransactionsWriteNothing)
{
    unsigned char value = 0x5A;
    std::array<unsigned char, 3> f = {1, 2, 3};
    m_panel.answer(0x11, {0x01}, 'N');
    EXPECT_EQ(0, m_api->PowerControl(RIX_SET, &value));
    m_panel.answer(0xA1, {9, 9, 9}, 'N');
    EXPECT_EQ(0, m_api->AmbientBrightnessSensor(RIX_SET, &f[0], &f[1], &f[2]));
    EXPECT_EQ(0u, repliesLeft());
    EXPECT_EQ(0, m_api->AmbientBrightnessSensor(RIX_GET, &f[0], &f[1], &f[2]));
    // A reply without data fails the single-byte form.
    m_panel.answer(0x12, {});
    EXPECT_EQ(0, m_api->VolumeControl(RIX_SET, &value));
    m_panel.answer(0x12, {});
    EXPECT_EQ(0, m_api->VolumeControl(RIX_GET, &value));
    EXPECT_EQ(0u, repliesLeft());

    for (int result : {0, -1}) {  // a refused send takes no time
        SCOPED_TRACE(result);
        m_panel.setSendResult(result);
        const uint32_t start = now();
        EXPECT_EQ(0, m_api->PowerControl(RIX_SET, &value));
        EXPECT_EQ(0, m_api->Get_ScreenSizeControl(&value));
        EXPECT_EQ(0, m_api->AmbientBrightnessSensor(RIX_GET, &f[0], &f[1], &f[2]));
        EXPECT_EQ(start, now());
    }
    EXPECT_EQ(0x5A, value);
    EXPECT_EQ((std::array<unsigned char, 3>{1, 2, 3}), f);
    EXPECT_EQ(11u, m_panel.frames().size());
}

// A missing sender, an unknown mode, or a data mode without data: nothing sent, no time spent.
TEST_F(ApiTest, RequestsThatCannotGoOutFailAtOnce)
{
    m_panel.setDefaultEcho();
    const uint32_t start = now();
    unsigned char value = 0x01, f1 = 1, f2 = 2;
    for (int mode : {-1, 3, 7, 255}) {
        SCOPED_TRACE(mode);
        const auto eMode = static_cast<eRIXType>(mode);
        EXPECT_EQ(0, m_api->PowerControl(eMode, &value));
        EXPECT_EQ(0, m_api->PowerControl(eMode, nullptr));
        EXPECT_EQ(0, m_api->VideoWallUserControl(eMode, &f1, &f2));
        VoPackSNMP pack;
        pack.PushData(&value, 1);
        EXPECT_EQ(nullptr, m_api->SendRIXData(eMode, 0x11, 200, &pack));
    }
    VoPackSNMP empty;
    EXPECT_EQ(nullptr, m_api->SendRIXData(RIX_GET_PARAM, 0xA9, 400, &empty));
    EXPECT_EQ(nullptr, m_api->SendRIXData(RIX_GET_PARAM, 0xA9, 400, nullptr));
    EXPECT_EQ(nullptr, m_api->SendRIXData(RIX_SET, 0x11, 200, nullptr));
    std::vector<unsigned char*> none;
    EXPECT_EQ(0, m_api->SendParam(RIX_GET_PARAM, 0xA9, &none));
    EXPECT_EQ(0,
              m_api->SendParam(RIX_GET, 0x0D, static_cast<std::vector<unsigned char*>*>(nullptr)));
    // A single-byte set or parameter get without a value has nothing to send.
    EXPECT_EQ(0, m_api->PowerControl(RIX_SET, nullptr));
    EXPECT_EQ(0, m_api->Set_VirtualRemoteControl(nullptr));
    EXPECT_EQ(0, m_api->SendParam(RIX_GET_PARAM, 0x11, static_cast<unsigned char*>(nullptr)));

    m_api->m_pSender = nullptr;
    EXPECT_EQ(0, m_api->PowerControl(RIX_SET, &value));
    EXPECT_EQ(0, m_api->PowerControl(RIX_GET, &value));
    EXPECT_EQ(0, m_api->OSDDisplayTypeOnOff(RIX_SET, &f1, &f2));
    EXPECT_TRUE(m_panel.frames().empty());
    EXPECT_EQ(start, now());
    EXPECT_EQ(0x01, value);
    EXPECT_EQ(1, f1);
    m_api->m_pSender = &m_panel;

    // A set with an empty pack is a command without data, and goes out.
    nsVoRIXSNMP::_stVoRIXData* reply = m_api->SendRIXData(RIX_SET, 0x11, 200, &empty);
    ASSERT_NE(nullptr, reply);
    delete[] reply->pData;
    delete reply;
    EXPECT_EQ((Bytes{0x11, 0x00}), lastFrame());
}

TEST_F(ApiTest, SingleByteFormSendsTheValueAndTakesTheReplysFirstByte)
{
    unsigned char value = 0x01;
    m_panel.answer(0x11, {0x00, 0x33});
    ASSERT_EQ(1, m_api->PowerControl(RIX_SET, &value));
    EXPECT_EQ((Bytes{0x11, 0x01, 0x01}), lastFrame());
    EXPECT_EQ(0x00, value) << "a set writes back too";
    value = 0x03;
    m_panel.answer(0x14, {0x21, 0x22});
    ASSERT_EQ(1, m_api->InputSourceControl(RIX_GET_PARAM, &value));
    EXPECT_EQ((Bytes{0x14, 0x01, 0x03}), lastFrame());
    EXPECT_EQ(0x21, value);
    // A get still asks without a value, and succeeds with nowhere to write.
    m_panel.setDefaultEcho();
    EXPECT_EQ(1, m_api->Get_ScreenSizeControl(nullptr));
    EXPECT_EQ((Bytes{0x19, 0x00}), lastFrame());
}

TEST_F(ApiTest, MultiFieldFormWritesOnlyAsFarAsTheReplyReaches)
{
    // Fields go out in order, a null field as zero, and get nothing back.
    std::array<unsigned char, 7> f = {0x0A, 0x0B, 0x0C, 0x0D, 0x0E, 0x0F, 0x10};
    m_panel.answer(0xA7, {0x21, 0x22, 0x23, 0x24, 0x25, 0x26, 0x27});
    ASSERT_EQ(1, m_api->ClockControl(RIX_SET, &f[0], &f[1], nullptr, &f[3], &f[4], &f[5], &f[6]));
    EXPECT_EQ((Bytes{0xA7, 7, 0x0A, 0x0B, 0x00, 0x0D, 0x0E, 0x0F, 0x10}), lastFrame());
    EXPECT_EQ((std::array<unsigned char, 7>{0x21, 0x22, 0x0C, 0x24, 0x25, 0x26, 0x27}), f);

    // A short reply fills the leading fields; an empty one succeeds and writes nothing.
    std::array<unsigned char, 8> g = {1, 2, 3, 4, 5, 6, 7, 8};
    m_panel.answer(0x17, {0x31, 0x32, 0x33});
    m_panel.answer(0x17, {});
    for (int i = 0; i < 2; ++i) {
        ASSERT_EQ(1, m_api->DirectChannelControl(RIX_GET, &g[0], &g[1], &g[2], &g[3], &g[4], &g[5],
                                                 &g[6], &g[7]));
        EXPECT_EQ((std::array<unsigned char, 8>{0x31, 0x32, 0x33, 4, 5, 6, 7, 8}), g);
    }

    // A long reply fills every field and drops the rest.
    unsigned char guard[4] = {0x55, 0x55, 0x55, 0x55};
    m_panel.answer(0x89, {0x41, 0x42, 0x43, 0x44, 0x45});
    ASSERT_EQ(1, m_api->VideoWallUserControl(RIX_GET, &guard[1], &guard[2]));
    EXPECT_EQ(0, std::memcmp(guard, "\x55\x41\x42\x55", 4));

    // The holiday entry by index sends only the index and takes all five values.
    std::array<unsigned char, 5> h = {0x03, 0xE1, 0xE2, 0xE3, 0xE4};
    m_panel.answer(0xA9, {0x13, 0x0C, 0x19, 0x0C, 0x1A});
    ASSERT_EQ(1, m_api->Get_HolidayGetControl(RIX_GET_PARAM, &h[0], &h[1], &h[2], &h[3], &h[4]));
    EXPECT_EQ((Bytes{0xA9, 0x01, 0x03}), lastFrame());
    EXPECT_EQ(400u, sinceLastSend());
    EXPECT_EQ((std::array<unsigned char, 5>{0x13, 0x0C, 0x19, 0x0C, 0x1A}), h);
}

TEST_F(ApiTest, StringGettersCapTheSerialAndWriteNoTerminator)
{
    unsigned char buf[256];
    std::memset(buf, 0x7E, sizeof buf);
    m_panel.answer(0x0B, Bytes{'A', 'B', 'C', 'D', 'E', 'F', 'G', 'H', 'I', 'J',
                               'K', 'L', 'M', 'N', 'O', 'P', 'Q', 'R', 'S', 'T'});
    ASSERT_EQ(1, m_api->Get_SerialNumberControl(buf, sizeof buf));
    EXPECT_EQ(0, std::memcmp(buf, "ABCDEFGHIJKLMNOPQR\x7E", 19));

    // The longest reply a frame can carry fits a 256-byte buffer whole.
    Bytes longest(253, 'v');
    m_panel.answer(0x0E, longest);
    ASSERT_EQ(1, m_api->Get_SWVersionControl(buf, sizeof buf));
    EXPECT_EQ(0, std::memcmp(buf, longest.data(), longest.size()));
    EXPECT_EQ(0x7E, buf[253]);

    // With no room the getter still asks.
    m_panel.answer(0x8A, {'X', 'Y'});
    EXPECT_EQ(1, m_api->Get_ModelNameControl(buf, 0));
    m_panel.answer(0x0E, {'X', 'Y'});
    EXPECT_EQ(1, m_api->Get_SWVersionControl(nullptr, 256));
    EXPECT_EQ('v', buf[0]);
    const auto frames = m_panel.frames();
    ASSERT_EQ(4u, frames.size());
    EXPECT_EQ((Bytes{0x8A, 0x00}), frames[2].bytes);
    EXPECT_EQ((Bytes{0x0E, 0x00}), frames[3].bytes);
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
    unsigned char power = 0x01;
    EXPECT_EQ(1, m_api->PowerControl(RIX_SET, &power));
    EXPECT_EQ(1, m_api->PowerControl(RIX_GET, &power));
    EXPECT_EQ(1, m_api->m_Lock.m_nLockCount);
    for (const auto& frame : m_panel.frames()) EXPECT_EQ(0x11, frame.bytes[0]);
    EXPECT_EQ(-1, otherResult.load());

    m_api->m_Lock.Unlock();
    other.join();
    EXPECT_EQ(1, otherResult.load());
    ASSERT_EQ(3u, m_panel.frames().size());
    EXPECT_EQ((Bytes{0x12, 0x01, 0x20}), lastFrame());
}

TEST_F(ApiTest, TwoThreadsNeverHaveTwoCommandsOutstanding)
{
    m_panel.setDefaultEcho();
    constexpr int kRounds = 15;
    std::atomic<int> failures{0};
    std::thread setter([&] {
        for (int i = 0; i < kRounds; ++i) {
            unsigned char value = static_cast<unsigned char>(i);
            if (m_api->VolumeControl(RIX_SET, &value) != 1 || value != i) ++failures;
        }
    });
    std::thread getter([&] {
        for (int i = 0; i < kRounds; ++i) {
            unsigned char value = 0xFF;
            if (m_api->MuteControl(RIX_GET, &value) != 1 || value != 0x00) ++failures;
        }
    });
    setter.join();
    getter.join();
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
