// kwsnmpd exposed and under hostile load: named communities, private runtime files, floods, the
// varbind limit, a stop mid-flood, slow mixed SETs.
#include "E2eSupport.h"

namespace kw::e2e {

constexpr const char* kSysContact = "1.3.6.1.2.1.1.4.0";

TEST(Hardening, ExposedAgentKeepsItsCommunitiesAndUnderAFloodFairnessAndACleanStop)
{
    // XDG_RUNTIME_DIR is a pre-placed link to somewhere else: not followed. TMPDIR is private.
    TempDir dir, victim, base;  // each made 0700
    ASSERT_EQ(::symlink(victim.path.c_str(), dir.file("link").c_str()), 0);
    // Every address: it serves only with communities named, "ops" writing from its source only.
    Agent agent(words("--verbose --max-varbinds 120 --rocommunity public --rwcommunity "
                      "ops,127.0.0.1/32"),
                {"XDG_RUNTIME_DIR=" + dir.file("link"), "TMPDIR=" + base.path}, "0.0.0.0");
    ASSERT_TRUE(agent.ok) << agent.process->out();
    const std::string started = agent.process->out();  // one line: Net-SNMP took all it got
    EXPECT_EQ(lines(started).size(), 1u) << started;
    EXPECT_NE(started.find("listening on udp:0.0.0.0:"), std::string::npos) << started;

    EXPECT_TRUE(entries(victim.path).empty());
    const auto made = entries(base.path);
    ASSERT_EQ(made.size(), 1u);
    EXPECT_EQ(fs::symlink_status(made[0]).permissions(), fs::perms::owner_all);
    EXPECT_EQ(fs::symlink_status(made[0].path() / "snmpd.conf").permissions(),
              fs::perms::owner_read | fs::perms::owner_write);
    EXPECT_FALSE(fs::exists(made[0].path() / "stderr.capture"));  // gone once started

    const std::string at = agent.address(), oid = controlOid(39);
    EXPECT_EQ(fromSource("127.0.0.1", at, "snmpset", "ops", {oid, "s", "31"}).exitCode, 0);
    EXPECT_NE(fromSource("127.0.0.2", at, "snmpset", "ops", {oid, "s", "32"}).exitCode, 0);
    EXPECT_NE(fromSource("127.0.0.1", at, "snmpset", "private", {oid, "s", "33"}).exitCode, 0);
    EXPECT_EQ(fromSource("127.0.0.2", at, "snmpget", "public", {oid}).output, "\"31\"\n");

    // One varbind over the limit: tooBig at once.
    const RunResult over = agent.tool("snmpget", "public", Args(121, controlOid(4)));
    EXPECT_TRUE(failedWith(over, "tooBig")) << over.output;

    // One manager sends 120-varbind GETs of every display object back to back: seconds of panel
    // time each, since a request names an object once to the panel however often it repeats it.
    std::string flood = "for i in 1 2 3; do";
    Args request{"-Cf"};  // an error ends snmpget: no retry without it
    for (int i = 0; i < 120; ++i) request.push_back(controlOid(i % 87));
    for (const std::string& word : netSnmp("snmpget", agent.address(), "public", 30, request))
        flood += " " + word;
    flood += " || break; done";  // the first error (the stop's) ends it
    Process flooder({"/bin/sh", "-c", flood});
    ASSERT_TRUE(agent.process->waitForOut("kwsnmpd: panel cmd", 10s));

    // Another manager's GETs wait about one panel command each, not for the flood.
    for (int i = 0; i < 3; ++i) {
        const RunResult other = agent.get(controlOid(0), 5);
        EXPECT_EQ(other.exitCode, 0) << other.output;
        EXPECT_LT(other.seconds, 2.0);
    }

    // SIGTERM mid-flood: a clean exit in time, the request in flight answered with an error,
    // the runtime directory gone.
    const auto [status, seconds] = agent.stop(SIGTERM);
    EXPECT_TRUE(exitedZero(status)) << agent.process->out();
    EXPECT_LT(seconds, kStopLimitSeconds);
    EXPECT_TRUE(flooder.waitForOut("genError", 5s)) << flooder.out();
    EXPECT_TRUE(entries(base.path).empty());
}

// SET A writes sysContact and a display object; the panel refuses after 2 s, so A's undo puts
// sysContact back. SET B of sysContact, sent meanwhile, must not be undone with it, and the
// system group answers throughout.
TEST(Hardening, SlowMixedSetNeitherLosesALaterSetNorHoldsReads)
{
    Agent agent({"--nak-rate", "1", "--delay-ms", "2000"});
    ASSERT_TRUE(agent.ok) << agent.process->out();
    const Args setBoth{kSysContact, "s", "A", controlOid(3), "s", "01"};
    Process setA(netSnmp("snmpset", agent.address(), "private", 10, setBoth));
    // A is in flight once its sysContact write shows.
    ASSERT_TRUE(eventually([&] { return agent.value(kSysContact) == "A"; }, 5s));

    Process setB(netSnmp("snmpset", agent.address(), "private", 10, {kSysContact, "s", "B"}));
    while (setB.running()) {
        const RunResult read = agent.get(kSysUpTime, 1);
        EXPECT_EQ(read.exitCode, 0) << read.output;
        EXPECT_LT(read.seconds, 0.5);
    }
    EXPECT_TRUE(exitedZero(setB.wait(0ms))) << setB.out();
    EXPECT_FALSE(exitedZero(setA.wait(10s))) << setA.out();
    EXPECT_NE(setA.out().find("commitFailed"), std::string::npos) << setA.out();
    EXPECT_EQ(agent.value(kSysContact), "B");
}

}  // namespace kw::e2e
