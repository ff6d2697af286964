// Panel links: the in-process simulator, TCP, pseudo-terminals, link specs, and a TCP line that
// stays open while nothing answers on it. (A panel down at start, or lost and back, is retried:
// PanelLine in the end-to-end tests.)
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <thread>

#include "host/panel/FaultOptions.h"
#include "host/panel/PanelLink.h"
#include "host/panel/PanelServer.h"

using namespace kw::panel;
using namespace std::chrono_literals;

namespace {

using Bytes = std::vector<uint8_t>;
constexpr auto kWait = 2000ms;  // generous: replies come in milliseconds, also under qemu

LinkOptions fastRetry(Dialect dialect = Dialect::Line)
{
    LinkOptions o;
    o.dialect = dialect;
    o.retryMin = 10ms;
    o.retryMax = 40ms;
    o.connectTimeout = 500ms;
    return o;
}

// A panel server on a free TCP port and a connected link to it.
struct TcpRig {
    explicit TcpRig(Dialect dialect = Dialect::Line, uint8_t id = 1, size_t maxClients = 8)
        : server(std::make_shared<PanelModel>(), {dialect, id, {}, 200ms, maxClients})
    {
        EXPECT_TRUE(server.listenTcp({"127.0.0.1", 0}, nullptr));
        link = openTcpLink({"127.0.0.1", server.tcpPort()}, fastRetry(dialect));
        EXPECT_TRUE(link->waitConnected(kWait));
    }
    PanelServer server;
    std::unique_ptr<StreamLink> link;
};

// Polls `done` for up to 5 s; for what the link does in the background.
template <typename F>
bool eventually(F done)
{
    for (auto end = std::chrono::steady_clock::now() + 5s; !done();
         std::this_thread::sleep_for(5ms))
        if (std::chrono::steady_clock::now() > end) return false;
    return true;
}

UniqueFd acceptFrom(const UniqueFd& listener)
{
    pollfd p{listener.get(), POLLIN, 0};
    if (::poll(&p, 1, 2000) != 1) return {};
    return UniqueFd(::accept4(listener.get(), nullptr, nullptr, SOCK_CLOEXEC));
}

// What arrives next: empty at the end of the stream, nullopt after 2 s of nothing.
std::optional<Bytes> readSome(const UniqueFd& fd)
{
    pollfd p{fd.get(), POLLIN, 0};
    uint8_t buffer[256];
    const ssize_t n = ::poll(&p, 1, 2000) == 1 ? ::read(fd.get(), buffer, sizeof buffer) : -1;
    return n < 0 ? std::nullopt : std::optional<Bytes>(Bytes(buffer, buffer + n));
}

bool closedByLink(const UniqueFd& fd)
{
    auto bytes = readSome(fd);
    while (bytes && !bytes->empty()) bytes = readSome(fd);
    return bytes.has_value();
}

}  // namespace

TEST(SimLink, AnswersFromItsModel)
{
    std::string error;
    auto link = openLink(*parseLinkSpec("sim", &error), fastRetry(), &error);
    ASSERT_TRUE(link);
    EXPECT_EQ(link->transact(0x12, 200, {0x20}, kWait), (Reply{kAck, 0x12, {0x20}}));  // any ID
    EXPECT_EQ(link->transact(0xAA, 1, {}, kWait), makeNak(0xAA, NakReason::UnknownCommand));
    EXPECT_FALSE(link->transact(0x12, 1, Bytes(256), kWait));  // does not fit a frame
    SimLink fixed(SimLink::Options{{}, 4});
    EXPECT_FALSE(fixed.transact(0x11, 1, {}, kWait));
    EXPECT_TRUE(fixed.transact(0x11, 4, {}, kWait));
    fixed.shutdown();
    EXPECT_FALSE(fixed.connected() || fixed.transact(0x11, 4, {}, kWait));
}

