#pragma once
// Helpers for the end-to-end tests: child processes (kwsnmpd, kwpanel-sim, SNMP clients) with
// their output in files, free loopback ports, and the Net-SNMP command-line tools.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/types.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <future>
#include <iterator>
#include <memory>
#include <optional>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace kw::e2e {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;
using namespace std::chrono_literals;
namespace fs = std::filesystem;

// From SIGTERM or SIGINT to kwsnmpd's exit.
constexpr double kStopLimitSeconds = 2.0;

std::string readFile(const std::string& path);

// A scratch directory for one test, removed with everything in it.
class TempDir {
public:
    TempDir();
    ~TempDir();
    const std::string& path() const { return m_path; }
    std::string file(const std::string& name) const { return m_path + "/" + name; }

private:
    std::string m_path;
};

// A child process. Standard input is /dev/null; standard output and error go to files. The
// destructor kills a child still running and reaps it.
class Process {
public:
    Process(const std::vector<std::string>& argv, const std::string& outFile,
            const std::string& errFile);
    ~Process();
    Process(const Process&) = delete;
    Process& operator=(const Process&) = delete;

    bool running() { return !wait(milliseconds(0)).has_value(); }
    void signal(int sig);
    // Waits for the child to end; its wait status, or empty when `timeout` passed first.
    std::optional<int> wait(milliseconds timeout);

    std::string out() const { return readFile(m_outFile); }
    std::string err() const { return readFile(m_errFile); }
    // Waits until standard output (or error) holds `needle` `times` times; false when
    // `timeout` passed or the child ended first.
    bool waitForOut(const std::string& needle, milliseconds timeout, size_t times = 1)
    {
        return waitFor(m_outFile, needle, timeout, times);
    }
    bool waitForErr(const std::string& needle, milliseconds timeout, size_t times = 1)
    {
        return waitFor(m_errFile, needle, timeout, times);
    }

private:
    bool waitFor(const std::string& file, const std::string& needle, milliseconds timeout,
                 size_t times);

    pid_t m_pid = -1;
    std::optional<int> m_status;
    std::string m_outFile;
    std::string m_errFile;
};

bool exitedZero(const std::optional<int>& status);
// Polls `condition` until it holds or `limit` passes.
bool eventually(const std::function<bool()>& condition, milliseconds limit);
size_t count(const std::string& text, const std::string& needle);

struct RunResult {
    int exitCode = -1;   // -1 when killed or timed out
    std::string output;  // standard output and error together
    double seconds = 0;
};

// Runs argv to its end (killed after `timeout`).
RunResult run(const std::vector<std::string>& argv, milliseconds timeout = milliseconds(30000));
// A Net-SNMP tool against `address`, v2c, numeric OIDs, values only unless `format`.
std::vector<std::string> netSnmp(const std::string& tool, const std::string& address,
                                 const std::string& community, double timeoutSeconds,
                                 const std::vector<std::string>& rest,
                                 const std::string& format = "-Oqv");
// The value a get printed, without quotes; empty unless it succeeded with one line.
std::string valueOf(const RunResult& get);
// A Net-SNMP tool (v2c, 1 s) sent from `from`, a loopback address of our choosing.
RunResult fromSource(const std::string& from, const std::string& agent, const std::string& tool,
                     const std::string& community, const std::vector<std::string>& rest);
// The paths in a directory.
std::vector<std::string> entries(const std::string& dir);

// A socket of `type` bound to a free port on 127.0.0.1 (its port in *port), or -1.
int bindLoopback(int type, uint16_t* port);
// A port on 127.0.0.1 that was free a moment ago.
uint16_t freePort(int type);
inline std::string binary(const std::string& name)
{
    return KW_E2E_BIN_DIR "/" + name;
}
inline std::string sourceFile(const std::string& path)
{
    return KW_E2E_SOURCE_DIR "/" + path;
}
std::vector<std::string> lines(const std::string& text);
// The blank-separated words of `text`, as an argument vector.
std::vector<std::string> words(const std::string& text);

