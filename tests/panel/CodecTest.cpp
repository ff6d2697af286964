// Panel line frames in both dialects, the resynchronising readers, and seeded fault injection
// with the responder that applies it to the panel's replies.
#include <gtest/gtest.h>

#include <cmath>
#include <stdexcept>

#include "host/panel/Codec.h"
#include "host/panel/Faults.h"
#include "host/panel/PanelResponder.h"

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

template <typename Reader>
void feed(Reader& reader, const Bytes& bytes, std::chrono::steady_clock::time_point at = kT0)
{
    reader.feed(bytes.data(), bytes.size(), at);
}

ReplyReader lineReplies()
{
    return ReplyReader({Dialect::Line, 1, 100ms});
}

const Bytes kGood = encodeReply(Dialect::Line, 1, {kAck, 0x11, {0x01}});

}  // namespace

TEST(PanelCodec, EncodesBothDialectsWithTheSumChecksum)
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
}

TEST(PanelCodec, RoundTripsWholeAndInPieces)
{
    const std::vector<Command> commands = {
        {0x11, 1, {}}, {0xA4, 1, Bytes(15, 0x07)}, {0xFF, 1, Bytes(255, 0xFF)}};
    const std::vector<Reply> replies = {
        {kAck, 0x11, {0x01}}, {kNak, 0x12, {}}, {kAck, 0xA4, Bytes(253, 0xFF)}};
    for (Dialect dialect : {Dialect::Line, Dialect::Engine}) {
        SCOPED_TRACE(dialectName(dialect));
        CommandReader whole({dialect, std::nullopt, 100ms}),
            bytewise({dialect, std::nullopt, 100ms});
        for (const Command& c : commands) {
            const auto frame = encodeCommand(dialect, c);
            feed(whole, frame);
            for (uint8_t b : frame) bytewise.feed(&b, 1, kT0);
            Command expected = c;
            if (dialect == Dialect::Engine) expected.displayId = 0;
            EXPECT_EQ(whole.next(), expected);
            EXPECT_EQ(bytewise.next(), expected);
        }
        EXPECT_EQ(whole.pending(), 0u);

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

TEST(PanelCodec, ReadersSkipGarbageBadChecksumsShortLengthsAndOtherIds)
{
    auto reader = lineReplies();
    auto bad = kGood, badAck = kGood;
    bad.back() ^= 0x20;
    badAck[3] = 'X';
    const auto foreign = encodeReply(Dialect::Line, 2, {kAck, 0x11, {0x00}});
    feed(reader, concat({{0x00, 0x41, 0x13}, bad, foreign, badAck, {0xFF, 0x01, 0x01}, kGood}));
    EXPECT_EQ(reader.next(), (Reply{kAck, 0x11, {0x01}}));
    EXPECT_FALSE(reader.next());
    EXPECT_EQ(reader.pending(), 0u);
    EXPECT_EQ(reader.stats().foreignFrames, 1u);
    EXPECT_GE(reader.stats().badChecksums, 1u);

    // Engine L = 1 leaves no room for the acknowledgement and command: not a frame.
    ReplyReader engine({Dialect::Engine, std::nullopt, 100ms});
    feed(engine,
         concat({{0xFF, 0x01, 0x41, 0x41}, encodeReply(Dialect::Engine, 0, {kNak, 0x11, {}})}));
    EXPECT_EQ(engine.next(), (Reply{kNak, 0x11, {}}));
    EXPECT_FALSE(engine.next());

    // Commands arrive one at a time, as on a line where the host waits for each reply.
    CommandReader commands({Dialect::Line, 3, 100ms});
    auto corrupt = encodeCommand(Dialect::Line, {0x12, 3, {0x20}});
    corrupt[3] ^= 0x01;
    feed(commands, corrupt);
    feed(commands, encodeCommand(Dialect::Line, {0x12, 4, {0x21}}));
    feed(commands, concat({{0x99}, encodeCommand(Dialect::Line, {0x12, 3, {0x22}})}));
    EXPECT_EQ(commands.next(), (Command{0x12, 3, {0x22}}));
    EXPECT_FALSE(commands.next());
    EXPECT_EQ(commands.stats().foreignFrames, 1u);

    // Reset forgets partial and parsed frames; a new display ID makes ours foreign.
    feed(reader, concat({kGood, {kGood.begin(), kGood.begin() + 3}}));
    reader.reset();
    EXPECT_EQ(reader.pending(), 0u);
    EXPECT_FALSE(reader.next());
    reader.setDisplayId(2);
    feed(reader, kGood);
    EXPECT_FALSE(reader.next());
    EXPECT_EQ(reader.stats().foreignFrames, 2u);
}

TEST(PanelCodec, GarbageThatClaimsALongFrameDoesNotHoldTheRealOneBack)
{
    // FF 01 F0 promises a 244-value reply; the real reply follows straight after it.
    auto reader = lineReplies();
    feed(reader, concat({{0xFF, 0x01, 0xF0, 0x41}, kGood}));
    EXPECT_EQ(reader.next(), (Reply{kAck, 0x11, {0x01}}));
    EXPECT_EQ(reader.pending(), 0u);

    auto split = lineReplies();  // the same with the real frame arriving in pieces
    feed(split, {0xFF, 0x01, 0xF0});
    feed(split, {kGood.begin(), kGood.begin() + 3});
    EXPECT_FALSE(split.next());
    feed(split, {kGood.begin() + 3, kGood.end()});
    EXPECT_EQ(split.next(), (Reply{kAck, 0x11, {0x01}}));
}

TEST(PanelCodec, InterByteTimeoutDropsStalledPartialsButKeepsBuriedFrames)
{
    auto reader = lineReplies();
    feed(reader, {kGood.begin(), kGood.begin() + 4}, kT0);  // half a frame, then silence
    feed(reader, kGood, kT0 + 150ms);
    EXPECT_EQ(reader.next(), (Reply{kAck, 0x11, {0x01}}));
    EXPECT_FALSE(reader.next());
    EXPECT_EQ(reader.stats().timeouts, 1u);
    feed(reader, {kGood.begin(), kGood.begin() + 4}, kT0 + 1s);  // within it the halves join
    feed(reader, {kGood.begin() + 4, kGood.end()}, kT0 + 1s + 90ms);
    EXPECT_TRUE(reader.next());
    feed(reader, {0xFF, 0x01}, kT0 + 2s);  // expire() alone drops a stall too
    reader.expire(kT0 + 2s + 50ms);
    EXPECT_EQ(reader.pending(), 2u);
    reader.expire(kT0 + 2s + 101ms);
    EXPECT_EQ(reader.pending(), 0u);

    // Long-frame garbage, a frame, more junk: only the timeout sorts it out, frame kept.
    auto buried = lineReplies();
    feed(buried, concat({{0xFF, 0x01, 0x80, 0x41}, kGood, {0xFF, 0x01}}), kT0);
    EXPECT_FALSE(buried.next());
    buried.expire(kT0 + 200ms);
    EXPECT_EQ(buried.next(), (Reply{kAck, 0x11, {0x01}}));
    EXPECT_EQ(buried.pending(), 0u);

    // Engine commands have no checksum, so a stall loses everything buffered.
    CommandReader engine({Dialect::Engine, std::nullopt, 100ms});
    feed(engine, {0xA4, 0x0F, 0x01, 0x02}, kT0);
    feed(engine, {0x11, 0x00}, kT0 + 500ms);
    EXPECT_EQ(engine.next(), (Command{0x11, 0, {}}));
    EXPECT_EQ(engine.stats().skippedBytes, 4u);
}

namespace {

// The plans of `count` draws, flattened so runs compare as strings of bytes.
std::vector<Bytes> run(FaultConfig config, int count)
{
    FaultInjector injector(config);
    std::vector<Bytes> plans;
    for (int i = 0; i < count; ++i) {
        const FaultPlan p = injector.next();
        Bytes flat{p.silent, p.nak, p.corrupt, p.corruptMask, static_cast<uint8_t>(p.corruptPick)};
        flat.insert(flat.end(), p.garbage.begin(), p.garbage.end());
        plans.push_back(flat);
    }
    return plans;
}

std::shared_ptr<FaultInjector> faults(double FaultConfig::*rate, uint32_t seed = 7)
{
    FaultConfig c;
    c.*rate = 1;
    c.seed = seed;
    return std::make_shared<FaultInjector>(c);
}

// The replies the host reads back from one exchange with the responder.
std::vector<Reply> exchange(PanelResponder& panel, Dialect dialect, uint8_t cmd, Bytes data = {})
{
    const auto frame = encodeCommand(dialect, {cmd, 1, std::move(data)});
    ReplyReader reader({dialect, 1, 100ms});
    for (auto& o : panel.receive(frame.data(), frame.size(), {}))
        reader.feed(o.bytes.data(), o.bytes.size(), {});
    std::vector<Reply> replies;
    while (auto r = reader.next()) replies.push_back(*r);
    reader.expire(std::chrono::steady_clock::time_point{} + 1s);  // a buried frame would show
    while (auto r = reader.next()) replies.push_back(*r);
    return replies;
}

}  // namespace

TEST(PanelFaults, TheSameSeedRepeatsTheSameFaults)
{
    FaultConfig mixed;
    mixed.silentRate = 0.2;
    mixed.nakRate = 0.2;
    mixed.corruptRate = 0.2;
    mixed.garbageRate = 0.3;
    mixed.seed = 42;
    const auto a = run(mixed, 300);
    EXPECT_EQ(a, run(mixed, 300));
    mixed.seed = 43;
    EXPECT_NE(a, run(mixed, 300));

    for (const Bytes& p : a) {
        EXPECT_NE(p[3], 0);            // the corruption mask flips something
        EXPECT_LE(p.size(), 5u + 8u);  // at most 8 garbage bytes
        EXPECT_FALSE(p[0] && (p[1] || p[2] || p.size() > 5));
    }
    FaultConfig all;  // rate 1 always, rate 0 never
    all.nakRate = all.corruptRate = all.garbageRate = 1;
    for (const Bytes& p : run(all, 50)) EXPECT_TRUE(p[1] && p[2] && p.size() > 5);
    for (const Bytes& p : run(FaultConfig{}, 50)) EXPECT_EQ(p, (Bytes{0, 0, 0, p[3], p[4]}));
}

TEST(PanelFaults, ValidatesRates)
{
    FaultConfig c, nan, late;
    EXPECT_FALSE(c.validate());
    c.nakRate = 1.5;
    EXPECT_EQ(c.validate(), "nak-rate must be between 0 and 1");
    nan.nakRate = std::nan("");
    late.delay = -1ms;
    EXPECT_TRUE(nan.validate() && late.validate());
}

TEST(PanelFaults, ResponderAppliesEachFaultAndLeavesTheStateAlone)
{
    auto model = std::make_shared<PanelModel>();
    PanelResponder mute(model, faults(&FaultConfig::silentRate), {});
    EXPECT_TRUE(exchange(mute, Dialect::Line, 0x12, {0x40}).empty());
    PanelResponder refusing(model, faults(&FaultConfig::nakRate), {});
    EXPECT_EQ(exchange(refusing, Dialect::Line, 0x12, {0x40}),
              std::vector<Reply>{makeNak(0x12, NakReason::Injected)});
    EXPECT_EQ(model->handle(0x12, {}).values, Bytes{15});

    // Corruption always fails the checksum; junk in front of a reply never hides it.
    for (Dialect dialect : {Dialect::Line, Dialect::Engine}) {
        SCOPED_TRACE(dialectName(dialect));
        PanelResponder damaged(model, faults(&FaultConfig::corruptRate), {dialect, 1, 200ms});
        PanelResponder noisy(model, faults(&FaultConfig::garbageRate), {dialect, 1, 200ms});
        for (int i = 0; i < 100; ++i) {
            EXPECT_TRUE(exchange(damaged, dialect, 0x25).empty());
            EXPECT_EQ(exchange(noisy, dialect, 0x25), (std::vector<Reply>{{kAck, 0x25, {45}}}));
        }
    }

    FaultConfig slow;  // a delay is carried with the output for the caller to wait out
    slow.delay = 250ms;
    PanelResponder delayed(model, std::make_shared<FaultInjector>(slow), {});
    const auto frame = encodeCommand(Dialect::Line, {0x11, 1, {}});
    const auto outputs = delayed.receive(frame.data(), frame.size(), {});
    ASSERT_EQ(outputs.size(), 1u);
    EXPECT_EQ(outputs[0].delay, 250ms);
}
