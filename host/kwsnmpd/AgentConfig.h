#pragma once
// Where the agent finds its configuration on a host. The module starts the agent with the
// device's fixed configuration path, which need not exist here; Net-SNMP's search path
// (SNMPCONFPATH) and persistent directory (SNMP_PERSISTENT_DIR) carry kwsnmpd's own instead.
//
// Without --config, a snmpd.conf is written into a private runtime directory: the listening
// address and the communities public (read) and private (read-write). With --config DIR the
// operator's DIR/snmpd.conf is read; an explicit --listen then still decides the address. The
// runtime directory also holds the agent's persistent state, unless SNMP_PERSISTENT_DIR is
// set already. It is removed when the object goes.
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace kw::kwsnmpd {

class AgentConfig {
public:
    struct Request {
        std::string listen;
        bool listenGiven = false;
        std::optional<std::string> configDir;
        std::vector<std::string> trapSinks;  // each becomes a trap2sink line
    };

    // Creates the runtime directory, writes what is needed and sets the environment. Null and
    // a one-line `error` when it cannot.
    static std::unique_ptr<AgentConfig> prepare(const Request& request, std::string* error);
    ~AgentConfig();
    AgentConfig(const AgentConfig&) = delete;
    AgentConfig& operator=(const AgentConfig&) = delete;

    const std::string& runtimeDir() const { return m_runtimeDir; }
    // The address asked for: --listen, or the configuration's own when --config stands alone.
    const std::string& listenText() const { return m_listenText; }

private:
    AgentConfig() = default;

    std::string m_runtimeDir;
    std::string m_listenText;
};

}  // namespace kw::kwsnmpd
