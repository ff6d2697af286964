#pragma once
// The host process's parts and their order. Start-up: configuration, panel route, protocol
// service, the module's application (constructed, registered, created, activated), then the
// agent's readiness. Shutdown runs the other way round: the agent is stopped and its thread
// joined before the application is destroyed and its transport released, so no request can
// reach a released sender.
#include <memory>
#include <optional>
#include <string>

#include "host/kwsnmpd/AgentConfig.h"
#include "host/kwsnmpd/DirectSerial.h"
#include "host/kwsnmpd/HealthFeed.h"
#include "host/kwsnmpd/Options.h"
#include "host/panel/PanelLink.h"
#include "host/protocol/ProtocolService.h"

class CSnmpAppBase;

namespace kw::kwsnmpd {

class Daemon {
public:
    explicit Daemon(Options options);
    ~Daemon();
    Daemon(const Daemon&) = delete;
    Daemon& operator=(const Daemon&) = delete;

    // False with a one-line `error` (and `exitCode`) when something cannot start; stop()
    // then undoes what did.
    bool start(std::string* error);
    // The start-up line's text: where the agent listens and which panel it drives.
    std::string describe() const;
    // Called now and then from the main loop: reports the panel line going down or up.
    void poll();
    // SIGHUP: the agent re-reads its configuration between two requests.
    void reload();
    // Serving: listening, or as a subagent registered with the master (poll() keeps it current).
    bool ready() const { return !m_options.agentx || m_masterUp; }
    // Orderly shutdown; idempotent.
    void stop();
    // The private runtime directory, empty before start() made it or after stop() removed it.
    std::string runtimeDir() const;

private:
    bool startRoute(std::string* error);
    bool createModule(std::string* error);
    void reportLine(const std::string& text) const;
    void reportMaster(const std::string& text) const;
    std::string masterText() const;

    const Options m_options;
    std::unique_ptr<AgentConfig> m_config;
    std::shared_ptr<kw::panel::PanelLink> m_link;
    kw::panel::StreamLink* m_streamLink = nullptr;  // m_link, when it is a byte line
    std::unique_ptr<kw::protocol::ProtocolService> m_service;
    std::unique_ptr<DirectSerialRoute> m_direct;
    CSnmpAppBase* m_app = nullptr;
    bool m_registered = false;
    bool m_created = false;
    std::optional<bool> m_lineUp;  // last state reported
    bool m_masterUp = false;       // a subagent's master: last state reported
    HealthFeed m_health;
};

}  // namespace kw::kwsnmpd
