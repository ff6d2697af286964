#include "host/kwsnmpd/HealthFeed.h"

#include <chrono>
#include <optional>

namespace kw::kwsnmpd {
namespace {

std::optional<kw::panel::LinkStats> linkStats(const kw::panel::PanelLink* link)
{
    if (auto* line = dynamic_cast<const kw::panel::StreamLink*>(link)) return line->stats();
    if (auto* sim = dynamic_cast<const kw::panel::SimLink*>(link)) return sim->stats();
    return std::nullopt;
}

// Runs on the agent's loop thread: only short-held locks of the service and the link.
void feed(snmp_agent_panel_health* out, void* context)
{
    const auto& service = *static_cast<const kw::protocol::ProtocolService*>(context);
    const kw::protocol::ServiceStats stats = service.stats();
    const kw::panel::PanelLink* link = service.link().get();
    out->link = link == nullptr     ? SNMP_AGENT_LINK_UNKNOWN
                : link->connected() ? SNMP_AGENT_LINK_UP
                                    : SNMP_AGENT_LINK_DOWN;
    out->msSinceReply = -1;
    if (stats.lastReply) {
        out->msSinceReply = std::chrono::duration_cast<std::chrono::milliseconds>(
                                std::chrono::steady_clock::now() - *stats.lastReply)
                                .count();
    }
    out->commands = stats.commands;
    out->replies = stats.replies;
    out->naks = stats.naks;
    out->timeouts = stats.silent;
    out->refused = stats.refused;
    if (const auto line = linkStats(link)) {
        out->drops = line->drops;
        out->connects = line->connects;
    }
}

}  // namespace

void HealthFeed::start(const kw::protocol::ProtocolService* service)
{
    m_service = service;
    if (service != nullptr) {
        snmp_agent_set_health_source(feed, const_cast<kw::protocol::ProtocolService*>(service));
    }
}

void HealthFeed::stop()
{
    if (m_service != nullptr) snmp_agent_set_health_source(nullptr, nullptr);
    m_service = nullptr;
}

}  // namespace kw::kwsnmpd
