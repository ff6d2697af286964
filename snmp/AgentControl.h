#pragma once
// What a host needs beyond the module's four symbols: to choose the agent's role, to learn
// whether it came up, to have it re-read its configuration, and to stop it. All are safe to
// call from any thread, before or after main_snmp runs.

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

enum {
    SNMP_AGENT_TIMEOUT = 0,       // still starting when the wait ran out, or not started at all
    SNMP_AGENT_READY = 1,         // listening and serving (a subagent: registered)
    SNMP_AGENT_WAITING = 2,       // a subagent whose master is not reachable yet; it retries
    SNMP_AGENT_BIND_FAILED = -1,  // a configured agent address could not be opened
    SNMP_AGENT_INIT_FAILED = -2,  // Net-SNMP would not start for another reason
};

// Waits up to timeoutMs for the running (or next) main_snmp to be ready or to fail. READY
// holds while that main_snmp serves; a failure is reported once, to the first caller after it.
int snmp_agent_wait_ready(int timeoutMs);

// The number of display varbinds one request may carry (default 64); more are answered
// tooBig. Takes effect at the next main_snmp.
void snmp_agent_set_max_varbinds(int count);

// Makes the next main_snmp an AgentX subagent of the master at `address` (NULL or "" for
// Net-SNMP's default socket) instead of a standalone agent.
void snmp_agent_set_agentx(const char* address);

// 1 while the running subagent is registered with its master, else 0.
int snmp_agent_master_connected(void);

// Has the running main_snmp re-read its configuration files between two requests, as
// Net-SNMP's agent does on SIGHUP. Requests in flight are kept. Async-signal-safe.
void snmp_agent_reload(void);

// Makes the running main_snmp return: a panel call in progress finishes first, requests
// still queued or part-served are answered with an error, Net-SNMP is shut down and its
// thread joined. A stop that arrives while no main_snmp runs makes the next one return at
// once. Async-signal-safe.
void snmp_agent_stop(void);

// Has the agent's Net-SNMP loop call beat() every intervalMs while it serves, so a host can tell
// a turning loop from a stalled one (a service manager's watchdog). Takes effect at the next
// main_snmp; 0 turns it off.
void snmp_agent_set_heartbeat(void (*beat)(void), unsigned intervalMs);
// The panel side of the agent's health objects, as the host knows it.
enum {
    SNMP_AGENT_LINK_UP = 1,
    SNMP_AGENT_LINK_DOWN = 2,
    SNMP_AGENT_LINK_UNKNOWN = 3,
};
typedef struct snmp_agent_panel_health {
    int link;              // SNMP_AGENT_LINK_*
    int64_t msSinceReply;  // -1 while no reply has come
    uint64_t commands;     // commands taken for the panel
    uint64_t replies;      // replies, acknowledged or not
    uint64_t naks;         // replies that refused the command
    uint64_t timeouts;     // commands the panel left unanswered
    uint64_t refused;      // commands refused at once: the line was down
    uint64_t drops;        // times the line was lost
    uint64_t connects;     // times the line was (re)established
} snmp_agent_panel_health;
// Fills *out; called on the agent's loop thread whenever a manager reads the health objects
// and a few times a second to decide on notifications. It must return quickly. A source set
// to null is never called again once this returns. Counters must never go down.
typedef void (*snmp_agent_health_source)(snmp_agent_panel_health* out, void* context);
void snmp_agent_set_health_source(snmp_agent_health_source source, void* context);

#ifdef __cplusplus
}
#endif
