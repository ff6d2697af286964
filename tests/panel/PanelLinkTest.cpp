#include <gtest/gtest.h>
#include <pty.h>
#include <unistd.h>

#include <thread>

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

PanelServer::Options serverOptions(Dialect dialect = Dialect::Line, uint8_t id = 1)
{
    PanelServer::Options o;
    o.dialect = dialect;
    o.displayId = id;
    return o;
}

// Polls `done` for up to `limit`; for the link's background reconnection.
template <typename F>
bool eventually(F done, std::chrono::milliseconds limit = 5000ms)
{
    const auto end = std::chrono::steady_clock::now() + limit;
    while (std::chrono::steady_clock::now() < end) {
        if (done()) return true;
        std::this_thread::sleep_for(5ms);
    }
    return done();
}

}  // namespace

TEST(SimLink, AnswersFromItsModelForAnyDisplayId)
{
    SimLink link;
    EXPECT_TRUE(link.connected());
    EXPECT_EQ(link.describe(), "sim");
    EXPECT_EQ(link.transact(0x12, 9, {0x20}, kWait), (Reply{kAck, 0x12, {0x20}}));
    EXPECT_EQ(link.transact(0x12, 200, {}, kWait), (Reply{kAck, 0x12, {0x20}}));
    EXPECT_EQ(link.model()->handle(0x12, {}).values, Bytes{0x20});
    EXPECT_EQ(link.transact(0xAA, 1, {}, kWait), makeNak(0xAA, NakReason::UnknownCommand));
    EXPECT_FALSE(link.transact(0x12, 1, Bytes(256), kWait));  // does not fit a frame
    EXPECT_EQ(link.stats().replies, 3u);
}

TEST(SimLink, AFixedIdIgnoresOtherDisplays)
{
    SimLink link(SimLink::Options{{}, 4});
    EXPECT_FALSE(link.transact(0x11, 1, {}, kWait));
    EXPECT_TRUE(link.transact(0x11, 4, {}, kWait));
}

TEST(SimLink, FaultsRepeatWithTheSeed)
{
    FaultConfig faults;
    faults.silentRate = 0.25;
    faults.nakRate = 0.25;
    faults.corruptRate = 0.25;
    faults.garbageRate = 0.5;
    faults.seed = 99;
    auto pattern = [&] {
        SimLink link(SimLink::Options{faults, std::nullopt});
        std::string p;
        for (int i = 0; i < 80; ++i) {
            const auto r = link.transact(0x25, 1, {}, kWait);
            p += !r ? '-' : r->acked() ? 'A' : 'N';
        }
        return p;
    };
    const std::string first = pattern();
    EXPECT_EQ(first, pattern());
    // Every kind shows up, and garbage alone never costs a reply.
    EXPECT_NE(first.find('-'), std::string::npos);
    EXPECT_NE(first.find('N'), std::string::npos);
    EXPECT_NE(first.find('A'), std::string::npos);
}

TEST(SimLink, ALateReplyIsATimeoutAndShutdownEndsTheWait)
{
    FaultConfig slow;
    slow.delay = 30ms;
    SimLink link(SimLink::Options{slow, std::nullopt});
    EXPECT_FALSE(link.transact(0x11, 1, {}, 10ms));
    EXPECT_TRUE(link.transact(0x11, 1, {}, kWait));

    FaultConfig stuck;
    stuck.delay = 60000ms;
    SimLink hung(SimLink::Options{stuck, std::nullopt});
    std::thread stopper([&] {
        std::this_thread::sleep_for(20ms);
        hung.shutdown();
    });
    const auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(hung.transact(0x11, 1, {}, 60000ms));
    EXPECT_LT(std::chrono::steady_clock::now() - start, 10s);
    stopper.join();
    EXPECT_FALSE(hung.connected());
    EXPECT_FALSE(hung.transact(0x11, 1, {}, kWait));
}

