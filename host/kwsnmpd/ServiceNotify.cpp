#include "host/kwsnmpd/ServiceNotify.h"

#include <systemd/sd-daemon.h>

#include <cstdint>

#include "snmp/AgentControl.h"

namespace kw::kwsnmpd::service {
namespace {

// Runs on the agent's Net-SNMP thread: a loop that stalls stops sending these.
void keepAlive()
{
    sd_notify(0, "WATCHDOG=1");
}

}  // namespace

void enableWatchdog()
{
    uint64_t usec = 0;
    if (sd_watchdog_enabled(0, &usec) <= 0 || usec == 0) return;
    // Twice per timeout, so one late turn does not get the service restarted.
    const uint64_t halfMs = usec / 2000;
    snmp_agent_set_heartbeat(keepAlive, static_cast<unsigned>(halfMs > 0 ? halfMs : 1));
}

void ready(const std::string& status)
{
    sd_notifyf(0, "READY=1\nSTATUS=%s", status.c_str());
}

void stopping()
{
    sd_notify(0, "STOPPING=1\nSTATUS=stopping");
}

}  // namespace kw::kwsnmpd::service