// OIDs of the display MIB.
constexpr const char* kControl = "1.3.6.1.4.1.32473.1.1.1";
inline std::string controlOid(int index)
{
    return std::string(kControl) + "." + std::to_string(index + 1) + ".0";
}
inline std::string holidayEntryOid(int entry)
{
    return std::string(kControl) + ".61.1.2." + std::to_string(entry);
}
constexpr const char* kSysUpTime = "1.3.6.1.2.1.1.3.0";

// "SNMP error" outcomes as the Net-SNMP tools print them (genError, commitFailed, ...).
inline bool failedWith(const RunResult& result, const std::string& error)
{
    return result.exitCode != 0 && result.output.find(error) != std::string::npos;
}

// A running kwsnmpd on a free loopback port. It must stop as an operator stops it: the
// destructor sends SIGTERM and expects a clean exit within the limit.
class Agent {
public:
    // Starts kwsnmpd with `args` (plus --listen, and `env` set) and waits for its start-up line.
    explicit Agent(std::vector<std::string> args, std::vector<std::string> env = {});
    ~Agent();

    bool ok() const { return m_ok; }
    std::string address() const { return "127.0.0.1:" + std::to_string(m_port); }
    Process& process() { return *m_process; }

    std::vector<std::string> toolArgs(const std::string& tool, const std::string& community,
                                      double timeoutSeconds, const std::vector<std::string>& rest,
                                      const std::string& format = "-Oqv") const
    {
        return netSnmp(tool, address(), community, timeoutSeconds, rest, format);
    }
    RunResult get(const std::string& oid, double timeout = 3,
                  const std::string& community = "public")
    {
        return run(toolArgs("/usr/bin/snmpget", community, timeout, {oid}));
    }
    RunResult set(const std::string& oid, const std::string& text, double timeout = 3,
                  const std::string& community = "private")
    {
        return run(toolArgs("/usr/bin/snmpset", community, timeout, {oid, "s", text}));
    }
    RunResult walk(const std::string& oid, const std::string& tool = "snmpwalk",
                   const std::string& community = "public")
    {
        return run(toolArgs("/usr/bin/" + tool, community, 3, {oid}, "-Oq"), milliseconds(120000));
    }
    std::string value(const std::string& oid) { return valueOf(get(oid)); }
    // The independent client (pysnmp): "get|set|walk COMMUNITY OID [VALUE]".
    RunResult client(const std::string& command);

    // SIGTERM (or another signal) and the exit: status and seconds taken.
    std::pair<std::optional<int>, double> stop(int sig = 15);

private:
    TempDir m_dir;
    std::unique_ptr<Process> m_process;
    uint16_t m_port = 0;
    bool m_ok = false;
};

// kwpanel-sim on TCP (port 0 picks a free one) or a pty, with the given extra arguments.
class PanelSim {
public:
    enum class Endpoint { Tcp, Pty };
    PanelSim(Endpoint endpoint, std::vector<std::string> args, uint16_t port = 0);
    bool ok() const { return m_ok; }
    uint16_t port() const { return m_port; }
    const std::string& ptyPath() const { return m_pty; }
    Process& process() { return *m_process; }
    // Stops it (SIGTERM) and waits for a clean exit.
    bool stop();

private:
    TempDir m_dir;
    std::unique_ptr<Process> m_process;
    uint16_t m_port = 0;
    std::string m_pty;
    bool m_ok = false;
};

// A kwsnmpd with its panel: the simulated panel in the process, or kwpanel-sim over TCP.
enum class PanelKind { InProcess, TcpSim };

inline std::string panelName(const ::testing::TestParamInfo<PanelKind>& info)
{
    return info.param == PanelKind::InProcess ? "InProcessPanel" : "KwpanelSimOverTcp";
}

struct Rig {
    std::unique_ptr<PanelSim> sim;
    std::unique_ptr<Agent> agent;
    bool ok() const { return agent && agent->ok(); }
};

// `faults` are fault-injection options, given to kwsnmpd for the in-process panel and to
// kwpanel-sim for the TCP one.
Rig startWith(PanelKind kind, const std::vector<std::string>& faults = {});

}  // namespace kw::e2e
