#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "host/panel/PanelModel.h"

using namespace kw::panel;
using namespace std::chrono_literals;

namespace {

using Bytes = std::vector<uint8_t>;

// 2024-02-29 23:59:30 UTC, a leap day one minute before midnight.
constexpr int64_t kLeapDayLate = 1709251170;

class FakeTime {
public:
    explicit FakeTime(int64_t seconds) : m_seconds(seconds) {}
    void advance(std::chrono::seconds s) { m_seconds += s.count(); }
    PanelModel::TimeSource source()
    {
        return [this] {
            return std::chrono::system_clock::time_point(std::chrono::seconds(m_seconds.load()));
        };
    }

private:
    std::atomic<int64_t> m_seconds;
};

PanelModel::Options utcAt(FakeTime& time)
{
    return PanelModel::Options{time.source(), std::chrono::seconds(0)};
}

Reply ackOf(uint8_t cmd, Bytes values)
{
    return Reply{kAck, cmd, std::move(values)};
}

}  // namespace

TEST(PanelModel, AnswersEveryCommandOfTheCatalogue)
{
    PanelModel model;
    const Bytes catalogue = {
        0x14, 0x5F, 0x11, 0x19, 0x61, 0x71, 0x15, 0x58, 0x24, 0x25, 0x26, 0x27, 0x28, 0x3E, 0x73,
        0x79, 0x9C, 0x9D, 0x9E, 0x18, 0x37, 0x38, 0x75, 0x96, 0x3D, 0x76, 0x3F, 0x87, 0x94, 0x12,
        0x13, 0x72, 0x78, 0x51, 0x52, 0x53, 0x54, 0x55, 0x48, 0x47, 0x92, 0x86, 0x5D, 0x36, 0x77,
        0x3C, 0x40, 0x42, 0x43, 0x59, 0x84, 0x5C, 0x33, 0x4A, 0x85, 0x8F, 0x44, 0x70, 0xF9, 0x9F,
        0xB0, 0x0B, 0x0E, 0x8A, 0x83, 0x0F, 0x4B, 0x17, 0x0D, 0xA4, 0xA7, 0xAC, 0xAB, 0xA6, 0xA5,
        0x10, 0xA1, 0xA9, 0xA8, 0xAE, 0xAD, 0x57, 0x89, 0x5B, 0x4C, 0xA3};
    for (uint8_t cmd : catalogue) EXPECT_TRUE(model.knows(cmd)) << std::hex << int(cmd);
    EXPECT_EQ(model.commands().size(), catalogue.size());
    EXPECT_EQ(model.handle(0xAA, {}), makeNak(0xAA, NakReason::UnknownCommand));
    EXPECT_EQ(model.handle(0x01, {0x00}), makeNak(0x01, NakReason::UnknownCommand));
}

TEST(PanelModel, SetStoresAndEchoesGetAnswersOutOfRangeIsRefused)
{
    PanelModel model;
    EXPECT_EQ(model.handle(0x11, {}), ackOf(0x11, {0x01}));
    EXPECT_EQ(model.handle(0x12, {0x37}), ackOf(0x12, {0x37}));
    EXPECT_EQ(model.handle(0x12, {}), ackOf(0x12, {0x37}));
    EXPECT_EQ(model.handle(0x12, {101}), makeNak(0x12, NakReason::OutOfRange));
    EXPECT_EQ(model.handle(0x12, {}), ackOf(0x12, {0x37}));  // unchanged by the refusal
    EXPECT_EQ(model.handle(0x12, {1, 2}), makeNak(0x12, NakReason::WrongLength));
    // Sources come from a fixed set, not a range.
    EXPECT_EQ(model.handle(0x14, {0x25}), ackOf(0x14, {0x25}));
    EXPECT_EQ(model.handle(0x14, {0x26}), makeNak(0x14, NakReason::OutOfRange));
    // Read-only values refuse a set; set-only commands refuse a get.
    EXPECT_EQ(model.handle(0x19, {40}), makeNak(0x19, NakReason::NotSupported));
    EXPECT_EQ(model.handle(0x9F, {}), makeNak(0x9F, NakReason::NotSupported));
    EXPECT_EQ(model.handle(0x3D, {0}), ackOf(0x3D, {0}));
    EXPECT_EQ(model.handle(0xA8, {}), makeNak(0xA8, NakReason::NotSupported));
    // KeyLock and PanelLock are one command.
    EXPECT_EQ(model.handle(0x5F, {1}), ackOf(0x5F, {1}));
    EXPECT_EQ(model.handle(0x5F, {}), ackOf(0x5F, {1}));
}

