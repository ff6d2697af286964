// The programs as installed and run: command lines, service manager, install tree, package.
#include <sys/time.h>
#include <sys/un.h>

#include <set>

#include "E2eSupport.h"

namespace kw::e2e {

constexpr const char* kEngineBoots = "1.3.6.1.6.3.10.2.1.2.0";

TEST(Options, MistakesGiveOneLineAndAnExitCode)
{
    uint16_t taken = 0;  // a UDP port that is taken
    const int fd = bindLoopback(SOCK_DGRAM, &taken);
    const std::string busy = "udp:127.0.0.1:" + std::to_string(taken);
    TempDir emptyConfig;
    const std::string noTty = "/dev/kw-no-such-tty: No such file or directory";
    const std::string port = std::to_string(taken), anyAddress = "udp:0.0.0.0:" + port;

    const struct {
        std::string program;
        Args args;
        int exitCode;
        std::string needle;
    } cases[] = {
        {"kwsnmpd", {"--bogus"}, 2, "unrecognized option '--bogus'"},
        {"kwsnmpd", {"--", "sim"}, 2, "unexpected argument 'sim'"},
        {"kwsnmpd", {"-p", "usb:1"}, 2, "unknown panel 'usb:1'"},
        {"kwsnmpd", {"--pan=tcp:localhost"}, 2, "--panel=tcp:localhost"},
        {"kwsnmpd", {"--panel", "serial:/dev/ttyS0:12345"}, 2, "unsupported baud rate"},
        {"kwsnmpd", {"-i256"}, 2, "--display-id: expected a whole number from 0 to 255, got '256'"},
        {"kwsnmpd", {"--seed=-1"}, 2, "--seed: expected a whole number"},
        {"kwsnmpd", words("-p tcp:127.0.0.1:9 --silent-rate 1"), 2, "fault injection needs"},
        {"kwsnmpd", {"--panel", "serial:/dev/kw-no-such-tty"}, 1, noTty},
        {"kwsnmpd", {"--panel", "direct-serial:/dev/kw-no-such-tty:19200"}, 1, noTty},
        {"kwsnmpd", {"-l", busy}, 1, "cannot listen on " + busy},
        {"kwsnmpd", {"--config", emptyConfig.path}, 1, "no snmpd.conf"},
        // Safe by default: an exposed address needs communities named with their sources.
        {"kwsnmpd", {"--listen", anyAddress}, 2, "--listen " + anyAddress + " reaches beyond"},
        {"kwsnmpd", {"--listen", port}, 2, "--rocommunity COMMUNITY[,SOURCE]"},  // every address
        {"kwsnmpd", {"--listen", "udp6:[::]:" + port}, 2, "or give --config DIR"},
        {"kwsnmpd", {"--rwcommunity", "ops,10.0.0.0/8\nrwcommunity x"}, 2, "expected a source"},
        {"kwsnmpd", {"--rocommunity", "\"q\""}, 2, "--rocommunity: expected COMMUNITY[,SOURCE]"},
        {"kwpanel-sim", {"-p", "-t"}, 2, "option requires an argument -- 't'"},
        {"kwpanel-sim", {"-p", "--garbage-rate=2"}, 2, "--garbage-rate: expected a probability"},
    };
    for (const auto& c : cases) {
        Args argv{KW_E2E_BIN_DIR "/" + c.program};
        argv.insert(argv.end(), c.args.begin(), c.args.end());
        SCOPED_TRACE(c.program + " " + (c.args.empty() ? "" : c.args.back()));
        const RunResult result = run(argv, 20s);
        EXPECT_EQ(result.exitCode, c.exitCode) << result.output;
        EXPECT_EQ(count(result.output, "\n"), 1u) << result.output;  // one line
        EXPECT_EQ(result.output.rfind(c.program + ": ", 0), 0u) << result.output;
        EXPECT_NE(result.output.find(c.needle), std::string::npos) << result.output;
    }
    ::close(fd);
    EXPECT_EQ(run({KW_E2E_BIN_DIR "/kwsnmpd", "-V"}).output, "kwsnmpd " KW_E2E_VERSION "\n");
}

TEST(Service, NotifiesReadyWatchdogAndStoppingAndKeepsEngineBootsAcrossARestart)
{
    TempDir dir, runtime;
    // The service manager's notification socket, read here for 100 ms at most at a time.
    const int notify = ::socket(AF_UNIX, SOCK_DGRAM, 0);
    sockaddr_un name{AF_UNIX, {}};
    dir.file("notify").copy(name.sun_path, sizeof name.sun_path - 1);
    ASSERT_EQ(::bind(notify, reinterpret_cast<sockaddr*>(&name), sizeof name), 0);
    const timeval readLimit{0, 100000};
    ::setsockopt(notify, SOL_SOCKET, SO_RCVTIMEO, &readLimit, sizeof readLimit);
    auto next = [&] {
        char buffer[512];
        const ssize_t n = ::recv(notify, buffer, sizeof buffer, 0);
        return std::string(buffer, n > 0 ? static_cast<size_t>(n) : 0);
    };
    auto waitFor = [&](const std::string& needle, milliseconds limit) {
        return eventually([&] { return next().find(needle) != std::string::npos; }, limit);
    };
    const Args env{"/usr/bin/env", "NOTIFY_SOCKET=" + dir.file("notify"), "WATCHDOG_USEC=400000",
                   "STATE_DIRECTORY=" + dir.file("state"), "RUNTIME_DIRECTORY=" + runtime.path};
    for (int boot = 1; boot <= 2; ++boot) {
        SCOPED_TRACE("run " + std::to_string(boot));
        // Started bare, so that nothing but the manager's socket says when it is ready.
        const std::string address = "127.0.0.1:" + std::to_string(freePort(SOCK_DGRAM));
        Args argv = env;
        argv.insert(argv.end(), {KW_E2E_BIN_DIR "/kwsnmpd", "-i", "7", "-l", "udp:" + address});
        Process daemon(argv);
        ASSERT_TRUE(waitFor("READY=1", 15s)) << daemon.out();
        // Ready means answering: a single try at once gets through.
        const Args both{controlOid(3), kEngineBoots};
        EXPECT_EQ(run(netSnmp("snmpget", address, "public", 1, both)).output,
                  "\"01\"\n" + std::to_string(boot) + "\n");
        EXPECT_EQ(entries(runtime.path).size(), 1u);

        // Keep-alives at half the watchdog's 400 ms.
        int keepAlives = 0;
        for (const auto end = Clock::now() + 1s; Clock::now() < end;)
            keepAlives += next().find("WATCHDOG=1") != std::string::npos;
        EXPECT_GE(keepAlives, 3);
        EXPECT_LE(keepAlives, 7);

        EXPECT_TRUE(daemon.stop()) << daemon.out();
        EXPECT_TRUE(waitFor("STOPPING=1", 1s));
        EXPECT_TRUE(entries(runtime.path).empty());
    }
    ::close(notify);
    // It holds USM keys: the agent's user alone may look in.
    EXPECT_EQ(fs::status(dir.file("state")).permissions() & fs::perms::all, fs::perms::owner_all);
}

// Option names on the lines that introduce an option, as `--help` and the rendered manual page
// lay them out: "  -p, --panel=WHERE" or "      --seed=N".
std::set<std::string> optionsListedIn(const std::string& text)
{
    static const std::regex optionLine("^ {1,7}(-[A-Za-z], )?(--[a-z][a-z-]*)");
    std::set<std::string> names;
    for (const std::string& line : lines(text)) {
        std::smatch m;
        if (!std::regex_search(line, m, optionLine)) continue;
        names.insert(m[2]);
        if (m[1].matched) names.insert(m[1].str().substr(0, 2));
    }
    return names;
}

// Runs an installed kwsnmpd with no environment at all and has it answer a get.
void expectServes(const std::string& program, const std::string& configDir)
{
    const std::string listen = "udp:127.0.0.1:" + std::to_string(freePort(SOCK_DGRAM));
    Process daemon({"/usr/bin/env", "-i", program, "--config", configDir, "--listen", listen});
    ASSERT_TRUE(daemon.waitForOut("kwsnmpd: listening on", 15s)) << daemon.out();
    EXPECT_EQ(run(netSnmp("snmpget", listen.substr(4), "public", 3, {controlOid(3)})).output,
              "\"01\"\n");
    EXPECT_TRUE(daemon.stop()) << daemon.out();
}

TEST(Install, StagedTreeRunsAndCarriesAVerifiedUnitAndTheManualPages)
{
    TempDir root;
    const RunResult install =
        run({"/usr/bin/env", "DESTDIR=" + root.path, "cmake", "--install", KW_E2E_BUILD_DIR});
    ASSERT_EQ(install.exitCode, 0) << install.output;
    const std::string prefix = root.path + KW_E2E_INSTALL_PREFIX;
    const std::string libs = prefix + "/" KW_E2E_PRIVATE_LIBDIR;
    for (const std::string& file :
         {libs + "/libsnmp.so", libs + "/libKWSNMP.so", libs + "/libkwhost.so",
          prefix + "/share/snmp/mibs/KW-DISPLAY-MIB.txt", prefix + "/bin/kwpanel-sim"})
        EXPECT_TRUE(fs::is_regular_file(file)) << file;
    // Nothing in the system's own library directory but the private one.
    for (const auto& entry : fs::directory_iterator(fs::path(libs).parent_path()))
        EXPECT_TRUE(entry.is_directory()) << entry.path();
    expectServes(prefix + "/sbin/kwsnmpd", root.path + KW_E2E_SYSCONFDIR "/kwsnmpd");

    // The unit, with its program looked up in the staged tree.
    std::string unit;
    for (const auto& entry : fs::recursive_directory_iterator(root.path))
        if (entry.path().filename() == "kwsnmpd.service") unit = entry.path();
    const std::string staged = std::regex_replace(readFile(unit), std::regex("\nExecStart=/"),
                                                  "\nExecStart=" + root.path + "/");
    TempDir units;
    std::ofstream(units.file("kwsnmpd.service")) << staged;
    const std::string manPath = "MANPATH=" + prefix + "/share/man";
    const RunResult verify =
        run({"/usr/bin/env", manPath, "systemd-analyze", "verify", units.file("kwsnmpd.service")});
    EXPECT_TRUE(verify.exitCode == 0 && verify.output.empty()) << verify.output;
    const RunResult security = run(
        {"/usr/bin/systemd-analyze", "security", "--offline=true", units.file("kwsnmpd.service")});
    std::smatch exposure;
    ASSERT_TRUE(std::regex_search(security.output, exposure,
                                  std::regex("Overall exposure level for \\S+: ([0-9.]+)")))
        << security.output;
    EXPECT_LE(std::stod(exposure[1]), 2.0) << security.output;

    // Every option that --help lists is in the manual page, and the other way round.
    for (const std::string page : {"man8/kwsnmpd.8", "man1/kwpanel-sim.1"}) {
        const std::string program = page.substr(5, page.size() - 7);
        const RunResult rendered =
            run({"/usr/bin/env", "MANWIDTH=100", "man", "-l", prefix + "/share/man/" + page});
        ASSERT_EQ(rendered.exitCode, 0) << rendered.output;
        const std::set<std::string> helpOptions =
            optionsListedIn(run({KW_E2E_BIN_DIR "/" + program, "--help"}).output);
        EXPECT_GE(helpOptions.size(), 10u);
        EXPECT_EQ(optionsListedIn(rendered.output), helpOptions) << program;
    }
}

TEST(Install, DebianPackageKeepsItsLibrariesPrivateAndRunsUnpacked)
{
    std::string deb;
    std::error_code ignored;
    for (const auto& entry : fs::directory_iterator(KW_E2E_BUILD_DIR "/deb", ignored))
        if (entry.path().filename().string().rfind("kwsnmpd_", 0) == 0 &&
            entry.path().extension() == ".deb")
            deb = entry.path();
    if (deb.empty()) GTEST_SKIP() << "no package in " KW_E2E_BUILD_DIR "/deb: run `make deb`";

    const RunResult contents = run({"/usr/bin/dpkg-deb", "-c", deb});
    ASSERT_EQ(contents.exitCode, 0) << contents.output;
    const std::string systemLibs = "./usr/lib/" KW_E2E_MULTIARCH "/";
    for (const std::string& line : lines(contents.output)) {
        const std::string path = line.substr(line.find("./"));
        const bool systemLib = path.rfind(systemLibs, 0) == 0 && path != systemLibs;
        EXPECT_TRUE(!systemLib || path.rfind(systemLibs + "kwsnmp/", 0) == 0) << path;
    }
    for (const std::string& file :
         {systemLibs + "kwsnmp/libsnmp.so", std::string("./etc/kwsnmpd/snmpd.conf"),
          std::string("./usr/share/man/man8/kwsnmpd.8.gz"), std::string("/kwsnmpd.service")})
        EXPECT_NE(contents.output.find(file), std::string::npos) << file;

    TempDir root;
    ASSERT_EQ(run({"/usr/bin/dpkg-deb", "-x", deb, root.path}).exitCode, 0);
    expectServes(root.file("usr/sbin/kwsnmpd"), root.file("etc/kwsnmpd"));
}

}  // namespace kw::e2e