TEST(TcpLink, TransactsWithTheServerInBothDialects)
{
    for (Dialect dialect : {Dialect::Line, Dialect::Engine}) {
        auto model = std::make_shared<PanelModel>();
        PanelServer server(model, serverOptions(dialect, 5));
        std::string error;
        ASSERT_TRUE(server.listenTcp({"127.0.0.1", 0}, &error)) << error;
        auto link = openTcpLink({"127.0.0.1", server.tcpPort()}, fastRetry(dialect));
        ASSERT_TRUE(link->waitConnected(kWait));
        EXPECT_EQ(link->describe(), "tcp:127.0.0.1:" + std::to_string(server.tcpPort()));
        EXPECT_EQ(link->transact(0x24, 5, {0x41}, kWait), (Reply{kAck, 0x24, {0x41}}));
        EXPECT_EQ(model->handle(0x24, {}).values, Bytes{0x41});
        const auto timer = link->transact(0xA4, 5, {}, kWait);
        ASSERT_TRUE(timer);
        EXPECT_EQ(timer->values.size(), 15u);
        if (dialect == Dialect::Line) {
            // Another display's ID: the panel stays quiet, the wait runs out.
            EXPECT_FALSE(link->transact(0x24, 6, {}, 100ms));
            EXPECT_EQ(link->stats().timeouts, 1u);
        }
        EXPECT_EQ(server.commandsServed(), 2u);  // the other display's command is not ours
    }
}

TEST(TcpLink, ALateReplyDoesNotAnswerTheNextCommand)
{
    PanelServer::Options options = serverOptions();
    options.faults.delay = 150ms;
    PanelServer server(std::make_shared<PanelModel>(), options);
    std::string error;
    ASSERT_TRUE(server.listenTcp({"127.0.0.1", 0}, &error)) << error;
    auto link = openTcpLink({"127.0.0.1", server.tcpPort()}, fastRetry());
    ASSERT_TRUE(link->waitConnected(kWait));
    EXPECT_FALSE(link->transact(0x12, 1, {}, 20ms));
    // The volume reply to the first command arrives while this one waits; it is stale.
    EXPECT_EQ(link->transact(0x13, 1, {}, kWait), (Reply{kAck, 0x13, {0}}));
    EXPECT_EQ(link->stats().staleReplies, 1u);
}

TEST(TcpLink, FailsFastWhileDownAndReconnectsAfterADrop)
{
    auto model = std::make_shared<PanelModel>();
    PanelServer server(model, serverOptions());
    std::string error;
    ASSERT_TRUE(server.listenTcp({"127.0.0.1", 0}, &error)) << error;
    auto link = openTcpLink({"127.0.0.1", server.tcpPort()}, fastRetry());
    ASSERT_TRUE(link->waitConnected(kWait));
    ASSERT_TRUE(link->transact(0x11, 1, {}, kWait));

    server.dropClients();
    ASSERT_TRUE(eventually([&] { return link->stats().drops == 1; }));
    // Back again by itself, and serving.
    ASSERT_TRUE(link->waitConnected(kWait));
    EXPECT_EQ(link->transact(0x12, 1, {0x09}, kWait), (Reply{kAck, 0x12, {0x09}}));
    EXPECT_EQ(link->stats().connects, 2u);
}

TEST(TcpLink, APanelDownAtStartIsRetriedInTheBackground)
{
    // Find a free port, then leave it closed.
    uint16_t port = 0;
    {
        std::string error;
        UniqueFd probe = listenTcp({"127.0.0.1", 0}, &error, &port);
        ASSERT_TRUE(probe) << error;
    }
    auto link = openTcpLink({"127.0.0.1", port}, fastRetry());
    EXPECT_FALSE(link->connected());
    const auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(link->transact(0x11, 1, {}, 5000ms));
    EXPECT_LT(std::chrono::steady_clock::now() - start, 1000ms);  // no waiting while down
    EXPECT_EQ(link->stats().failedFast, 1u);
    EXPECT_TRUE(eventually([&] { return !link->lastError().empty(); }));

    PanelServer server(std::make_shared<PanelModel>(), serverOptions());
    std::string error;
    ASSERT_TRUE(server.listenTcp({"127.0.0.1", port}, &error)) << error;
    ASSERT_TRUE(link->waitConnected(5000ms));
    EXPECT_TRUE(link->transact(0x11, 1, {}, kWait));
    EXPECT_TRUE(link->lastError().empty());

    // The panel goes away altogether: waits end at once, then it comes back on the same port.
    server.stop();
    ASSERT_TRUE(eventually([&] { return !link->connected(); }));
    EXPECT_FALSE(link->transact(0x11, 1, {}, kWait));
    PanelServer again(std::make_shared<PanelModel>(), serverOptions());
    ASSERT_TRUE(again.listenTcp({"127.0.0.1", port}, &error)) << error;
    ASSERT_TRUE(link->waitConnected(5000ms));
    EXPECT_TRUE(link->transact(0x11, 1, {}, kWait));
}

