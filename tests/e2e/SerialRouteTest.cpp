// The panel on a serial line: direct-serial with engine frames, and the service's dialect.

#include "E2eSupport.h"

namespace kw::e2e {

TEST(SerialRoute, DirectSerialWithEngineFramesAndTheProtocolServiceLine)
{
    const char* timer = "09 1E 00 01 05 2D 01 01 02 3E 03 41 14 18 03";
    const struct {
        Args sim;
        std::string panel, agentArg;
    } routes[] = {{{"--dialect", "engine"}, "direct-serial:", ":115200"},
                  {{"--display-id", "7"}, "serial:", ""}};
    for (const auto& route : routes) {
        SCOPED_TRACE(route.panel);
        PanelSim sim(true, route.sim);
        ASSERT_TRUE(sim.ok) << sim.process->out();
        Args args{"--panel", route.panel + sim.pty + route.agentArg};
        if (route.agentArg.empty()) args.insert(args.end(), {"--display-id", "7"});
        Agent agent(args);
        ASSERT_TRUE(agent.ok) << agent.process->out();
        EXPECT_EQ(agent.value(controlOid(4)), "KW-55D");
        ASSERT_EQ(agent.set(controlOid(51), timer).exitCode, 0);
        EXPECT_EQ(agent.value(controlOid(51)), timer);
        EXPECT_TRUE(failedWith(agent.set(controlOid(39), "C8"), "commitFailed"));
    }
}

}  // namespace kw::e2e