TEST(PanelLinks, TcpAndSerialLinksTransactWithTheServerInBothDialects)
{
    for (Dialect dialect : {Dialect::Line, Dialect::Engine}) {
        SCOPED_TRACE(dialectName(dialect));
        TcpRig rig(dialect, 5);
        EXPECT_EQ(rig.link->transact(0x24, 5, {0x41}, kWait), (Reply{kAck, 0x24, {0x41}}));
        EXPECT_EQ(rig.link->transact(0xA4, 5, {}, kWait)->values.size(), 15u);
        // Another display's ID: the line panel stays quiet until the wait runs out.
        EXPECT_EQ(rig.link->transact(0x24, 6, {}, 100ms).has_value(), dialect == Dialect::Engine);

        std::string error;  // the same server on a pseudo-terminal
        const auto path = rig.server.openPty(&error);
        ASSERT_TRUE(path) << error;
        auto serial = openSerialLink({*path, 115200}, fastRetry(dialect), &error);
        ASSERT_TRUE(serial) << error;
        EXPECT_EQ(serial->transact(0x24, 5, {}, kWait), (Reply{kAck, 0x24, {0x41}}));
    }
}

TEST(TcpLink, ServerRefusesClientsBeyondItsLimitAndShutdownEndsAWait)
{
    TcpRig rig(Dialect::Line, 1, 2);
    auto b = openTcpLink({"127.0.0.1", rig.server.tcpPort()}, fastRetry());
    ASSERT_TRUE(b->waitConnected(kWait));
    // A third connection is closed at once; its link keeps retrying without success.
    auto c = openTcpLink({"127.0.0.1", rig.server.tcpPort()}, fastRetry());
    EXPECT_TRUE(eventually([&] { return c->stats().drops >= 1; }));

    // The panel is display 1: a command for display 9 goes unanswered until shutdown.
    std::thread waiter([&] { EXPECT_FALSE(b->transact(0x11, 9, {}, 60000ms)); });
    ASSERT_TRUE(eventually([&] { return b->stats().transactions == 1; }));
    b->shutdown();
    waiter.join();
    EXPECT_FALSE(b->connected());
    EXPECT_TRUE(rig.link->transact(0x11, 1, {}, kWait));
}

TEST(PanelLinks, ParsesLinkSpecsAndReportsOpeningFailures)
{
    std::string error;
    ASSERT_EQ(parseLinkSpec("tcp:panel.local:5000", &error).value().kind, LinkSpec::Kind::Tcp);
    for (std::string host : {"panel.local:5000", "[::1]:7"})
        EXPECT_EQ(formatHostPort(parseLinkSpec("tcp:" + host, &error).value().tcp), host);
    const auto serial = parseLinkSpec("serial:/dev/ttyUSB0:115200", &error).value().serial;
    EXPECT_EQ(std::tie(serial.device, serial.baud), std::make_tuple("/dev/ttyUSB0", 115200));
    EXPECT_EQ(parseLinkSpec("serial:/dev/ttyS1", &error).value().serial.baud, 9600);
    for (const char* bad :
         {"tcp:host", "tcp:host:0", "tcp:host:65536", "tcp:host:5x", "tcp:host:", "tcp::5000",
          "tcp:::1:5000", "serial:", "serial:/dev/ttyS1:12345", "udp:1.2.3.4:5"})
        EXPECT_FALSE(parseLinkSpec(bad, &error)) << bad;

    EXPECT_FALSE(openSerialLink({"/dev/null", 9600}, fastRetry(), &error));
    EXPECT_EQ(error, "/dev/null: not a serial device");
}

// Fault options take a whole value or nothing: a refusal names the option and changes nothing.
TEST(FaultOptions, TakeWholeValuesInRangeAndNameTheOptionWhenRefusing)
{
    FaultConfig faults;
    std::string error;
    EXPECT_TRUE(applyFaultOption(kOptNakRate, "0.25", faults, &error) &&
                applyFaultOption(kOptSilentRate, "1", faults, &error) &&
                applyFaultOption(kOptDelayMs, "600000", faults, &error) &&
                applyFaultOption(kOptSeed, "4294967295", faults, &error));
    EXPECT_EQ(std::make_tuple(0.25, 600000L, 4294967295u),
              std::make_tuple(faults.nakRate, long(faults.delay.count()), faults.seed));
    for (auto [id, text] : {std::pair<int, const char*>{kOptNakRate, ""},
                            {kOptGarbageRate, "1.5"},
                            {kOptSilentRate, "0.5x"},
                            {kOptCorruptRate, "nan"},
                            {kOptDelayMs, "600001"},
                            {kOptDelayMs, " 5"},
                            {kOptSeed, "-1"},
                            {0, "1"}})
        EXPECT_FALSE(applyFaultOption(id, text, faults, &error)) << text;
    EXPECT_EQ(error, "not a fault option");
    applyFaultOption(kOptNakRate, "", faults, &error);
    EXPECT_EQ(error, "--nak-rate: expected a probability from 0 to 1, got ''");
    EXPECT_EQ(faults.nakRate + faults.garbageRate + faults.silentRate + faults.corruptRate, 1.25);
}

