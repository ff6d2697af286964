#pragma once
// Internal seam between the exported entry points (Agent.cpp) and Net-SNMP (NetSnmpLoop.cpp).
#include <atomic>
#include <functional>
#include <string>
#include <vector>

#include "snmp/AgentRole.h"
#include "snmp/Scheduler.h"

namespace kw::snmp {

// What main_snmp understands of its argument vector, in Net-SNMP agent style.
struct AgentOptions {
    std::vector<std::string> configFiles;  // -c FILE (repeatable, or comma-separated)
    bool readDefaultConfigs = true;        // -C turns the standard search off
    std::string debugTokens;               // -DTOKENS (or -D alone: everything)
    bool debug = false;
    std::vector<std::string> ignored;  // options we do not take; reported, not fatal
    AgentRole role;                    // set by the host, not by the argument vector
};
AgentOptions parseAgentArguments(int argc, char** argv);

enum class LoopState { Ready, WaitingForMaster, BindFailed, InitFailed };

struct LoopContext {
    AgentOptions options;
    Scheduler* queue = nullptr;
    size_t maxVarbinds = 64;                  // display varbinds one PDU may carry
    int wakeFd = -1;                          // read end of the loop's wake-up pipe
    const std::atomic<bool>* stop = nullptr;  // set when the loop must end
    std::atomic<bool>* reload = nullptr;      // set to have the configuration re-read
    std::function<void()> wakeServer;         // a job was queued
    std::function<void(LoopState)> reportState;
    void (*heartbeat)() = nullptr;  // called from the loop every heartbeatMs while serving
    unsigned heartbeatMs = 0;
    std::function<void(bool)> reportMaster;  // a subagent's master reached or lost
};

// The running agent's display queue counters (all zero while none runs). Loop thread only.
QueueStats queueStats();

// Runs Net-SNMP on the calling thread until *stop, then shuts it down. Returns early, after
// reportState(BindFailed or InitFailed), when it cannot start.
void runNetSnmpLoop(LoopContext& context);

}  // namespace kw::snmp
