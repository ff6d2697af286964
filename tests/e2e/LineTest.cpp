// A TCP panel that stops answering without closing its connection.
#include <signal.h>

#include "E2eSupport.h"

namespace kw::e2e {
namespace {

using namespace std::chrono_literals;

// kwpanel-sim answers every command after 3.5 s, longer than the protocol service used to
// wait: the reply still reaches the manager. Stopped with SIGSTOP, its connection stays open
// and silent: kwsnmpd reports the line down within 30 s, refuses commands at once from then on,
// and reports it up again once the panel runs again.
TEST(SilentPanel, StoppedPanelIsReportedDownAndRefusedUntilItRunsAgain)
{
    PanelSim sim(PanelSim::Endpoint::Tcp, {"--delay-ms", "3500"});
    ASSERT_TRUE(sim.ok());
    const std::string panel = "panel tcp:127.0.0.1:" + std::to_string(sim.port());
    Agent agent({"--panel", panel.substr(6)});
    ASSERT_TRUE(agent.ok()) << agent.process().err();
    const RunResult slow = agent.get(controlOid(3), 15);
    EXPECT_EQ(slow.exitCode, 0) << slow.output;
    EXPECT_GE(slow.seconds, 3.5);

    sim.process().signal(SIGSTOP);
    const auto deadline = Clock::now() + 30s;
    const std::string down = panel + ": line down (no reply to 2 commands in a row)";
    while (Clock::now() < deadline && agent.process().err().find(down) == std::string::npos)
        agent.get(controlOid(3), 15);
    EXPECT_TRUE(agent.process().waitForErr(down, 1000ms)) << agent.process().err();
    EXPECT_LT(Clock::now(), deadline);
    const RunResult refused = agent.get(controlOid(3), 15);
    EXPECT_TRUE(isGenErr(refused)) << refused.output;
    EXPECT_LT(refused.seconds, 2.0);

    sim.process().signal(SIGCONT);
    EXPECT_TRUE(agent.process().waitForErr(panel + ": connected", 30s)) << agent.process().err();
    const RunResult back = agent.get(controlOid(3), 15);
    EXPECT_EQ(back.exitCode, 0) << back.output;
    EXPECT_EQ(back.output, slow.output);
}

}  // namespace
}  // namespace kw::e2e