// A peer that accepts connections and says nothing unless the test writes for it; the line
// carries short keepalive timers, is dropped after silent commands in a row, and stays down
// until the panel answers a probe on a new connection.
TEST(SilentLine, SilenceDropsTheLineWhichStaysDownUntilThePanelAnswersAProbe)
{
    uint16_t port = 0;
    const UniqueFd panel = listenTcp({"127.0.0.1", 0}, nullptr, &port);
    const UniqueFd plain = connectTcp({"127.0.0.1", port}, 1000ms, nullptr);
    const int expected[][3] = {
        {SOL_SOCKET, SO_KEEPALIVE, 1},          {IPPROTO_TCP, TCP_KEEPIDLE, 5},
        {IPPROTO_TCP, TCP_KEEPINTVL, 2},        {IPPROTO_TCP, TCP_KEEPCNT, 3},
        {IPPROTO_TCP, TCP_USER_TIMEOUT, 11000}, {IPPROTO_TCP, TCP_NODELAY, 1}};
    for (const auto& [level, name, value] : expected) {
        int got = -1;
        socklen_t size = sizeof got;
        EXPECT_EQ(getsockopt(plain.get(), level, name, &got, &size) == 0 ? got : -1, value) << name;
    }
    ASSERT_TRUE(acceptFrom(panel));

    LinkOptions options;
    options.retryMin = options.retryMax = 10ms;
    options.probeTimeout = 300ms;
    auto link = openTcpLink({"127.0.0.1", port}, options);
    const UniqueFd first = acceptFrom(panel);
    ASSERT_TRUE(link->waitConnected(1000ms));

    EXPECT_FALSE(link->transact(0x12, 3, {}, 30ms));
    // Its late reply is stale, yet shows the panel alive: the silence count starts again.
    const Bytes late = encodeReply(Dialect::Line, 3, Reply{kAck, 0x12, {7}});
    ASSERT_EQ(::write(first.get(), late.data(), late.size()), ssize_t(late.size()));
    ASSERT_TRUE(eventually([&] { return link->stats().staleReplies == 1; }));
    EXPECT_FALSE(link->transact(0x12, 3, {}, 30ms));
    EXPECT_TRUE(link->connected());  // one silence may be a slow panel
    EXPECT_FALSE(link->transact(0x12, 3, {}, 30ms));
    EXPECT_FALSE(link->connected());
    EXPECT_EQ(link->lastError(), "no reply to 2 commands in a row");
    EXPECT_FALSE(link->transact(0x12, 3, {}, 5000ms));  // refused at once while down
    EXPECT_TRUE(closedByLink(first));

    // A new connection alone does not bring the line up: the probe goes unanswered, the
    // connection is closed, and the next one is probed again.
    const Bytes probe = encodeCommand(Dialect::Line, Command{0x11, 3, {}});
    const UniqueFd second = acceptFrom(panel);
    EXPECT_EQ(readSome(second), probe);
    EXPECT_TRUE(closedByLink(second));
    EXPECT_FALSE(link->connected());
    const UniqueFd third = acceptFrom(panel);
    EXPECT_EQ(readSome(third), probe);
    const Bytes reply = encodeReply(Dialect::Line, 3, Reply{kAck, 0x11, {1}});
    ASSERT_EQ(::write(third.get(), reply.data(), reply.size()), ssize_t(reply.size()));
    ASSERT_TRUE(link->waitConnected(1000ms));
    EXPECT_TRUE(link->lastError().empty());

    // Up again, with the silence count started afresh.
    EXPECT_FALSE(link->transact(0x12, 3, {}, 30ms));
    EXPECT_TRUE(link->connected());
    const LinkStats stats = link->stats();
    EXPECT_EQ(std::tie(stats.drops, stats.silentDrops, stats.connects, stats.failedFast,
                       stats.timeouts, stats.staleReplies),
              std::make_tuple(1u, 1u, 2u, 1u, 4u, 1u));
}
