// What the two SendParam forms put on the wire and write back into the caller's bytes.
#include <array>
#include <cstring>

#include "tests/command/ApiFixture.h"

namespace kw::command::test {
namespace {

using Bytes = std::vector<uint8_t>;

TEST_F(ApiTest, SingleByteSetSendsTheValueAndTakesTheReplysFirstByte)
{
    unsigned char value = 0x01;
    m_panel.answer(0x11, {0x00, 0x33});
    ASSERT_EQ(1, m_api->PowerControl(RIX_SET, &value));
    EXPECT_EQ((Bytes{0x11, 0x01, 0x01}), m_panel.frames().back().bytes);
    EXPECT_EQ(200u, sinceLastSend());
    EXPECT_EQ(0x00, value);
}

TEST_F(ApiTest, SingleByteReplyWithoutDataFailsAndKeepsTheValue)
{
    unsigned char value = 0x22;
    m_panel.answer(0x12, {});
    EXPECT_EQ(0, m_api->VolumeControl(RIX_SET, &value));
    EXPECT_EQ(0x22, value);
    m_panel.answer(0x12, {});
    EXPECT_EQ(0, m_api->VolumeControl(RIX_GET, &value));
    EXPECT_EQ(0x22, value);
    EXPECT_EQ(0u, repliesLeft());
}

TEST_F(ApiTest, SingleByteNullValue)
{
    m_panel.setDefaultEcho();
    // A set has nothing to send.
    EXPECT_EQ(0, m_api->PowerControl(RIX_SET, nullptr));
    EXPECT_EQ(0, m_api->Set_VirtualRemoteControl(nullptr));
    EXPECT_EQ(0, m_api->SendParam(RIX_GET_PARAM, 0x11, static_cast<unsigned char*>(nullptr)));
    EXPECT_TRUE(m_panel.frames().empty());
    // A get still asks, and succeeds with nowhere to write.
    EXPECT_EQ(1, m_api->Get_ScreenSizeControl(nullptr));
    EXPECT_EQ((Bytes{0x19, 0x00}), m_panel.frames().back().bytes);
}

TEST_F(ApiTest, SingleByteParameterGetSendsTheValue)
{
    unsigned char value = 0x03;
    m_panel.answer(0x14, {0x21, 0x22});
    ASSERT_EQ(1, m_api->InputSourceControl(RIX_GET_PARAM, &value));
    EXPECT_EQ((Bytes{0x14, 0x01, 0x03}), m_panel.frames().back().bytes);
    EXPECT_EQ(0x21, value);
}

TEST_F(ApiTest, FieldsGoOutInOrderWithZeroForANullField)
{
    std::array<unsigned char, 7> f = {0x0A, 0x0B, 0x0C, 0x0D, 0x0E, 0x0F, 0x10};
    m_panel.answer(0xA7, {0x21, 0x22, 0x23, 0x24, 0x25, 0x26, 0x27});
    ASSERT_EQ(1, m_api->ClockControl(RIX_SET, &f[0], &f[1], nullptr, &f[3], &f[4], &f[5], &f[6]));
    EXPECT_EQ((Bytes{0xA7, 7, 0x0A, 0x0B, 0x00, 0x0D, 0x0E, 0x0F, 0x10}),
              m_panel.frames().back().bytes);
    // Written back everywhere except through the null field.
    EXPECT_EQ((std::array<unsigned char, 7>{0x21, 0x22, 0x0C, 0x24, 0x25, 0x26, 0x27}), f);
}

TEST_F(ApiTest, ShortReplyFillsOnlyTheLeadingFields)
{
    std::array<unsigned char, 8> f = {1, 2, 3, 4, 5, 6, 7, 8};
    m_panel.answer(0x17, {0x31, 0x32, 0x33});
    ASSERT_EQ(1, m_api->DirectChannelControl(RIX_GET, &f[0], &f[1], &f[2], &f[3], &f[4], &f[5],
                                             &f[6], &f[7]));
    EXPECT_EQ((Bytes{0x17, 0x00}), m_panel.frames().back().bytes);
    EXPECT_EQ((std::array<unsigned char, 8>{0x31, 0x32, 0x33, 4, 5, 6, 7, 8}), f);

    // A reply with no values at all still succeeds and writes nothing.
    m_panel.answer(0x17, {});
    ASSERT_EQ(1, m_api->DirectChannelControl(RIX_GET, &f[0], &f[1], &f[2], &f[3], &f[4], &f[5],
                                             &f[6], &f[7]));
    EXPECT_EQ(0x31, f[0]);
}

TEST_F(ApiTest, LongReplyFillsEveryFieldAndDropsTheRest)
{
    unsigned char guard[4] = {0x55, 0x55, 0x55, 0x55};
    unsigned char* f = guard + 1;  // two fields with a guard byte either side
    m_panel.setDefaultValues({0x41, 0x42, 0x43, 0x44, 0x45});
    ASSERT_EQ(1, m_api->VideoWallUserControl(RIX_GET, &f[0], &f[1]));
    EXPECT_EQ(0x55, guard[0]);
    EXPECT_EQ(0x41, f[0]);
    EXPECT_EQ(0x42, f[1]);
    EXPECT_EQ(0x55, guard[3]);
}

TEST_F(ApiTest, NullFieldListSendsNothing)
{
    m_panel.setDefaultEcho();
    EXPECT_EQ(0,
              m_api->SendParam(RIX_GET, 0x0D, static_cast<std::vector<unsigned char*>*>(nullptr)));
    EXPECT_TRUE(m_panel.frames().empty());
}

TEST_F(ApiTest, FailedMultiFieldCommandWritesNoField)
{
    std::array<unsigned char, 3> f = {1, 2, 3};
    // Timed out.
    EXPECT_EQ(0, m_api->AmbientBrightnessSensor(RIX_GET, &f[0], &f[1], &f[2]));
    // Refused.
    m_panel.answer(0xA1, {9, 9, 9}, 'N');
    EXPECT_EQ(0, m_api->AmbientBrightnessSensor(RIX_SET, &f[0], &f[1], &f[2]));
    // Not sent.
    m_panel.setSendResult(0);
    EXPECT_EQ(0, m_api->AmbientBrightnessSensor(RIX_GET, &f[0], &f[1], &f[2]));
    EXPECT_EQ((std::array<unsigned char, 3>{1, 2, 3}), f);
}

TEST_F(ApiTest, HolidayByIndexSendsOnlyTheIndexAndFillsAllFive)
{
    std::array<unsigned char, 5> f = {0x03, 0xE1, 0xE2, 0xE3, 0xE4};
    m_panel.answer(0xA9, {0x13, 0x0C, 0x19, 0x0C, 0x1A});
    ASSERT_EQ(1, m_api->Get_HolidayGetControl(RIX_GET_PARAM, &f[0], &f[1], &f[2], &f[3], &f[4]));
    EXPECT_EQ((Bytes{0xA9, 0x01, 0x03}), m_panel.frames().back().bytes);
    EXPECT_EQ(400u, sinceLastSend());
    EXPECT_EQ((std::array<unsigned char, 5>{0x13, 0x0C, 0x19, 0x0C, 0x1A}), f);

    // The plain get sends no index.
    m_panel.answer(0xA9, {0x02});
    ASSERT_EQ(1, m_api->Get_HolidayGetControl(RIX_GET, &f[0], &f[1], &f[2], &f[3], &f[4]));
    EXPECT_EQ((Bytes{0xA9, 0x00}), m_panel.frames().back().bytes);
    EXPECT_EQ(100u, sinceLastSend());
    EXPECT_EQ((std::array<unsigned char, 5>{0x02, 0x0C, 0x19, 0x0C, 0x1A}), f);
}

TEST_F(ApiTest, SerialNumberIsCappedAtEighteenBytes)
{
    unsigned char buf[256];
    std::memset(buf, 0, sizeof buf);
    Bytes reply;
    for (uint8_t c = 'A'; c < 'A' + 20; ++c) reply.push_back(c);
    m_panel.answer(0x0B, reply);
    ASSERT_EQ(1, m_api->Get_SerialNumberControl(buf, sizeof buf));
    EXPECT_EQ((Bytes{0x0B, 0x00}), m_panel.frames().back().bytes);
    EXPECT_STREQ("ABCDEFGHIJKLMNOPQR", reinterpret_cast<char*>(buf));
}

TEST_F(ApiTest, StringReadWithNoRoomStillAsks)
{
    unsigned char buf[4] = {0x55, 0x55, 0x55, 0x55};
    m_panel.answer(0x0B, {'X', 'Y'});
    EXPECT_EQ(1, m_api->Get_SerialNumberControl(buf, 0));
    m_panel.answer(0x0E, {'X', 'Y'});
    EXPECT_EQ(1, m_api->Get_SWVersionControl(nullptr, 256));
    const auto frames = m_panel.frames();
    ASSERT_EQ(2u, frames.size());
    EXPECT_EQ((Bytes{0x0B, 0x00}), frames[0].bytes);
    EXPECT_EQ((Bytes{0x0E, 0x00}), frames[1].bytes);
    EXPECT_EQ(0x55, buf[0]);
}

TEST_F(ApiTest, StringReadWritesNoTerminator)
{
    unsigned char buf[256];
    std::memset(buf, 0x7E, sizeof buf);
    m_panel.answer(0x8A, {'K', 'W', '-', 'P', 'A', 'N', 'E', 'L', '-', '0', '5', '5'});
    ASSERT_EQ(1, m_api->Get_ModelNameControl(buf, sizeof buf));
    EXPECT_EQ(0, std::memcmp(buf, "KW-PANEL-055", 12));
    for (size_t i = 12; i < sizeof buf; ++i) ASSERT_EQ(0x7E, buf[i]) << i;

    // The longest reply a frame can carry fits a 256-byte buffer whole.
    Bytes longest(253, 'v');
    m_panel.answer(0x0E, longest);
    ASSERT_EQ(1, m_api->Get_SWVersionControl(buf, sizeof buf));
    EXPECT_EQ(0, std::memcmp(buf, longest.data(), longest.size()));
    EXPECT_EQ(0x7E, buf[253]);
}

}  // namespace
}  // namespace kw::command::test
