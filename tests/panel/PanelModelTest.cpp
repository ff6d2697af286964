// The simulated panel's state: the catalogue, sets and gets, the holiday list and the clock.
#include <gtest/gtest.h>

#include <cctype>
#include <map>
#include <sstream>

#include "host/panel/PanelModel.h"

using namespace kw::panel;
using namespace std::chrono_literals;

namespace {

using Bytes = std::vector<uint8_t>;
const auto A = [](uint8_t cmd, Bytes values) { return Reply{kAck, cmd, std::move(values)}; };
const auto nak = [](uint8_t cmd, NakReason r = NakReason::OutOfRange) { return makeNak(cmd, r); };

// Plays {command, data, expected reply} exchanges in order on one model.
void play(PanelModel& model, const std::vector<std::tuple<uint8_t, Bytes, Reply>>& steps)
{
    for (const auto& [cmd, data, expected] : steps)
        EXPECT_EQ(model.handle(cmd, data), expected)
            << std::hex << "cmd " << int(cmd) << " data " << hexBytes(data);
}

}  // namespace

TEST(PanelModel, AnswersEveryCommandOfTheCatalogue)
{
    PanelModel model;
    int known = 0;  // the catalogue: 86 commands, set-only ones refusing an empty set
    for (int cmd = 0; cmd < 256; ++cmd)
        known += !(model.handle(cmd, {}) == nak(cmd, NakReason::UnknownCommand));
    EXPECT_EQ(known, 86);
    play(model, {{0xAA, {}, nak(0xAA, NakReason::UnknownCommand)},
                 {0x01, {0x00}, nak(0x01, NakReason::UnknownCommand)},
                 {0x8A, {}, A(0x8A, {'K', 'W', '-', '5', '5', 'D'})}});
    // Display status: no errors; 41 C inside while powered, 24 C when off.
    play(model, {{0x0D, {}, A(0x0D, {0, 0, 0, 0, 41, 0})},
                 {0x11, {0}, A(0x11, {0})},
                 {0x0D, {}, A(0x0D, {0, 0, 0, 0, 24, 0})},
                 // Direct channel: 1 to 999; channel up and down wrap around.
                 {0x17, {0, 3, 0xE7, 0, 0, 0, 0, 0}, A(0x17, {0, 3, 0xE7, 0, 0, 0, 0, 0})},
                 {0x17, {0, 3, 0xE8, 0, 0, 0, 0, 0}, nak(0x17)},
                 {0x17, {0, 0, 0, 0, 0, 0, 0, 0}, nak(0x17)},
                 {0x61, {0}, A(0x61, {0})},
                 {0x17, {}, A(0x17, {0, 0, 1, 0, 0, 0, 0, 0})},
                 {0x61, {1}, A(0x61, {1})},
                 {0x17, {}, A(0x17, {0, 3, 0xE7, 0, 0, 0, 0, 0})},
                 {0x61, {2}, nak(0x61)}});
}

// The plain registers of the catalogue, "CMD+CMD=FIELD,FIELD": each field "LOW-HIGH/START", or
// "SET/START" for the value lists below. The start values read back; each field takes its ends
// (or every listed value) and refuses the values just outside.
const char kRegisters[] =
    "11+36+70+F9=0-1/1 "
    "71=0-6/1 "
    "58=0-100/80 "
    "24+26+27+28+37+44=0-100/50 "
    "25+38=0-100/45 "
    "42+59+72+73+96=0-4/0 "
    "4A+79=0-2/0 "
    "13+33+3C+47+48+5C+5D+5F+76+77+78+84+86+87+8F+94+9C+9D+9E=0-1/0 "
    "3F=0-10/5 "
    "12=0-100/15 "
    "51+52+53+54+55=0-20/10 "
    "92=0-3/0 "
    "43=0-7/0 "
    "85=75-124/77 "
    "14=S/0x21 "
    "15+18=P/0x01 "
    "3E+75=T/0x01 "
    "40=S/0x14 "
    "0F=0-4/0,0-10/5,0-10/5 "
    "57=1-12/9,0-59/0,0-1/0,0-100/100,1-12/6,0-59/0,0-1/1,0-100/30 "
    "4C=0-1/0,0-4/2,0-4/2,1-4/2 "
    "A3=0-4/0,0-1/1 "
    "A4+A5+A6+AB+AC+AD+AE=1-12/8,0-59/0,0-1/0,0-1/0,1-12/6,0-59/0,0-1/1,0-1/0,0-5/1,0-127/0,0-5/"
    "1,0-127/0,0-100/15,S/0x21,0-3/0 ";
const std::map<char, Bytes> kValueSets = {{'S',
                                           {0x04, 0x08, 0x0C, 0x14, 0x18, 0x1E, 0x1F, 0x20, 0x21,
                                            0x22, 0x23, 0x24, 0x25, 0x30, 0x40, 0x60}},
                                          {'P', {0x01, 0x04, 0x05, 0x06, 0x0B, 0x0C, 0x31}},
                                          {'T', {0x00, 0x01, 0x02, 0x03, 0x04, 0x50}}};

