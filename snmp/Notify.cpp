#include "snmp/Notify.h"

namespace kw::snmp {
namespace {

uint64_t failures(const snmp_agent_panel_health& h)
{
    return h.naks + h.timeouts + h.refused;
}

uint64_t acknowledged(const snmp_agent_panel_health& h)
{
    return h.replies - h.naks;
}

}  // namespace

std::vector<Notification> NotifyPolicy::observe(const snmp_agent_panel_health& health,
                                                Clock::time_point at)
{
    std::vector<Notification> out;
    if (!m_seen) {
        // What happened before the first look is history; a line that is down now is news.
        m_seen = true;
        m_last = health;
        if (health.link == SNMP_AGENT_LINK_DOWN) {
            out.push_back(Notification::LinkDown);
        }
        return out;
    }
    const bool down = health.link == SNMP_AGENT_LINK_DOWN;
    const bool wasDown = m_last.link == SNMP_AGENT_LINK_DOWN;
    if (down && !wasDown) {
        out.push_back(Notification::LinkDown);
    } else if (health.link == SNMP_AGENT_LINK_UP && wasDown) {
        out.push_back(Notification::LinkUp);
    } else if (health.link == SNMP_AGENT_LINK_UP && health.drops > m_last.drops) {
        // Lost and back again between two looks: the managers still hear of both.
        out.push_back(Notification::LinkDown);
        out.push_back(Notification::LinkUp);
    }

    if (acknowledged(health) > acknowledged(m_last)) {
        m_failureRun = 0;
    }
    m_failureRun += failures(health) - failures(m_last);
    if (m_failureRun >= kFailureRun && (!m_lastFailing || at - *m_lastFailing >= kFailureQuiet)) {
        out.push_back(Notification::CommandsFailing);
        m_lastFailing = at;
    }
    m_last = health;
    return out;
}

}  // namespace kw::snmp
