#include <gtest/gtest.h>

#include <stdexcept>

#include "host/panel/Codec.h"

using namespace kw::panel;
using namespace std::chrono_literals;

namespace {

using TimePoint = std::chrono::steady_clock::time_point;
const TimePoint kT0{};

std::vector<uint8_t> concat(std::initializer_list<std::vector<uint8_t>> parts)
{
    std::vector<uint8_t> all;
    for (const auto& p : parts) all.insert(all.end(), p.begin(), p.end());
    return all;
}

template <typename Reader>
void feed(Reader& reader, const std::vector<uint8_t>& bytes, TimePoint at = kT0)
{
    reader.feed(bytes.data(), bytes.size(), at);
}

ReplyReader lineReplies(std::optional<uint8_t> id = 1)
{
    return ReplyReader({Dialect::Line, id, 100ms});
}

}  // namespace

TEST(PanelCodec, EncodesBothDialectsWithTheSumChecksum)
{
    EXPECT_EQ(encodeCommand(Dialect::Line, {0x11, 0x05, {0x01}}),
              (std::vector<uint8_t>{0x11, 0x05, 0x01, 0x01, 0x18}));
    EXPECT_EQ(encodeCommand(Dialect::Engine, {0x11, 0x05, {0x01}}),
              (std::vector<uint8_t>{0x11, 0x01, 0x01}));
    EXPECT_EQ(encodeCommand(Dialect::Engine, {0x11, 0, {}}), (std::vector<uint8_t>{0x11, 0x00}));
    // The engine reply of the module's own example: FF 03 41 11 01 55.
    EXPECT_EQ(encodeReply(Dialect::Engine, 0, {kAck, 0x11, {0x01}}),
              (std::vector<uint8_t>{0xFF, 0x03, 0x41, 0x11, 0x01, 0x55}));
    EXPECT_EQ(encodeReply(Dialect::Line, 0x05, {kAck, 0x11, {0x01}}),
              (std::vector<uint8_t>{0xFF, 0x05, 0x03, 0x41, 0x11, 0x01, 0x5A}));
    EXPECT_THROW(encodeCommand(Dialect::Line, {0x11, 1, std::vector<uint8_t>(256)}),
                 std::length_error);
    EXPECT_THROW(encodeReply(Dialect::Line, 1, {kAck, 0x11, std::vector<uint8_t>(254)}),
                 std::length_error);
    EXPECT_EQ(hexBytes({0x01, 0x0A, 0xFF}), "01 0A FF");
}

TEST(PanelCodec, RoundTripsWholeAndByteByByte)
{
    const std::vector<Command> commands = {{0x11, 1, {}},
                                           {0xA4, 1, std::vector<uint8_t>(15, 0x07)},
                                           {0x5B, 1, {4, 0, 0}},
                                           {0xFF, 1, std::vector<uint8_t>(255, 0xFF)}};
    for (Dialect dialect : {Dialect::Line, Dialect::Engine}) {
        CommandReader whole({dialect, std::nullopt, 100ms});
        CommandReader bytewise({dialect, std::nullopt, 100ms});
        for (const Command& c : commands) {
            const auto frame = encodeCommand(dialect, c);
            feed(whole, frame);
            for (uint8_t b : frame) bytewise.feed(&b, 1, kT0);
            Command expected = c;
            if (dialect == Dialect::Engine) expected.displayId = 0;
            EXPECT_EQ(whole.next(), expected) << dialectName(dialect);
            EXPECT_EQ(bytewise.next(), expected) << dialectName(dialect);
        }
        EXPECT_EQ(whole.pending(), 0u);
    }

    const std::vector<Reply> replies = {{kAck, 0x11, {0x01}},
                                        {kNak, 0x12, {}},
                                        {kAck, 0x8A, {'K', 'W'}},
                                        {kAck, 0xA4, std::vector<uint8_t>(253, 0xFF)}};
    for (Dialect dialect : {Dialect::Line, Dialect::Engine}) {
        ReplyReader reader({dialect, 7, 100ms});
        std::vector<uint8_t> stream;
        for (const Reply& r : replies) {
            const auto frame = encodeReply(dialect, 7, r);
            stream.insert(stream.end(), frame.begin(), frame.end());
        }
        // Split at awkward places: every frame crosses a chunk boundary.
        for (size_t at = 0; at < stream.size(); at += 5) {
            const size_t n = std::min<size_t>(5, stream.size() - at);
            reader.feed(stream.data() + at, n, kT0);
        }
        for (const Reply& r : replies) EXPECT_EQ(reader.next(), r) << dialectName(dialect);
        EXPECT_FALSE(reader.next());
        EXPECT_EQ(reader.stats().frames, replies.size());
        EXPECT_EQ(reader.stats().skippedBytes, 0u);
    }
}