TEST(PanelModel, MultiFieldValuesHaveTheirSizes)
{
    PanelModel model;
    const std::pair<uint8_t, size_t> sizes[] = {
        {0x10, 3}, {0x83, 2}, {0x0D, 6}, {0x0F, 3}, {0x17, 8}, {0xA4, 15}, {0xAE, 15},
        {0xA7, 7}, {0xA1, 3}, {0x57, 8}, {0x89, 2}, {0x5B, 7}, {0x4C, 4},  {0xA3, 2}};
    for (auto [cmd, size] : sizes) {
        const Reply r = model.handle(cmd, {});
        EXPECT_EQ(r.ack, kAck) << std::hex << int(cmd);
        EXPECT_EQ(r.values.size(), size) << std::hex << int(cmd);
    }
    EXPECT_EQ(model.handle(0x8A, {}), ackOf(0x8A, Bytes{'K', 'W', '-', '5', '5', 'D'}));
    const Reply serial = model.handle(0x0B, {});
    EXPECT_LE(serial.values.size(), 18u);
    EXPECT_EQ(std::string(serial.values.begin(), serial.values.end()).substr(0, 2), "KW");
    EXPECT_EQ(model.handle(0x0E, {}).values.size(), 10u);

    const Bytes timer = {7, 30, 0, 1, 10, 15, 1, 1, 2, 0, 5, 0x3E, 20, 0x14, 3};
    EXPECT_EQ(model.handle(0xAB, timer), ackOf(0xAB, timer));
    EXPECT_EQ(model.handle(0xAB, {}), ackOf(0xAB, timer));
    EXPECT_EQ(model.handle(0xAC, {}).values[0], 8);  // the other timers keep theirs
    Bytes badHour = timer;
    badHour[0] = 0;
    EXPECT_EQ(model.handle(0xAB, badHour), makeNak(0xAB, NakReason::OutOfRange));
    EXPECT_EQ(model.handle(0xAB, Bytes(14, 1)), makeNak(0xAB, NakReason::WrongLength));
}

TEST(PanelModel, CrossFieldChecks)
{
    PanelModel model;
    EXPECT_EQ(model.handle(0x89, {0x23, 6}), ackOf(0x89, {0x23, 6}));  // 2 x 3 wall, last
    EXPECT_EQ(model.handle(0x89, {0x23, 7}).ack, kNak);
    EXPECT_EQ(model.handle(0x89, {0x20, 1}).ack, kNak);    // no rows
    EXPECT_EQ(model.handle(0xA1, {1, 60, 40}).ack, kNak);  // minimum above maximum
    EXPECT_EQ(model.handle(0xA1, {1, 40, 60}).ack, kAck);
    EXPECT_EQ(model.handle(0x17, {0, 0, 0, 0, 0, 0, 0, 0}).ack, kNak);        // channel 0
    EXPECT_EQ(model.handle(0x17, {1, 0x03, 0xE7, 0, 0, 0, 0, 0}).ack, kAck);  // 999
}

