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

// Builds an engine reply frame with a correct checksum.
Bytes replyFrame(unsigned char ack, unsigned char cmd, const Bytes& values = {})
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

// Records every frame handed to the route and answers with a fixed result.
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

TEST(VoRIXSNMP, TakesWholeFrameAndHandsItOut)
{
    VirtualClockScope clock(7000);
    VoRIXSNMP engine;
    unsigned int len = 0;
    ASSERT_EQ(offer(engine, {0xFF, 0x03, 0x41, 0x11, 0x01, 0x55}, &len), 0);
    EXPECT_EQ(len, 6u);

    Reply reply(engine.PopRIXData(0x11, 10000));
    ASSERT_NE(reply, nullptr);
    EXPECT_EQ(reply->nCmd, 0x11);
    EXPECT_EQ(reply->nAck, 0x41);
    EXPECT_EQ(values(reply), Bytes{0x01});
    EXPECT_EQ(reply->nTick, 7000u);
    EXPECT_EQ(VoGetTickCountSNMP(), 7000u);  // found on the first search, no pause
    EXPECT_TRUE(engine.m_ReplyList.empty());
}

TEST(VoRIXSNMP, ConsumesOnlyTheFirstFrame)
{
    VoRIXSNMP engine;
    Bytes bytes = replyFrame('A', 0x11, {0x01});
    const Bytes second = replyFrame('A', 0x22, {0x02, 0x03});
    bytes.insert(bytes.end(), second.begin(), second.end());
    unsigned int len = 0;
    ASSERT_EQ(offer(engine, bytes, &len), 0);
    EXPECT_EQ(len, 6u);
    ASSERT_EQ(engine.m_ReplyList.size(), 1u);
    EXPECT_EQ(engine.m_ReplyList.front()->nCmd, 0x11);
}

TEST(VoRIXSNMP, ReportsIncompleteFrames)
{
    VoRIXSNMP engine;
    const Bytes frame{0xFF, 0x03, 0x41, 0x11, 0x01, 0x55};
    for (size_t n = 0; n < frame.size(); ++n) {
        SCOPED_TRACE(n);
        unsigned int len = 0;
        EXPECT_EQ(offer(engine, Bytes(frame.begin(), frame.begin() + n), &len), 2);
        EXPECT_EQ(len, n);
    }
    unsigned int len = 0;
    EXPECT_EQ(engine.CheckReceiveData(nullptr, len), 2);
    EXPECT_TRUE(engine.m_ReplyList.empty());
}

TEST(VoRIXSNMP, RejectsBadChecksumAndWrongMarker)
{
    VoRIXSNMP engine;
    unsigned int len = 0;
    EXPECT_EQ(offer(engine, {0xFF, 0x03, 0x41, 0x11, 0x01, 0x56}, &len), 1);
    EXPECT_EQ(len, 6u);
    // A valid frame later in the buffer is not looked for.
    Bytes shifted{0x00};
    const Bytes frame = replyFrame('A', 0x11, {0x01});
    shifted.insert(shifted.end(), frame.begin(), frame.end());
    EXPECT_EQ(offer(engine, shifted, &len), 1);
    EXPECT_EQ(len, 7u);
    EXPECT_EQ(offer(engine, {0xFE}), 1);
    len = 3;
    EXPECT_EQ(engine.CheckReceiveData(nullptr, len), 1);
    EXPECT_TRUE(engine.m_ReplyList.empty());
}

TEST(VoRIXSNMP, RejectsLengthsWithoutAckAndCommand)
{
    VoRIXSNMP engine;
    // Checksums right: these would be taken if L were not checked.
    EXPECT_EQ(offer(engine, {0xFF, 0x00, 0xFF}), 1);
    EXPECT_EQ(offer(engine, {0xFF, 0x01, 0x41, 0x41}), 1);
    // Decided as soon as L is known, without waiting for more bytes.
    EXPECT_EQ(offer(engine, {0xFF, 0x00}), 1);
    EXPECT_EQ(offer(engine, {0xFF, 0x01}), 1);
    EXPECT_TRUE(engine.m_ReplyList.empty());
}