TEST(PanelCodec, ReplyReaderSkipsGarbageBadChecksumsAndOtherIds)
{
    auto reader = lineReplies(1);
    auto good = encodeReply(Dialect::Line, 1, {kAck, 0x11, {0x01}});
    auto bad = good;
    bad.back() ^= 0x20;
    const auto foreign = encodeReply(Dialect::Line, 2, {kAck, 0x11, {0x00}});
    auto badAck = good;
    badAck[3] = 'X';
    feed(reader, concat({{0x00, 0x41, 0x13}, bad, foreign, badAck, {0xFF, 0x01, 0x01}, good}));
    EXPECT_EQ(reader.next(), (Reply{kAck, 0x11, {0x01}}));
    EXPECT_FALSE(reader.next());
    EXPECT_EQ(reader.pending(), 0u);
    EXPECT_EQ(reader.stats().foreignFrames, 1u);
    EXPECT_GE(reader.stats().badChecksums, 1u);
    EXPECT_GT(reader.stats().skippedBytes, 0u);
}

TEST(PanelCodec, GarbageThatClaimsALongFrameDoesNotHoldTheRealOneBack)
{
    // FF 01 F0 promises a 244-value reply; the real reply follows straight after it.
    auto reader = lineReplies(1);
    const auto good = encodeReply(Dialect::Line, 1, {kAck, 0x12, {0x30}});
    feed(reader, concat({{0xFF, 0x01, 0xF0, 0x41}, good}));
    EXPECT_EQ(reader.next(), (Reply{kAck, 0x12, {0x30}}));
    EXPECT_EQ(reader.pending(), 0u);

    // The same when the real frame arrives in pieces after the garbage.
    auto split = lineReplies(1);
    feed(split, {0xFF, 0x01, 0xF0});
    feed(split, {good.begin(), good.begin() + 3});
    EXPECT_FALSE(split.next());
    feed(split, {good.begin() + 3, good.end()});
    EXPECT_EQ(split.next(), (Reply{kAck, 0x12, {0x30}}));
}

TEST(PanelCodec, CommandReaderSkipsCorruptAndForeignFrames)
{
    CommandReader reader({Dialect::Line, 3, 100ms});
    auto bad = encodeCommand(Dialect::Line, {0x12, 3, {0x20}});
    bad[3] ^= 0x01;
    const auto foreign = encodeCommand(Dialect::Line, {0x12, 4, {0x21}});
    const auto good = encodeCommand(Dialect::Line, {0x12, 3, {0x22}});
    // Frames arrive one at a time, as on a line where the host waits for each reply.
    feed(reader, bad);
    feed(reader, foreign);
    feed(reader, concat({{0x99}, good}));
    EXPECT_EQ(reader.next(), (Command{0x12, 3, {0x22}}));
    EXPECT_FALSE(reader.next());
    EXPECT_EQ(reader.stats().foreignFrames, 1u);
    EXPECT_EQ(reader.stats().frames, 1u);
}

