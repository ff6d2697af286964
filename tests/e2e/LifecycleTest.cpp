// kwsnmpd as a program: the operator's configuration, a panel
// line that drops and comes back, shutdown under load, and a second, independent manager.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <fstream>
#include <future>
#include <thread>

#include "E2eSupport.h"

namespace kw::e2e {
namespace {

using namespace std::chrono_literals;

TEST(Configuration, DefaultCommunitiesAndTheOperatorsOwn)
{
    {
        Agent agent({});
        ASSERT_TRUE(agent.ok()) << agent.process().err();
        EXPECT_NE(agent.process().err().find("listening on udp:" + agent.address() +
                                             ", panel sim, display ID 1"),
                  std::string::npos);
        EXPECT_EQ(agent.value(controlOid(3)), "01");
        EXPECT_NE(agent.set(controlOid(39), "23", 2, "public").exitCode, 0);
        EXPECT_EQ(agent.set(controlOid(39), "23", 2, "private").exitCode, 0);
        EXPECT_NE(agent.get(controlOid(3), 1, "nobody").output.find("Timeout"), std::string::npos);
    }
    // An operator's snmpd.conf replaces the defaults.
    TempDir dir;
    std::ofstream(dir.file("snmpd.conf")) << "rocommunity sesame default\n"
                                             "rwcommunity opensesame default\n";
    Agent agent({"--config", dir.path()});
    ASSERT_TRUE(agent.ok()) << agent.process().err();
    EXPECT_EQ(agent.get(controlOid(3), 2, "sesame").exitCode, 0);
    EXPECT_EQ(agent.set(controlOid(39), "22", 2, "opensesame").exitCode, 0);
    EXPECT_NE(agent.get(controlOid(39), 1).exitCode, 0);  // public is not configured
    EXPECT_NE(agent.set(controlOid(39), "23", 2, "sesame").exitCode, 0);
}

TEST(Configuration, ShippedExampleAndSnmpV3Users)
{
    // The example in conf/ works as it stands (its address overridden by --listen).
    {
        Agent agent({"--config", sourceFile("conf")});
        ASSERT_TRUE(agent.ok()) << agent.process().err();
        EXPECT_EQ(agent.value(controlOid(3)), "01");
    }
    // A v3 user with authentication and privacy, as its commented lines show.
    TempDir dir;
    std::ofstream(dir.file("snmpd.conf"))
        << "createUser kwadmin SHA \"kw-auth-phrase\" AES \"kw-priv-phrase\"\n"
           "rwuser kwadmin priv\n";
    Agent agent({"--config", dir.path()});
    ASSERT_TRUE(agent.ok()) << agent.process().err();
    auto v3 = [&](const std::string& tool, const std::string& rest) {
        return run(words("/usr/bin/" + tool +
                         " -v3 -u kwadmin -l authPriv -a SHA -A kw-auth-phrase -x AES"
                         " -X kw-priv-phrase -t 3 -r 0 -Oqv " +
                         agent.address() + " " + rest));
    };
    const RunResult set = v3("snmpset", controlOid(39) + " s 2B");
    EXPECT_EQ(set.exitCode, 0) << set.output;
    const RunResult get = v3("snmpget", controlOid(39));
    EXPECT_EQ(get.exitCode, 0) << get.output;
    EXPECT_EQ(get.output, "\"2B\"\n");
    EXPECT_NE(agent.get(controlOid(39), 1).exitCode, 0);  // no community configured
}

// A TCP panel down at start, or dropping later, is retried in the background; meanwhile
// requests fail at once and the agent keeps answering.
TEST(PanelLine, DownAtStartThenDropAndComeBack)
{
    const uint16_t panelPort = freePort(SOCK_STREAM);
    Agent agent({"--panel", "tcp:127.0.0.1:" + std::to_string(panelPort)});
    ASSERT_TRUE(agent.ok()) << agent.process().err();
    EXPECT_NE(agent.process().err().find("not reachable yet"), std::string::npos);
    auto connections = [&] {
        const std::string err = agent.process().err();
        int count = 0;
        for (size_t at = err.find(": connected"); at != std::string::npos;
             at = err.find(": connected", at + 1))
            ++count;
        return count;
    };
    std::unique_ptr<PanelSim> sim;
    for (int round = 1; round <= 2; ++round) {
        SCOPED_TRACE(round);
        const RunResult refused = agent.get(controlOid(3));
        EXPECT_TRUE(isGenErr(refused)) << refused.output;
        EXPECT_LT(refused.seconds, 2.0);
        EXPECT_EQ(agent.get(kSysUpTime).exitCode, 0);

        sim = std::make_unique<PanelSim>(PanelSim::Endpoint::Tcp, std::vector<std::string>{},
                                         panelPort);
        ASSERT_TRUE(sim->ok());
        for (const auto deadline = Clock::now() + 10s; connections() < round;) {
            ASSERT_LT(Clock::now(), deadline) << agent.process().err();
            std::this_thread::sleep_for(20ms);
        }
        EXPECT_EQ(agent.value(controlOid(3)), "01");
        if (round == 1) {
            ASSERT_TRUE(sim->stop());
            ASSERT_TRUE(agent.process().waitForErr("line down", 5s)) << agent.process().err();
        }
    }
}

// Managers keep the agent busy (walks and sets); SIGTERM lands while requests are in flight.
TEST(Shutdown, UnderLoadExitsCleanlyWithinTwoSeconds)
{
    Agent agent({"--verbose"});
    ASSERT_TRUE(agent.ok()) << agent.process().err();
    TempDir dir;
    std::vector<std::unique_ptr<Process>> managers;
    for (int i = 0; i < 5; ++i) {
        const std::string out = dir.file(std::to_string(i));
        managers.push_back(std::make_unique<Process>(
            i < 3 ? agent.toolArgs("/usr/bin/snmpwalk", "public", 5, {kControl})
                  : agent.toolArgs("/usr/bin/snmpset", "private", 5,
                                   {controlOid(39), "s", "1" + std::to_string(i)}),
            out, out));
    }
    // Several commands have gone to the panel: the agent is busy.
    for (int count = 0; count < 5; std::this_thread::sleep_for(20ms)) {
        ASSERT_TRUE(agent.process().waitForErr("kwsnmpd: panel cmd", 10s));
        count = 0;
        for (const std::string& line : lines(agent.process().err()))
            count += line.rfind("kwsnmpd: panel cmd", 0) == 0;
    }
    const auto [status, seconds] = agent.stop(SIGTERM);
    EXPECT_TRUE(exitedZero(status)) << agent.process().err();
    EXPECT_LT(seconds, kStopLimitSeconds);
}

// A silent panel holds a command for the module's whole wait; SIGINT must not wait for it.
TEST(Shutdown, WithACommandOutstandingOnASilentPanel)
{
    Agent agent({"--silent-rate", "1"});
    ASSERT_TRUE(agent.ok()) << agent.process().err();
    auto pending = std::async(std::launch::async, [&] { return agent.get(controlOid(3), 15); });
    // Let the request reach the panel; the outcome below holds however far it got.
    std::this_thread::sleep_for(500ms);
    const auto [status, seconds] = agent.stop(SIGINT);
    EXPECT_TRUE(exitedZero(status)) << agent.process().err();
    EXPECT_LT(seconds, kStopLimitSeconds);
    EXPECT_NE(pending.get().exitCode, 0);
}

// pysnmp, a manager that shares no code with Net-SNMP.
TEST(IndependentManager, GetSetWalkAndErrors)
{
    Agent agent({});
    ASSERT_TRUE(agent.ok()) << agent.process().err();
    EXPECT_EQ(agent.client("get public " + controlOid(3)).output, controlOid(3) + " = 01\n");
    const std::string timer = "0A 00 00 01 06 00 01 01 01 7F 01 7F 1E 21 00";
    RunResult result =
        agent.client("set private " + controlOid(51) + " 0a00000106000101017f017f1e2100");
    EXPECT_EQ(result.exitCode, 0) << result.output;
    EXPECT_EQ(agent.client("get public " + controlOid(51)).output,
              controlOid(51) + " = " + timer + "\n");
    EXPECT_EQ(agent.client("get public " + controlOid(8)).output,  // text row
              controlOid(8) + " = KW55D24A0012345\n");

    ASSERT_EQ(agent.client("set private " + controlOid(58) + " 000C180C1A").exitCode, 0);
    result = agent.client("walk public " + std::string(kControl) + ".61");
    EXPECT_EQ(result.exitCode, 0) << result.output;
    EXPECT_EQ(result.output, holidayEntryOid(1) + " = 01 0C 18 0C 1A\n");
    // The whole MIB: 80 readable scalars and the one holiday entry, and the walk ends.
    result = agent.client("walk public " + std::string(kControl));
    EXPECT_EQ(result.exitCode, 0) << result.output;
    EXPECT_EQ(lines(result.output).size(), 81u);

    // The panel refuses a volume of 200: commitFailed, and nothing changed.
    result = agent.client("set private " + controlOid(39) + " C8");
    EXPECT_EQ(result.exitCode, 1);
    EXPECT_EQ(result.output, "error: commitFailed\n");
    EXPECT_EQ(agent.client("get public " + controlOid(39)).output, controlOid(39) + " = 0F\n");
}

}  // namespace
}  // namespace kw::e2e
