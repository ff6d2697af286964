#pragma once
// The agent library in this process on a free loopback port, with a fake panel behind the
// module's two callbacks: it keeps every row's bytes, answers as the module formats them, and
// can be slowed down, made to fail or held.
#include <array>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/SnmpAgent.h"

namespace kw::snmptest {

struct PanelCall {
    bool holiday = false;
    int index = 0;
    int getset = 0;
    int extra = 0;
    std::thread::id thread;
};

class FakePanel {
public:
    struct State {
        std::chrono::milliseconds delay{0};
        std::map<int, bool> failing;  // string and holiday indexes alike
        std::map<int, std::vector<uint8_t>> rows;
        std::map<int, std::string> texts;
        std::vector<std::array<uint8_t, 5>> holidays;
        std::vector<PanelCall> calls;
        bool held = false;  // while held, every callback waits in the panel until release()
        int inside = 0;
        int maxInside = 0;
    };
    // The state, locked until the end of the full expression that asks for it.
    class Locked {
    public:
        Locked(std::mutex& mutex, State& state) : m_lock(mutex), m_state(state) {}
        State* operator->() { return &m_state; }

    private:
        std::lock_guard<std::mutex> m_lock;
        State& m_state;
    };

    static FakePanel& instance();
    Locked state() { return Locked(m_mutex, m_state); }

    // Back to the default rows, no delays, no failures, nothing recorded, not held.
    void reset();
    void registerCallbacks();
    size_t callCount(int index, bool holiday = false);
    void release();
    // Waits until `count` callbacks have started (real milliseconds); false on timeout.
    bool waitForStarted(size_t count, int timeoutMs);

private:
    FakePanel() { reset(); }
    void begin(PanelCall call);
    int serveString(unsigned char* buf, int getset, int index, int extra);
    int serveHoliday(unsigned char* buf, int getset, int index, int extra);

    std::mutex m_mutex;
    std::condition_variable m_changed;
    State m_state;
};

// A UDP port on 127.0.0.1 that was free a moment ago.
int freeUdpPort();
// Writes snmpd.conf for `port` (communities "public" and "private") into a fresh directory and
// points SNMPCONFPATH and SNMP_PERSISTENT_DIR at it. Returns the directory.
std::string prepareAgentConfig(int port);

// main_snmp on a thread of its own, with the device's argument vector and the fake panel.
class AgentHarness {
public:
    AgentHarness();
    ~AgentHarness();
    int port() const { return m_port; }
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
