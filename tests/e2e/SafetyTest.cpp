// Safe by default: the write community is honoured from loopback only, an exposed address
// needs communities named with their sources, and the runtime files cannot be redirected.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>

#include "E2eSupport.h"

namespace kw::e2e {
namespace {

using namespace std::chrono_literals;

namespace fs = std::filesystem;

std::vector<std::string> entries(const std::string& dir)
{
    std::vector<std::string> paths;
    for (const auto& entry : fs::directory_iterator(dir)) paths.push_back(entry.path());
    return paths;
}

// A Net-SNMP tool sent from `from` (a loopback address of our choosing).
RunResult fromSource(const std::string& from, const std::string& agent, const std::string& tool,
                     const std::string& community, const std::vector<std::string>& rest)
{
    std::vector<std::string> argv = netSnmp("/usr/bin/" + tool, agent, community, 1, rest);
    argv.insert(argv.begin() + 1, "--clientaddr=" + from);
    return run(argv);
}

TEST(Safety, DefaultWriteCommunityIsForLoopbackSourcesOnly)
{
    Agent agent({});
    ASSERT_TRUE(agent.ok()) << agent.process().err();
    const std::string oid = controlOid(39);
    const std::string at = agent.address();
    EXPECT_EQ(fromSource("127.0.0.1", at, "snmpset", "private", {oid, "s", "21"}).exitCode, 0);
    // Another source still reads with public, but private does not write from there.
    const RunResult refused = fromSource("127.0.0.2", at, "snmpset", "private", {oid, "s", "22"});
    EXPECT_NE(refused.output.find("Timeout"), std::string::npos) << refused.output;
    EXPECT_EQ(fromSource("127.0.0.2", at, "snmpget", "public", {oid}).output, "\"21\"\n");
}

TEST(Safety, ExposedAddressNeedsNamedCommunitiesAndRuntimeFilesStayPrivate)
{
    const std::string port = std::to_string(freePort(SOCK_DGRAM));
    const std::string anyAddress = "udp:0.0.0.0:" + port;
    const struct {
        std::vector<std::string> args;
        std::string needle;
    } refusals[] = {
        {{"--listen", anyAddress}, "--listen " + anyAddress + " reaches beyond loopback"},
        {{"--listen", port}, "--rocommunity COMMUNITY[,SOURCE]"},  // a bare port: every address
        {{"--listen", "udp6:[::]:" + port}, "or give --config DIR"},
        {{"--rwcommunity", "ops,10.0.0.0/8\nrwcommunity x"}, "--rwcommunity: expected a source"},
        {{"--rocommunity", "\"q\""}, "--rocommunity: expected COMMUNITY[,SOURCE]"},
        {{"--rocommunity", ",10.1.1.1"}, "--rocommunity: expected COMMUNITY[,SOURCE]"},
    };
    for (const auto& c : refusals) {
        SCOPED_TRACE(c.args.back());
        std::vector<std::string> argv{binary("kwsnmpd")};
        argv.insert(argv.end(), c.args.begin(), c.args.end());
        const RunResult result = run(argv, 10s);
        EXPECT_EQ(result.exitCode, 2);
        const auto text = lines(result.output);
        ASSERT_EQ(text.size(), 1u) << result.output;
        EXPECT_NE(text[0].find(c.needle), std::string::npos) << text[0];
    }

    // XDG_RUNTIME_DIR is a pre-placed link to somewhere else: not followed. TMPDIR is private.
    TempDir dir;
    const std::string victim = dir.file("victim"), base = dir.file("base");
    ASSERT_EQ(::mkdir(victim.c_str(), 0700), 0);
    ASSERT_EQ(::mkdir(base.c_str(), 0700), 0);
    ASSERT_EQ(::symlink(victim.c_str(), dir.file("link").c_str()), 0);
    Process agent(
        {"/usr/bin/env", "XDG_RUNTIME_DIR=" + dir.file("link"), "TMPDIR=" + base, binary("kwsnmpd"),
         "--listen", anyAddress, "--rocommunity", "watch", "--rwcommunity", "ops,127.0.0.1/32"},
        dir.file("out"), dir.file("err"));
    ASSERT_TRUE(agent.waitForErr("kwsnmpd: listening on " + anyAddress, 15s)) << agent.err();
    EXPECT_EQ(lines(agent.err()).size(), 1u) << agent.err();  // Net-SNMP took all it was given

    EXPECT_TRUE(entries(victim).empty());
    const auto made = entries(base);
    ASSERT_EQ(made.size(), 1u);
    EXPECT_EQ(fs::symlink_status(made[0]).permissions(), fs::perms::owner_all);
    EXPECT_EQ(fs::symlink_status(made[0] + "/snmpd.conf").permissions(),
              fs::perms::owner_read | fs::perms::owner_write);
    EXPECT_FALSE(fs::exists(made[0] + "/stderr.capture"));  // gone once started

    // Only the named communities, and "ops" writes from its own source only.
    const std::string at = "127.0.0.1:" + port, oid = controlOid(39);
    EXPECT_EQ(fromSource("127.0.0.1", at, "snmpset", "ops", {oid, "s", "31"}).exitCode, 0);
    EXPECT_NE(fromSource("127.0.0.2", at, "snmpset", "ops", {oid, "s", "32"}).exitCode, 0);
    EXPECT_NE(fromSource("127.0.0.1", at, "snmpget", "public", {oid}).exitCode, 0);
    EXPECT_NE(fromSource("127.0.0.1", at, "snmpset", "private", {oid, "s", "33"}).exitCode, 0);
    EXPECT_EQ(fromSource("127.0.0.2", at, "snmpget", "watch", {oid}).output, "\"31\"\n");

    agent.signal(SIGTERM);
    EXPECT_TRUE(exitedZero(agent.wait(5s))) << agent.err();
    EXPECT_TRUE(entries(base).empty());
}

}  // namespace
}  // namespace kw::e2e
