// Injected panel faults become the right SNMP errors, and the agent goes on answering, whichever
// way it reaches the panel.

#include "E2eSupport.h"

namespace kw::e2e {

// The module waits 10 s for a reply after its 100 ms pause; a manager that waits longer sees
// the failure as genErr.
constexpr double kPatientManager = 15, kModuleReplyWait = 10.0;
constexpr const char* kTimer = "09 1E 00 01 05 2D 01 01 02 3E 03 41 14 18 03";

class Faults : public ::testing::TestWithParam<PanelKind> {};

// Faults side by side. A panel that refuses: genErr for a get at once (SNMPv1 too: not
// noSuchName; a walk stops with it) and commitFailed for a set, again and again. A silent panel,
// a reply later than the module's wait and one with a broken checksum leave the module without a
// reply: genErr after its full wait, the system group answered meanwhile, and a stop (SIGINT, as
// from a terminal) that does not wait for it. Junk before every reply is skipped, and a delay
// within the wait only slows the answer down.
TEST_P(Faults, RefusalsAndLostRepliesAreErrorsAndGarbageIsSkipped)
{
    // The module's own serial route drops what it has buffered on junk, which makes junk a lost
    // reply there, as a broken checksum is: on that route the fourth panel only delays.
    const std::string junk = GetParam() == PanelKind::DirectSerialSim ? "0" : "1";
    const std::vector<Args> faults = {{"--silent-rate", "1"},
                                      {"--delay-ms", "10600"},
                                      {"--corrupt-rate", "1", "--seed", "3"},
                                      {"--garbage-rate", junk, "--seed", "7", "--delay-ms", "600"},
                                      {"--nak-rate", "1"},
                                      {"--silent-rate", "1"}};
    std::vector<Rig> rigs;
    std::vector<std::future<RunResult>> gets;
    for (const auto& fault : faults) {
        rigs.emplace_back(GetParam(), fault);
        ASSERT_TRUE(rigs.back().ok()) << fault[0];
        Agent* agent = rigs.back().agent.get();
        gets.push_back(std::async(std::launch::async,
                                  [agent] { return agent->get(controlOid(3), kPatientManager); }));
    }
    Agent& refusing = *rigs[4].agent;
    for (int i = 0; i < 2; ++i) {
        EXPECT_TRUE(failedWith(refusing.get(controlOid(3)), "genError"));
        EXPECT_TRUE(failedWith(refusing.set(controlOid(39), "21"), "commitFailed"));
    }
    const std::string v1 = "/usr/bin/snmpget -v1 -c public " + refusing.address() + " ";
    EXPECT_TRUE(failedWith(run(words(v1 + controlOid(3))), "genError"));
    EXPECT_TRUE(failedWith(refusing.tool("snmpgetnext", "public", {controlOid(11)}), "genError"));
    for (Rig& rig : rigs) {  // the system group at once, whatever the panel does
        const RunResult upTime = rig.agent->get(kSysUpTime, 2);
        EXPECT_EQ(upTime.exitCode, 0) << upTime.output;
        EXPECT_LT(upTime.seconds, 1.0);
    }

    // The last one's get waits for the panel (kwdQueueDepth 1) when the stop comes.
    Agent& stopped = *rigs[5].agent;
    EXPECT_TRUE(eventually([&] { return stopped.value(healthOid(13)) == "1"; }, 5s));
    const auto [status, seconds] = stopped.stop(SIGINT);
    EXPECT_TRUE(exitedZero(status)) << stopped.process->out();
    EXPECT_LT(seconds, kStopLimitSeconds);
    EXPECT_NE(gets[5].get().exitCode, 0);

    for (size_t i = 0; i < 5; ++i) {
        SCOPED_TRACE(faults[i][0]);
        const RunResult get = gets[i].get();
        EXPECT_EQ(failedWith(get, "genError"), i != 3) << get.output;
        if (i == 3) {  // the garbage, only slower; a timer and the model name come through
            EXPECT_EQ(get.output, "\"01\"\n");
            EXPECT_GE(get.seconds, 0.6);
            ASSERT_EQ(rigs[i].agent->set(controlOid(51), kTimer).exitCode, 0);
            EXPECT_EQ(rigs[i].agent->value(controlOid(51)), kTimer);
            EXPECT_EQ(rigs[i].agent->value(controlOid(4)), "KW-55D");
        } else if (i == 4) {  // refused at once
            EXPECT_LT(get.seconds, 2.0);
        } else {
            EXPECT_GE(get.seconds, kModuleReplyWait);
            EXPECT_LT(get.seconds, kPatientManager);
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Panels, Faults,
                         ::testing::Values(PanelKind::InProcess, PanelKind::TcpSim,
                                           PanelKind::SerialSim, PanelKind::DirectSerialSim),
                         panelName);

}  // namespace kw::e2e
