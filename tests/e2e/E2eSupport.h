#pragma once
// Helpers for the end-to-end tests: child processes with their output in files, free loopback
// ports, the Net-SNMP command-line tools, and kwsnmpd and kwpanel-sim themselves.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <future>
#include <memory>
#include <optional>
#include <regex>
#include <string>
#include <vector>

namespace kw::e2e {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;
using namespace std::chrono_literals;
namespace fs = std::filesystem;
using Args = std::vector<std::string>;

constexpr double kStopLimitSeconds = 2.0;  // from SIGTERM or SIGINT to kwsnmpd's exit
constexpr const char* kControl = "1.3.6.1.4.1.32473.1.1.1";  // the display MIB's objects
constexpr const char* kSysUpTime = "1.3.6.1.2.1.1.3.0";

std::string readFile(const std::string& path);
bool exitedZero(const std::optional<int>& status);
bool eventually(const std::function<bool()>& condition, milliseconds limit);
size_t count(const std::string& text, const std::string& needle);
std::vector<fs::directory_entry> entries(const std::string& dir);
Args lines(const std::string& text);
Args words(const std::string& text);

// A scratch directory, removed with everything in it (so never copied, nor its owners).
struct TempDir {
    TempDir();
    TempDir(const TempDir&) = delete;
    ~TempDir() { fs::remove_all(path, error); }
    std::string file(const std::string& name) const { return path + "/" + name; }
    std::string path;
    std::error_code error;
};

// A child process: input /dev/null, output and error to a file of its own; killed when destroyed.
class Process {
public:
    explicit Process(const Args& argv);
    ~Process();

    bool running() { return !wait(0ms).has_value(); }
    void signal(int sig);
    bool stop();  // SIGTERM, then a clean exit within 5 s
    // The wait status, or empty when `timeout` passed first.
    std::optional<int> wait(milliseconds timeout);
    std::string out() const { return readFile(m_outFile); }
    // Until the output holds `needle` `times` times; false on timeout or exit.
    bool waitForOut(const std::string& needle, milliseconds limit, size_t times = 1);

private:
    TempDir m_dir;
    const std::string m_outFile = m_dir.file("out");
    pid_t m_pid = -1;
    std::optional<int> m_status;
};

struct RunResult {
    int exitCode = -1;   // -1 when killed or timed out
    std::string output;  // standard output and error together
    double seconds = 0;
};
RunResult run(const Args& argv, milliseconds timeout = 30s);
// A Net-SNMP tool against `address`: v2c, numeric OIDs, no retry, values only unless `format`.
Args netSnmp(const std::string& tool, const std::string& address, const std::string& community,
             double timeoutSeconds, const Args& rest, const std::string& format = "-Oqv");
// The value a get printed, without quotes; empty unless it succeeded with one line.
std::string valueOf(const RunResult& get);
// A Net-SNMP tool (v2c, 1 s) sent from `from`, a loopback address of our choosing.
RunResult fromSource(const std::string& from, const std::string& agent, const std::string& tool,
                     const std::string& community, const Args& rest);
// An "SNMP error" as the Net-SNMP tools print it (genError, commitFailed, ...).
inline bool failedWith(const RunResult& result, const std::string& error)
{
    return result.exitCode != 0 && result.output.find(error) != std::string::npos;
}

// A socket of `type` bound to a free port on 127.0.0.1, its port in *port.
int bindLoopback(int type, uint16_t* port);
uint16_t freePort(int type);  // free a moment ago

inline std::string controlOid(int index)
{
    return kControl + ("." + std::to_string(index + 1)) + ".0";
}
inline std::string healthOid(int arc)  // the agent's own health section
{
    return "1.3.6.1.4.1.32473.1.1.2." + std::to_string(arc) + ".0";
}
inline std::string holidayEntryOid(int entry)
{
    return kControl + (".61.1.2." + std::to_string(entry));
}

// kwsnmpd on a free port of `host`, with `args` and `env`; ok once it said it listens. It must
// stop as an operator stops it: the destructor sends SIGTERM and expects a clean exit in time.
struct Agent {
    explicit Agent(Args args, Args env = {}, const std::string& host = "127.0.0.1");
    ~Agent();

    std::string address() const { return "127.0.0.1:" + std::to_string(port); }

    RunResult tool(const std::string& tool, const std::string& community, const Args& rest,
                   double timeout = 3, const std::string& format = "-Oqv")
    {
        return run(netSnmp(tool, address(), community, timeout, rest, format), 120s);
    }
    RunResult get(const std::string& oid, double timeout = 3, const std::string& who = "public")
    {
        return tool("snmpget", who, {oid}, timeout);
    }
    RunResult set(const std::string& oid, const std::string& text, double timeout = 3,
                  const std::string& who = "private")
    {
        return tool("snmpset", who, {oid, "s", text}, timeout);
    }
    std::string value(const std::string& oid) { return valueOf(get(oid)); }
    // The independent client (pysnmp): "get|set|walk COMMUNITY OID [VALUE]".
    RunResult client(const std::string& command);
    // The signal, then the exit: its status and the seconds it took.
    std::pair<std::optional<int>, double> stop(int sig = SIGTERM);

    std::unique_ptr<Process> process;
    uint16_t port = 0;
    bool ok = false;
};

// kwpanel-sim on a pty, or on TCP (port 0 picks a free one); ok once it named its endpoint.
struct PanelSim {
    PanelSim(bool pty, const Args& args, uint16_t port = 0);
    std::unique_ptr<Process> process;
    uint16_t port = 0;
    std::string pty;
    bool ok = false;
};

// A kwsnmpd with its panel: the simulated panel in the process, or kwpanel-sim over TCP, on a
// serial line in the protocol service's dialect (display 7), or on the module's own serial route
// with engine frames. `faults` go to whichever simulates the panel.
enum class PanelKind { InProcess, TcpSim, SerialSim, DirectSerialSim };
struct Rig {
    explicit Rig(PanelKind kind, const Args& faults = {});
    bool ok() const { return agent && agent->ok; }
    std::unique_ptr<PanelSim> sim;
    std::unique_ptr<Agent> agent;
};
inline std::string panelName(const ::testing::TestParamInfo<PanelKind>& info)
{
    static const char* const names[] = {"InProcessPanel", "KwpanelSimOverTcp", "KwpanelSimOnSerial",
                                        "KwpanelSimOnDirectSerial"};
    return names[static_cast<int>(info.param)];
}

}  // namespace kw::e2e