TEST(PanelModel, RegistersStartInRangeTakeTheirEndsAndRefuseBeyond)
{
    PanelModel model;
    std::istringstream items(kRegisters);
    for (std::string item; items >> item;) {
        SCOPED_TRACE(item);
        Bytes start;
        std::vector<std::vector<unsigned>> takes, refuses;
        std::istringstream fields(item.substr(item.find('=') + 1));
        for (std::string f; std::getline(fields, f, ',');) {
            start.push_back(std::stoul(f.substr(f.find('/') + 1), nullptr, 0));
            if (std::isalpha(f[0])) {
                const Bytes& set = kValueSets.at(f[0]);
                takes.emplace_back(set.begin(), set.end());
                refuses.push_back({0xFF});
                continue;
            }
            const unsigned lo = std::stoul(f), hi = std::stoul(f.substr(f.find('-') + 1));
            takes.push_back({lo, hi});
            refuses.emplace_back();
            if (lo > 0) refuses.back().push_back(lo - 1);
            if (hi < 255) refuses.back().push_back(hi + 1);
        }
        std::istringstream cmds(item.substr(0, item.find('=')));
        for (std::string hex; std::getline(cmds, hex, '+');) {
            const uint8_t cmd = std::stoul(hex, nullptr, 16);
            EXPECT_EQ(model.handle(cmd, {}), A(cmd, start));
            for (size_t i = 0; i < start.size(); ++i) {
                Bytes data = start;
                for (unsigned v : takes[i]) {
                    data[i] = v;
                    EXPECT_EQ(model.handle(cmd, data), A(cmd, data));
                }
                for (unsigned v : refuses[i]) {
                    data[i] = v;
                    EXPECT_EQ(model.handle(cmd, data), nak(cmd));
                }
                data[i] = takes[i].back();  // what the refusals left alone
                EXPECT_EQ(model.handle(cmd, {}), A(cmd, data));
                model.handle(cmd, start);
            }
        }
    }
}

TEST(PanelModel, SetsStoreAndEchoRefusalsChangeNothingAndTheHolidayListIsBounded)
{
    PanelModel model;
    const Bytes timer = {7, 30, 0, 1, 10, 15, 1, 1, 2, 0, 5, 0x3E, 20, 0x14, 3};
    play(model, {
                    {0x12, {0x37}, A(0x12, {0x37})},
                    {0x19, {40}, nak(0x19, NakReason::NotSupported)},  // read-only
                    {0x9F, {}, nak(0x9F, NakReason::NotSupported)},    // set-only
                    {0xAB, timer, A(0xAB, timer)},
                    {0xAB, Bytes(14, 1), nak(0xAB, NakReason::WrongLength)},
                    {0xA1, {1, 60, 40}, nak(0xA1)},  // minimum above maximum
                    {0x89, {}, A(0x89, {0x11, 1})},  // video wall: columns, rows; position
                    {0x89, {0x22, 5}, nak(0x89)},
                    {0x89, {0x22, 4}, A(0x89, {0x22, 4})},
                    {0x89, {0x11, 1}, A(0x89, {0x11, 1})},
                    // Direct channel: bytes 1 and 2 carry the channel number, 1 to 999.
                    {0x17, {}, A(0x17, {0, 0, 7, 0, 1, 0, 0, 0})},
                    {0x17, {3, 0, 1, 0, 1, 0, 0, 0}, A(0x17, {3, 0, 1, 0, 1, 0, 0, 0})},
                    {0x17, {0, 3, 0xE7, 0, 1, 0, 0, 0}, A(0x17, {0, 3, 0xE7, 0, 1, 0, 0, 0})},
                    {0x17, {0, 3, 0xE8, 0, 1, 0, 0, 0}, nak(0x17)},
                    {0x17, {4, 0, 7, 0, 1, 0, 0, 0}, nak(0x17)},
                    {0x9F, {1}, A(0x9F, {1})},  // sound reset
                    {0x12, {}, A(0x12, {15})},
                    {0xA1, {}, A(0xA1, {0, 20, 100})},
                    // Resets: 0 picture, 1 sound, 2 all but the power and the source.
                    {0x24, {0}, A(0x24, {0})},
                    {0x12, {0x37}, A(0x12, {0x37})},
                    {0x14, {0x25}, A(0x14, {0x25})},
                    {0x11, {0}, A(0x11, {0})},
                    {0x9F, {0}, A(0x9F, {0})},
                    {0x24, {}, A(0x24, {50})},
                    {0x12, {}, A(0x12, {0x37})},
                    {0x9F, {2}, A(0x9F, {2})},
                    {0x12, {}, A(0x12, {15})},
                    {0x14, {}, A(0x14, {0x25})},
                    {0x11, {}, A(0x11, {0})},
                    {0x9F, {3}, nak(0x9F)},
                });
    EXPECT_EQ(model.handle(0xAC, {}).values[0], 8);  // the other timers keep theirs

    // Safety screen: the host sends 4, 0, 0 for "off"; off clears period and time, so the echo
    // reads as off and a set-then-get round trip agrees.
    const Bytes seven = {2, 4, 10, 22, 0, 6, 30};
    play(model, {{0x5B, {}, A(0x5B, Bytes(7, 0))},
                 {0x5B, {1, 1, 1}, A(0x5B, {1, 1, 1})},
                 {0x5B, {1, 1, 1, 24, 0, 0, 0}, nak(0x5B)},
                 {0x5B, seven, A(0x5B, seven)},
                 {0x5B, {1, 2, 5}, A(0x5B, {1, 2, 5})},  // keeps the schedule
                 {0x5B, {}, A(0x5B, {1, 2, 5, 22, 0, 6, 30})},
                 {0x5B, {4, 0, 0}, A(0x5B, {0, 0, 0})},
                 {0x5B, {}, A(0x5B, {0, 0, 0, 22, 0, 6, 30})},
                 {0x5B, {1, 0, 5}, nak(0x5B)}});  // active needs a period and a time

    // The holiday list adds, counts, lists in date order, deletes, and is bounded.
    play(model, {{0xA9, {}, A(0xA9, {0})},
                 {0xA8, {0, 12, 24, 12, 26}, A(0xA8, {0, 12, 24, 12, 26})},
                 {0xA8, {0, 2, 29, 2, 29}, A(0xA8, {0, 2, 29, 2, 29})},      // leap day, no year
                 {0xA8, {0, 12, 31, 1, 2}, A(0xA8, {0, 12, 31, 1, 2})},      // across the new year
                 {0xA8, {0, 12, 24, 12, 26}, A(0xA8, {0, 12, 24, 12, 26})},  // one copy kept
                 {0xA9, {}, A(0xA9, {3})},
                 {0xA9, {1}, A(0xA9, {1, 2, 29, 2, 29})},  // numbered from 1 in date order
                 {0xA9, {3}, A(0xA9, {3, 12, 31, 1, 2})},
                 {0xA9, {4}, nak(0xA9, NakReason::NotFound)},
                 {0xA8, {2, 1, 1, 1, 1}, nak(0xA8)},  // neither add nor delete
                 {0xA8, {1, 2, 29, 2, 29}, A(0xA8, {1, 2, 29, 2, 29})},
                 {0xA8, {1, 2, 29, 2, 29}, nak(0xA8, NakReason::NotFound)},
                 {0xA9, {1}, A(0xA9, {1, 12, 24, 12, 26})}});

    PanelModel full;
    for (uint8_t day = 1; day <= PanelModel::kMaxHolidays; ++day)
        ASSERT_EQ(full.handle(0xA8, {0, 1, day, 1, day}).ack, kAck);
    EXPECT_EQ(full.handle(0xA8, {0, 2, 1, 2, 1}), nak(0xA8, NakReason::ListFull));
}

