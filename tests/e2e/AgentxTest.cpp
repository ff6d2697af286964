// kwsnmpd as an AgentX subagent of Debian's snmpd.

#include "E2eSupport.h"

namespace kw::e2e {

// Debian's snmpd as the master agent, on a private AgentX socket and a free loopback port.
struct Master {
    explicit Master(const TempDir& dir) : dir(dir) { start(); }
    ~Master() { process->stop(); }
    bool start()
    {
        std::ofstream(dir.file("master.conf"))
            << "master agentx\nagentXSocket unix:" << dir.file("master")
            << "\nagentXPerms 0600 0700\nagentXTimeout 10\n"  // display requests wait for the panel
            << "rocommunity public 127.0.0.1\nrwcommunity private 127.0.0.1\n"
            << "[snmp] persistentDir " << dir.file("persist") << "\n[snmp] mibs :\n";
        process = std::make_unique<Process>(Args{"/usr/sbin/snmpd", "-f", "-Lo", "-C", "-c",
                                                 dir.file("master.conf"), "-x",
                                                 "unix:" + dir.file("master"), "udp:" + at});
        return process->waitForOut("NET-SNMP version", 15s);
    }
    RunResult tool(const std::string& tool, const Args& rest, const std::string& who = "public")
    {
        return run(netSnmp(tool, at, who, 3, rest));
    }
    std::string value(const std::string& oid) { return valueOf(tool("snmpget", {oid})); }

    const TempDir& dir;
    const std::string at = "127.0.0.1:" + std::to_string(freePort(SOCK_DGRAM));
    std::unique_ptr<Process> process;
};

std::unique_ptr<Process> subagent(const TempDir& dir, Args args)
{
    args.insert(args.begin(),
                {KW_E2E_BIN_DIR "/kwsnmpd", "--agentx", "unix:" + dir.file("master")});
    return std::make_unique<Process>(args);
}

TEST(AgentX, TheDisplayThroughTheMasterAcrossItsRestartAndDuringSlowPanelCommands)
{
    TempDir dir;
    // Started before its master, the subagent says so and keeps trying.
    auto sub = subagent(dir, {"--verbose"});
    ASSERT_TRUE(sub->waitForOut(": not reachable yet; retrying in the background", 15s))
        << sub->out();
    ASSERT_TRUE(sub->waitForOut("kwsnmpd: AgentX subagent of unix:", 5s)) << sub->out();
    Master master(dir);
    ASSERT_TRUE(sub->waitForOut(": registered", 15s)) << sub->out();

    // Get, set, the holiday table and a full walk, all through the master.
    EXPECT_EQ(master.value(controlOid(3)), "01");
    ASSERT_EQ(master.tool("snmpset", {controlOid(39), "s", "23"}, "private").exitCode, 0)
        << sub->out();
    EXPECT_EQ(master.value(controlOid(39)), "23");
    ASSERT_EQ(master.tool("snmpset", {controlOid(58), "s", "00 0C 18 0C 1A"}, "private").exitCode,
              0);
    EXPECT_EQ(master.value(holidayEntryOid(1)), "01 0C 18 0C 1A");
    const RunResult walk = master.tool("snmpwalk", {kControl});
    EXPECT_EQ(walk.exitCode, 0) << walk.output;
    EXPECT_EQ(lines(walk.output).size(), 81u);  // 80 readable scalars, one holiday
    const size_t commands = count(sub->out(), "kwsnmpd: panel cmd");
    // The master keeps its own system group and lists the display's module.
    EXPECT_EQ(master.value("1.3.6.1.2.1.1.2.0").rfind(".1.3.6.1.4.1.8072.", 0), 0u);
    EXPECT_NE(master.tool("snmpwalk", {"1.3.6.1.2.1.1.9.1.3"})
                  .output.find("The MIB module for the display's controls"),
              std::string::npos);
    EXPECT_EQ(count(sub->out(), "kwsnmpd: panel cmd"), commands);  // none of that reached the panel

    // The master restarts: the subagent notices, registers again and serves as before.
    ASSERT_TRUE(master.process->stop());
    ASSERT_TRUE(sub->waitForOut("connection lost; retrying in the background", 15s));
    ASSERT_TRUE(master.start());
    ASSERT_TRUE(sub->waitForOut(": registered", 15s, 2)) << sub->out();
    EXPECT_EQ(master.value(controlOid(39)), "23");
    EXPECT_TRUE(sub->stop()) << sub->out();

    // A slow panel: the master's own objects answer while a display request waits for it,
    // and the delayed answer still arrives through the master.
    auto slow = subagent(dir, {"--delay-ms", "1500"});
    ASSERT_TRUE(slow->waitForOut(": registered", 15s)) << slow->out();
    const auto start = Clock::now();
    auto pending = std::async(std::launch::async, [&] { return master.value(controlOid(3)); });
    ASSERT_EQ(pending.wait_for(300ms), std::future_status::timeout);
    const RunResult upTime = master.tool("snmpget", {kSysUpTime});
    EXPECT_EQ(upTime.exitCode, 0) << upTime.output;
    EXPECT_LT(upTime.seconds, 0.5);
    EXPECT_EQ(pending.wait_for(0s), std::future_status::timeout);
    EXPECT_EQ(pending.get(), "01");
    EXPECT_GE(Clock::now() - start, 1400ms);

    // A master that hangs: its missed ping is noticed within a few seconds, and the stop
    // that follows is not held up by it.
    master.process->signal(SIGSTOP);
    ASSERT_TRUE(slow->waitForOut("connection lost; retrying in the background", 5s));
    const auto stopping = Clock::now();
    EXPECT_TRUE(slow->stop()) << slow->out();
    EXPECT_LT(Clock::now() - stopping, milliseconds(int(kStopLimitSeconds * 1000)));
    master.process->signal(SIGCONT);
}

}  // namespace kw::e2e
