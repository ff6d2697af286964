#pragma once
// What a host needs beyond the module's four symbols: to learn whether the agent came up, and
// to stop it. All are safe to call from any thread, before or after main_snmp runs.

#ifdef __cplusplus
extern "C" {
#endif

enum {
    SNMP_AGENT_TIMEOUT = 0,       // still starting when the wait ran out, or not started at all
    SNMP_AGENT_READY = 1,         // listening and serving
    SNMP_AGENT_BIND_FAILED = -1,  // a configured agent address could not be opened
    SNMP_AGENT_INIT_FAILED = -2,  // Net-SNMP would not start for another reason
};

// Waits up to timeoutMs for the running (or next) main_snmp to be ready or to fail. READY
// holds while that main_snmp serves; a failure is reported once, to the first caller after it.
int snmp_agent_wait_ready(int timeoutMs);

// The number of display varbinds one request may carry (default 64); more are answered
// tooBig. Takes effect at the next main_snmp.
void snmp_agent_set_max_varbinds(int count);

// Makes the running main_snmp return: a panel call in progress finishes first, requests
// still queued or part-served are answered with an error, Net-SNMP is shut down and its
// thread joined. A stop that arrives while no main_snmp runs makes the next one return at once. Async-signal-safe.
void snmp_agent_stop(void);

// Has the agent's Net-SNMP loop call beat() every intervalMs while it serves, so a host can tell
// a turning loop from a stalled one (a service manager's watchdog). Takes effect at the next
// main_snmp; 0 turns it off.
void snmp_agent_set_heartbeat(void (*beat)(void), unsigned intervalMs);

#ifdef __cplusplus
}
#endif
