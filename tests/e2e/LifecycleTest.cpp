// kwsnmpd with the operator's configuration, re-read on SIGHUP.

#include "E2eSupport.h"

namespace kw::e2e {

// The shipped example with its communities renamed and its v3 user switched on replaces the
// defaults entirely. SIGHUP during a walk: the walk completes, no panel command is repeated,
// and a community added meanwhile works afterwards.
TEST(Configuration, OperatorsOwnCommunitiesSnmpV3UserAndAReloadDuringAWalk)
{
    const std::string example = readFile(KW_E2E_SOURCE_DIR "/conf/snmpd.conf");
    std::string conf = std::regex_replace(example, std::regex(" public "), " sesame ");
    conf = std::regex_replace(conf, std::regex(" private "), " opensesame ");
    conf = std::regex_replace(conf, std::regex("#(createUser|rwuser)"), "$1");
    conf = std::regex_replace(conf, std::regex("change-this-"), "kw-");
    TempDir dir;
    std::ofstream(dir.file("snmpd.conf")) << conf;
    Agent agent({"--config", dir.path, "--verbose"});
    ASSERT_TRUE(agent.ok) << agent.process->out();
    EXPECT_EQ(agent.get(controlOid(3), 2, "sesame").exitCode, 0);
    EXPECT_EQ(agent.set(controlOid(39), "22", 2, "opensesame").exitCode, 0);
    EXPECT_NE(agent.get(kSysUpTime, 1).exitCode, 0);  // public is not configured
    EXPECT_NE(agent.set(controlOid(39), "23", 2, "sesame").exitCode, 0);
    const std::string v3 =
        " -v3 -u kwadmin -l authPriv -a SHA -A kw-auth-phrase -x AES -X "
        "kw-priv-phrase -t 3 -r 0 -Oqv " +
        agent.address() + " " + controlOid(39);
    EXPECT_EQ(run(words("/usr/bin/snmpset" + v3 + " s 2B")).exitCode, 0);
    EXPECT_EQ(run(words("/usr/bin/snmpget" + v3)).output, "\"2B\"\n");

    std::ofstream(dir.file("snmpd.conf"), std::ios::app) << "rocommunity public 127.0.0.1\n";
    const std::string cmd = "kwsnmpd: panel cmd";
    const size_t before = count(agent.process->out(), cmd);
    auto walk = std::async(std::launch::async,
                           [&] { return agent.tool("snmpwalk", "sesame", {kControl}, 3, "-Oq"); });
    ASSERT_TRUE(agent.process->waitForOut(cmd, 10s, before + 10));
    agent.process->signal(SIGHUP);
    ASSERT_TRUE(agent.process->waitForOut("SIGHUP: re-reading the configuration", 5s));
    EXPECT_EQ(walk.wait_for(0s), std::future_status::timeout);  // the walk was under way
    const RunResult result = walk.get();
    EXPECT_EQ(result.exitCode, 0) << result.output;
    EXPECT_EQ(lines(result.output).size(), 80u);
    EXPECT_EQ(agent.get(kSysUpTime, 2).exitCode, 0);
    // One command per object, and the holiday count once more for the table.
    EXPECT_EQ(count(agent.process->out(), cmd), before + 81) << agent.process->out();
}

}  // namespace kw::e2e
