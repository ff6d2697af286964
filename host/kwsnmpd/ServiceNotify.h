#pragma once
// kwsnmpd's side of a notify-type service: tells the service manager when the agent answers,
// when it is stopping, and, while a watchdog is asked for, that the agent's loop still turns.
// Outside a service manager (no NOTIFY_SOCKET) every call does nothing.
#include <string>

namespace kw::kwsnmpd::service {

// Asks the agent's loop for keep-alives at half the watchdog timeout the manager set, if it
// set one for this process. Call before the agent starts.
void enableWatchdog();
// READY=1 with a status line: the agent's port answers from now on.
void ready(const std::string& status);
// STOPPING=1: the orderly shutdown begins.
void stopping();

}  // namespace kw::kwsnmpd::service