TEST(VoRIXSNMP, KeepsRefusedAndEmptyReplies)
{
    VoRIXSNMP engine;
    unsigned int len = 0;
    ASSERT_EQ(offer(engine, {0xFF, 0x02, 0x4E, 0x11, 0x60}, &len), 0);
    EXPECT_EQ(len, 5u);
    Reply reply(engine.PopRIXData(0x11, 1));
    ASSERT_NE(reply, nullptr);
    EXPECT_EQ(reply->nAck, 0x4E);
    EXPECT_EQ(reply->nSize, 0u);
}

TEST(VoRIXSNMP, TakesLongestFrame)
{
    VoRIXSNMP engine;
    Bytes vals(253);
    for (size_t i = 0; i < vals.size(); ++i) vals[i] = static_cast<unsigned char>(i * 7);
    unsigned int len = 0;
    ASSERT_EQ(offer(engine, replyFrame('A', 0x5A, vals), &len), 0);
    EXPECT_EQ(len, 258u);
    Reply reply(engine.PopRIXData(0x5A, 1));
    ASSERT_NE(reply, nullptr);
    EXPECT_EQ(values(reply), vals);
}

TEST(VoRIXSNMP, HandsOutOldestMatchingReplyFirst)
{
    VoRIXSNMP engine;
    ASSERT_EQ(offer(engine, replyFrame('A', 0x11, {0x01})), 0);
    ASSERT_EQ(offer(engine, replyFrame('A', 0x22, {0x09})), 0);
    ASSERT_EQ(offer(engine, replyFrame('N', 0x11, {0x02})), 0);

    Reply first(engine.PopRIXData(0x11, 1));
    Reply second(engine.PopRIXData(0x11, 1));
    ASSERT_NE(first, nullptr);
    ASSERT_NE(second, nullptr);
    EXPECT_EQ(values(first), Bytes{0x01});
    EXPECT_EQ(values(second), Bytes{0x02});
    EXPECT_EQ(second->nAck, 'N');  // matching ignores the acknowledgement
    ASSERT_EQ(engine.m_ReplyList.size(), 1u);
    EXPECT_EQ(engine.m_ReplyList.front()->nCmd, 0x22);
}

TEST(VoRIXSNMP, TimesOutOnVirtualTimeLeavingOtherReplies)
{
    VirtualClockScope clock(1000);
    VoRIXSNMP engine;
    ASSERT_EQ(offer(engine, replyFrame('A', 0x22)), 0);
    EXPECT_EQ(engine.PopRIXData(0x11, 10000), nullptr);
    EXPECT_EQ(VoGetTickCountSNMP(), 11000u);
    EXPECT_EQ(engine.m_ReplyList.size(), 1u);
}

TEST(VoRIXSNMP, ZeroOrNegativeTimeoutReturnsAtOnce)
{
    VirtualClockScope clock(1000);
    VoRIXSNMP engine;
    ASSERT_EQ(offer(engine, replyFrame('A', 0x11)), 0);
    EXPECT_EQ(engine.PopRIXData(0x11, 0), nullptr);
    EXPECT_EQ(engine.PopRIXData(0x11, -5), nullptr);
    EXPECT_EQ(VoGetTickCountSNMP(), 1000u);
    EXPECT_EQ(engine.m_ReplyList.size(), 1u);
}

TEST(VoRIXSNMP, TimeoutSurvivesTickWraparound)
{
    VirtualClockScope clock(0xFFFFFF00u);
    VoRIXSNMP engine;
    EXPECT_EQ(engine.PopRIXData(0x11, 1000), nullptr);
    EXPECT_EQ(VoGetTickCountSNMP(), 0xFFFFFF00u + 1000u);
}

