#include <gtest/gtest.h>

#include <cmath>

#include "host/panel/Faults.h"
#include "host/panel/PanelResponder.h"

using namespace kw::panel;
using namespace std::chrono_literals;

namespace {

FaultConfig mixed(uint32_t seed)
{
    FaultConfig c;
    c.silentRate = 0.2;
    c.nakRate = 0.2;
    c.corruptRate = 0.2;
    c.garbageRate = 0.3;
    c.seed = seed;
    return c;
}

struct Outcome {
    bool silent, nak, corrupt;
    uint32_t pick;
    uint8_t mask;
    std::vector<uint8_t> garbage;
    bool operator==(const Outcome& o) const
    {
        return silent == o.silent && nak == o.nak && corrupt == o.corrupt && pick == o.pick &&
               mask == o.mask && garbage == o.garbage;
    }
};

std::vector<Outcome> run(FaultInjector& injector, int count)
{
    std::vector<Outcome> outcomes;
    for (int i = 0; i < count; ++i) {
        const FaultPlan p = injector.next();
        outcomes.push_back({p.silent, p.nak, p.corrupt, p.corruptPick, p.corruptMask, p.garbage});
    }
    return outcomes;
}

// What the host sees from one line-dialect exchange with the responder.
std::vector<std::vector<uint8_t>> exchange(PanelResponder& panel, uint8_t cmd,
                                           std::vector<uint8_t> data)
{
    const auto frame = encodeCommand(Dialect::Line, {cmd, 1, std::move(data)});
    std::vector<std::vector<uint8_t>> out;
    for (auto& o : panel.receive(frame.data(), frame.size(), {})) out.push_back(o.bytes);
    return out;
}

}  // namespace

TEST(PanelFaults, TheSameSeedRepeatsTheSameFaults)
{
    FaultInjector a(mixed(42)), b(mixed(42)), c(mixed(43));
    const auto runA = run(a, 300), runB = run(b, 300), runC = run(c, 300);
    EXPECT_EQ(runA, runB);
    EXPECT_NE(runA, runC);

    int silent = 0, nak = 0, corrupt = 0, garbage = 0;
    for (const Outcome& o : runA) {
        silent += o.silent;
        nak += o.nak;
        corrupt += o.corrupt;
        garbage += !o.garbage.empty();
        EXPECT_NE(o.mask, 0);
        EXPECT_LE(o.garbage.size(), 8u);
        EXPECT_FALSE(o.silent && (o.nak || o.corrupt || !o.garbage.empty()));
    }
    // Roughly the configured rates (300 draws; loose bounds).
    EXPECT_NEAR(silent, 60, 30);
    EXPECT_NEAR(nak, 48, 30);
    EXPECT_NEAR(corrupt, 48, 30);
    EXPECT_NEAR(garbage, 72, 35);
}

TEST(PanelFaults, ValidatesRates)
{
    FaultConfig c;
    EXPECT_FALSE(c.validate());
    EXPECT_FALSE(c.any());
    c.nakRate = 1.5;
    EXPECT_EQ(c.validate(), "nak-rate must be between 0 and 1");
    c.nakRate = std::nan("");
    EXPECT_TRUE(c.validate());
    c = FaultConfig{};
    c.delay = -1ms;
    EXPECT_TRUE(c.validate());
}

TEST(PanelFaults, RateOneAlwaysAndRateZeroNever)
{
    FaultConfig all;
    all.nakRate = 1;
    all.corruptRate = 1;
    all.garbageRate = 1;
    FaultInjector always(all);
    FaultInjector never(FaultConfig{});
    for (int i = 0; i < 50; ++i) {
        const FaultPlan p = always.next();
        EXPECT_TRUE(p.nak && p.corrupt && !p.garbage.empty());
        const FaultPlan q = never.next();
        EXPECT_FALSE(q.silent || q.nak || q.corrupt || !q.garbage.empty());
    }
}

TEST(PanelFaults, ResponderSilenceAndNakLeaveTheStateAlone)
{
    auto model = std::make_shared<PanelModel>();
    FaultConfig silent;
    silent.silentRate = 1;
    PanelResponder mute(model, std::make_shared<FaultInjector>(silent), {});
    EXPECT_TRUE(exchange(mute, 0x12, {0x40}).empty());
    EXPECT_EQ(mute.commands(), 1u);

    FaultConfig nak;
    nak.nakRate = 1;
    PanelResponder refusing(model, std::make_shared<FaultInjector>(nak), {});
    const auto out = exchange(refusing, 0x12, {0x40});
    ASSERT_EQ(out.size(), 1u);
    ReplyReader reader({Dialect::Line, 1, 100ms});
    reader.feed(out[0].data(), out[0].size(), {});
    EXPECT_EQ(reader.next(), makeNak(0x12, NakReason::Injected));
    EXPECT_EQ(model->handle(0x12, {}).values, std::vector<uint8_t>{15});
}

TEST(PanelFaults, CorruptionFailsTheChecksumAndGarbageIsSkipped)
{
    for (Dialect dialect : {Dialect::Line, Dialect::Engine}) {
        auto model = std::make_shared<PanelModel>();
        FaultConfig corrupt;
        corrupt.corruptRate = 1;
        corrupt.seed = 7;
        PanelResponder damaged(model, std::make_shared<FaultInjector>(corrupt),
                               {dialect, 1, 200ms});
        FaultConfig garbage;
        garbage.garbageRate = 1;
        garbage.seed = 7;
        PanelResponder noisy(model, std::make_shared<FaultInjector>(garbage), {dialect, 1, 200ms});
        for (int i = 0; i < 100; ++i) {
            const auto frame = encodeCommand(dialect, {0x25, 1, {}});
            ReplyReader reader({dialect, 1, 100ms});
            for (auto& o : damaged.receive(frame.data(), frame.size(), {}))
                reader.feed(o.bytes.data(), o.bytes.size(), {});
            reader.expire(std::chrono::steady_clock::time_point{} + 1s);
            EXPECT_FALSE(reader.next()) << dialectName(dialect);

            // Junk in front of a reply: the reader still finds it, at once.
            ReplyReader clean({dialect, 1, 100ms});
            for (auto& o : noisy.receive(frame.data(), frame.size(), {}))
                clean.feed(o.bytes.data(), o.bytes.size(), {});
            EXPECT_EQ(clean.next(), (Reply{kAck, 0x25, {45}})) << dialectName(dialect);
        }
    }
}

TEST(PanelFaults, ResponderAnswersWithItsOwnIdOrTheAddressedOne)
{
    auto model = std::make_shared<PanelModel>();
    PanelResponder fixed(model, nullptr, {Dialect::Line, 3, 200ms});
    EXPECT_TRUE(exchange(fixed, 0x11, {}).empty());  // addressed to 1, not to 3
    EXPECT_EQ(fixed.readerStats().foreignFrames, 1u);

    PanelResponder any(model, nullptr, {Dialect::Line, std::nullopt, 200ms});
    const auto out = exchange(any, 0x11, {});
    ASSERT_EQ(out.size(), 1u);
    EXPECT_EQ(out[0], encodeReply(Dialect::Line, 1, {kAck, 0x11, {1}}));

    // Delay is carried with the output for the caller to wait out.
    FaultConfig slow;
    slow.delay = 250ms;
    PanelResponder delayed(model, std::make_shared<FaultInjector>(slow), {});
    const auto frame = encodeCommand(Dialect::Line, {0x11, 1, {}});
    const auto outputs = delayed.receive(frame.data(), frame.size(), {});
    ASSERT_EQ(outputs.size(), 1u);
    EXPECT_EQ(outputs[0].delay, 250ms);
}
