// The panel on a serial line, with pseudo-terminals from kwpanel-sim: the module's own serial
// transport with engine frames (direct-serial), and the protocol service's line dialect.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>

#include <future>
#include <thread>

#include "E2eSupport.h"

namespace kw::e2e {
namespace {

using namespace std::chrono_literals;

void expectPanelServed(Agent& agent)
{
    EXPECT_EQ(agent.value(controlOid(3)), "01");
    EXPECT_EQ(agent.value(controlOid(4)), "KW-55D");
    ASSERT_EQ(agent.set(controlOid(39), "21").exitCode, 0);
    EXPECT_EQ(agent.value(controlOid(39)), "21");
    ASSERT_EQ(agent.set(controlOid(51), "09 1E 00 01 05 2D 01 01 02 3E 03 41 14 18 03").exitCode,
              0);
    EXPECT_EQ(agent.value(controlOid(51)), "09 1E 00 01 05 2D 01 01 02 3E 03 41 14 18 03");
    EXPECT_TRUE(isCommitFailed(agent.set(controlOid(39), "C8")));
}

TEST(SerialRoute, DirectSerialWithEngineFrames)
{
    PanelSim sim(PanelSim::Endpoint::Pty, {"--dialect", "engine"});
    ASSERT_TRUE(sim.ok()) << sim.process().err();
    Agent agent({"--panel", "direct-serial:" + sim.ptyPath() + ":115200"});
    ASSERT_TRUE(agent.ok()) << agent.process().err();
    expectPanelServed(agent);
}

TEST(SerialRoute, ProtocolServiceLineOnATty)
{
    PanelSim sim(PanelSim::Endpoint::Pty, {"--display-id", "7"});
    ASSERT_TRUE(sim.ok()) << sim.process().err();
    Agent agent({"--panel", "serial:" + sim.ptyPath(), "--display-id", "7"});
    ASSERT_TRUE(agent.ok()) << agent.process().err();
    expectPanelServed(agent);
}

TEST(SerialRoute, DirectSerialStopsPromptlyWithACommandOutstanding)
{
    PanelSim sim(PanelSim::Endpoint::Pty, {"--dialect", "engine", "--silent-rate", "1"});
    ASSERT_TRUE(sim.ok()) << sim.process().err();
    Agent agent({"--panel", "direct-serial:" + sim.ptyPath()});
    ASSERT_TRUE(agent.ok()) << agent.process().err();
    auto pending = std::async(std::launch::async, [&] { return agent.get(controlOid(3), 15); });
    // Let the request reach the panel; the outcome below holds however far it got.
    std::this_thread::sleep_for(500ms);
    const auto [status, seconds] = agent.stop(SIGTERM);
    EXPECT_TRUE(status && WIFEXITED(*status) && WEXITSTATUS(*status) == 0) << agent.process().err();
    EXPECT_LT(seconds, kStopLimitSeconds);
    EXPECT_NE(pending.get().exitCode, 0);
}

}  // namespace
}  // namespace kw::e2e
