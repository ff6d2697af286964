#pragma once
// The agent's own health objects (kwdHealth) and its notifications. Both are answered or sent
// on the loop thread from counters at hand, never through the display queue: a manager learns
// how the agent is doing while the panel is busy or gone.
#include "snmp/Scheduler.h"

namespace kw::snmp {

// Loop thread, after init_agent: registers kwdHealth and starts watching the panel's health
// for notifications. False when Net-SNMP refuses the registration.
bool startHealth(Scheduler& queue);
// Loop thread, before Net-SNMP shuts down. The queue's counters carry over into the next
// run's, so that no counter goes back while the process lives.
void stopHealth();

}  // namespace kw::snmp
