#include "host/kwsnmpd/Daemon.h"

#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <sstream>

#include "agent/CSnmpAppBase.h"
#include "command/VoRIXSNMPApi.h"
#include "host/framework/Framework.h"
#include "host/framework/Tv.h"
#include "runtime/VoMessageSNMP.h"
#include "snmp/AgentControl.h"

namespace kw::kwsnmpd {
namespace {

using kw::host::Framework;
using kw::protocol::kModuleAppId;

constexpr int kReadyTimeoutMs = 10000;
constexpr auto kFirstConnectWait = std::chrono::milliseconds(1000);

// Holds back what goes to stderr while the module starts, then passes it on without the noise
// of a host that is not the display: the module's start-up copy of its packaged configuration
// from the device's fixed /mtd_ paths fails on every start, and when the agent cannot bind,
// kwsnmpd's own one-line error says what Net-SNMP's complaint says.
class StartupStderr {
public:
    explicit StartupStderr(const AgentConfig& config) : m_config(config)
    {
        std::fflush(stderr);
        // A new file in the private directory: a link or file placed there is never written.
        m_capture = config.createFile(kCaptureName, O_RDWR);
        if (m_capture >= 0) m_saved = ::dup(STDERR_FILENO);
        if (m_saved >= 0) ::dup2(m_capture, STDERR_FILENO);
    }
    ~StartupStderr() { release(false); }

    void release(bool bindFailed)
    {
        if (m_saved >= 0) {
            std::fflush(stderr);
            ::dup2(m_saved, STDERR_FILENO);
            ::close(m_saved);
            m_saved = -1;
            passOn(bindFailed);
        }
        if (m_capture >= 0) {
            ::close(m_capture);
            m_capture = -1;
            m_config.removeFile(kCaptureName);
        }
    }

private:
    static constexpr const char* kCaptureName = "stderr.capture";

    void passOn(bool bindFailed)
    {
        std::string text;
        char chunk[4096];
        ::lseek(m_capture, 0, SEEK_SET);
        for (ssize_t n; (n = ::read(m_capture, chunk, sizeof chunk)) > 0;)
            text.append(chunk, static_cast<size_t>(n));
        std::istringstream in(text);
        std::string line;
        while (std::getline(in, line)) {
            if (line.find("/mtd_") != std::string::npos) continue;
            if (bindFailed && line.find("Error opening specified endpoint") != std::string::npos)
                continue;
            std::fprintf(stderr, "%s\n", line.c_str());
        }
    }

