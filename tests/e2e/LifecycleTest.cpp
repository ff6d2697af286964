// kwsnmpd as a program: the operator's configuration, a panel line that drops and comes back,
// and shutdown under load or with a command outstanding.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/socket.h>

#include <fstream>
#include <future>
#include <regex>
#include <sstream>
#include <thread>

#include "E2eSupport.h"

namespace kw::e2e {
namespace {

using namespace std::chrono_literals;

// Waits until `count` lines of kwsnmpd's standard error hold `needle`.
bool waitForLines(Agent& agent, const std::string& needle, int count)
{
    for (const auto deadline = Clock::now() + 10s; Clock::now() < deadline;
         std::this_thread::sleep_for(20ms)) {
        int seen = 0;
        for (const std::string& line : lines(agent.process().err()))
            seen += line.find(needle) != std::string::npos;
        if (seen >= count) return true;
    }
    return false;
}

// The shipped example with its communities renamed and its v3 user switched on replaces the
// defaults entirely.
TEST(Configuration, OperatorsOwnCommunitiesAndSnmpV3User)
{
    std::ifstream example(sourceFile("conf/snmpd.conf"));
    std::stringstream text;
    text << example.rdbuf();
    std::string conf = std::regex_replace(text.str(), std::regex(" public "), " sesame ");
    conf = std::regex_replace(conf, std::regex(" private "), " opensesame ");
    conf = std::regex_replace(conf, std::regex("#(createUser|rwuser)"), "$1");
    conf = std::regex_replace(conf, std::regex("change-this-"), "kw-");
    TempDir dir;
    std::ofstream(dir.file("snmpd.conf")) << conf;
    Agent agent({"--config", dir.path()});
    ASSERT_TRUE(agent.ok()) << agent.process().err();
    EXPECT_EQ(agent.get(controlOid(3), 2, "sesame").exitCode, 0);
    EXPECT_EQ(agent.set(controlOid(39), "22", 2, "opensesame").exitCode, 0);
    EXPECT_NE(agent.get(controlOid(39), 1).exitCode, 0);  // public is not configured
    EXPECT_NE(agent.set(controlOid(39), "23", 2, "sesame").exitCode, 0);
    auto v3 = [&](const std::string& tool, const std::string& rest) {
        return run(words("/usr/bin/" + tool +
                         " -v3 -u kwadmin -l authPriv -a SHA -A kw-auth-phrase -x AES"
                         " -X kw-priv-phrase -t 3 -r 0 -Oqv " +
                         agent.address() + " " + rest));
    };
    EXPECT_EQ(v3("snmpset", controlOid(39) + " s 2B").exitCode, 0);
    EXPECT_EQ(v3("snmpget", controlOid(39)).output, "\"2B\"\n");
}

// A TCP panel down at start, or dropping later, is retried in the background; meanwhile
// requests fail at once and the agent keeps answering.
TEST(PanelLine, DownAtStartThenDropAndComeBack)
{
    const uint16_t panelPort = freePort(SOCK_STREAM);
    Agent agent({"--panel", "tcp:127.0.0.1:" + std::to_string(panelPort)});
    ASSERT_TRUE(agent.ok()) << agent.process().err();
    EXPECT_NE(agent.process().err().find("not reachable yet"), std::string::npos);
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
        ASSERT_TRUE(waitForLines(agent, ": connected", round)) << agent.process().err();
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
    ASSERT_TRUE(waitForLines(agent, "kwsnmpd: panel cmd", 5));
    const auto [status, seconds] = agent.stop(SIGTERM);
    EXPECT_TRUE(exitedZero(status)) << agent.process().err();
    EXPECT_LT(seconds, kStopLimitSeconds);
}

// A silent panel holds a command for the module's whole wait; SIGINT must not wait for it.
TEST(Shutdown, WithACommandOutstandingOnASilentPanel)
{
    Agent agent({"--silent-rate", "1", "--verbose"});
    ASSERT_TRUE(agent.ok()) << agent.process().err();
    auto pending = std::async(std::launch::async, [&] { return agent.get(controlOid(3), 15); });
    ASSERT_TRUE(agent.process().waitForErr("kwsnmpd: panel cmd", 10s));
    const auto [status, seconds] = agent.stop(SIGINT);
    EXPECT_TRUE(exitedZero(status)) << agent.process().err();
    EXPECT_LT(seconds, kStopLimitSeconds);
    EXPECT_NE(pending.get().exitCode, 0);
}

}  // namespace
}  // namespace kw::e2e