TEST(VoRIXSNMP, PicksUpReplyDeliveredByAnotherThread)
{
    VirtualClockScope clock(0);
    VoRIXSNMP engine;
    const Bytes frame = replyFrame('A', 0x11, {0x07});
    std::thread::id deliveredOn;
    Clock::schedule(250, [&] {
        deliveredOn = std::this_thread::get_id();
        offer(engine, frame);
    });
    Reply reply(engine.PopRIXData(0x11, 10000));
    ASSERT_NE(reply, nullptr);
    EXPECT_NE(deliveredOn, std::this_thread::get_id());
    // The timer runs once the pause that covers tick 250 has moved the clock on.
    EXPECT_GT(reply->nTick, 200u);
    EXPECT_LE(reply->nTick, 300u);
    EXPECT_EQ(values(reply), Bytes{0x07});
    // Searches at 0, 100, 200 miss; the one after the pause ending at 300 finds it.
    EXPECT_EQ(VoGetTickCountSNMP(), 300u);
}

TEST(VoRIXSNMP, PurgesStaleRepliesOnlyWhenTheNextArrives)
{
    VirtualClockScope clock(0);
    VoRIXSNMP engine;
    ASSERT_EQ(offer(engine, replyFrame('A', 0x22, {0xAA})), 0);
    Clock::advance(30000);
    ASSERT_EQ(offer(engine, replyFrame('A', 0x33)), 0);  // exactly 30000: kept
    EXPECT_EQ(engine.m_ReplyList.size(), 2u);

    Clock::advance(60000);
    EXPECT_EQ(engine.m_ReplyList.size(), 2u);  // no timer purges

    ASSERT_EQ(offer(engine, replyFrame('A', 0x44)), 0);
    ASSERT_EQ(engine.m_ReplyList.size(), 1u);
    EXPECT_EQ(engine.m_ReplyList.front()->nCmd, 0x44);
}

TEST(VoRIXSNMP, PurgeAgeIsMeasuredAcrossTickWraparound)
{
    VirtualClockScope clock(0xFFFFFF00u);
    VoRIXSNMP engine;
    ASSERT_EQ(offer(engine, replyFrame('A', 0x22)), 0);
    Clock::advance(29000);  // the tick has wrapped
    ASSERT_EQ(offer(engine, replyFrame('A', 0x33)), 0);
    EXPECT_EQ(engine.m_ReplyList.size(), 2u);

    Clock::advance(1001);
    ASSERT_EQ(offer(engine, replyFrame('A', 0x44)), 0);
    ASSERT_EQ(engine.m_ReplyList.size(), 2u);
    EXPECT_EQ(engine.m_ReplyList.front()->nCmd, 0x33);
}

TEST(VoRIXSNMP, SendFramesCommandAndPassesResultThrough)
{
    VoRIXSNMP engine;
    RecordingSender sender(5);
    engine.m_pSender = &sender;
    const unsigned char data[] = {0x01, 0x02, 0x03};
    EXPECT_EQ(engine.SendRIXData(0x11, data, 3), 5);
    EXPECT_EQ(engine.SendRIXData(0x18, nullptr, 0), 5);
    sender.m_result = -1;
    EXPECT_EQ(engine.SendRIXData(0x19, data, 1), -1);

    ASSERT_EQ(sender.m_frames.size(), 3u);
    EXPECT_EQ(sender.m_frames[0], (Bytes{0x11, 0x03, 0x01, 0x02, 0x03}));
    EXPECT_EQ(sender.m_frames[1], (Bytes{0x18, 0x00}));
    EXPECT_EQ(sender.m_frames[2], (Bytes{0x19, 0x01, 0x01}));
    // The last frame is kept until the next send.
    ASSERT_NE(engine.m_pSendFrame, nullptr);
    EXPECT_EQ(Bytes(engine.m_pSendFrame, engine.m_pSendFrame + 3), sender.m_frames[2]);
}

