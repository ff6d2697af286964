// Monitoring against a real kwsnmpd: numeric twins, health, snmptrapd and the exporter.

#include <arpa/inet.h>
#include <poll.h>

#include "E2eSupport.h"

namespace kw::e2e {

const std::string kNumeric = "1.3.6.1.4.1.32473.1.1.3";
enum HealthArc { kLinkState = 1, kCommands = 3, kDrops = 8, kConnects = 9 };

std::string numeric(int index)
{
    return kNumeric + "." + std::to_string(index + 1) + ".0";
}
// A GETBULK of the whole health section (13 objects) in one datagram, timed without a process
// start: true when it is answered and its last object, kwdQueueDepth, is a Gauge32 of 1.
bool healthShowsOneOutstanding(Agent& agent, double* ms)
{
    static const char request[] =
        "\x30\x29\x02\x01\x01\x04\x06public\xa5\x1c\x02\x01\x01\x02\x01\x00\x02\x01\x0d"
        "\x30\x11\x30\x0f\x06\x0b\x2b\x06\x01\x04\x01\x81\xfd\x59\x01\x01\x02\x05\x00";
    const int fd = ::socket(AF_INET, SOCK_DGRAM, 0);
    const auto port = static_cast<uint16_t>(std::stoi(agent.address().substr(10)));
    sockaddr_in to{AF_INET, htons(port), {htonl(INADDR_LOOPBACK)}, {}};
    char reply[2048];
    pollfd wait{fd, POLLIN, 0};
    const auto start = Clock::now();
    ::sendto(fd, request, sizeof request - 1, 0, reinterpret_cast<sockaddr*>(&to), sizeof to);
    const ssize_t n = ::poll(&wait, 1, 1000) == 1 ? ::recv(fd, reply, sizeof reply, 0) : 0;
    *ms = std::chrono::duration<double, std::milli>(Clock::now() - start).count();
    ::close(fd);
    const std::string depthOne("\x02\x0d\x00\x42\x01\x01", 6);  // ...2.13.0 = Gauge32: 1
    return n > 0 && std::string(reply, static_cast<size_t>(n)).find(depthOne) != std::string::npos;
}
// Debian's snmptrapd on a free port, printing every notification with the display MIB loaded.
struct TrapReceiver {
    std::string sink = "127.0.0.1:" + std::to_string(freePort(SOCK_DGRAM));
    Process process{{"/usr/sbin/snmptrapd", "-f", "-Lo", "-C", "--disableAuthorization=yes", "-M",
                     KW_E2E_SOURCE_DIR "/node_modules/net-snmp/lib/mibs:" KW_E2E_SOURCE_DIR "/mibs",
                     "-m", "KW-DISPLAY-MIB", "udp:" + sink}};
    // Counts, since the agent may announce its first connect: one more `name` than `seen`.
    size_t seen(const std::string& name) { return count(process.out(), name); }
    bool waitForNext(const std::string& name, size_t seen)
    {
        return process.waitForOut(name, 30s, seen + 1);
    }
};

// A panel down at start is waited for. A twin and its hex text agree and cost one panel command,
// and so does a resent request; the health section answers at once while the panel is busy; losing
// the panel line and getting it back reach snmptrapd and the counters.
TEST(Monitoring, TwinsHealthAndLinkNotifications)
{
    TrapReceiver traps;
    ASSERT_TRUE(traps.process.waitForOut("NET-SNMP version", 10s)) << traps.process.out();
    // The panel is not there yet: the agent starts all the same, retries in the background and
    // refuses display requests at once meanwhile.
    const uint16_t simPort = freePort(SOCK_STREAM);
    Agent agent({"--panel", "tcp:127.0.0.1:" + std::to_string(simPort), "--verbose", "--trap-sink",
                 traps.sink});
    ASSERT_TRUE(agent.ok);
    EXPECT_NE(agent.process->out().find("not reachable yet"), std::string::npos);
    const RunResult early = agent.get(controlOid(3));
    EXPECT_TRUE(failedWith(early, "genError")) << early.output;
    EXPECT_LT(early.seconds, 2.0);
    auto sim = std::make_unique<PanelSim>(false, Args{"--delay-ms", "700"}, simPort);
    ASSERT_TRUE(sim->ok);
    ASSERT_TRUE(agent.process->waitForOut(": connected", 10s)) << agent.process->out();

    // Volume (index 39, command 0x12), power (3, 0x11), panel on/off (86, 0xF9): one PDU
    // holding each object and its twin.
    const struct {
        int index;
        const char* command;
    } twins[] = {{39, "panel cmd 12 "}, {3, "panel cmd 11 "}, {86, "panel cmd F9 "}};
    for (const auto& twin : twins) {
        const size_t before = count(agent.process->out(), twin.command);
        const RunResult both =
            agent.tool("snmpget", "public", {controlOid(twin.index), numeric(twin.index)}, 5);
        ASSERT_EQ(both.exitCode, 0) << both.output;
        const Args values = lines(both.output);
        ASSERT_EQ(values.size(), 2u) << both.output;
        EXPECT_EQ(std::stoul(values[0].substr(1, 2), nullptr, 16), std::stoul(values[1]))
            << both.output;
        EXPECT_TRUE(agent.process->waitForOut(twin.command, 2s, before + 1));
        EXPECT_EQ(count(agent.process->out(), twin.command), before + 1) << twin.command;
    }

    // Managers that time out resend; the panel hears each request once. A resent channel-up
    // steps the channel (row 11) once: 7 to 8.
    const size_t sent = count(agent.process->out(), "panel cmd ");
    const std::string patient = " -v2c -t 0.25 -r 5 -Oqv " + agent.address() + " ";
    const RunResult up =
        run(words("/usr/bin/snmpset -c private" + patient + controlOid(12) + " s 00"));
    EXPECT_EQ(up.exitCode, 0) << up.output;
    const RunResult channel = run(words("/usr/bin/snmpget -c public" + patient + controlOid(11)));
    EXPECT_EQ(channel.output, "\"00 00 08 00 01 00 00 00\"\n");
    EXPECT_GT(channel.seconds, 0.6);
    EXPECT_EQ(count(agent.process->out(), "panel cmd "), sent + 2) << agent.process->out();

    // While a get waits out the panel's delay, the health objects answer within 5 ms.
    Process busy(netSnmp("snmpget", agent.address(), "public", 5, {controlOid(17)}));
    double ms = 0;  // the busy get in service
    ASSERT_TRUE(eventually([&] { return healthShowsOneOutstanding(agent, &ms); }, 2s));
    std::printf("health section while a panel command is outstanding: %.2f ms\n", ms);
    EXPECT_LE(ms, 5.0);
    EXPECT_TRUE(exitedZero(busy.wait(5s)));

    // The line goes: kwdPanelLinkDown, the state and the drop counter say so.
    const unsigned long drops = std::stoul(agent.value(healthOid(kDrops)));
    size_t downs = traps.seen("kwdPanelLinkDown"), ups = traps.seen("kwdPanelLinkUp");
    ASSERT_TRUE(sim->process->stop());
    EXPECT_TRUE(traps.waitForNext("kwdPanelLinkDown", downs++));
    EXPECT_EQ(agent.value(healthOid(kLinkState)), "2");
    EXPECT_GT(std::stoul(agent.value(healthOid(kDrops))), drops);
    const unsigned long connects = std::stoul(agent.value(healthOid(kConnects)));
    // It comes back answering after 3.5 s, longer than the protocol service used to wait.
    sim = std::make_unique<PanelSim>(false, Args{"--delay-ms", "3500"}, simPort);
    ASSERT_TRUE(sim->ok);
    EXPECT_TRUE(traps.waitForNext("kwdPanelLinkUp", ups++));
    EXPECT_EQ(agent.value(healthOid(kLinkState)), "1");
    EXPECT_GT(std::stoul(agent.value(healthOid(kConnects))), connects);
    const RunResult slow = agent.get(numeric(39), 15);
    EXPECT_EQ(slow.output, "15\n");
    EXPECT_GE(slow.seconds, 3.5);
    // Three twin PDUs, the resent set and get, the busy get and this last one.
    EXPECT_GE(std::stoul(agent.value(healthOid(kCommands))), 7u);

    // Stopped with SIGSTOP, the panel keeps its connection open and silent: reported down
    // within 30 s, commands refused at once, and up again once it runs.
    sim->process->signal(SIGSTOP);
    const auto deadline = Clock::now() + 30s;
    while (Clock::now() < deadline && traps.seen("kwdPanelLinkDown") == downs)
        agent.get(controlOid(3), 15);
    EXPECT_TRUE(traps.waitForNext("kwdPanelLinkDown", downs)) << agent.process->out();
    EXPECT_LT(Clock::now(), deadline);
    const RunResult refused = agent.get(controlOid(3), 15);
    EXPECT_TRUE(failedWith(refused, "genError")) << refused.output;
    EXPECT_LT(refused.seconds, 2.0);
    sim->process->signal(SIGCONT);
    EXPECT_TRUE(traps.waitForNext("kwdPanelLinkUp", ups));
    EXPECT_EQ(agent.get(controlOid(3), 15).output, "\"01\"\n");
}

// The exporter serves the kw_display module from the committed snmp.yml: the simulated
// panel's values and the health counters, and after a SET the new value.
TEST(Monitoring, PrometheusExporterScrapesTheModule)
{
    Agent agent({});
    ASSERT_TRUE(agent.ok);
    const std::string listen = "127.0.0.1:" + std::to_string(freePort(SOCK_STREAM));
    const std::string config = KW_E2E_SOURCE_DIR "/monitoring/snmp.yml";
    Process exporter({"/usr/bin/prometheus-snmp-exporter", "--config.file=" + config,
                      "--web.listen-address=" + listen});
    const Args scrape{"/usr/bin/python3", "-c",
                      "import sys, urllib.request\n"
                      "print(urllib.request.urlopen(sys.argv[1], timeout=20).read().decode())",
                      "http://" + listen + "/snmp?module=kw_display&target=" + agent.address()};
    RunResult page;
    ASSERT_TRUE(eventually([&] { return (page = run(scrape)).exitCode == 0; }, 10s)) << page.output;
    for (const std::string line :
         {"kwdVolumeValue 15\n", "kwdPowerValue 1\n", "kwdPanelOnOffValue 1\n",
          "kwdTemperatureValue 77\n", "kwdPanelLinkState 1\n", "kwdPanelCommands ",
          "kwdRequestsServed ", "kwdResendsAbsorbed "})
        EXPECT_NE(page.output.find("\n" + line), std::string::npos) << line;

    ASSERT_EQ(agent.set(controlOid(39), "21").exitCode, 0);
    page = run(scrape);
    EXPECT_NE(page.output.find("\nkwdVolumeValue 33\n"), std::string::npos) << page.output;

    // Each status value in the module is one panel command with its 100 ms pause.
    const double pauses =
        0.1 * static_cast<double>(count(readFile(config), "\n  - " + kNumeric + "."));
    std::smatch took;
    ASSERT_TRUE(
        std::regex_search(page.output, took, std::regex("\nsnmp_scrape_duration_seconds (\\S+)")));
    std::printf("scrape: %s s for %.1f s of mandated pauses\n", took[1].str().c_str(), pauses);
    EXPECT_LT(std::stod(took[1]), pauses * 1.5);
}

}  // namespace kw::e2e
