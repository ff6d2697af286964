// The frame engine: reply-frame parsing, the reply list (matching, timeout, purge) and the
// command frames it sends. An engine frees what it holds at its end (the leak sanitizer checks).
#include <gtest/gtest.h>

#include "host/framework/Clock.h"
#include "link/VoRIXSNMP.h"
#include "tests/support/PanelDouble.h"

namespace {

using kw::host::Clock;
using kw::host::VirtualClockScope;
using kw::test::Bytes;
using kw::test::Reply;
using kw::test::replyFrame;

int offer(VoRIXSNMP& engine, const Bytes& bytes, unsigned int* lenOut = nullptr)
{
    unsigned int len = static_cast<unsigned int>(bytes.size());
    const int result = engine.CheckReceiveData(bytes.data(), len);
    if (lenOut != nullptr) *lenOut = len;
    return result;
}

const auto values = [](const Reply& r) { return Bytes(r->pData, r->pData + r->nSize); };

TEST(VoRIXSNMP, ParsesReplyFrames)
{
    const Bytes good{0xFF, 0x03, 0x41, 0x11, 0x01, 0x55};
    Bytes longest(253), twoFrames = good, late{0x00};
    for (size_t i = 0; i < longest.size(); ++i) longest[i] = static_cast<unsigned char>(i * 7);
    const Bytes second = replyFrame(0x22, {2, 3});
    twoFrames.insert(twoFrames.end(), second.begin(), second.end());
    late.insert(late.end(), good.begin(), good.end());
    const struct {
        Bytes bytes;
        int result;        // 0 taken, 1 not a frame, 2 incomplete
        unsigned int len;  // bytes consumed
        Bytes values;      // of the stored reply when taken
    } cases[] = {
        {good, 0, 6, {0x01}},
        {twoFrames, 0, 6, {0x01}},                   // only the first frame
        {{0xFF, 0x02, 0x4E, 0x11, 0x60}, 0, 5, {}},  // refused and empty
        {replyFrame(0x11, longest), 0, 258, longest},
        {{0xFF, 0x03, 0x41, 0x11, 0x01, 0x56}, 1, 6, {}},  // bad checksum
        {late, 1, 7, {}},                                  // marker not first
        {{0xFE}, 1, 1, {}},
        // L 0 or 1 has no room for ack and command: refused once L is known.
        {{0xFF, 0x00, 0xFF}, 1, 3, {}},
        {{0xFF, 0x01, 0x41, 0x41}, 1, 4, {}},
        {{0xFF, 0x01}, 1, 2, {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(&c - cases);
        VoRIXSNMP engine;
        unsigned int len = 0;
        EXPECT_EQ(c.result, offer(engine, c.bytes, &len));
        EXPECT_EQ(c.len, len);
        EXPECT_EQ(c.result == 0 ? 1u : 0u, engine.m_ReplyList.size());
        if (c.result != 0) continue;
        Reply reply(engine.PopRIXData(0x11, 1));
        ASSERT_NE(nullptr, reply);
        EXPECT_EQ(std::make_pair(0x11, int(c.bytes[2])),
                  std::make_pair(int(reply->nCmd), int(reply->nAck)));
        EXPECT_EQ(c.values, values(reply));
    }
    VoRIXSNMP engine;
    for (size_t n = 0; n < good.size(); ++n) {
        unsigned int len = 0;
        EXPECT_EQ(2, offer(engine, Bytes(good.begin(), good.begin() + n), &len)) << n;
        EXPECT_EQ(n, len);
    }
    unsigned int len = 3;
    EXPECT_EQ(1, engine.CheckReceiveData(nullptr, len));
    EXPECT_TRUE(engine.m_ReplyList.empty());
}

TEST(VoRIXSNMP, HandsOutTheOldestMatchingReplyOrTimesOut)
{
    VirtualClockScope clock(7000);
    VoRIXSNMP engine;
    ASSERT_EQ(0, offer(engine, replyFrame(0x11, {0x01})));
    ASSERT_EQ(0, offer(engine, replyFrame(0x22, {0x09})));
    ASSERT_EQ(0, offer(engine, replyFrame(0x11, {0x02}, 'N')));
    EXPECT_EQ(nullptr, engine.PopRIXData(0x11, 0));  // no time at all: not even one look
    EXPECT_EQ(nullptr, engine.PopRIXData(0x11, -5));
    Reply first(engine.PopRIXData(0x11, 10000)), second(engine.PopRIXData(0x11, 1));
    ASSERT_TRUE(first && second);
    EXPECT_EQ(Bytes{0x01}, values(first));
    EXPECT_EQ(7000u, first->nTick);
    EXPECT_EQ(Bytes{0x02}, values(second));
    EXPECT_EQ('N', second->nAck);  // matching ignores the acknowledgement
    EXPECT_EQ(7000u, Clock::now()) << "found on the first search, no pause";
    ASSERT_EQ(1u, engine.m_ReplyList.size());

    EXPECT_EQ(nullptr, engine.PopRIXData(0x11, 10000));
    EXPECT_EQ(17000u, Clock::now());
    // A reply delivered by the timer thread: searches at 0, 100, 200 miss, the next finds it.
    Clock::schedule(250, [&] { offer(engine, replyFrame(0x11, {0x07})); });
    EXPECT_NE(nullptr, Reply(engine.PopRIXData(0x11, 10000)));
    EXPECT_EQ(17300u, Clock::now());
}

TEST(VoRIXSNMP, PurgesRepliesOlderThan30sOnlyWhenTheNextArrives)
{
    for (uint32_t start : {0u, 0xFFFFFF00u}) {  // the second run wraps the tick
        SCOPED_TRACE(start);
        VirtualClockScope clock(start);
        VoRIXSNMP engine;
        ASSERT_EQ(0, offer(engine, replyFrame(0x22, {0xAA})));
        Clock::advance(30000);
        ASSERT_EQ(0, offer(engine, replyFrame(0x33, {})));  // exactly 30000: kept
        Clock::advance(1);
        EXPECT_EQ(2u, engine.m_ReplyList.size());  // no timer purges
        ASSERT_EQ(0, offer(engine, replyFrame(0x44, {})));
        ASSERT_EQ(2u, engine.m_ReplyList.size());
        EXPECT_EQ(0x33, engine.m_ReplyList.front()->nCmd);
    }
}

// Null data goes out as zeros; 255 bytes fit the length byte, 256 do not.
TEST(VoRIXSNMP, SendFramesTheCommand)
{
    VirtualClockScope clock;
    VoRIXSNMP engine;
    kw::test::PanelDouble panel(&engine);
    EXPECT_EQ(4, engine.SendRIXData(0x12, nullptr, 2));
    Bytes big(256, 0x5A);
    EXPECT_EQ(257, engine.SendRIXData(0x13, big.data(), 255));
    EXPECT_EQ(0, engine.SendRIXData(0x11, big.data(), 256));
    big.resize(255);
    big.insert(big.begin(), {0x13, 0xFF});
    EXPECT_EQ((std::vector<Bytes>{{0x12, 2, 0, 0}, big}), panel.frames());
}

}  // namespace
