// Panel line frames in both dialects and the resynchronising readers. (Injected faults are
// checked end to end, through kwpanel-sim.)
#include <gtest/gtest.h>

#include <stdexcept>

#include "host/panel/Codec.h"

using namespace kw::panel;
using namespace std::chrono_literals;

namespace {

using Bytes = std::vector<uint8_t>;
const std::chrono::steady_clock::time_point kT0{};

Bytes concat(std::initializer_list<Bytes> parts)
{
    Bytes all;
    for (const auto& p : parts) all.insert(all.end(), p.begin(), p.end());
    return all;
}

const auto feed = [](auto& reader, const Bytes& bytes,
                     std::chrono::steady_clock::time_point at = kT0) {
    reader.feed(bytes.data(), bytes.size(), at);
};

const Bytes kGood = encodeReply(Dialect::Line, 1, {kAck, 0x11, {0x01}});

}  // namespace

TEST(PanelCodec, EncodesBothDialectsWithTheSumChecksumAndReadsBackWholeOrInPieces)
{
    EXPECT_EQ(encodeCommand(Dialect::Line, {0x11, 0x05, {0x01}}),
              (Bytes{0x11, 0x05, 0x01, 0x01, 0x18}));
    EXPECT_EQ(encodeCommand(Dialect::Engine, {0x11, 0x05, {0x01}}), (Bytes{0x11, 0x01, 0x01}));
    // The engine reply of the module's own example: FF 03 41 11 01 55.
    EXPECT_EQ(encodeReply(Dialect::Engine, 0, {kAck, 0x11, {0x01}}),
              (Bytes{0xFF, 0x03, 0x41, 0x11, 0x01, 0x55}));
    EXPECT_EQ(kGood, (Bytes{0xFF, 0x01, 0x03, 0x41, 0x11, 0x01, 0x56}));
    EXPECT_THROW(encodeCommand(Dialect::Line, {0x11, 1, Bytes(256)}), std::length_error);
    EXPECT_THROW(encodeReply(Dialect::Line, 1, {kAck, 0x11, Bytes(254)}), std::length_error);
    EXPECT_FALSE(parseDialect("Line"));

    // Round trips, whole and in pieces.
    const std::vector<Command> commands = {
        {0x11, 1, {}}, {0xA4, 1, Bytes(15, 0x07)}, {0xFF, 1, Bytes(255, 0xFF)}};
    const std::vector<Reply> replies = {
        {kAck, 0x11, {0x01}}, {kNak, 0x12, {}}, {kAck, 0xA4, Bytes(253, 0xFF)}};
    for (Dialect dialect : {Dialect::Line, Dialect::Engine}) {
        SCOPED_TRACE(dialectName(dialect));
        CommandReader bytewise({dialect, std::nullopt, 100ms});
        for (Command c : commands) {
            for (uint8_t b : encodeCommand(dialect, c)) bytewise.feed(&b, 1, kT0);
            if (dialect == Dialect::Engine) c.displayId = 0;
            EXPECT_EQ(bytewise.next(), c);
        }

        ReplyReader reader({dialect, 7, 100ms});
        Bytes stream;
        for (const Reply& r : replies) stream = concat({stream, encodeReply(dialect, 7, r)});
        for (size_t at = 0; at < stream.size(); at += 5)  // every frame crosses a chunk boundary
            reader.feed(stream.data() + at, std::min<size_t>(5, stream.size() - at), kT0);
        for (const Reply& r : replies) EXPECT_EQ(reader.next(), r);
        EXPECT_FALSE(reader.next());
        EXPECT_EQ(reader.stats().frames, replies.size());
        EXPECT_EQ(reader.stats().skippedBytes, 0u);
    }
}

TEST(PanelCodec, ReadersSkipGarbageBadChecksumsShortLengthsOtherIdsAndStalls)
{
    ReplyReader reader({Dialect::Line, 1, 100ms});
    auto bad = kGood, badAck = kGood;
    bad.back() ^= 0x20;
    badAck[3] = 'X';
    const auto foreign = encodeReply(Dialect::Line, 2, {kAck, 0x11, {0x00}});
    feed(reader, concat({{0x00, 0x41, 0x13}, bad, foreign, badAck, {0xFF, 0x01, 0x01}, kGood}));
    EXPECT_EQ(reader.next(), (Reply{kAck, 0x11, {0x01}}));
    EXPECT_FALSE(reader.next());
    EXPECT_EQ(reader.pending(), 0u);
    const ReaderStats stats = reader.stats();
    EXPECT_EQ(std::tie(stats.foreignFrames, stats.badChecksums, stats.skippedBytes),
              std::make_tuple(1u, 1u, 20u));

    // Engine L = 1 leaves no room for the acknowledgement and command: not a frame.
    ReplyReader engine({Dialect::Engine, std::nullopt, 100ms});
    feed(engine,
         concat({{0xFF, 0x01, 0x41, 0x41}, encodeReply(Dialect::Engine, 0, {kNak, 0x11, {}})}));
    EXPECT_EQ(engine.next(), (Reply{kNak, 0x11, {}}));
    EXPECT_FALSE(engine.next());

    // FF 01 F0 promises a 244-value reply; the real reply right after it is not held back.
    feed(reader, concat({{0xFF, 0x01, 0xF0, 0x41}, kGood}));
    EXPECT_EQ(reader.next(), (Reply{kAck, 0x11, {0x01}}));
    EXPECT_EQ(reader.pending(), 0u);

    // The inter-byte timeout drops a stalled partial frame, not halves that keep coming.
    feed(reader, {kGood.begin(), kGood.begin() + 4}, kT0);
    feed(reader, kGood, kT0 + 150ms);
    EXPECT_EQ(reader.next(), (Reply{kAck, 0x11, {0x01}}));
    EXPECT_FALSE(reader.next());
    EXPECT_EQ(reader.stats().timeouts, 1u);
    feed(reader, {kGood.begin(), kGood.begin() + 4}, kT0 + 1s);  // within it the halves join
    feed(reader, {kGood.begin() + 4, kGood.end()}, kT0 + 1s + 90ms);
    EXPECT_TRUE(reader.next());

    // Long-frame garbage, a frame, more junk: only the timeout sorts it out, frame kept.
    feed(reader, concat({{0xFF, 0x01, 0x80, 0x41}, kGood, {0xFF, 0x01}}), kT0 + 2s);
    EXPECT_FALSE(reader.next());
    reader.expire(kT0 + 2s + 200ms);
    EXPECT_EQ(reader.next(), (Reply{kAck, 0x11, {0x01}}));
    EXPECT_EQ(reader.pending(), 0u);

    // Engine commands have no checksum, so a stall loses everything buffered.
    CommandReader commands({Dialect::Engine, std::nullopt, 100ms});
    feed(commands, {0xA4, 0x0F, 0x01, 0x02}, kT0);
    feed(commands, {0x11, 0x00}, kT0 + 500ms);
    EXPECT_EQ(commands.next(), (Command{0x11, 0, {}}));
    EXPECT_EQ(commands.stats().skippedBytes, 4u);
}