TEST(PanelModel, ChannelStepsWrapAndResetRestoresDefaults)
{
    PanelModel model;
    ASSERT_EQ(model.handle(0x17, {0, 0x03, 0xE7, 0, 1, 0, 0, 0}).ack, kAck);
    EXPECT_EQ(model.handle(0x61, {0}), ackOf(0x61, {0}));
    EXPECT_EQ(model.handle(0x17, {}).values, (Bytes{0, 0, 1, 0, 1, 0, 0, 0}));
    EXPECT_EQ(model.handle(0x61, {1}).ack, kAck);
    EXPECT_EQ(model.handle(0x17, {}).values, (Bytes{0, 0x03, 0xE7, 0, 1, 0, 0, 0}));
    EXPECT_EQ(model.handle(0x61, {}).ack, kNak);

    model.handle(0x24, {90});  // contrast: picture
    model.handle(0x12, {90});  // volume: sound
    model.handle(0x11, {0});   // power: kept by every reset
    EXPECT_EQ(model.handle(0x9F, {1}), ackOf(0x9F, {1}));
    EXPECT_EQ(model.handle(0x12, {}).values, Bytes{15});
    EXPECT_EQ(model.handle(0x24, {}).values, Bytes{90});
    EXPECT_EQ(model.handle(0x9F, {2}).ack, kAck);
    EXPECT_EQ(model.handle(0x24, {}).values, Bytes{50});
    EXPECT_EQ(model.handle(0x11, {}).values, Bytes{0});
    EXPECT_EQ(model.handle(0x9F, {3}).ack, kNak);
}

TEST(PanelModel, HolidayListAddsCountsListsAndDeletes)
{
    PanelModel model;
    EXPECT_EQ(model.handle(0xA9, {}), ackOf(0xA9, {0}));
    EXPECT_EQ(model.handle(0xA8, {0, 12, 24, 12, 26}), ackOf(0xA8, {0, 12, 24, 12, 26}));
    EXPECT_EQ(model.handle(0xA8, {0, 2, 29, 2, 29}).ack, kAck);    // leap day has no year
    EXPECT_EQ(model.handle(0xA8, {0, 12, 31, 1, 2}).ack, kAck);    // across the new year
    EXPECT_EQ(model.handle(0xA8, {0, 12, 24, 12, 26}).ack, kAck);  // already held: one copy
    EXPECT_EQ(model.handle(0xA9, {}), ackOf(0xA9, {3}));
    // Entries are numbered from 1 in date order, the number coming back first.
    EXPECT_EQ(model.handle(0xA9, {1}), ackOf(0xA9, {1, 2, 29, 2, 29}));
    EXPECT_EQ(model.handle(0xA9, {3}), ackOf(0xA9, {3, 12, 31, 1, 2}));
    EXPECT_EQ(model.handle(0xA9, {0}), makeNak(0xA9, NakReason::NotFound));
    EXPECT_EQ(model.handle(0xA9, {4}), makeNak(0xA9, NakReason::NotFound));
    EXPECT_EQ(model.handle(0xA9, {1, 2}), makeNak(0xA9, NakReason::WrongLength));

    EXPECT_EQ(model.handle(0xA8, {0, 2, 30, 3, 1}), makeNak(0xA8, NakReason::OutOfRange));
    EXPECT_EQ(model.handle(0xA8, {0, 13, 1, 1, 1}), makeNak(0xA8, NakReason::OutOfRange));
    EXPECT_EQ(model.handle(0xA8, {2, 1, 1, 1, 1}), makeNak(0xA8, NakReason::OutOfRange));
    EXPECT_EQ(model.handle(0xA8, {0, 1, 1, 1}), makeNak(0xA8, NakReason::WrongLength));

    EXPECT_EQ(model.handle(0xA8, {1, 2, 29, 2, 29}), ackOf(0xA8, {1, 2, 29, 2, 29}));
    EXPECT_EQ(model.handle(0xA8, {1, 2, 29, 2, 29}), makeNak(0xA8, NakReason::NotFound));
    EXPECT_EQ(model.handle(0xA9, {}), ackOf(0xA9, {2}));
    EXPECT_EQ(model.handle(0xA9, {1}), ackOf(0xA9, {1, 12, 24, 12, 26}));
}

