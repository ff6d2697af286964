#include "E2eSupport.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>

#include <cstring>
#include <iterator>
#include <sstream>
#include <stdexcept>
#include <thread>

extern char** environ;

namespace kw::e2e {

std::string readFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

bool exitedZero(const std::optional<int>& status)
{
    return status && WIFEXITED(*status) && WEXITSTATUS(*status) == 0;
}

bool eventually(const std::function<bool()>& condition, milliseconds limit)
{
    for (const auto end = Clock::now() + limit; Clock::now() < end;
         std::this_thread::sleep_for(10ms))
        if (condition()) return true;
    return condition();
}

size_t count(const std::string& text, const std::string& needle)
{
    size_t n = 0;
    for (size_t at = text.find(needle); at != std::string::npos; at = text.find(needle, at + 1))
        ++n;
    return n;
}

std::vector<fs::directory_entry> entries(const std::string& dir)
{
    return {fs::directory_iterator(dir), fs::directory_iterator()};
}

Args lines(const std::string& text)
{
    std::istringstream in(text);
    Args out;
    for (std::string line; std::getline(in, line);) out.push_back(line);
    return out;
}

Args words(const std::string& text)
{
    std::istringstream in(text);
    return Args(std::istream_iterator<std::string>(in), {});
}

TempDir::TempDir() : path((fs::temp_directory_path() / "kwe2e.XXXXXX").string())
{
    if (::mkdtemp(path.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
}

Process::Process(const Args& argv)
{
    std::vector<char*> args;
    for (const std::string& arg : argv) args.push_back(const_cast<char*>(arg.c_str()));
    args.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, m_outFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                     0600);
    posix_spawn_file_actions_adddup2(&actions, 1, 2);
    // The test runner may block signals; the child starts with none blocked and defaults.
    posix_spawnattr_t attr;
    posix_spawnattr_init(&attr);
    sigset_t set;
    sigemptyset(&set);
    posix_spawnattr_setsigmask(&attr, &set);
    for (int sig : {SIGPIPE, SIGINT, SIGTERM}) sigaddset(&set, sig);
    posix_spawnattr_setsigdefault(&attr, &set);
    posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
    const int rc = posix_spawn(&m_pid, args[0], &actions, &attr, args.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attr);
    if (rc != 0) throw std::runtime_error("cannot start " + argv[0] + ": " + std::strerror(rc));
}

Process::~Process()
{
    signal(SIGKILL);
    wait(5s);
}

void Process::signal(int sig)
{
    if (!m_status) ::kill(m_pid, sig);
}

bool Process::stop()
{
    signal(SIGTERM);
    return exitedZero(wait(5s));
}

std::optional<int> Process::wait(milliseconds timeout)
{
    eventually(
        [&] {
            int status = 0;
            if (!m_status && ::waitpid(m_pid, &status, WNOHANG) == m_pid) m_status = status;
            return m_status.has_value();
        },
        timeout);
    return m_status;
}

bool Process::waitForOut(const std::string& needle, milliseconds limit, size_t times)
{
    // Once the child has ended it will never write it: one last look, then give up.
    eventually([&] { return count(out(), needle) >= times || !running(); }, limit);
    return count(out(), needle) >= times;
}

RunResult run(const Args& argv, milliseconds timeout)
{
    RunResult result;
    const auto start = Clock::now();
    Process process(argv);
    const std::optional<int> status = process.wait(timeout);
    result.seconds = std::chrono::duration<double>(Clock::now() - start).count();
    result.output = process.out();
    if (status && WIFEXITED(*status)) result.exitCode = WEXITSTATUS(*status);
    return result;
}

Args netSnmp(const std::string& tool, const std::string& address, const std::string& community,
             double timeoutSeconds, const Args& rest, const std::string& format)
{
    Args argv{"/usr/bin/" + tool,
              "-v2c",
              "-c",
              community,
              "-t",
              std::to_string(timeoutSeconds),
              "-r",
              "0",
              "-On",
              format,
              address};
    argv.insert(argv.end(), rest.begin(), rest.end());
    return argv;
}

std::string valueOf(const RunResult& get)
{
    const Args text = lines(get.output);
    if (get.exitCode != 0 || text.size() != 1) return {};
    return std::regex_replace(text[0], std::regex("^\"(.*)\"$"), "$1");
}

RunResult fromSource(const std::string& from, const std::string& agent, const std::string& tool,
                     const std::string& community, const Args& rest)
{
    Args argv = netSnmp(tool, agent, community, 1, rest);
    argv.insert(argv.begin() + 1, "--clientaddr=" + from);
    return run(argv);
}

int bindLoopback(int type, uint16_t* port)
{
    const int fd = ::socket(AF_INET, type, 0);
    sockaddr_in addr{AF_INET, 0, {htonl(INADDR_LOOPBACK)}, {}};
    socklen_t size = sizeof addr;
    if (::bind(fd, reinterpret_cast<sockaddr*>(&addr), size) != 0 ||
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &size) != 0)
        throw std::runtime_error("cannot bind to loopback");
    *port = ntohs(addr.sin_port);
    return fd;
}

uint16_t freePort(int type)
{
    uint16_t port = 0;
    ::close(bindLoopback(type, &port));
    return port;
}

Agent::Agent(Args args, Args env, const std::string& host)
{
    if (!env.empty()) env.insert(env.begin(), "/usr/bin/env");
    env.push_back(KW_E2E_BIN_DIR "/kwsnmpd");
    env.insert(env.end(), args.begin(), args.end());
    // Someone may take the port between the pick and the bind: then pick again.
    for (int attempt = 0; attempt < 3 && !ok; ++attempt) {
        port = freePort(SOCK_DGRAM);
        Args argv = env;
        argv.insert(argv.end(), {"--listen", "udp:" + host + ":" + std::to_string(port)});
        process = std::make_unique<Process>(argv);
        ok = process->waitForOut("kwsnmpd: listening on", 15s);
        if (!ok && process->out().find("cannot listen") == std::string::npos) break;
    }
}

Agent::~Agent()
{
    if (!ok || !process->running()) return;
    const auto [status, seconds] = stop(SIGTERM);
    EXPECT_TRUE(exitedZero(status)) << "kwsnmpd did not exit cleanly:\n" << process->out();
    EXPECT_LT(seconds, kStopLimitSeconds);
}

RunResult Agent::client(const std::string& command)
{
    Args argv = words(command);
    argv.insert(argv.begin() + 1, address());
    argv.insert(argv.begin(), {"/usr/bin/python3", KW_E2E_SOURCE_DIR "/tests/e2e/snmp_client.py"});
    return run(argv, 60s);
}

std::pair<std::optional<int>, double> Agent::stop(int sig)
{
    const auto start = Clock::now();
    process->signal(sig);
    const std::optional<int> status = process->wait(10s);
    return {status, std::chrono::duration<double>(Clock::now() - start).count()};
}

PanelSim::PanelSim(bool onPty, const Args& args, uint16_t atPort)
{
    Args argv{KW_E2E_BIN_DIR "/kwpanel-sim", "--pty"};
    if (!onPty) argv = {argv[0], "--tcp", "127.0.0.1:" + std::to_string(atPort)};
    argv.insert(argv.end(), args.begin(), args.end());
    process = std::make_unique<Process>(argv);
    // The endpoint's line comes first: the pty path, or tcp:HOST:PORT.
    if (!process->waitForOut("\n", 15s)) return;
    const std::string first = lines(process->out()).front();
    if (onPty) pty = first.rfind('/', 0) == 0 ? first : "";
    if (!onPty && first.rfind("tcp:", 0) == 0)
        port = static_cast<uint16_t>(std::stoi(first.substr(first.rfind(':') + 1)));
    ok = !pty.empty() || port != 0;
}

Rig::Rig(PanelKind kind, const Args& faults)
{
    Args args{"--panel", "sim"}, simArgs = faults;
    if (kind == PanelKind::InProcess) {
        args.insert(args.end(), faults.begin(), faults.end());
    } else {
        if (kind == PanelKind::SerialSim) simArgs.insert(simArgs.end(), {"--display-id", "7"});
        if (kind == PanelKind::DirectSerialSim)
            simArgs.insert(simArgs.end(), {"--dialect", "engine"});
        sim = std::make_unique<PanelSim>(kind != PanelKind::TcpSim, simArgs);
        if (!sim->ok) return;
        const std::string where[] = {"", "tcp:127.0.0.1:" + std::to_string(sim->port),
                                     "serial:" + sim->pty, "direct-serial:" + sim->pty + ":115200"};
        args[1] = where[static_cast<int>(kind)];
        if (kind == PanelKind::SerialSim) args.insert(args.end(), {"--display-id", "7"});
    }
    agent = std::make_unique<Agent>(args);
}

}  // namespace kw::e2e
