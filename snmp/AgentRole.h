#pragma once
// How the agent takes part in SNMP on its host: as a standalone agent with its own listener,
// system group, sysORTable and access control, or as an AgentX subagent that lends only the
// display MIB to the master agent the host already runs. Loop-thread only, like all of
// Net-SNMP's state.
#include <string>

namespace kw::snmp {

struct AgentRole {
    bool subagent = false;
    std::string masterAddress;  // the master's AgentX socket; empty: Net-SNMP's default
};

// Net-SNMP's default AgentX master socket.
const char* defaultMasterAddress();

// Before init_agent: the settings that decide the role.
void configureRole(const AgentRole& role);
// After init_agent: the MIB modules a standalone agent serves besides the display's; a
// subagent's timing towards its master.
void initRoleModules(const AgentRole& role);
// After init_snmp: a standalone agent opens its listeners (false when it cannot); a subagent
// has made its first attempt to reach the master and retries by itself from here on.
bool startRole(const AgentRole& role);
// A subagent's session with its master is open and holds our registrations.
bool masterConnected(const AgentRole& role);
// Re-reads the configuration (communities, users, views, trap sinks) as Net-SNMP's own agent
// does on SIGHUP. Requests in flight keep going; the subagent keeps its session.
void reloadConfiguration(const AgentRole& role);
// Before the agent unregisters: a master that hangs holds the stop only briefly.
void leaveMaster(const AgentRole& role);
void stopRole(const AgentRole& role);

}  // namespace kw::snmp