TEST(PanelCodec, InterByteTimeoutDropsAStalledPartialFrame)
{
    auto reader = lineReplies(1);
    const auto good = encodeReply(Dialect::Line, 1, {kAck, 0x11, {0x01}});
    // Half a frame, then silence past the timeout, then a whole frame.
    feed(reader, {good.begin(), good.begin() + 4}, kT0);
    EXPECT_EQ(reader.pending(), 4u);
    feed(reader, good, kT0 + 150ms);
    EXPECT_EQ(reader.next(), (Reply{kAck, 0x11, {0x01}}));
    EXPECT_FALSE(reader.next());
    EXPECT_EQ(reader.stats().timeouts, 1u);

    // Within the timeout the halves join up.
    feed(reader, {good.begin(), good.begin() + 4}, kT0 + 1s);
    feed(reader, {good.begin() + 4, good.end()}, kT0 + 1s + 90ms);
    EXPECT_TRUE(reader.next());

    // expire() alone drops the stall too.
    feed(reader, {0xFF, 0x01}, kT0 + 2s);
    reader.expire(kT0 + 2s + 50ms);
    EXPECT_EQ(reader.pending(), 2u);
    reader.expire(kT0 + 2s + 101ms);
    EXPECT_EQ(reader.pending(), 0u);
}

TEST(PanelCodec, TimeoutKeepsAFrameBuriedInTheStalledBytes)
{
    // Long-frame garbage, a valid frame, then more junk: nothing ends on a frame boundary,
    // so only the timeout sorts it out, and the frame inside is still delivered.
    auto reader = lineReplies(1);
    const auto good = encodeReply(Dialect::Line, 1, {kAck, 0x25, {0x40}});
    feed(reader, concat({{0xFF, 0x01, 0x80, 0x41}, good, {0xFF, 0x01}}), kT0);
    EXPECT_FALSE(reader.next());
    reader.expire(kT0 + 200ms);
    EXPECT_EQ(reader.next(), (Reply{kAck, 0x25, {0x40}}));
    EXPECT_EQ(reader.pending(), 0u);
}

TEST(PanelCodec, EngineCommandsHaveNoChecksumSoAStallLosesEverything)
{
    CommandReader reader({Dialect::Engine, std::nullopt, 100ms});
    feed(reader, {0xA4, 0x0F, 0x01, 0x02}, kT0);
    feed(reader, {0x11, 0x00}, kT0 + 500ms);
    EXPECT_EQ(reader.next(), (Command{0x11, 0, {}}));
    EXPECT_EQ(reader.stats().skippedBytes, 4u);
    EXPECT_EQ(reader.stats().timeouts, 1u);
}

TEST(PanelCodec, EngineReplyReaderRejectsShortLengths)
{
    ReplyReader reader({Dialect::Engine, std::nullopt, 100ms});
    // L = 1 leaves no room for the acknowledgement and command: not a frame.
    feed(reader,
         concat({{0xFF, 0x01, 0x41, 0x41}, encodeReply(Dialect::Engine, 0, {kNak, 0x11, {}})}));
    EXPECT_EQ(reader.next(), (Reply{kNak, 0x11, {}}));
    EXPECT_FALSE(reader.next());
}

TEST(PanelCodec, ResetForgetsPartialAndParsedFrames)
{
    auto reader = lineReplies(1);
    const auto good = encodeReply(Dialect::Line, 1, {kAck, 0x11, {0x01}});
    feed(reader, concat({good, {good.begin(), good.begin() + 3}}));
    reader.reset();
    EXPECT_EQ(reader.pending(), 0u);
    EXPECT_FALSE(reader.next());
    reader.setDisplayId(2);
    feed(reader, good);
    EXPECT_FALSE(reader.next());
    EXPECT_EQ(reader.stats().foreignFrames, 1u);
}

TEST(PanelCodec, ParsesDialectNames)
{
    EXPECT_EQ(parseDialect("line"), Dialect::Line);
    EXPECT_EQ(parseDialect("engine"), Dialect::Engine);
    EXPECT_FALSE(parseDialect("Line"));
    EXPECT_STREQ(dialectName(Dialect::Engine), "engine");
}
