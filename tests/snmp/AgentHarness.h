#pragma once
// Runs the agent library in this process on a free loopback port, with a generated
// configuration (v1/v2c communities "public" and "private", v3 user "kwuser"), the device's
// own argument vector, and the fake panel's callbacks.
#include <string>
#include <thread>

namespace kw::snmptest {

// A UDP port on 127.0.0.1 that was free a moment ago.
int freeUdpPort();
// Writes snmpd.conf for `port` into a fresh directory and points SNMPCONFPATH and
// SNMP_PERSISTENT_DIR at it. Returns the directory.
std::string prepareAgentConfig(int port, const std::string& extraLines = "");

class AgentHarness {
public:
    explicit AgentHarness(const std::string& extraConfig = "");
    ~AgentHarness();
    AgentHarness(const AgentHarness&) = delete;
    AgentHarness& operator=(const AgentHarness&) = delete;

    int port() const { return m_port; }
    const std::string& dir() const { return m_dir; }
    int readyState() const { return m_ready; }
    // Stops the agent and waits for main_snmp to return; returns its result.
    int stop();
    std::thread::id agentThread() const { return m_threadId; }

private:
    int m_port = 0;
    std::string m_dir;
    std::thread m_thread;
    std::thread::id m_threadId;
    int m_ready = 0;
    int m_result = -1;
    bool m_stopped = false;
};

}  // namespace kw::snmptest
