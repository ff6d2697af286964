#pragma once
// Which notifications a change in the panel's health calls for. The agent looks at the health
// a few times a second; each look may call for some, in the order they are to go out.
#include <chrono>
#include <cstdint>
#include <optional>
#include <vector>

#include "snmp/AgentControl.h"

namespace kw::snmp {

enum class Notification { LinkDown, LinkUp, CommandsFailing };

class NotifyPolicy {
public:
    using Clock = std::chrono::steady_clock;
    // Failures (NAKs, timeouts, refusals) in a row, without an acknowledged reply between
    // them, that make the panel "keep failing".
    static constexpr uint64_t kFailureRun = 3;
    // At most one failure notification in this time, so that a dead panel cannot flood.
    static constexpr std::chrono::seconds kFailureQuiet{60};

    std::vector<Notification> observe(const snmp_agent_panel_health& health, Clock::time_point at);

private:
    bool m_seen = false;
    snmp_agent_panel_health m_last{};
    uint64_t m_failureRun = 0;
    std::optional<Clock::time_point> m_lastFailing;
};

}  // namespace kw::snmp
