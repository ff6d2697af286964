// kwsnmpd as a program: its options and start-up errors, the operator's configuration, a panel
// line that drops and comes back, shutdown under load, and a second, independent manager.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>
#include <future>
#include <thread>

#include "E2eSupport.h"
#include "PanelFixture.h"

namespace kw::e2e {
namespace {

using namespace std::chrono_literals;

constexpr double kStopLimit = kStopLimitSeconds;

RunResult runKwsnmpd(std::vector<std::string> args)
{
    args.insert(args.begin(), binary("kwsnmpd"));
    return run(args, 20s);
}

// One line on stderr, "kwsnmpd: ..." holding `needle`, and the exit code.
void expectOneLineError(const RunResult& result, int exitCode, const std::string& needle)
{
    EXPECT_EQ(result.exitCode, exitCode) << result.output;
    const auto text = lines(result.output);
    ASSERT_EQ(text.size(), 1u) << result.output;
    EXPECT_EQ(text[0].rfind("kwsnmpd: ", 0), 0u) << text[0];
    EXPECT_NE(text[0].find(needle), std::string::npos) << text[0];
}

bool exitedZero(const std::optional<int>& status)
{
    return status && WIFEXITED(*status) && WEXITSTATUS(*status) == 0;
}

TEST(Options, BadOptionsGiveOneLineAndExitCode2)
{
    const std::vector<std::pair<std::vector<std::string>, std::string>> cases = {
        {{"--bogus"}, "unknown option '--bogus'"},
        {{"--panel"}, "--panel: missing value"},
        {{"--panel", "usb:1"}, "unknown panel 'usb:1'"},
        {{"--panel", "tcp:localhost"}, "--panel tcp:localhost"},
        {{"--panel", "serial:/dev/ttyS0:12345"}, "unsupported baud rate"},
        {{"--display-id", "256"}, "--display-id"},
        {{"--listen", ""}, "--listen"},
        {{"--nak-rate", "1.5"}, "--nak-rate"},
        {{"--panel", "tcp:127.0.0.1:9", "--silent-rate", "1"}, "fault injection needs --panel sim"},
        {{"--verbose=yes"}, "--verbose: takes no value"},
    };
    for (const auto& [args, needle] : cases) {
        SCOPED_TRACE(args[0]);
        expectOneLineError(runKwsnmpd(args), 2, needle);
    }
}

TEST(Options, HelpAndVersion)
{
    const RunResult help = runKwsnmpd({"--help"});
    EXPECT_EQ(help.exitCode, 0);
    EXPECT_NE(help.output.find("--panel WHERE"), std::string::npos);
    EXPECT_NE(help.output.find("direct-serial:DEV[:BAUD]"), std::string::npos);
    const RunResult version = runKwsnmpd({"--version"});
    EXPECT_EQ(version.exitCode, 0);
    EXPECT_EQ(version.output.rfind("kwsnmpd ", 0), 0u);
}

TEST(StartupErrors, SerialDeviceThatCannotBeOpened)
{
    expectOneLineError(runKwsnmpd({"--panel", "serial:/dev/kw-no-such-tty"}), 1,
                       "/dev/kw-no-such-tty: No such file or directory");
    expectOneLineError(runKwsnmpd({"--panel", "direct-serial:/dev/kw-no-such-tty:19200"}), 1,
                       "/dev/kw-no-such-tty: No such file or directory");
}

TEST(StartupErrors, BusySnmpPort)
{
    const int fd = ::socket(AF_INET, SOCK_DGRAM, 0);
    ASSERT_GE(fd, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t size = sizeof addr;
    ASSERT_EQ(::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
    ASSERT_EQ(::getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &size), 0);
    const std::string listen = "udp:127.0.0.1:" + std::to_string(ntohs(addr.sin_port));

    const RunResult result = runKwsnmpd({"--listen", listen});
    ::close(fd);
    expectOneLineError(result, 1, "cannot listen on " + listen);
    EXPECT_LT(result.seconds, 5.0);
}

TEST(StartupErrors, ConfigDirectoryWithoutSnmpdConf)
{
    TempDir dir;
    expectOneLineError(runKwsnmpd({"--config", dir.path()}), 1, "no snmpd.conf");
}

TEST(Configuration, OperatorsSnmpdConfReplacesTheDefaults)
{
    TempDir dir;
    std::ofstream(dir.file("snmpd.conf")) << "rocommunity sesame default\n"
                                             "rwcommunity opensesame default\n";
    Agent agent({"--config", dir.path()});
    ASSERT_TRUE(agent.ok()) << agent.process().err();

    EXPECT_EQ(agent.get(controlOid(3), 2, "sesame").exitCode, 0);
    EXPECT_EQ(agent.set(controlOid(39), "22", 2, "opensesame").exitCode, 0);
    EXPECT_NE(agent.get(controlOid(39), 1).exitCode, 0);  // public is not configured
    const RunResult readOnly = agent.set(controlOid(39), "23", 2, "sesame");
    EXPECT_NE(readOnly.exitCode, 0);
}

TEST(Configuration, ShippedExampleAndSnmpV3Users)
{
    // The example in conf/ works as it stands (its address overridden by --listen).
    {
        Agent agent({"--config", sourceFile("conf")});
        ASSERT_TRUE(agent.ok()) << agent.process().err();
        EXPECT_EQ(agent.value(controlOid(3)), "01");
    }
    // A v3 user with authentication and privacy, as its commented lines show.
    TempDir dir;
    std::ofstream(dir.file("snmpd.conf"))
        << "createUser kwadmin SHA \"kw-auth-phrase\" AES \"kw-priv-phrase\"\n"
           "rwuser kwadmin priv\n";
    Agent agent({"--config", dir.path()});
    ASSERT_TRUE(agent.ok()) << agent.process().err();
    auto v3 = [&](const std::string& tool, std::vector<std::string> rest) {
        std::vector<std::string> argv{tool,   "-v3",
                                      "-u",   "kwadmin",
                                      "-l",   "authPriv",
                                      "-a",   "SHA",
                                      "-A",   "kw-auth-phrase",
                                      "-x",   "AES",
                                      "-X",   "kw-priv-phrase",
                                      "-t",   "3",
                                      "-r",   "0",
                                      "-Oqv", agent.address()};
        argv.insert(argv.end(), rest.begin(), rest.end());
        return run(argv);
    };
    const RunResult set = v3("/usr/bin/snmpset", {controlOid(39), "s", "2B"});
    EXPECT_EQ(set.exitCode, 0) << set.output;
    const RunResult get = v3("/usr/bin/snmpget", {controlOid(39)});
    EXPECT_EQ(get.exitCode, 0) << get.output;
    EXPECT_EQ(get.output, "\"2B\"\n");
    EXPECT_NE(agent.get(controlOid(39), 1).exitCode, 0);  // no community configured
}

TEST(Configuration, DefaultCommunities)
{
    Agent agent({});
    ASSERT_TRUE(agent.ok()) << agent.process().err();
    EXPECT_NE(
        agent.process().err().find("listening on " + std::string("udp:127.0.0.1:") +
                                   std::to_string(agent.port()) + ", panel sim, display ID 1"),
        std::string::npos);
    EXPECT_EQ(agent.value(controlOid(3)), "01");
    const RunResult readOnly = agent.set(controlOid(39), "23", 2, "public");
    EXPECT_NE(readOnly.exitCode, 0);
    EXPECT_EQ(agent.set(controlOid(39), "23", 2, "private").exitCode, 0);
    EXPECT_TRUE(agent.get(controlOid(3), 1, "nobody").output.find("Timeout") != std::string::npos);
}

TEST(PanelLine, DropAndComeBack)
{
    const uint16_t panelPort = freeTcpPort();
    auto sim =
        std::make_unique<PanelSim>(PanelSim::Endpoint::Tcp, std::vector<std::string>{}, panelPort);
    ASSERT_TRUE(sim->ok());
    Agent agent({"--panel", "tcp:127.0.0.1:" + std::to_string(panelPort)});
    ASSERT_TRUE(agent.ok()) << agent.process().err();
    EXPECT_EQ(agent.value(controlOid(3)), "01");

    // The panel goes away: requests fail at once, the agent keeps answering.
    ASSERT_TRUE(sim->stop());
    ASSERT_TRUE(agent.process().waitForErr("line down", 5s)) << agent.process().err();
    const RunResult refused = agent.get(controlOid(3));
    EXPECT_TRUE(isGenErr(refused)) << refused.output;
    EXPECT_LT(refused.seconds, 2.0);
    EXPECT_EQ(agent.get(kSysUpTime).exitCode, 0);

    // It comes back on the same port: the link reconnects by itself.
    sim =
        std::make_unique<PanelSim>(PanelSim::Endpoint::Tcp, std::vector<std::string>{}, panelPort);
    ASSERT_TRUE(sim->ok());
    ASSERT_TRUE(agent.process().waitForErr(": connected", 10s)) << agent.process().err();
    EXPECT_EQ(agent.value(controlOid(3)), "01");
}

TEST(PanelLine, DownAtStartIsRetriedInTheBackground)
{
    const uint16_t panelPort = freeTcpPort();
    Agent agent({"--panel", "tcp:127.0.0.1:" + std::to_string(panelPort)});
    ASSERT_TRUE(agent.ok()) << agent.process().err();
    EXPECT_NE(agent.process().err().find("not reachable yet"), std::string::npos);
    EXPECT_TRUE(isGenErr(agent.get(controlOid(3))));
    EXPECT_EQ(agent.get(kSysDescr).exitCode, 0);

    PanelSim sim(PanelSim::Endpoint::Tcp, {}, panelPort);
    ASSERT_TRUE(sim.ok());
    ASSERT_TRUE(agent.process().waitForErr(": connected", 10s)) << agent.process().err();
    EXPECT_EQ(agent.value(controlOid(3)), "01");
}

// Managers keep the agent busy (walks and sets); SIGTERM lands while requests are in flight.
TEST(Shutdown, UnderLoadExitsCleanlyWithinTwoSeconds)
{
    Agent agent({"--verbose"});
    ASSERT_TRUE(agent.ok()) << agent.process().err();
    TempDir dir;
    std::vector<std::unique_ptr<Process>> managers;
    for (int i = 0; i < 3; ++i) {
        managers.push_back(std::make_unique<Process>(
            agent.toolArgs("/usr/bin/snmpwalk", "public", 5, {"1.3.6.1.4.1.32473.1.1.1"}),
            dir.file("walk" + std::to_string(i)), dir.file("walk" + std::to_string(i))));
    }
    for (int i = 0; i < 2; ++i) {
        managers.push_back(std::make_unique<Process>(
            agent.toolArgs("/usr/bin/snmpset", "private", 5,
                           {controlOid(39), "s", "1" + std::to_string(i)}),
            dir.file("set" + std::to_string(i)), dir.file("set" + std::to_string(i))));
    }
    // Several commands have gone to the panel: the agent is busy.
    for (int count = 0; count < 5;) {
        ASSERT_TRUE(agent.process().waitForErr("kwsnmpd: panel cmd", 10s));
        count = 0;
        for (const std::string& line : lines(agent.process().err()))
            count += line.rfind("kwsnmpd: panel cmd", 0) == 0;
        if (count < 5) std::this_thread::sleep_for(20ms);
    }
    const auto [status, seconds] = agent.stop(SIGTERM);
    EXPECT_TRUE(exitedZero(status)) << agent.process().err();
    EXPECT_LT(seconds, kStopLimit);
}

// A silent panel holds a command for the module's whole wait; SIGINT must not wait for it.
TEST(Shutdown, WithACommandOutstandingOnASilentPanel)
{
    Agent agent({"--silent-rate", "1"});
    ASSERT_TRUE(agent.ok()) << agent.process().err();
    auto pending = std::async(std::launch::async, [&] { return agent.get(controlOid(3), 15); });
    // Let the request reach the panel; the outcome below holds however far it got.
    std::this_thread::sleep_for(500ms);
    const auto [status, seconds] = agent.stop(SIGINT);
    EXPECT_TRUE(exitedZero(status)) << agent.process().err();
    EXPECT_LT(seconds, kStopLimit);
    EXPECT_NE(pending.get().exitCode, 0);
}

// pysnmp, a manager that shares no code with Net-SNMP.
TEST(IndependentManager, GetSetWalkAndErrors)
{
    Agent agent({});
    ASSERT_TRUE(agent.ok()) << agent.process().err();
    const std::string target = agent.address();

    RunResult result = agent.client({"get", target, "public", controlOid(3)});
    EXPECT_EQ(result.exitCode, 0);
    EXPECT_EQ(result.output, controlOid(3) + " = 01\n");

    result = agent.client({"set", target, "private", controlOid(51),
                           "0a 00 00 01 06 00 01 01 "
                           "01 7f 01 7f 1e 21 00"});
    EXPECT_EQ(result.exitCode, 0) << result.output;
    result = agent.client({"get", target, "public", controlOid(51)});
    EXPECT_EQ(result.output, controlOid(51) + " = 0A 00 00 01 06 00 01 01 01 7F 01 7F 1E 21 00\n");

    result = agent.client({"get", target, "public", controlOid(8)});  // text row
    EXPECT_EQ(result.output, controlOid(8) + " = KW55D24A0012345\n");

    ASSERT_EQ(agent.client({"set", target, "private", controlOid(58), "000C180C1A"}).exitCode, 0);
    result = agent.client({"walk", target, "public", "1.3.6.1.4.1.32473.1.1.1.61"});
    EXPECT_EQ(result.exitCode, 0) << result.output;
    EXPECT_EQ(result.output, holidayEntryOid(1) + " = 01 0C 18 0C 1A\n");

    // The panel refuses a volume of 200: commitFailed, and nothing changed.
    result = agent.client({"set", target, "private", controlOid(39), "C8"});
    EXPECT_EQ(result.exitCode, 1);
    EXPECT_EQ(result.output, "error: commitFailed\n");
    result = agent.client({"get", target, "public", controlOid(39)});
    EXPECT_EQ(result.output, controlOid(39) + " = 0F\n");
}

}  // namespace
}  // namespace kw::e2e
