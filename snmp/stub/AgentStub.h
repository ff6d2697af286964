#pragma once
// A stand-in for the agent library, for tests and fuzzers that load the module without
// Net-SNMP. It records what the module hands over; main_snmp blocks until stopMain().
#include <string>
#include <vector>

#include "platform/SnmpAgent.h"

namespace kw::agentstub {

// The calls made so far, in order: "RegisterCallback_STR", "RegisterCallback_HOLIDAY",
// "main_snmp".
std::vector<std::string> calls();
// The argument vector main_snmp received.
std::vector<std::string> mainArgs();
RIXCallbackFunc stringCallback();
RIXCallbackFunc holidayCallback();
// Waits until main_snmp has been entered; false on timeout (real milliseconds).
bool waitForMain(int timeoutMs);
// Makes a running (or the next) main_snmp return.
void stopMain();
// Forgets everything recorded and re-arms main_snmp.
void reset();

}  // namespace kw::agentstub
