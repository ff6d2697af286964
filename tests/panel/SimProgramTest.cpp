// kwpanel-sim as a program: options, endpoints, output and signals.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <thread>

#include "host/panel/PanelLink.h"

using namespace kw::panel;
using namespace std::chrono_literals;

namespace {

class SimProcess {
public:
    explicit SimProcess(std::vector<std::string> args)
    {
        int out[2], err[2];
        if (pipe2(out, O_CLOEXEC) != 0 || pipe2(err, O_CLOEXEC) != 0) std::abort();
        m_pid = fork();
        if (m_pid == 0) {
            dup2(out[1], 1);
            dup2(err[1], 2);
            std::vector<char*> argv;
            static std::string program = KW_PANEL_SIM_PATH;
            argv.push_back(program.data());
            for (auto& a : args) argv.push_back(a.data());
            argv.push_back(nullptr);
            execv(program.c_str(), argv.data());
            _exit(127);
        }
        close(out[1]);
        close(err[1]);
        m_out.reset(out[0]);
        m_err.reset(err[0]);
    }
    ~SimProcess()
    {
        if (m_pid > 0 && !m_exited) {
            kill(m_pid, SIGKILL);
            waitpid(m_pid, nullptr, 0);
        }
    }

    // One line of stdout, or empty after `limit`.
    std::string readLine(std::chrono::milliseconds limit = 5000ms)
    {
        std::string line;
        const auto end = std::chrono::steady_clock::now() + limit;
        char c;
        while (std::chrono::steady_clock::now() < end) {
            pollfd p{m_out.get(), POLLIN, 0};
            if (poll(&p, 1, 50) <= 0) continue;
            if (read(m_out.get(), &c, 1) != 1) break;
            if (c == '\n') return line;
            line += c;
        }
        return line;
    }

    std::string readAllStderr()
    {
        std::string text;
        char buffer[256];
        ssize_t n;
        while ((n = read(m_err.get(), buffer, sizeof buffer)) > 0) text.append(buffer, n);
        return text;
    }

    // Exit status, or -1 when it has not ended within `limit`.
    int wait(std::chrono::milliseconds limit = 5000ms)
    {
        const auto end = std::chrono::steady_clock::now() + limit;
        int status = 0;
        while (std::chrono::steady_clock::now() < end) {
            if (waitpid(m_pid, &status, WNOHANG) == m_pid) {
                m_exited = true;
                return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
            }
            std::this_thread::sleep_for(5ms);
        }
        return -1;
    }

    void signal(int sig) { kill(m_pid, sig); }

private:
    pid_t m_pid = -1;
    bool m_exited = false;
    UniqueFd m_out, m_err;
};

struct Failure {
    std::vector<std::string> args;
    int code;
    std::string message;
};

}  // namespace

TEST(KwPanelSim, HelpAndBadOptions)
{
    {
        SimProcess help({"--help"});
        EXPECT_NE(help.readLine().find("usage: kwpanel-sim"), std::string::npos);
        EXPECT_EQ(help.wait(), 0);
    }
    const Failure failures[] = {
        {{}, 2, "no endpoint: give --tcp HOST:PORT, --pty or --serial DEV (try --help)"},
        {{"--pty", "--frobnicate"}, 2, "unknown option '--frobnicate' (try --help)"},
        {{"--pty", "--nak-rate", "1.5"},
         2,
         "--nak-rate: expected a probability from 0 to 1, got '1.5'"},
        {{"--pty", "--silent-rate=x"},
         2,
         "--silent-rate: expected a probability from 0 to 1, got 'x'"},
        {{"--pty", "--display-id", "256"},
         2,
         "--display-id: expected a whole number from 0 to 255, got '256'"},
        {{"--pty", "--delay-ms"}, 2, "--delay-ms: missing value"},
        {{"--pty", "--dialect", "modem"}, 2, "--dialect: expected line or engine, got 'modem'"},
        {{"--tcp", "localhost"}, 2, "--tcp: expected HOST:PORT, got 'localhost'"},
        {{"--serial", "/dev/no-such-panel"}, 1, "/dev/no-such-panel: No such file or directory"},
    };
    for (const Failure& f : failures) {
        SimProcess sim(f.args);
        EXPECT_EQ(sim.wait(), f.code) << f.message;
        EXPECT_EQ(sim.readAllStderr(), "kwpanel-sim: " + f.message + "\n");
    }
}

TEST(KwPanelSim, ServesTcpAndPtyWithFaultsAndStopsOnSignal)
{
    SimProcess sim(
        {"--pty", "--tcp", "127.0.0.1:0", "--display-id", "7", "--nak-rate", "1", "--seed", "5"});
    const std::string path = sim.readLine();
    ASSERT_EQ(path.rfind("/dev/", 0), 0u) << path;
    const std::string tcp = sim.readLine();
    ASSERT_EQ(tcp.rfind("tcp:127.0.0.1:", 0), 0u) << tcp;

    std::string error;
    auto spec = parseLinkSpec(tcp, &error);
    ASSERT_TRUE(spec) << error;
    auto overTcp = openLink(*spec, LinkOptions{}, &error);
    auto overPty = openSerialLink({path, 9600}, LinkOptions{}, &error);
    ASSERT_TRUE(overPty) << error;
    EXPECT_EQ(overTcp->transact(0x11, 7, {}, 2000ms), makeNak(0x11, NakReason::Injected));
    EXPECT_EQ(overPty->transact(0x11, 7, {}, 2000ms), makeNak(0x11, NakReason::Injected));
    EXPECT_FALSE(overPty->transact(0x11, 8, {}, 100ms));  // not its ID

    // A second simulator cannot take the same port.
    SimProcess busy({"--tcp", tcp.substr(4)});
    EXPECT_EQ(busy.wait(), 1);
    EXPECT_NE(busy.readAllStderr().find("Address already in use"), std::string::npos);

    sim.signal(SIGTERM);
    EXPECT_EQ(sim.wait(2000ms), 0);
}

TEST(KwPanelSim, EngineDialectOnAPty)
{
    SimProcess sim({"--pty", "--dialect", "engine"});
    const std::string path = sim.readLine();
    std::string error;
    LinkOptions options;
    options.dialect = Dialect::Engine;
    auto link = openSerialLink({path, 9600}, options, &error);
    ASSERT_TRUE(link) << error;
    EXPECT_EQ(link->transact(0x12, 0, {0x21}, 2000ms), (Reply{kAck, 0x12, {0x21}}));
    sim.signal(SIGINT);
    EXPECT_EQ(sim.wait(2000ms), 0);
}