TEST(TcpLink, ShutdownEndsAWaitingTransaction)
{
    PanelServer::Options options = serverOptions();
    options.faults.silentRate = 1;
    PanelServer server(std::make_shared<PanelModel>(), options);
    std::string error;
    ASSERT_TRUE(server.listenTcp({"127.0.0.1", 0}, &error)) << error;
    auto link = openTcpLink({"127.0.0.1", server.tcpPort()}, fastRetry());
    ASSERT_TRUE(link->waitConnected(kWait));
    std::thread waiter([&] { EXPECT_FALSE(link->transact(0x11, 1, {}, 60000ms)); });
    ASSERT_TRUE(eventually([&] { return server.commandsServed() == 1; }));
    link->shutdown();
    waiter.join();
    EXPECT_FALSE(link->connected());
    link->shutdown();  // twice is harmless
}

TEST(TcpLink, ServerSpreadsClientsAndRefusesBeyondItsLimit)
{
    PanelServer::Options options = serverOptions();
    options.maxClients = 2;
    PanelServer server(std::make_shared<PanelModel>(), options);
    std::string error;
    ASSERT_TRUE(server.listenTcp({"127.0.0.1", 0}, &error)) << error;
    auto a = openTcpLink({"127.0.0.1", server.tcpPort()}, fastRetry());
    auto b = openTcpLink({"127.0.0.1", server.tcpPort()}, fastRetry());
    EXPECT_TRUE(a->transact(0x25, 1, {0x10}, kWait));
    EXPECT_EQ(b->transact(0x25, 1, {}, kWait), (Reply{kAck, 0x25, {0x10}}));  // one model
    ASSERT_TRUE(eventually([&] { return server.clientCount() == 2; }));
    // A third connection is closed at once; its link keeps retrying without success.
    auto c = openTcpLink({"127.0.0.1", server.tcpPort()}, fastRetry());
    EXPECT_TRUE(eventually([&] { return c->stats().drops >= 1; }));
    EXPECT_FALSE(server.listenTcp({"127.0.0.1", 0}, &error));
    EXPECT_EQ(error, "already listening");
}

TEST(PtyLink, SerialLinkTalksToThePanelOnAPseudoTerminal)
{
    for (Dialect dialect : {Dialect::Line, Dialect::Engine}) {
        auto model = std::make_shared<PanelModel>();
        PanelServer server(model, serverOptions(dialect));
        std::string error;
        const auto path = server.openPty(&error);
        ASSERT_TRUE(path) << error;
        auto link = openSerialLink({*path, 115200}, fastRetry(dialect), &error);
        ASSERT_TRUE(link) << error;
        EXPECT_EQ(link->describe(), "serial:" + *path);
        EXPECT_EQ(link->transact(0xA8, 1, {0, 5, 1, 5, 1}, kWait),
                  (Reply{kAck, 0xA8, {0, 5, 1, 5, 1}}));
        EXPECT_EQ(link->transact(0xA9, 1, {1}, kWait), (Reply{kAck, 0xA9, {1, 5, 1, 5, 1}}));
        const auto name = link->transact(0x8A, 1, {}, kWait);
        ASSERT_TRUE(name);
        EXPECT_EQ(std::string(name->values.begin(), name->values.end()), "KW-55D");
    }
}

