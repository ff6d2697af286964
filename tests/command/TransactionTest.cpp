// The command transaction (pacing, reply wait, failures, the lock) and the SendParam forms.
#include <gtest/gtest.h>

#include <array>
#include <cstring>

#include "command/VoRIXSNMPApi.h"
#include "tests/support/Contender.h"
#include "tests/support/PanelDouble.h"

namespace {

using kw::test::Bytes;
using kw::test::replyFrame;

class ApiTest : public ::testing::Test {
protected:
    void TearDown() override
    {
        // Every path of a transaction must give the lock back.
        EXPECT_EQ(std::make_pair(pthread_t{}, 0),
                  std::make_pair(m_api->m_Lock.m_OwnerThread.load(), m_api->m_Lock.m_nLockCount));
    }
    size_t repliesLeft()
    {
        VoAutoLockSNMP guard(&m_api->m_ReplyLock);
        return m_api->m_ReplyList.size();
    }
    // Order matters: the panel detaches before the clock leaves virtual time.
    kw::host::VirtualClockScope m_clock{5000};
    VoRIXSNMPApi* m_api = VoRIXSNMPApi::GetInstance();
    kw::test::PanelDouble m_panel{m_api};
};

TEST_F(ApiTest, PacingAndTheReplyWait)
{
    for (uint8_t cmd : {0x01, 0x02, 0x03, 0x7A})  // slow commands no operation sends
        EXPECT_EQ(400, m_api->GetCmdDelay(static_cast<char>(cmd))) << int(cmd);

    unsigned char value = 0;
    m_panel.answer(0x71, {0x04}, 'A', 390);  // during the pause: taken right after it
    ASSERT_EQ(1, m_api->PModeControl(RIX_GET_PARAM, &value));
    EXPECT_EQ(0x04, value);
    EXPECT_EQ(400u, m_panel.sinceLastSend());
    // Only a reply to another command: gives up after ten seconds.
    value = 0x5A;
    m_panel.deliver(replyFrame(0x12, {0x09}), 10);
    EXPECT_EQ(0, m_api->PowerControl(RIX_GET, &value));
    EXPECT_EQ(0x5A, value);
    EXPECT_NEAR(m_panel.sinceLastSend(), 100u + 10000u + 100u, 100u);
    EXPECT_EQ(1u, repliesLeft());

    // A late reply is taken by the next transaction for the same command.
    m_panel.deliver(replyFrame(0x11, {0x07}), 0);
    m_panel.answer(0x11, {0x09});
    for (unsigned char expected : {0x07, 0x09}) {
        ASSERT_EQ(1, m_api->PowerControl(RIX_GET, &value));
        EXPECT_EQ(expected, value);
    }
}

// Refused, short, unsent or impossible: both forms fail, write nothing and leave no reply.
TEST_F(ApiTest, FailedTransactionsWriteNothing)
{
    unsigned char value = 0x5A;
    std::array<unsigned char, 3> f = {1, 2, 3};
    m_panel.answer(0x11, {0x01}, 'N');
    EXPECT_EQ(0, m_api->PowerControl(RIX_SET, &value));
    m_panel.answer(0xA1, {9, 9, 9}, 'N');
    EXPECT_EQ(0, m_api->AmbientBrightnessSensor(RIX_SET, &f[0], &f[1], &f[2]));
    m_panel.answer(0x12, {});  // a reply without data fails the single-byte form
    EXPECT_EQ(0, m_api->VolumeControl(RIX_GET, &value));
    EXPECT_EQ(0u, repliesLeft());
    const uint32_t start = kw::host::Clock::now();
    for (int mode : {-1, 3}) {  // an unknown mode: nothing sent
        EXPECT_EQ(0, m_api->PowerControl(static_cast<eRIXType>(mode), &value));
        EXPECT_EQ(0, m_api->VideoWallUserControl(static_cast<eRIXType>(mode), &f[0], &f[1]));
    }
    // A set or parameter get without data has nothing to send.
    EXPECT_EQ(0, m_api->PowerControl(RIX_SET, nullptr));
    std::vector<unsigned char*> none;
    EXPECT_EQ(0, m_api->SendParam(RIX_GET_PARAM, 0xA9, &none));
    EXPECT_EQ(0,
              m_api->SendParam(RIX_GET, 0x0D, static_cast<std::vector<unsigned char*>*>(nullptr)));
    EXPECT_EQ(nullptr, m_api->SendRIXData(RIX_SET, 0x11, 200, nullptr));
    EXPECT_EQ(3u, m_panel.frames().size());
    for (int result : {0, -1}) {  // a refused send takes no time
        m_panel.m_sendResult = result;
        EXPECT_EQ(0, m_api->PowerControl(RIX_SET, &value));
        EXPECT_EQ(0, m_api->AmbientBrightnessSensor(RIX_GET, &f[0], &f[1], &f[2]));
    }
    EXPECT_EQ(start, kw::host::Clock::now());
    EXPECT_EQ(7u, m_panel.frames().size());
    EXPECT_EQ(0x5A, value);
    EXPECT_EQ((std::array<unsigned char, 3>{1, 2, 3}), f);
}

TEST_F(ApiTest, SingleByteAndMultiFieldForms)
{
    unsigned char value = 0x01;
    m_panel.answer(0x11, {0x00, 0x33});
    ASSERT_EQ(1, m_api->PowerControl(RIX_SET, &value));
    EXPECT_EQ(0x00, value) << "a set writes back too";
    value = 0x03;
    m_panel.answer(0x14, {0x21, 0x22});
    ASSERT_EQ(1, m_api->InputSourceControl(RIX_GET_PARAM, &value));
    EXPECT_EQ(0x21, value);
    m_panel.answer(0xB0, {0x21});
    EXPECT_EQ(1, m_api->Set_VirtualRemoteControl(&value));  // a command outside the table

    // Fields go out in order, a null field as zero, and get nothing back.
    std::array<unsigned char, 7> f = {0x0A, 0x0B, 0x0C, 0x0D, 0x0E, 0x0F, 0x10};
    m_panel.answer(0xA7, {0x21, 0x22, 0x23, 0x24, 0x25, 0x26, 0x27});
    ASSERT_EQ(1, m_api->ClockControl(RIX_SET, &f[0], &f[1], nullptr, &f[3], &f[4], &f[5], &f[6]));
    EXPECT_EQ((std::array<unsigned char, 7>{0x21, 0x22, 0x0C, 0x24, 0x25, 0x26, 0x27}), f);
    // A parameter get sends only the first field.
    m_panel.answer(0xA7, {0x31});
    ASSERT_EQ(1,
              m_api->ClockControl(RIX_GET_PARAM, &f[0], &f[1], &f[2], &f[3], &f[4], &f[5], &f[6]));
    EXPECT_EQ(200u, m_panel.sinceLastSend());
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
    const std::vector<Bytes> frames{
        {0x11, 1, 0x01}, {0x14, 1, 0x03},
        {0xB0, 1, 0x21}, {0xA7, 7, 0x0A, 0x0B, 0x00, 0x0D, 0x0E, 0x0F, 0x10},
        {0xA7, 1, 0x21}, {0x17, 0},
        {0x17, 0},       {0x89, 0}};
    EXPECT_EQ(frames, m_panel.frames());
}

TEST_F(ApiTest, StringGettersCapTheSerialAndWriteNoTerminator)
{
    unsigned char buf[256];
    std::memset(buf, 0x7E, sizeof buf);
    const std::string serial = "ABCDEFGHIJKLMNOPQRST";
    m_panel.answer(0x0B, Bytes(serial.begin(), serial.end()));
    ASSERT_EQ(1, m_api->Get_SerialNumberControl(buf, sizeof buf));
    EXPECT_EQ(0, std::memcmp(buf, "ABCDEFGHIJKLMNOPQR\x7E", 19));
    const Bytes longest(253, 'v');  // the longest reply a frame carries fits whole
    m_panel.answer(0x0E, longest);
    ASSERT_EQ(1, m_api->Get_SWVersionControl(buf, sizeof buf));
    EXPECT_EQ(longest, Bytes(buf, buf + 253));
    EXPECT_EQ(0x7E, buf[253]);
    m_panel.answer(0x8A, {'X', 'Y'});
    EXPECT_EQ(1, m_api->Get_ModelNameControl(buf, 0));  // with no room the getter still asks
    EXPECT_EQ('v', buf[0]);
    EXPECT_EQ((std::vector<Bytes>{{0x0B, 0}, {0x0E, 0}, {0x8A, 0}}), m_panel.frames());
}

// The lock is held across a whole transaction: the owner re-enters while another thread waits.
TEST_F(ApiTest, OneCommandOutstandingAtATime)
{
    m_panel.m_echo = true;
    m_api->m_Lock.Lock();
    kw::test::Contender other([this] {
        unsigned char volume = 0x20;
        EXPECT_EQ(1, m_api->VolumeControl(RIX_SET, &volume));
    });
    unsigned char power = 0x01;
    EXPECT_EQ(1, m_api->PowerControl(RIX_SET, &power));
    EXPECT_TRUE(other.blocked());
    m_api->m_Lock.Unlock();
    EXPECT_TRUE(other.finish());
    EXPECT_EQ((std::vector<Bytes>{{0x11, 1, 0x01}, {0x12, 1, 0x20}}), m_panel.frames());
}

}  // namespace
