// Every writable row of the display MIB, set and read back through kwsnmpd with Net-SNMP's
// tools: with the simulated panel in the process, and with kwpanel-sim on a TCP line.
#include <gtest/gtest.h>

#include "E2eSupport.h"
#include "PanelFixture.h"

namespace kw::e2e {
namespace {

struct Row {
    int index;
    const char* set;     // hex text written
    const char* expect;  // what a get reads afterwards
};

// One-byte rows, each with a value the panel takes that differs from its starting value.
const Row kSingleValueRows[] = {
    {0, "18", "18"},  {3, "00", "00"},  {13, "03", "03"}, {14, "04", "04"}, {15, "3C", "3C"},
    {16, "3D", "3D"}, {17, "3E", "3E"}, {18, "3F", "3F"}, {19, "40", "40"}, {20, "41", "41"},
    {21, "02", "02"}, {23, "02", "02"}, {24, "01", "01"}, {25, "01", "01"}, {26, "01", "01"},
    {27, "01", "01"}, {28, "05", "05"}, {29, "42", "42"}, {30, "43", "43"}, {31, "03", "03"},
    {32, "02", "02"}, {34, "01", "01"}, {35, "07", "07"}, {36, "01", "01"}, {37, "01", "01"},
    {39, "21", "21"}, {40, "01", "01"}, {41, "02", "02"}, {42, "01", "01"}, {43, "05", "05"},
    {44, "06", "06"}, {45, "07", "07"}, {46, "08", "08"}, {47, "09", "09"}, {48, "01", "01"},
    {49, "01", "01"}, {61, "02", "02"}, {62, "01", "01"}, {64, "01", "01"}, {65, "01", "01"},
    {66, "00", "00"}, {67, "01", "01"}, {68, "01", "01"}, {69, "0C", "0C"}, {70, "03", "03"},
    {71, "05", "05"}, {74, "03", "03"}, {75, "01", "01"}, {76, "01", "01"}, {78, "01", "01"},
    {79, "02", "02"}, {81, "50", "50"}, {82, "01", "01"}, {83, "4B", "4B"}, {84, "00", "00"},
    {86, "00", "00"},
};

const char kTimer[] = "09 1E 00 01 05 2D 01 01 02 3E 03 41 14 18 03";

// Multi-field rows, in an order where each expectation follows from the rows before it.
const Row kMultiFieldRows[] = {
    {11, "01 00 2A 00 01 00 00 00", "01 00 2A 00 01 00 00 00"},
    {38, "02 03 04", "02 03 04"},
    {50, "0F 03 1E 06 07 E8 01", "0F 03 1E 06 07 E8 01"},  // the clock: 15 Jun 2024 3:30 PM
    {51, kTimer, kTimer},
    {52, kTimer, kTimer},
    {53, kTimer, kTimer},
    {54, kTimer, kTimer},
    {55, kTimer, kTimer},
    {56, kTimer, kTimer},
    {57, kTimer, kTimer},
    {63, "01 0A 5A", "01 0A"},  // three values written, two read
    {72, "01 03 01 04", "01 03 01 04"},
    {73, "01 02 05 08 1E 14 00", "01 02 05 08 1E 14 00"},  // seven-value form
    {73, "02 03 0A", "02 03 0A 08 1E 14 00"},              // three-value form
    {73, "00 09 09", "00 00 00 08 1E 14 00"},              // off: the module sends 04 00 00
    {77, "22 03", "22 03"},
    {80, "0A 0F 00 5A 07 2D 01 28", "0A 0F 00 5A 07 2D 01 28"},
    {85, "03 00", "03"},  // two values written, one read
};

class RoundTrip : public ::testing::TestWithParam<PanelKind> {};

void setThenGet(Agent& agent, const Row& row)
{
    SCOPED_TRACE("index " + std::to_string(row.index) + " set '" + row.set + "'");
    const RunResult set = agent.set(controlOid(row.index), row.set);
    ASSERT_EQ(set.exitCode, 0) << set.output;
    EXPECT_EQ(agent.value(controlOid(row.index)), row.expect);
}

TEST_P(RoundTrip, SingleValueRows)
{
    Rig rig = startWith(GetParam());
    ASSERT_TRUE(rig.ok());
    for (const Row& row : kSingleValueRows) setThenGet(*rig.agent, row);
}

TEST_P(RoundTrip, MultiFieldRows)
{
    Rig rig = startWith(GetParam());
    ASSERT_TRUE(rig.ok());
    for (const Row& row : kMultiFieldRows) setThenGet(*rig.agent, row);
}

// Rows a manager can only write show their effect through other rows.
TEST_P(RoundTrip, SetOnlyRows)
{
    Rig rig = startWith(GetParam());
    ASSERT_TRUE(rig.ok());
    Agent& agent = *rig.agent;

    // 12: channel up steps the direct channel (row 11) from 7 to 8.
    EXPECT_EQ(agent.value(controlOid(11)), "00 00 07 00 01 00 00 00");
    ASSERT_EQ(agent.set(controlOid(12), "00").exitCode, 0);
    EXPECT_EQ(agent.value(controlOid(11)), "00 00 08 00 01 00 00 00");

    // 22 and 33: picture position and auto adjustment are taken.
    EXPECT_EQ(agent.set(controlOid(22), "01 32").exitCode, 0);
    EXPECT_EQ(agent.set(controlOid(33), "00").exitCode, 0);

    // 58: holidays added show in the count (59) and the table, in date order; then deleted.
    EXPECT_EQ(agent.value(controlOid(59)), "00");
    ASSERT_EQ(agent.set(controlOid(58), "00 0C 18 0C 1A").exitCode, 0);
    ASSERT_EQ(agent.set(controlOid(58), "00 01 01 01 02").exitCode, 0);
    EXPECT_EQ(agent.value(controlOid(59)), "02");
    EXPECT_EQ(agent.value(holidayEntryOid(1)), "01 01 01 01 02");
    EXPECT_EQ(agent.value(holidayEntryOid(2)), "02 0C 18 0C 1A");
    const RunResult walk = agent.walk("1.3.6.1.4.1.32473.1.1.1.61");
    EXPECT_EQ(walk.exitCode, 0) << walk.output;
    EXPECT_EQ(lines(walk.output),
              (std::vector<std::string>{".1.3.6.1.4.1.32473.1.1.1.61.1.2.1 \"01 01 01 01 02\"",
                                        ".1.3.6.1.4.1.32473.1.1.1.61.1.2.2 \"02 0C 18 0C 1A\""}));
    ASSERT_EQ(agent.set(controlOid(58), "01 0C 18 0C 1A").exitCode, 0);
    EXPECT_EQ(agent.value(controlOid(59)), "01");

    // 87: a picture reset puts the contrast (16) back to its starting value.
    ASSERT_EQ(agent.set(controlOid(16), "3D").exitCode, 0);
    ASSERT_EQ(agent.set(controlOid(87), "00").exitCode, 0);
    EXPECT_EQ(agent.value(controlOid(16)), "32");
}

INSTANTIATE_TEST_SUITE_P(Panels, RoundTrip,
                         ::testing::Values(PanelKind::InProcess, PanelKind::TcpSim), panelName);

}  // namespace
}  // namespace kw::e2e