TEST(PtyLink, RawPseudoTerminalCarriesFramesByteForByte)
{
    // The panel's side driven by hand over an openpty pair: exactly the frame goes out, and
    // a reply split in two writes is put together.
    int master = -1, slave = -1;
    char name[256];
    ASSERT_EQ(openpty(&master, &slave, name, nullptr, nullptr), 0);
    UniqueFd masterFd(master), slaveFd(slave);
    std::string error;
    ASSERT_TRUE(makeRaw(master, 0, &error)) << error;
    auto link = openSerialLink({name, 9600}, fastRetry(), &error);
    ASSERT_TRUE(link) << error;

    std::thread panel([&] {
        uint8_t buffer[16];
        size_t got = 0;
        while (got < 5) {
            const ssize_t n = ::read(master, buffer + got, sizeof buffer - got);
            if (n <= 0) return;
            got += static_cast<size_t>(n);
        }
        EXPECT_EQ(Bytes(buffer, buffer + got), encodeCommand(Dialect::Line, {0x12, 2, {0x33}}));
        const auto reply = encodeReply(Dialect::Line, 2, {kAck, 0x12, {0x33}});
        ASSERT_EQ(::write(master, reply.data(), 3), 3);
        std::this_thread::sleep_for(20ms);
        ASSERT_EQ(::write(master, reply.data() + 3, reply.size() - 3),
                  static_cast<ssize_t>(reply.size() - 3));
    });
    EXPECT_EQ(link->transact(0x12, 2, {0x33}, kWait), (Reply{kAck, 0x12, {0x33}}));
    panel.join();
}

TEST(PanelLinks, OpeningFailuresAreReported)
{
    std::string error;
    EXPECT_FALSE(openSerialLink({"/dev/no-such-panel", 9600}, fastRetry(), &error));
    EXPECT_EQ(error, "/dev/no-such-panel: No such file or directory");
    EXPECT_FALSE(openSerialLink({"/dev/null", 9600}, fastRetry(), &error));
    EXPECT_EQ(error, "/dev/null: not a serial device");

    PanelServer server(std::make_shared<PanelModel>(), serverOptions());
    EXPECT_FALSE(server.openSerial({"/dev/no-such-panel", 9600}, &error));
    EXPECT_EQ(error, "/dev/no-such-panel: No such file or directory");

    auto spec = parseLinkSpec("serial:/dev/no-such-panel:19200", &error);
    ASSERT_TRUE(spec);
    EXPECT_FALSE(openLink(*spec, fastRetry(), &error));
    EXPECT_NE(error.find("/dev/no-such-panel"), std::string::npos);
    spec = parseLinkSpec("sim", &error);
    ASSERT_TRUE(spec);
    auto sim = openLink(*spec, fastRetry(), &error);
    ASSERT_TRUE(sim);
    EXPECT_TRUE(sim->transact(0x11, 1, {}, kWait));
}

TEST(PanelLinks, ParsesLinkSpecs)
{
    std::string error;
    auto tcp = parseLinkSpec("tcp:panel.local:5000", &error);
    ASSERT_TRUE(tcp);
    EXPECT_EQ(tcp->kind, LinkSpec::Kind::Tcp);
    EXPECT_EQ(tcp->tcp.host, "panel.local");
    EXPECT_EQ(tcp->tcp.port, 5000);
    auto v6 = parseLinkSpec("tcp:[::1]:7", &error);
    ASSERT_TRUE(v6);
    EXPECT_EQ(v6->tcp.host, "::1");
    EXPECT_EQ(formatHostPort(v6->tcp), "[::1]:7");
    auto serial = parseLinkSpec("serial:/dev/ttyUSB0:115200", &error);
    ASSERT_TRUE(serial);
    EXPECT_EQ(serial->serial.device, "/dev/ttyUSB0");
    EXPECT_EQ(serial->serial.baud, 115200);
    serial = parseLinkSpec("serial:/dev/ttyS1", &error);
    ASSERT_TRUE(serial);
    EXPECT_EQ(serial->serial.baud, 9600);

    EXPECT_FALSE(parseLinkSpec("tcp:host", &error));
    EXPECT_FALSE(parseLinkSpec("tcp:host:0", &error));
    EXPECT_FALSE(parseLinkSpec("tcp:host:65536", &error));
    EXPECT_FALSE(parseLinkSpec("tcp::5000", &error));
    EXPECT_FALSE(parseLinkSpec("tcp:::1:5000", &error));
    EXPECT_FALSE(parseLinkSpec("serial:/dev/ttyS1:12345", &error));
    EXPECT_EQ(error, "unsupported baud rate '12345'");
    EXPECT_FALSE(parseLinkSpec("serial:", &error));
    EXPECT_FALSE(parseLinkSpec("udp:1.2.3.4:5", &error));
    EXPECT_EQ(error,
              "unknown panel 'udp:1.2.3.4:5' (expected sim, tcp:HOST:PORT or serial:DEV[:BAUD])");
    EXPECT_TRUE(parseHostPort("0.0.0.0:0", true, &error));
}
