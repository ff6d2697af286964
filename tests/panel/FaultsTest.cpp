// Seeded fault injection and the responder that applies it to the panel's replies.
#include <gtest/gtest.h>

#include <cmath>

#include "host/panel/Faults.h"
#include "host/panel/PanelResponder.h"

using namespace kw::panel;
using namespace std::chrono_literals;

namespace {

using Bytes = std::vector<uint8_t>;

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

TEST(PanelFaults, TheSameSeedRepeatsTheSameFaultsAtRoughlyTheRates)
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

    int silent = 0, nak = 0, corrupt = 0, garbage = 0;
    for (const Bytes& p : a) {
        silent += p[0];
        nak += p[1];
        corrupt += p[2];
        garbage += p.size() > 5;
        EXPECT_NE(p[3], 0);            // the corruption mask flips something
        EXPECT_LE(p.size(), 5u + 8u);  // at most 8 garbage bytes
        EXPECT_FALSE(p[0] && (p[1] || p[2] || p.size() > 5));
    }
    EXPECT_NEAR(silent, 60, 30);
    EXPECT_NEAR(nak, 48, 30);
    EXPECT_NEAR(corrupt, 48, 30);
    EXPECT_NEAR(garbage, 72, 35);

    FaultConfig all;  // rate 1 always, rate 0 never
    all.nakRate = all.corruptRate = all.garbageRate = 1;
    for (const Bytes& p : run(all, 50)) EXPECT_TRUE(p[1] && p[2] && p.size() > 5);
    for (const Bytes& p : run(FaultConfig{}, 50)) EXPECT_EQ(p, (Bytes{0, 0, 0, p[3], p[4]}));
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

TEST(PanelFaults, ResponderAppliesEachFaultAndLeavesTheStateAlone)
{
    auto model = std::make_shared<PanelModel>();
    PanelResponder mute(model, faults(&FaultConfig::silentRate), {});
    EXPECT_TRUE(exchange(mute, Dialect::Line, 0x12, {0x40}).empty());
    EXPECT_EQ(mute.commands(), 1u);
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

TEST(PanelFaults, ResponderAnswersWithItsOwnIdOrTheAddressedOne)
{
    auto model = std::make_shared<PanelModel>();
    PanelResponder fixed(model, nullptr, {Dialect::Line, 3, 200ms});
    EXPECT_TRUE(exchange(fixed, Dialect::Line, 0x11).empty());  // addressed to 1, not to 3
    EXPECT_EQ(fixed.readerStats().foreignFrames, 1u);
    PanelResponder any(model, nullptr, {Dialect::Line, std::nullopt, 200ms});
    EXPECT_EQ(exchange(any, Dialect::Line, 0x11), (std::vector<Reply>{{kAck, 0x11, {1}}}));
}