TEST(PanelModel, HolidayListIsBounded)
{
    PanelModel model;
    for (uint8_t day = 1; day <= PanelModel::kMaxHolidays; ++day)
        ASSERT_EQ(model.handle(0xA8, {0, 1, day, 1, day}).ack, kAck);
    EXPECT_EQ(model.handle(0xA8, {0, 2, 1, 2, 1}), makeNak(0xA8, NakReason::ListFull));
    EXPECT_EQ(model.handle(0xA9, {}).values, Bytes{PanelModel::kMaxHolidays});
}

TEST(PanelModel, ClockRunsInTwelveHourFormWithAmPm)
{
    FakeTime time(kLeapDayLate);
    PanelModel model(utcAt(time));
    // 2024-02-29 11:59 PM.
    EXPECT_EQ(model.handle(0xA7, {}), ackOf(0xA7, {29, 11, 59, 2, 0x07, 0xE8, 1}));
    time.advance(30s);  // midnight: 12 AM, never hour 0
    EXPECT_EQ(model.handle(0xA7, {}), ackOf(0xA7, {1, 12, 0, 3, 0x07, 0xE8, 0}));
    time.advance(12h);  // noon: 12 PM
    EXPECT_EQ(model.handle(0xA7, {}), ackOf(0xA7, {1, 12, 0, 3, 0x07, 0xE8, 1}));
    time.advance(65min);
    EXPECT_EQ(model.handle(0xA7, {}), ackOf(0xA7, {1, 1, 5, 3, 0x07, 0xE8, 1}));
    // The hour field is 1 to 12 all day long.
    for (int hour = 0; hour < 24; ++hour) {
        time.advance(1h);
        const uint8_t h = model.handle(0xA7, {}).values[1];
        EXPECT_GE(h, 1);
        EXPECT_LE(h, 12);
    }
}

TEST(PanelModel, ClockSetStartsFromTheGivenMinuteAndKeepsRunning)
{
    FakeTime time(kLeapDayLate);
    PanelModel model(utcAt(time));
    const Bytes newYearsEve = {31, 11, 58, 12, 0x07, 0xE9, 1};  // 2025-12-31 11:58 PM
    EXPECT_EQ(model.handle(0xA7, newYearsEve), ackOf(0xA7, newYearsEve));
    EXPECT_EQ(model.handle(0xA7, {}), ackOf(0xA7, newYearsEve));
    time.advance(2min);
    EXPECT_EQ(model.handle(0xA7, {}), ackOf(0xA7, {1, 12, 0, 1, 0x07, 0xEA, 0}));

    EXPECT_EQ(model.handle(0xA7, {31, 1, 0, 4, 0x07, 0xE9, 0}).ack, kNak);  // April 31
    EXPECT_EQ(model.handle(0xA7, {29, 1, 0, 2, 0x07, 0xE9, 0}).ack, kNak);  // 2025 not leap
    EXPECT_EQ(model.handle(0xA7, {1, 0, 0, 1, 0x07, 0xE9, 0}).ack, kNak);   // hour 0
    EXPECT_EQ(model.handle(0xA7, {1, 13, 0, 1, 0x07, 0xE9, 0}).ack, kNak);
    EXPECT_EQ(model.handle(0xA7, {1, 1, 60, 1, 0x07, 0xE9, 0}).ack, kNak);
    EXPECT_EQ(model.handle(0xA7, {1, 1, 0, 1, 0x07, 0xE9, 2}).ack, kNak);
    EXPECT_EQ(model.handle(0xA7, {1, 1, 0, 1, 0x07, 0xCF, 0}).ack, kNak);  // 1999
    EXPECT_EQ(model.handle(0xA7, {1, 1, 0, 1, 0x07}).ack, kNak);
    time.advance(1min);
    EXPECT_EQ(model.handle(0xA7, {}).values[2], 1);  // still running from the last good set
}

