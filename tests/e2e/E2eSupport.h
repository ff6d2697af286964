#pragma once
// Helpers for the end-to-end tests: child processes (kwsnmpd, kwpanel-sim, SNMP clients) with
// their output in files, free loopback ports, and the Net-SNMP command-line tools.
#include <sys/types.h>

#include <chrono>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace kw::e2e {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

// From SIGTERM or SIGINT to kwsnmpd's exit.
constexpr double kStopLimitSeconds = 2.0;

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

    pid_t pid() const { return m_pid; }
    bool running();
    void signal(int sig);
    // Waits for the child to end; its wait status, or empty when `timeout` passed first.
    std::optional<int> wait(milliseconds timeout);

    std::string out() const;
    std::string err() const;
    // Waits until the output (or error) file holds `needle`; false when `timeout` passed or
    // the child ended without writing it.
    bool waitForOut(const std::string& needle, milliseconds timeout);
    bool waitForErr(const std::string& needle, milliseconds timeout);

private:
    bool waitForText(const std::string& file, const std::string& needle, milliseconds timeout);

    pid_t m_pid = -1;
    int m_pidfd = -1;
    std::optional<int> m_status;
    std::string m_outFile;
    std::string m_errFile;
};

struct RunResult {
    int exitCode = -1;   // -1 when killed or timed out
    std::string output;  // standard output and error together
    double seconds = 0;
};

// Runs argv to its end (killed after `timeout`).
RunResult run(const std::vector<std::string>& argv, milliseconds timeout = milliseconds(30000));

// A port on 127.0.0.1 that was free a moment ago.
uint16_t freeUdpPort();
uint16_t freeTcpPort();

// Where the programs under test are.
std::string binary(const std::string& name);
std::string sourceFile(const std::string& relative);

// The text of the lines of `text` (no trailing newline), for exact comparisons.
std::vector<std::string> lines(const std::string& text);

// OIDs of the display MIB.
std::string controlOid(int index);  // kwdControl.(index+1).0
std::string holidayEntryOid(int entry);
constexpr const char* kSysUpTime = "1.3.6.1.2.1.1.3.0";
constexpr const char* kSysDescr = "1.3.6.1.2.1.1.1.0";

// A running kwsnmpd on a free loopback port.
class Agent {
public:
    // Starts kwsnmpd with `args` (plus --listen) and waits for its start-up line. Tries
    // another port if the one picked was taken in the meantime.
    explicit Agent(std::vector<std::string> args, const std::string& name = "kwsnmpd");
    ~Agent();

    bool ok() const { return m_ok; }
    uint16_t port() const { return m_port; }
    std::string address() const { return "127.0.0.1:" + std::to_string(m_port); }
    Process& process() { return *m_process; }

    // Net-SNMP tools against this agent, v2c. `get`/`set` print only the value.
    RunResult get(const std::string& oid, double timeoutSeconds = 3,
                  const std::string& community = "public");
    RunResult set(const std::string& oid, const std::string& text, double timeoutSeconds = 3,
                  const std::string& community = "private");
    RunResult walk(const std::string& oid, double timeoutSeconds = 3);
    // The value of a successful get, without quotes; empty on failure.
    std::string value(const std::string& oid);
    // The argv of a Net-SNMP tool call, to run in the background.
    std::vector<std::string> toolArgs(const std::string& tool, const std::string& community,
                                      double timeoutSeconds,
                                      const std::vector<std::string>& rest) const;
    // The independent client (pysnmp).
    RunResult client(const std::vector<std::string>& args);

    // SIGTERM (or another signal) and the exit: status and seconds taken.
    std::pair<std::optional<int>, double> stop(int sig = 15);

private:
    TempDir m_dir;
    std::unique_ptr<Process> m_process;
    uint16_t m_port = 0;
    bool m_ok = false;
};

// kwpanel-sim on TCP (or a pty) with the given extra arguments.
class PanelSim {
public:
    enum class Endpoint { Tcp, Pty };
    // For Tcp, port 0 picks a free port.
    PanelSim(Endpoint endpoint, std::vector<std::string> args, uint16_t port = 0);
    bool ok() const { return m_ok; }
    uint16_t port() const { return m_port; }
    const std::string& ptyPath() const { return m_pty; }
    Process& process() { return *m_process; }
    // Stops it (SIGTERM) and waits for the exit.
    bool stop();

private:
    TempDir m_dir;
    std::unique_ptr<Process> m_process;
    uint16_t m_port = 0;
    std::string m_pty;
    bool m_ok = false;
};

// "SNMP error" outcomes as the Net-SNMP tools print them.
bool isGenErr(const RunResult& result);
bool isCommitFailed(const RunResult& result);

}  // namespace kw::e2e
