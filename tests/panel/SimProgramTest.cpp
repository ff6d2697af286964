// kwpanel-sim as a program: options, endpoints, output and signals.
#include <gtest/gtest.h>
#include <signal.h>

#include "host/panel/PanelLink.h"
#include "tests/e2e/E2eSupport.h"

using namespace kw::panel;
using kw::e2e::binary;
using kw::e2e::PanelSim;
using std::chrono::milliseconds;

TEST(KwPanelSim, HelpAndBadOptions)
{
    const auto help = kw::e2e::run({binary("kwpanel-sim"), "--help"});
    EXPECT_EQ(help.exitCode, 0);
    EXPECT_EQ(help.output.rfind("usage: kwpanel-sim", 0), 0u) << help.output;

    const struct {
        std::vector<std::string> args;
        int code;
        std::string message;
    } failures[] = {
        {{}, 2, "no endpoint: give --tcp HOST:PORT, --pty or --serial DEV (try --help)"},
        {{"--pty", "--frobnicate"}, 2, "unrecognized option '--frobnicate'"},
        {{"--pty", "--nak-rate", "1.5"},
         2,
         "--nak-rate: expected a probability from 0 to 1, got '1.5'"},
        {{"--pty", "--display-id", "256"},
         2,
         "--display-id: expected a whole number from 0 to 255, got '256'"},
        {{"--pty", "--dialect", "modem"}, 2, "--dialect: expected line or engine, got 'modem'"},
        {{"--tcp", "localhost"}, 2, "--tcp: expected HOST:PORT, got 'localhost'"},
        {{"--serial", "/dev/no-such-panel"}, 1, "/dev/no-such-panel: No such file or directory"},
    };
    for (const auto& f : failures) {
        std::vector<std::string> argv{binary("kwpanel-sim")};
        argv.insert(argv.end(), f.args.begin(), f.args.end());
        const auto result = kw::e2e::run(argv);
        EXPECT_EQ(result.exitCode, f.code) << f.message;
        EXPECT_EQ(result.output, "kwpanel-sim: " + f.message + "\n");
    }
}

TEST(KwPanelSim, ServesTcpAndPtyAtOnceWithFaultsAndStopsOnSigint)
{
    PanelSim sim(PanelSim::Endpoint::Pty,
                 {"--tcp", "127.0.0.1:0", "--display-id", "7", "--nak-rate", "1", "--seed", "5"});
    ASSERT_TRUE(sim.ok());
    ASSERT_TRUE(sim.process().waitForOut("\ntcp:127.0.0.1:", milliseconds(5000)));
    const std::string tcp = kw::e2e::lines(sim.process().out()).at(1);

    std::string error;
    auto spec = parseLinkSpec(tcp, &error);
    ASSERT_TRUE(spec) << error;
    auto overTcp = openLink(*spec, LinkOptions{}, &error);
    auto overPty = openSerialLink({sim.ptyPath(), 9600}, LinkOptions{}, &error);
    ASSERT_TRUE(overPty) << error;
    EXPECT_EQ(overTcp->transact(0x11, 7, {}, milliseconds(2000)),
              makeNak(0x11, NakReason::Injected));
    EXPECT_EQ(overPty->transact(0x11, 7, {}, milliseconds(2000)),
              makeNak(0x11, NakReason::Injected));
    EXPECT_FALSE(overPty->transact(0x11, 8, {}, milliseconds(100)));  // not its ID

    // A second simulator cannot take the same port.
    const auto busy = kw::e2e::run({binary("kwpanel-sim"), "--tcp", tcp.substr(4)});
    EXPECT_EQ(busy.exitCode, 1);
    EXPECT_NE(busy.output.find("Address already in use"), std::string::npos) << busy.output;

    sim.process().signal(SIGINT);  // SIGTERM: the end-to-end tests stop it so
    EXPECT_TRUE(kw::e2e::exitedZero(sim.process().wait(milliseconds(2000))));
}