TEST(PanelModel, ClockRunsInTwelveHourFormWithAmPm)
{
    // 2024-02-29 23:59:30 UTC, a leap day one minute before midnight.
    std::chrono::system_clock::time_point now(std::chrono::seconds(1709251170));
    PanelModel model({[&] { return now; }, std::chrono::seconds(0)});
    EXPECT_EQ(model.handle(0xA7, {}), A(0xA7, {29, 11, 59, 2, 0x07, 0xE8, 1}));  // 11:59 PM
    now += 30s;  // midnight: 12 AM, never hour 0
    EXPECT_EQ(model.handle(0xA7, {}), A(0xA7, {1, 12, 0, 3, 0x07, 0xE8, 0}));
    now += 12h;  // noon: 12 PM
    EXPECT_EQ(model.handle(0xA7, {}), A(0xA7, {1, 12, 0, 3, 0x07, 0xE8, 1}));
    // The on-time counter runs with the clock, only while powered: 1234 + 12 hours.
    model.handle(0x11, {0});
    now += 5h;
    model.handle(0x11, {1});
    EXPECT_EQ(model.handle(0x83, {}), A(0x83, {1246 >> 8, 1246 & 0xFF}));

    const Bytes newYearsEve = {31, 11, 58, 12, 0x07, 0xE9, 1};  // 2025-12-31 11:58 PM
    const Bytes first = {1, 12, 0, 1, 0x07, 0xD0, 0};           // 2000-01-01 12:00 AM, the earliest
    play(model, {{0xA7, first, A(0xA7, first)},
                 {0xA7, {1, 12, 0, 1, 0x08, 0x34, 0}, nak(0xA7)},  // 2100
                 {0xA7, newYearsEve, A(0xA7, newYearsEve)},
                 {0xA7, {31, 1, 0, 4, 0x07, 0xE9, 0}, nak(0xA7)},   // April 31
                 {0xA7, {29, 1, 0, 2, 0x07, 0xE9, 0}, nak(0xA7)},   // 2025 is not leap
                 {0xA7, {1, 0, 0, 1, 0x07, 0xE9, 0}, nak(0xA7)}});  // hour 0
    now += 2min;  // still running from the last good set
    EXPECT_EQ(model.handle(0xA7, {}), A(0xA7, {1, 12, 0, 1, 0x07, 0xEA, 0}));
}
