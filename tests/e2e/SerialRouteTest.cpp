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
        ASSERT_TRUE(sim.ok()) << sim.process().out();
        Args args{"--panel", route.panel + sim.ptyPath() + route.agentArg};
        if (route.agentArg.empty()) args.insert(args.end(), {"--display-id", "7"});
        Agent agent(args);
        ASSERT_TRUE(agent.ok()) << agent.process().out();
        EXPECT_EQ(agent.value(controlOid(4)), "KW-55D");
        ASSERT_EQ(agent.set(controlOid(51), timer).exitCode, 0);
        EXPECT_EQ(agent.value(controlOid(51)), timer);
        EXPECT_TRUE(failedWith(agent.set(controlOid(39), "C8"), "commitFailed"));
    }
}

// A silent panel holds a command for the module's whole wait; a stop must not wait for it,
// with the panel in the process (SIGINT) or on a direct serial line (SIGTERM).
TEST(SerialRoute, StopsPromptlyWithACommandOutstandingOnASilentPanel)
{
    PanelSim sim(true, {"--dialect", "engine", "--silent-rate", "1"});
    ASSERT_TRUE(sim.ok()) << sim.process().out();
    for (const bool serial : {false, true}) {
        Agent agent(serial ? Args{"--panel", "direct-serial:" + sim.ptyPath()}
                           : Args{"--silent-rate", "1", "--verbose"});
        ASSERT_TRUE(agent.ok()) << agent.process().out();
        auto pending = std::async(std::launch::async, [&] { return agent.get(controlOid(3), 15); });
        // Nothing shows a command leave on the serial line; the outcome holds however far it got.
        if (serial)
            std::this_thread::sleep_for(500ms);
        else
            ASSERT_TRUE(agent.process().waitForOut("kwsnmpd: panel cmd", 10s));
        const auto [status, seconds] = agent.stop(serial ? SIGTERM : SIGINT);
        EXPECT_TRUE(exitedZero(status)) << agent.process().out();
        EXPECT_LT(seconds, kStopLimitSeconds);
        EXPECT_NE(pending.get().exitCode, 0);
    }
}

}  // namespace kw::e2e
