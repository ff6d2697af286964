// A TCP panel line that stays open while nothing answers on it.
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <thread>

#include "host/panel/PanelLink.h"

namespace kw::panel {
namespace {

using namespace std::chrono_literals;
using Bytes = std::vector<uint8_t>;

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
    for (int i = 0; i < 200 && link->stats().staleReplies == 0; ++i)
        std::this_thread::sleep_for(10ms);
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

}  // namespace
}  // namespace kw::panel
