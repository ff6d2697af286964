// Safe by default: named communities on an exposed address, runtime files kept private.
#include <sys/stat.h>

#include "E2eSupport.h"

namespace kw::e2e {

TEST(Safety, ExposedAddressNeedsNamedCommunitiesAndRuntimeFilesStayPrivate)
{
    const std::string port = std::to_string(freePort(SOCK_DGRAM));
    const std::string anyAddress = "udp:0.0.0.0:" + port;

    // XDG_RUNTIME_DIR is a pre-placed link to somewhere else: not followed. TMPDIR is private.
    TempDir dir;
    const std::string victim = dir.file("victim"), base = dir.file("base");
    ASSERT_EQ(::mkdir(victim.c_str(), 0700), 0);
    ASSERT_EQ(::mkdir(base.c_str(), 0700), 0);
    ASSERT_EQ(::symlink(victim.c_str(), dir.file("link").c_str()), 0);
    Process agent({"/usr/bin/env", "XDG_RUNTIME_DIR=" + dir.file("link"), "TMPDIR=" + base,
                   KW_E2E_BIN_DIR "/kwsnmpd", "--listen", anyAddress, "--rocommunity", "watch",
                   "--rwcommunity", "ops,127.0.0.1/32"},
                  dir.file("out"));
    ASSERT_TRUE(agent.waitForOut("kwsnmpd: listening on " + anyAddress, 15s)) << agent.out();
    EXPECT_EQ(lines(agent.out()).size(), 1u) << agent.out();  // Net-SNMP took all it was given

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

    EXPECT_TRUE(agent.stop()) << agent.out();
    EXPECT_TRUE(entries(base).empty());
}

}  // namespace kw::e2e
