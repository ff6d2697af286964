// kwpanel-sim as a program: endpoints, output and signals.
#include <gtest/gtest.h>
#include <signal.h>

#include "host/panel/PanelLink.h"
#include "tests/e2e/E2eSupport.h"

using namespace kw::panel;
using kw::e2e::binary;
using kw::e2e::PanelSim;
using std::chrono::milliseconds;

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
