// The frame engine: reply-frame parsing, the reply list (matching, timeout, purge) and the
// command frames it hands to its sender.
#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <thread>
#include <vector>

#include "host/framework/Clock.h"
#include "link/VoRIXSNMP.h"
#include "runtime/VoUtilSNMP.h"

namespace {

using Bytes = std::vector<unsigned char>;
using kw::host::Clock;
using kw::host::VirtualClockScope;

struct ReplyDeleter {
    void operator()(nsVoRIXSNMP::_stVoRIXData* reply) const
    {
        delete[] reply->pData;
        delete reply;
    }
};
using Reply = std::unique_ptr<nsVoRIXSNMP::_stVoRIXData, ReplyDeleter>;

// An engine reply frame with a correct checksum.
Bytes frameOf(unsigned char ack, unsigned char cmd, const Bytes& values = {})
{
    Bytes frame{0xFF, static_cast<unsigned char>(values.size() + 2), ack, cmd};
    frame.insert(frame.end(), values.begin(), values.end());
    unsigned char sum = 0;
    for (unsigned char b : frame) sum = static_cast<unsigned char>(sum + b);
    frame.push_back(sum);
    return frame;
}

int offer(VoRIXSNMP& engine, const Bytes& bytes, unsigned int* lenOut = nullptr)
{
    unsigned int len = static_cast<unsigned int>(bytes.size());
    const int result = engine.CheckReceiveData(bytes.data(), len);
    if (lenOut != nullptr) *lenOut = len;
    return result;
}

Bytes values(const Reply& reply)
{
    return Bytes(reply->pData, reply->pData + reply->nSize);
}

Bytes concat(Bytes a, const Bytes& b)
{
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

class RecordingSender : public VoPacketSenderInterfaceSNMP {
public:
    explicit RecordingSender(int result) : m_result(result) {}
    int Send(const unsigned char* data, unsigned int len) override
    {
        m_frames.emplace_back(data, data + len);
        return m_result;
    }
    int m_result;
    std::vector<Bytes> m_frames;
};

TEST(VoRIXSNMP, ParsesReplyFrames)
{
    const Bytes good{0xFF, 0x03, 0x41, 0x11, 0x01, 0x55};
    Bytes longest(253);
    for (size_t i = 0; i < longest.size(); ++i) longest[i] = static_cast<unsigned char>(i * 7);
    struct Case {
        const char* what;
        Bytes bytes;
        int result;        // 0 taken, 1 not a frame, 2 incomplete
        unsigned int len;  // bytes consumed
        Bytes values;      // of the stored reply when taken
    };
    const Case cases[] = {
        {"whole frame", good, 0, 6, {0x01}},
        {"only the first frame", concat(good, frameOf('A', 0x22, {2, 3})), 0, 6, {0x01}},
        {"refused and empty", {0xFF, 0x02, 0x4E, 0x11, 0x60}, 0, 5, {}},
        {"longest", frameOf('A', 0x11, longest), 0, 258, longest},
        {"bad checksum", {0xFF, 0x03, 0x41, 0x11, 0x01, 0x56}, 1, 6, {}},
        {"marker not first", concat({0x00}, good), 1, 7, {}},
        {"wrong marker", {0xFE}, 1, 1, {}},
        // L 0 or 1 has no room for ack and command: refused once L is known, even with a
        // matching checksum.
        {"L 0", {0xFF, 0x00, 0xFF}, 1, 3, {}},
        {"L 1", {0xFF, 0x01, 0x41, 0x41}, 1, 4, {}},
        {"L 0 alone", {0xFF, 0x00}, 1, 2, {}},
        {"L 1 alone", {0xFF, 0x01}, 1, 2, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        VoRIXSNMP engine;
        unsigned int len = 0;
        EXPECT_EQ(offer(engine, c.bytes, &len), c.result);
        EXPECT_EQ(len, c.len);
        EXPECT_EQ(engine.m_ReplyList.size(), c.result == 0 ? 1u : 0u);
        if (c.result != 0) continue;
        Reply reply(engine.PopRIXData(0x11, 1));
        ASSERT_NE(reply, nullptr);
        EXPECT_EQ(reply->nCmd, 0x11);
        EXPECT_EQ(reply->nAck, c.bytes[2]);
        EXPECT_EQ(values(reply), c.values);
    }

    VoRIXSNMP engine;
    for (size_t n = 0; n < good.size(); ++n) {
        unsigned int len = 0;
        EXPECT_EQ(offer(engine, Bytes(good.begin(), good.begin() + n), &len), 2) << n;
        EXPECT_EQ(len, n);
    }
    unsigned int len = 0;
    EXPECT_EQ(engine.CheckReceiveData(nullptr, len), 2);
    len = 3;
    EXPECT_EQ(engine.CheckReceiveData(nullptr, len), 1);
    EXPECT_TRUE(engine.m_ReplyList.empty());
}

TEST(VoRIXSNMP, HandsOutTheOldestMatchingReply)
{
    VirtualClockScope clock(7000);
    VoRIXSNMP engine;
    ASSERT_EQ(offer(engine, frameOf('A', 0x11, {0x01})), 0);
    ASSERT_EQ(offer(engine, frameOf('A', 0x22, {0x09})), 0);
    ASSERT_EQ(offer(engine, frameOf('N', 0x11, {0x02})), 0);

    Reply first(engine.PopRIXData(0x11, 10000));
    Reply second(engine.PopRIXData(0x11, 1));
    ASSERT_NE(first, nullptr);
    ASSERT_NE(second, nullptr);
    EXPECT_EQ(values(first), Bytes{0x01});
    EXPECT_EQ(first->nTick, 7000u);
    EXPECT_EQ(values(second), Bytes{0x02});
    EXPECT_EQ(second->nAck, 'N');  // matching ignores the acknowledgement
    EXPECT_EQ(VoGetTickCountSNMP(), 7000u) << "found on the first search, no pause";
    ASSERT_EQ(engine.m_ReplyList.size(), 1u);
    EXPECT_EQ(engine.m_ReplyList.front()->nCmd, 0x22);
}

TEST(VoRIXSNMP, TimesOutOnVirtualTime)
{
    struct Case {
        uint32_t start;
        int timeout;
        uint32_t end;
    };
    for (const Case& c : {Case{1000, 10000, 11000}, Case{1000, 0, 1000}, Case{1000, -5, 1000},
                          Case{0xFFFFFF00u, 1000, 0xFFFFFF00u + 1000u}}) {
        SCOPED_TRACE(c.timeout);
        VirtualClockScope clock(c.start);
        VoRIXSNMP engine;
        ASSERT_EQ(offer(engine, frameOf('A', 0x22)), 0);
        if (c.timeout <= 0) {
            ASSERT_EQ(offer(engine, frameOf('A', 0x11)), 0);
        }
        EXPECT_EQ(engine.PopRIXData(0x11, c.timeout), nullptr);
        EXPECT_EQ(VoGetTickCountSNMP(), c.end);
        EXPECT_EQ(engine.m_ReplyList.size(), c.timeout <= 0 ? 2u : 1u);
    }
}

TEST(VoRIXSNMP, PicksUpAReplyDeliveredByAnotherThread)
{
    VirtualClockScope clock(0);
    VoRIXSNMP engine;
    std::thread::id deliveredOn;
    Clock::schedule(250, [&] {
        deliveredOn = std::this_thread::get_id();
        offer(engine, frameOf('A', 0x11, {0x07}));
    });
    Reply reply(engine.PopRIXData(0x11, 10000));
    ASSERT_NE(reply, nullptr);
    EXPECT_NE(deliveredOn, std::this_thread::get_id());
    EXPECT_EQ(values(reply), Bytes{0x07});
    // Searches at 0, 100, 200 miss; the one after the pause ending at 300 finds it.
    EXPECT_GT(reply->nTick, 200u);
    EXPECT_EQ(VoGetTickCountSNMP(), 300u);
}

TEST(VoRIXSNMP, PurgesRepliesOlderThan30sOnlyWhenTheNextArrives)
{
    for (uint32_t start : {0u, 0xFFFFFF00u}) {  // the second run wraps the tick
        SCOPED_TRACE(start);
        VirtualClockScope clock(start);
        VoRIXSNMP engine;
        ASSERT_EQ(offer(engine, frameOf('A', 0x22, {0xAA})), 0);
        Clock::advance(30000);
        ASSERT_EQ(offer(engine, frameOf('A', 0x33)), 0);  // exactly 30000: kept
        EXPECT_EQ(engine.m_ReplyList.size(), 2u);
        Clock::advance(1);
        EXPECT_EQ(engine.m_ReplyList.size(), 2u);  // no timer purges
        ASSERT_EQ(offer(engine, frameOf('A', 0x44)), 0);
        ASSERT_EQ(engine.m_ReplyList.size(), 2u);
        EXPECT_EQ(engine.m_ReplyList.front()->nCmd, 0x33);
    }
}

TEST(VoRIXSNMP, SendFramesTheCommandAndPassesTheResultThrough)
{
    VoRIXSNMP engine;
    const unsigned char data[] = {0x01, 0x02, 0x03};
    EXPECT_EQ(engine.SendRIXData(0x11, data, 1), 0);  // no sender
    EXPECT_EQ(engine.m_pSendFrame, nullptr);

    RecordingSender sender(5);
    engine.m_pSender = &sender;
    EXPECT_EQ(engine.SendRIXData(0x11, data, 3), 5);
    EXPECT_EQ(engine.SendRIXData(0x18, nullptr, 0), 5);
    EXPECT_EQ(engine.SendRIXData(0x12, nullptr, 2), 5);  // null data goes out as zeros
    Bytes big(256, 0x5A);
    EXPECT_EQ(engine.SendRIXData(0x13, big.data(), 255), 5);
    sender.m_result = -1;
    EXPECT_EQ(engine.SendRIXData(0x19, data, 1), -1);
    // The last frame is kept until the next send.
    ASSERT_NE(engine.m_pSendFrame, nullptr);
    EXPECT_EQ(Bytes(engine.m_pSendFrame, engine.m_pSendFrame + 3), (Bytes{0x19, 0x01, 0x01}));
    // 256 bytes do not fit the length byte.
    EXPECT_EQ(engine.SendRIXData(0x11, big.data(), 256), 0);
    EXPECT_EQ(engine.m_pSendFrame, nullptr);

    ASSERT_EQ(sender.m_frames.size(), 5u);
    EXPECT_EQ(sender.m_frames[0], (Bytes{0x11, 0x03, 0x01, 0x02, 0x03}));
    EXPECT_EQ(sender.m_frames[1], (Bytes{0x18, 0x00}));
    EXPECT_EQ(sender.m_frames[2], (Bytes{0x12, 0x02, 0x00, 0x00}));
    EXPECT_EQ(sender.m_frames[3].size(), 257u);
    EXPECT_EQ(sender.m_frames[3][1], 0xFF);

    engine.m_pSender = nullptr;
    EXPECT_EQ(engine.SendRIXData(0x11, data, 1), 0);
    EXPECT_EQ(engine.m_pSendFrame, nullptr);
    EXPECT_EQ(VoRIXSNMP::GetCheckSum(data, 0), 0x00);
    EXPECT_EQ(VoRIXSNMP::GetCheckSum(nullptr, 4), 0x00);
}

// Replies stream in from one thread while another takes them: none lost, order kept.
TEST(VoRIXSNMP, ConcurrentDeliveryKeepsEveryReplyInOrder)
{
    VirtualClockScope clock(0);
    VoRIXSNMP engine;
    constexpr int kReplies = 2000;
    auto valuesOf = [](int i) {
        return Bytes{static_cast<unsigned char>(i >> 8), static_cast<unsigned char>(i)};
    };
    std::thread delivery([&] {
        for (int i = 0; i < kReplies; ++i)
            EXPECT_EQ(offer(engine, frameOf('A', 0x11, valuesOf(i))), 0);
    });
    // Virtual time moves only while the taker misses: a real deadline bounds the test.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    int taken = 0;
    while (taken < kReplies && std::chrono::steady_clock::now() < deadline) {
        Reply reply(engine.PopRIXData(0x11, 1));
        if (reply == nullptr) continue;
        if (values(reply) != valuesOf(taken)) break;
        ++taken;
    }
    EXPECT_EQ(taken, kReplies);
    delivery.join();
    EXPECT_TRUE(engine.m_ReplyList.empty());
}

// Whatever is left at destruction is freed by the engine (checked by the leak sanitizer).
TEST(VoRIXSNMP, DestructionFreesLeftoverRepliesAndFrame)
{
    VoRIXSNMP engine;
    RecordingSender sender(1);
    engine.m_pSender = &sender;
    const unsigned char data[] = {0x01};
    engine.SendRIXData(0x11, data, 1);
    ASSERT_EQ(offer(engine, frameOf('A', 0x11, {0x01})), 0);
    ASSERT_EQ(offer(engine, frameOf('A', 0x22, {0x02, 0x03})), 0);
}

}  // namespace