TEST(VoRIXSNMP, SendWithoutSenderKeepsNoFrame)
{
    VoRIXSNMP engine;
    const unsigned char data[] = {0x01};
    EXPECT_EQ(engine.SendRIXData(0x11, data, 1), 0);
    EXPECT_EQ(engine.m_pSendFrame, nullptr);
    RecordingSender sender(3);
    engine.m_pSender = &sender;
    EXPECT_EQ(engine.SendRIXData(0x11, data, 1), 3);
    engine.m_pSender = nullptr;
    EXPECT_EQ(engine.SendRIXData(0x11, data, 1), 0);
    EXPECT_EQ(engine.m_pSendFrame, nullptr);
}

TEST(VoRIXSNMP, SendRefusesDataTheLengthByteCannotHold)
{
    VoRIXSNMP engine;
    RecordingSender sender(1);
    engine.m_pSender = &sender;
    Bytes data(256, 0x5A);
    EXPECT_EQ(engine.SendRIXData(0x11, data.data(), 255), 1);
    ASSERT_EQ(sender.m_frames.size(), 1u);
    EXPECT_EQ(sender.m_frames[0].size(), 257u);
    EXPECT_EQ(sender.m_frames[0][1], 0xFF);

    EXPECT_EQ(engine.SendRIXData(0x11, data.data(), 256), 0);
    EXPECT_EQ(sender.m_frames.size(), 1u);
    EXPECT_EQ(engine.m_pSendFrame, nullptr);
}

TEST(VoRIXSNMP, SendWithNullDataSendsZeros)
{
    VoRIXSNMP engine;
    RecordingSender sender(1);
    engine.m_pSender = &sender;
    EXPECT_EQ(engine.SendRIXData(0x11, nullptr, 2), 1);
    ASSERT_EQ(sender.m_frames.size(), 1u);
    EXPECT_EQ(sender.m_frames[0], (Bytes{0x11, 0x02, 0x00, 0x00}));
}

TEST(VoRIXSNMP, ChecksumIsEightBitSum)
{
    const unsigned char bytes[] = {0xFF, 0x03, 0x41, 0x11, 0x01};
    EXPECT_EQ(VoRIXSNMP::GetCheckSum(bytes, 5), 0x55);
    EXPECT_EQ(VoRIXSNMP::GetCheckSum(bytes, 0), 0x00);
    EXPECT_EQ(VoRIXSNMP::GetCheckSum(nullptr, 4), 0x00);
}

// Replies stream in from one thread while another takes them: none lost, order kept.
TEST(VoRIXSNMP, ConcurrentDeliveryKeepsEveryReplyInOrder)
{
    VirtualClockScope clock(0);
    VoRIXSNMP engine;
    constexpr int kReplies = 2000;
    std::thread delivery([&] {
        for (int i = 0; i < kReplies; ++i) {
            const Bytes frame = replyFrame(
                'A', 0x11, {static_cast<unsigned char>(i >> 8), static_cast<unsigned char>(i)});
            EXPECT_EQ(offer(engine, frame), 0);
        }
    });
    // Virtual time only moves while the taker misses, so a short wait per poll and a real
    // deadline overall keep the test bounded whatever the scheduling.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    int taken = 0;
    while (taken < kReplies && std::chrono::steady_clock::now() < deadline) {
        Reply reply(engine.PopRIXData(0x11, 1));
        if (reply == nullptr) continue;
        const Bytes expected{static_cast<unsigned char>(taken >> 8),
                             static_cast<unsigned char>(taken)};
        if (values(reply) != expected) break;
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
    ASSERT_EQ(offer(engine, replyFrame('A', 0x11, {0x01})), 0);
    ASSERT_EQ(offer(engine, replyFrame('A', 0x22, {0x02, 0x03})), 0);
}

}  // namespace