    const AgentConfig& m_config;
    int m_capture = -1;
    int m_saved = -1;
};

}  // namespace

Daemon::Daemon(Options options) : m_options(std::move(options)) {}

Daemon::~Daemon()
{
    stop();
}

bool Daemon::start(std::string* error)
{
    m_config = AgentConfig::prepare(
        AgentConfig::Request{m_options.listen, m_options.listenGiven, m_options.configDir,
                             m_options.communities, m_options.agentx.has_value(),
                             m_options.trapSinks},
        error);
    if (!m_config) return false;

    kw::host::tv::setDisplayId(m_options.displayId);
    if (!startRoute(error)) return false;
    if (m_options.agentx) snmp_agent_set_agentx(m_options.agentx->c_str());
    StartupStderr held(*m_config);
    snmp_agent_set_max_varbinds(m_options.maxVarbinds);
    if (!createModule(error)) return false;
    const int state = snmp_agent_wait_ready(kReadyTimeoutMs);
    held.release(state == SNMP_AGENT_BIND_FAILED);

    switch (state) {
        case SNMP_AGENT_READY:
            m_masterUp = m_options.agentx.has_value();
            if (m_masterUp) reportMaster("registered");
            break;
        case SNMP_AGENT_WAITING:  // a subagent keeps trying in the background
            reportMaster("not reachable yet; retrying in the background");
            break;
        case SNMP_AGENT_BIND_FAILED:
            *error = "cannot listen on " + m_config->listenText() +
                     ": the address is in use or not available";
            return false;
        case SNMP_AGENT_INIT_FAILED:
            *error = "the SNMP agent failed to start (see the messages above)";
            return false;
        default:
            *error = "the SNMP agent did not come up within " +
                     std::to_string(kReadyTimeoutMs / 1000) + " s";
            return false;
    }
    return true;
}

bool Daemon::startRoute(std::string* error)
{
    using kw::panel::LinkSpec;
    if (m_options.route == Options::Route::DirectSerial) {
        m_direct = DirectSerialRoute::open(m_options.directSerial, error);
        return m_direct != nullptr;
    }

    kw::panel::LinkOptions linkOptions;
    switch (m_options.link.kind) {
        case LinkSpec::Kind::Sim: {
            kw::panel::SimLink::Options sim;
            sim.faults = m_options.faults;
            m_link = std::make_shared<kw::panel::SimLink>(sim);
            break;
        }
        case LinkSpec::Kind::Tcp: {
            std::shared_ptr<kw::panel::StreamLink> line =
                kw::panel::openTcpLink(m_options.link.tcp, linkOptions);
            m_streamLink = line.get();
            m_link = line;
            if (!line->waitConnected(kFirstConnectWait)) {
                reportLine("not reachable yet (" + line->lastError() +
                           "); retrying in the background");
                m_lineUp = false;
            } else {
                m_lineUp = true;
            }
            break;
        }
        case LinkSpec::Kind::Serial: {
            std::shared_ptr<kw::panel::StreamLink> line =
                kw::panel::openSerialLink(m_options.link.serial, linkOptions, error);
            if (!line) return false;
            m_streamLink = line.get();
            m_link = line;
            m_lineUp = true;
            break;
        }
    }

    kw::protocol::ProtocolService::Options serviceOptions;
    if (m_options.verbose) {
        serviceOptions.trace = [](const std::string& line) {
            std::fprintf(stderr, "kwsnmpd: panel %s\n", line.c_str());
        };
    }
    m_service = std::make_unique<kw::protocol::ProtocolService>(m_link, serviceOptions);
    if (!m_service->start()) {
        *error = "the protocol service could not be registered";
        return false;
    }
    m_health.start(m_service.get());
    return true;
}

bool Daemon::createModule(std::string* error)
{
    Framework& framework = Framework::instance();
    // As the display's host does: construct the application (which creates its transport and
    // the command API), register it, create it (which starts the agent thread), activate it.
    m_app = new CSnmpAppBase();
    if (!framework.registerApp(kModuleAppId, m_app)) {
        *error = "the module's application could not be registered";
        return false;
    }
    m_registered = true;

    // The serial route replaces the platform transport as the engine's sender before the agent
    // thread can run a transaction.
    if (m_direct) m_direct->attach(VoSingletonSNMP<VoRIXSNMPApi>::GetInstance());

    m_created = framework.create(kModuleAppId);
    if (!m_created) {
        *error = "the module's application failed to start";
        return false;
    }
    if (!framework.activate(kModuleAppId)) {
        *error = "the module's application failed to activate";
        return false;
    }
    return true;
}

std::string Daemon::masterText() const
{
    return m_options.agentx->empty() ? "/var/agentx/master" : *m_options.agentx;
}

std::string Daemon::describe() const
{
    const std::string role =
        m_options.agentx ? "AgentX subagent of " + masterText()
                         : "listening on " + (m_config ? m_config->listenText() : m_options.listen);
    return role + ", panel " + m_options.panelText + ", display ID " +
           std::to_string(m_options.displayId);
}

void Daemon::reload()
{
    std::fprintf(stderr, "kwsnmpd: SIGHUP: re-reading the configuration\n");
    snmp_agent_reload();
}

void Daemon::reportMaster(const std::string& text) const
{
    std::fprintf(stderr, "kwsnmpd: AgentX master %s: %s\n", masterText().c_str(), text.c_str());
}

void Daemon::poll()
{
    if (m_options.agentx && (snmp_agent_master_connected() != 0) != m_masterUp) {
        m_masterUp = !m_masterUp;
        reportMaster(m_masterUp ? "registered" : "connection lost; retrying in the background");
    }
    if (m_streamLink == nullptr) return;
    const bool up = m_streamLink->connected();
    if (m_lineUp && *m_lineUp == up) return;
    m_lineUp = up;
    if (up) {
        reportLine("connected");
    } else {
        const std::string why = m_streamLink->lastError();
        reportLine("line down" + (why.empty() ? std::string() : " (" + why + ")") +
                   "; retrying in the background");
    }
}

std::string Daemon::runtimeDir() const
{
    return m_config ? m_config->runtimeDir() : std::string();
}

void Daemon::reportLine(const std::string& text) const
{
    std::fprintf(stderr, "kwsnmpd: panel %s: %s\n", m_options.panelText.c_str(), text.c_str());
}

void Daemon::stop()
{
    // 1. No new request reaches the module; the one in progress is answered at once with a
    //    refusal, so its transaction ends at its next poll rather than after its full wait.
    snmp_agent_stop();
    m_health.stop();
    if (m_service) m_service->shutdownLink();
    if (m_direct) m_direct->refuseInFlight();

    // 2. The agent thread leaves main_snmp; from here no callback runs.
    if (m_app != nullptr && m_created) {
        m_app->JoinSnmpThread();
        m_created = false;
    }
    // 3. The serial route leaves the engine and its receive loop ends.
    if (m_direct) {
        m_direct->detach();
        m_direct.reset();
    }
    // 4. The application goes: t_Destroy on its thread, then its transport is released.
    if (m_app != nullptr) {
        Framework& framework = Framework::instance();
        if (m_registered) {
            framework.deactivate(kModuleAppId);
            framework.destroy(kModuleAppId);
            framework.unregisterApp(kModuleAppId);
            m_registered = false;
        }
        delete m_app;
        m_app = nullptr;
    }
    // 5. The protocol service and the panel link.
    if (m_service) {
        m_service->stop();
        m_service.reset();
    }
    m_streamLink = nullptr;
    m_link.reset();
    // 6. The message service's thread, if the module started it.
    if (VoMessageSNMP* messages = VoSingletonSNMP<VoMessageSNMP>::m_pObject) {
        messages->Destroy();
    }
    m_config.reset();
}

}  // namespace kw::kwsnmpd
