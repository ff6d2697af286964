#pragma once
// Where the agent finds its configuration on a host. The module starts the agent with the
// device's fixed configuration path, which need not exist here; Net-SNMP's search path
// (SNMPCONFPATH) and persistent directory (SNMP_PERSISTENT_DIR) carry kwsnmpd's own instead.
//
// Without --config, a snmpd.conf is written into a private runtime directory: the listening
// address and the communities (see Communities.h). With --config DIR the
// operator's DIR/snmpd.conf is read; an explicit --listen then still decides the address. The
// runtime directory goes under $RUNTIME_DIRECTORY when a service manager provides one, and is
// removed when the object goes. The agent's persistent state is kept in SNMP_PERSISTENT_DIR or
// else the service's $STATE_DIRECTORY, and otherwise lasts only for the run.
//
// The directory is made by mkdtemp under RUNTIME_DIRECTORY, XDG_RUNTIME_DIR, TMPDIR or /tmp,
// whichever is first a real directory (not a symlink) that is ours and closed to others, or
// sticky. Its owner and mode are checked through a descriptor opened without following links,
// and every file in it is created relative to that descriptor, exclusively and without
// following links: nothing placed there beforehand or swapped in since can redirect what
// kwsnmpd writes.
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "host/kwsnmpd/Communities.h"

namespace kw::kwsnmpd {

class AgentConfig {
public:
    struct Request {
        std::string listen;
        bool listenGiven = false;
        std::optional<std::string> configDir;
        std::vector<Community> communities;
        bool subagent = false;               // no address and no communities: the master has them
        std::vector<std::string> trapSinks;  // each becomes a trap2sink line
    };

    // Creates the runtime directory, writes what is needed and sets the environment. Null and
    // a one-line `error` when it cannot.
    static std::unique_ptr<AgentConfig> prepare(const Request& request, std::string* error);
    ~AgentConfig();
    AgentConfig(const AgentConfig&) = delete;
    AgentConfig& operator=(const AgentConfig&) = delete;

    const std::string& runtimeDir() const { return m_runtimeDir; }
    // Creates `name` in the runtime directory (a new file, mode 0600); its descriptor or -1.
    int createFile(const std::string& name, int flags) const;
    void removeFile(const std::string& name) const;
    // The address asked for: --listen, or the configuration's own when --config stands alone.
    const std::string& listenText() const { return m_listenText; }

private:
    AgentConfig() = default;

    std::string m_runtimeDir;
    int m_dirFd = -1;
    std::string m_listenText;
};

}  // namespace kw::kwsnmpd
