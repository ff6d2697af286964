#pragma once
// Feeds the agent's health objects with what the host knows of the panel: the protocol
// service's command counters and the link's state and (re)connections.
#include "host/panel/PanelLink.h"
#include "host/protocol/ProtocolService.h"
#include "snmp/AgentControl.h"

namespace kw::kwsnmpd {

class HealthFeed {
public:
    // Starts feeding the agent from `service` (null: the panel side is unknown). The service
    // must outlive the feed or stop().
    void start(const kw::protocol::ProtocolService* service);
    // After this returns the agent no longer reads the service.
    void stop();

private:
    const kw::protocol::ProtocolService* m_service = nullptr;
};

}  // namespace kw::kwsnmpd
