// kwsnmpd with Net-SNMP's tools and pysnmp: every writable row, refusals, retransmissions.

#include "E2eSupport.h"

namespace kw::e2e {

struct Row {
    int index;
    const char* set;     // hex text written
    const char* expect;  // what a get reads afterwards
};

// One-byte rows as "index:value", each value one the panel takes that differs from its start.
const char kSingleValueRows[] =
    "0:18 3:00 13:03 14:04 15:3C 16:3D 17:3E 18:3F 19:40 20:41 21:02 23:02 24:01 "
    "25:01 26:01 27:01 28:05 29:42 30:43 31:03 32:02 34:01 35:07 36:01 37:01 39:21 "
    "40:01 41:02 42:01 43:05 44:06 45:07 46:08 47:09 48:01 49:01 61:02 62:01 64:01 "
    "65:01 66:00 67:01 68:01 69:0C 70:03 71:05 74:03 75:01 76:01 78:01 79:02 81:50 "
    "82:01 83:4B 84:00 86:00 ";

const char kTimer[] = "09 1E 00 01 05 2D 01 01 02 3E 03 41 14 18 03";

// Multi-field rows, in an order where each expectation follows from the rows before it.
const Row kMultiFieldRows[] = {
    {11, "01 00 2A 00 01 00 00 00", "01 00 2A 00 01 00 00 00"},
    {38, "02 03 04", "02 03 04"},
    {50, "0F 03 1E 06 07 E8 01", "0F 03 1E 06 07 E8 01"},  // the clock: 15 Jun 2024 3:30 PM
    {63, "01 0A 5A", "01 0A"},                             // three values written, two read
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

TEST_P(RoundTrip, EveryWritableRow)
{
    Rig rig(GetParam());
    ASSERT_TRUE(rig.ok());
    Agent& agent = *rig.agent;
    for (const std::string& row : words(kSingleValueRows)) {
        const std::string value = row.substr(row.find(':') + 1);
        setThenGet(agent, {std::stoi(row), value.c_str(), value.c_str()});
    }
    for (const Row& row : kMultiFieldRows) setThenGet(agent, row);
    for (int timer = 51; timer <= 57; ++timer) setThenGet(agent, {timer, kTimer, kTimer});

    // Rows a manager can only write show their effect through other rows. 12: channel up
    // steps the direct channel (row 11, set to 42 above) by one.
    ASSERT_EQ(agent.set(controlOid(12), "00").exitCode, 0);
    EXPECT_EQ(agent.value(controlOid(11)), "01 00 2B 00 01 00 00 00");
    // 22 and 33: picture position and auto adjustment are taken.
    EXPECT_EQ(agent.set(controlOid(22), "01 32").exitCode, 0);
    EXPECT_EQ(agent.set(controlOid(33), "00").exitCode, 0);
    // 58: holidays added show in the count (59) and the table, in date order; then deleted.
    EXPECT_EQ(agent.value(controlOid(59)), "00");
    ASSERT_EQ(agent.set(controlOid(58), "00 0C 18 0C 1A").exitCode, 0);
    ASSERT_EQ(agent.set(controlOid(58), "00 01 01 01 02").exitCode, 0);
    EXPECT_EQ(agent.value(controlOid(59)), "02");
    for (const char* tool : {"snmpwalk", "snmpbulkwalk"}) {
        const RunResult walk =
            agent.tool(tool, "public", {kControl + std::string(".61")}, 3, "-Oq");
        EXPECT_EQ(walk.exitCode, 0) << walk.output;
        EXPECT_EQ(lines(walk.output), (Args{"." + holidayEntryOid(1) + " \"01 01 01 01 02\"",
                                            "." + holidayEntryOid(2) + " \"02 0C 18 0C 1A\""}));
    }
    ASSERT_EQ(agent.set(controlOid(58), "01 0C 18 0C 1A").exitCode, 0);
    EXPECT_EQ(agent.value(controlOid(59)), "01");
    // 87: a picture reset puts the contrast (16) back to its starting value.
    ASSERT_EQ(agent.set(controlOid(87), "00").exitCode, 0);
    EXPECT_EQ(agent.value(controlOid(16)), "32");
}

// The default agent with both managers: what it refuses before the panel hears of it, the
// errors of a panel that refuses, the default communities, SNMPv1, and whole walks that end.
TEST(Managers, RefusalsErrorsCommunitiesVersionsAndWalks)
{
    Agent agent({"--verbose"});
    ASSERT_TRUE(agent.ok) << agent.process->out();
    const struct {
        const char* version;
        std::string oid, type, value, error;
    } refusals[] = {
        {"2c", controlOid(4), "s", "01", "notWritable"},
        {"2c", holidayEntryOid(1), "s", "01", "notWritable"},
        {"2c", controlOid(3) + ".1", "s", "01", "noCreation"},
        {"2c", controlOid(3), "s", "zz", "wrongValue"},
        {"2c", controlOid(11), "s", "01  02", "wrongValue"},
        {"2c", controlOid(3), "s", "01 02", "wrongLength"},
        {"2c", controlOid(73), "s", "0102030405", "wrongLength"},
        {"2c", controlOid(3), "i", "1", "wrongType"},
        {"1", controlOid(4), "s", "01", "noSuchName"},
        {"1", controlOid(3), "s", "zz", "badValue"},
    };
    for (const auto& r : refusals) {
        SCOPED_TRACE(r.oid + " " + r.value);
        const RunResult set = run({"/usr/bin/snmpset", std::string("-v") + r.version, "-c",
                                   "private", agent.address(), r.oid, r.type, r.value});
        EXPECT_TRUE(failedWith(set, r.error)) << set.output;
    }
    EXPECT_TRUE(failedWith(agent.set(controlOid(3), "01", 3, "public"), "noAccess"));
    EXPECT_NE(agent.get(controlOid(12)).output.find("No Such Instance"), std::string::npos);
    EXPECT_NE(agent.get(controlOid(3) + ".1").output.find("No Such Instance"), std::string::npos);
    EXPECT_NE(agent.get(std::string(kControl) + ".2.0").output.find("No Such Object"),
              std::string::npos);
    EXPECT_EQ(agent.process->out().find("panel cmd"), std::string::npos);
    // The default private writes from loopback sources only; public reads from any.
    EXPECT_TRUE(failedWith(
        fromSource("127.0.0.2", agent.address(), "snmpset", "private", {controlOid(39), "s", "22"}),
        "Timeout"));
    EXPECT_EQ(fromSource("127.0.0.2", agent.address(), "snmpget", "public", {controlOid(3)}).output,
              "\"01\"\n");

    // A whole bulk walk ends: 80 readable scalars (no holidays yet), after the system group.
    const RunResult walk = agent.tool("snmpbulkwalk", "public", {"1.3.6.1"}, 3, "-Oq");
    EXPECT_EQ(walk.exitCode, 0) << walk.output;
    EXPECT_EQ(count(walk.output, "\n." + std::string(kControl) + "."), 80u);
    EXPECT_NE(walk.output.find(std::string(".") + kSysUpTime), std::string::npos);
    // The walk passes over set-only rows.
    EXPECT_EQ(agent.tool("snmpgetnext", "public", {controlOid(11)}, 3, "-Oq")
                  .output.rfind("." + controlOid(13) + " ", 0),
              0u);

    // The panel refuses a volume of 200 (row 39): commitFailed, and nothing changed. Behind
    // a write that went through, it cannot be undone.
    EXPECT_TRUE(failedWith(agent.set(controlOid(39), "C8"), "commitFailed"));
    const RunResult both =
        agent.tool("snmpset", "private", {controlOid(16), "s", "05", controlOid(39), "s", "C8"});
    EXPECT_TRUE(failedWith(both, "undoFailed")) << both.output;
    EXPECT_EQ(agent.value(controlOid(16)), "05");

    // pysnmp, a manager that shares no code with Net-SNMP.
    RunResult result =
        agent.client("set private " + controlOid(51) + " 0a00000106000101017f017f1e2100");
    EXPECT_EQ(result.exitCode, 0) << result.output;
    ASSERT_EQ(agent.client("set private " + controlOid(58) + " 000C180C1A").exitCode, 0);
    // The whole MIB: 80 readable scalars and the one holiday entry, and the walk ends.
    result = agent.client("walk public " + std::string(kControl));
    EXPECT_EQ(result.exitCode, 0) << result.output;
    EXPECT_EQ(lines(result.output).size(), 81u);
    for (const std::string& row :
         {controlOid(3) + " = 01\n", holidayEntryOid(1) + " = 01 0C 18 0C 1A\n",
          controlOid(51) + " = 0A 00 00 01 06 00 01 01 01 7F 01 7F 1E 21 00\n"})
        EXPECT_NE(result.output.find(row), std::string::npos) << row;
    result = agent.client("set private " + controlOid(39) + " C8");
    EXPECT_EQ(result.exitCode, 1);
    EXPECT_EQ(result.output, "error: commitFailed\n");
    EXPECT_EQ(agent.client("get public " + controlOid(39)).output, controlOid(39) + " = 0F\n");
}

INSTANTIATE_TEST_SUITE_P(Panels, RoundTrip,
                         ::testing::Values(PanelKind::InProcess, PanelKind::TcpSim), panelName);

}  // namespace kw::e2e
