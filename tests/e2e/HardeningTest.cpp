// kwsnmpd under hostile load: floods, the varbind limit, a stop mid-flood, slow mixed SETs.

#include "E2eSupport.h"

namespace kw::e2e {

constexpr const char* kSysContact = "1.3.6.1.2.1.1.4.0";

TEST(Hardening, FloodNeitherHoldsOutAnotherManagerNorDelaysTheStop)
{
    TempDir base;
    auto agent = std::make_unique<Agent>(words("--verbose --max-varbinds 120"),
                                         words("-u XDG_RUNTIME_DIR TMPDIR=" + base.path()));
    ASSERT_TRUE(agent->ok()) << agent->process().out();
    ASSERT_EQ(entries(base.path()).size(), 1u);

    // One varbind over the limit: tooBig at once.
    const RunResult over =
        run(agent->toolArgs("/usr/bin/snmpget", "public", 3, Args(121, controlOid(4))));
    EXPECT_TRUE(failedWith(over, "tooBig")) << over.output;

    // One manager sends 120-varbind GETs of every display object back to back: seconds of panel
    // time each, since a request names an object once to the panel however often it repeats it.
    std::string flood = "for i in 1 2 3; do";
    Args request{"-Cf"};  // an error ends snmpget: no retry without it
    for (int i = 0; i < 120; ++i) request.push_back(controlOid(i % 87));
    for (const std::string& word : agent->toolArgs("/usr/bin/snmpget", "public", 30, request))
        flood += " " + word;
    flood += " || break; done";  // the first error (the stop's) ends it
    TempDir dir;
    Process flooder({"/bin/sh", "-c", flood}, dir.file("flood"));
    ASSERT_TRUE(agent->process().waitForOut("kwsnmpd: panel cmd", 10s));

    // Another manager's GETs wait about one panel command each, not for the flood.
    for (int i = 0; i < 3; ++i) {
        const RunResult other = agent->get(controlOid(0), 5);
        EXPECT_EQ(other.exitCode, 0) << other.output;
        EXPECT_LT(other.seconds, 2.0);
    }

    // SIGTERM mid-flood: a clean exit in time, the request in flight answered with an error,
    // the runtime directory gone.
    const auto [status, seconds] = agent->stop(SIGTERM);
    EXPECT_TRUE(exitedZero(status)) << agent->process().out();
    EXPECT_LT(seconds, kStopLimitSeconds);
    EXPECT_TRUE(flooder.waitForOut("genError", 5s)) << flooder.out();
    EXPECT_TRUE(entries(base.path()).empty());
}

// SET A writes sysContact and a display object; the panel refuses after 2 s, so A's undo puts
// sysContact back. SET B of sysContact, sent meanwhile, must not be undone with it, and the
// system group answers throughout.
TEST(Hardening, SlowMixedSetNeitherLosesALaterSetNorHoldsReads)
{
    Agent agent({"--nak-rate", "1", "--delay-ms", "2000"});
    ASSERT_TRUE(agent.ok()) << agent.process().out();
    TempDir dir;
    Process setA(agent.toolArgs("/usr/bin/snmpset", "private", 10,
                                {kSysContact, "s", "A", controlOid(3), "s", "01"}),
                 dir.file("a"));
    // A is in flight once its sysContact write shows.
    ASSERT_TRUE(eventually([&] { return agent.value(kSysContact) == "A"; }, 5s));

    Process setB(agent.toolArgs("/usr/bin/snmpset", "private", 10, {kSysContact, "s", "B"}),
                 dir.file("b"));
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