TEST(PanelModel, OnTimeCountsOnlyWhilePowered)
{
    FakeTime time(kLeapDayLate);
    PanelModel model(utcAt(time));
    const Bytes start = model.handle(0x83, {}).values;
    const int startHours = start[0] << 8 | start[1];
    time.advance(2h);
    Bytes now = model.handle(0x83, {}).values;
    EXPECT_EQ(now[0] << 8 | now[1], startHours + 2);
    model.handle(0x11, {0});
    time.advance(5h);
    now = model.handle(0x83, {}).values;
    EXPECT_EQ(now[0] << 8 | now[1], startHours + 2);
    EXPECT_EQ(model.handle(0x0D, {}).values, (Bytes{0, 0, 0, 0, 24, 0}));  // cooled down
    model.handle(0x11, {1});
    time.advance(1h);
    now = model.handle(0x83, {}).values;
    EXPECT_EQ(now[0] << 8 | now[1], startHours + 3);
    EXPECT_EQ(model.handle(0x0D, {}).values[4], 41);
    EXPECT_EQ(model.handle(0x0D, {1, 2, 3, 4, 5, 6}).ack, kNak);
}

TEST(PanelModel, SafetyScreenSevenFieldGetThreeOrSevenFieldSet)
{
    PanelModel model;
    EXPECT_EQ(model.handle(0x5B, {}), ackOf(0x5B, {0, 0, 0, 0, 0, 0, 0}));
    const Bytes seven = {2, 4, 10, 22, 0, 6, 30};
    EXPECT_EQ(model.handle(0x5B, seven), ackOf(0x5B, seven));
    EXPECT_EQ(model.handle(0x5B, {}), ackOf(0x5B, seven));
    // Three fields change type, period and time and keep the schedule.
    EXPECT_EQ(model.handle(0x5B, {1, 2, 5}), ackOf(0x5B, {1, 2, 5}));
    EXPECT_EQ(model.handle(0x5B, {}), ackOf(0x5B, {1, 2, 5, 22, 0, 6, 30}));
    // The host sends 4, 0, 0 for "off"; off clears period and time, so the echo reads as off.
    EXPECT_EQ(model.handle(0x5B, {4, 0, 0}), ackOf(0x5B, {0, 0, 0}));
    EXPECT_EQ(model.handle(0x5B, {}), ackOf(0x5B, {0, 0, 0, 22, 0, 6, 30}));
    // The engine route has no such rewriting: 0 with a period is "off" too.
    EXPECT_EQ(model.handle(0x5B, {0, 7, 9}), ackOf(0x5B, {0, 0, 0}));
    // An active screen needs a period and a time: a zero would read back as "off".
    EXPECT_EQ(model.handle(0x5B, {1, 0, 5}).ack, kNak);
    EXPECT_EQ(model.handle(0x5B, {1, 5, 0}).ack, kNak);
    EXPECT_EQ(model.handle(0x5B, {5, 1, 1}).ack, kNak);
    EXPECT_EQ(model.handle(0x5B, {1, 1, 1, 24, 0, 0, 0}).ack, kNak);
    EXPECT_EQ(model.handle(0x5B, {1, 1, 1, 1}), makeNak(0x5B, NakReason::WrongLength));
}

TEST(PanelModel, ConcurrentCommandsKeepTheStateConsistent)
{
    PanelModel model;
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&model, t] {
            for (int i = 0; i < 200; ++i) {
                const auto value = static_cast<uint8_t>((t * 200 + i) % 101);
                EXPECT_EQ(model.handle(0x25, {value}).ack, kAck);
                EXPECT_LE(model.handle(0x25, {}).values.at(0), 100);
                model.handle(0xA8, {static_cast<uint8_t>(i % 2), 5, 5, 5, 5});
                model.handle(0xA7, {});
            }
        });
    }
    for (auto& t : threads) t.join();
    EXPECT_LE(model.handle(0xA9, {}).values.at(0), 1);
}
