// Injected panel faults become the right SNMP errors, and the agent goes on answering.

#include "E2eSupport.h"

namespace kw::e2e {

// The module waits 10 s for a reply after its 100 ms pause; a manager that waits longer sees
// the failure as genErr.
constexpr double kPatientManager = 15;
constexpr double kModuleReplyWait = 10.0;

class Faults : public ::testing::TestWithParam<PanelKind> {};

// The agent answers the system group at once, whatever the panel does.
void expectSystemGroupAnswers(Agent& agent)
{
    const RunResult upTime = agent.get(kSysUpTime, 2);
    EXPECT_EQ(upTime.exitCode, 0) << upTime.output;
    EXPECT_LT(upTime.seconds, 1.0);
}

TEST_P(Faults, RefusedCommandsAreGenErrAndCommitFailed)
{
    Rig rig = startWith(GetParam(), {"--nak-rate", "1"});
    ASSERT_TRUE(rig.ok());
    Agent& agent = *rig.agent;
    for (int i = 0; i < 2; ++i) {  // and again: the agent keeps answering
        const RunResult get = agent.get(controlOid(3));
        EXPECT_TRUE(failedWith(get, "genError")) << get.output;
        EXPECT_LT(get.seconds, 2.0);
        EXPECT_TRUE(failedWith(agent.set(controlOid(39), "21"), "commitFailed"));
        expectSystemGroupAnswers(agent);
    }
    // SNMPv1 has genErr too: a failed read is not noSuchName. A walk stops with the error.
    const std::string v1 = "/usr/bin/snmpget -v1 -c public " + agent.address() + " ";
    EXPECT_TRUE(failedWith(run(words(v1 + controlOid(3))), "genError"));
    EXPECT_TRUE(failedWith(
        run(agent.toolArgs("/usr/bin/snmpgetnext", "public", 3, {controlOid(11)})), "genError"));
}

// A silent panel, a reply later than the module's wait and a reply with a broken
// checksum all leave the module without a reply: after its full wait the manager gets genErr,
// and meanwhile the system group is answered. Junk before every reply is skipped, and a delay
// within the wait only slows the answer down. They run side by side.
TEST_P(Faults, LostRepliesEndAsGenErrAfterTheModulesWaitAndGarbageIsSkipped)
{
    const std::vector<std::vector<std::string>> faults = {
        {"--silent-rate", "1"},
        {"--delay-ms", "10600"},
        {"--corrupt-rate", "1", "--seed", "3"},
        {"--garbage-rate", "1", "--seed", "7", "--delay-ms", "600"}};
    std::vector<Rig> rigs;
    for (const auto& fault : faults) {
        rigs.push_back(startWith(GetParam(), fault));
        ASSERT_TRUE(rigs.back().ok()) << fault[0];
    }
    std::vector<std::future<RunResult>> gets;
    for (Rig& rig : rigs) {
        Agent* agent = rig.agent.get();
        gets.push_back(std::async(std::launch::async,
                                  [agent] { return agent->get(controlOid(3), kPatientManager); }));
    }
    for (Rig& rig : rigs) expectSystemGroupAnswers(*rig.agent);

    for (size_t i = 0; i < gets.size(); ++i) {
        SCOPED_TRACE(faults[i][0]);
        const RunResult get = gets[i].get();
        if (i == 3) {  // the garbage, only slower
            EXPECT_EQ(get.output, "\"01\"\n");
            EXPECT_GE(get.seconds, 0.6);
            ASSERT_EQ(rigs[i].agent->set(controlOid(39), "21").exitCode, 0);
            EXPECT_EQ(rigs[i].agent->value(controlOid(39)), "21");
            continue;
        }
        EXPECT_TRUE(failedWith(get, "genError")) << get.output;
        EXPECT_GE(get.seconds, kModuleReplyWait);
        EXPECT_LT(get.seconds, kPatientManager);
        expectSystemGroupAnswers(*rigs[i].agent);
    }
}

INSTANTIATE_TEST_SUITE_P(Panels, Faults, ::testing::Values(PanelKind::InProcess, PanelKind::TcpSim),
                         panelName);

}  // namespace kw::e2e
