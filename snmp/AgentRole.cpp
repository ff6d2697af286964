// Net-SNMP wants its configuration header first.
#include <net-snmp/net-snmp-config.h>

#include <net-snmp/net-snmp-includes.h>

#include <net-snmp/agent/net-snmp-agent-includes.h>

#include "snmp/AgentRole.h"

#include <string>

#include "snmp/ObjectTable.h"

// Net-SNMP's MIB modules and agent internals; their headers are not installed.
extern "C" {
void init_system_mib(void);
void init_sysORTable(void);
void init_snmp_mib(void);
void init_snmpEngine(void);
void init_vacm_vars(void);
void init_vacm_conf(void);
// A subagent's session with its master; null while there is none.
extern netsnmp_session* main_session;
int subagent_startup(int majorID, int minorID, void* serverarg, void* clientarg);
}

namespace kw::snmp {
namespace {

// How often a subagent pings its master, and how long it waits between attempts to reach it.
constexpr int kPingIntervalSeconds = 2;
constexpr int kMasterAnswerSeconds = 1;
// On the way out: the unregistrations and the close, each waiting this long at most.
constexpr long kFarewellMicroseconds = 200000;

// Net-SNMP waits in place, the loop with it, for the master's answer to an open, a ping or a
// close: one try of a second each, so that a master that hangs holds neither the display's
// requests nor a stop for long. A subagent sends no other requests of its own. Sessions opened
// from now on take the defaults; the one open already is changed directly. Net-SNMP sets its
// own defaults as it starts and a configuration's "timeout" or "retries" line may set them
// again, so this follows every reading of the configuration.
void boundMasterWaits()
{
    netsnmp_ds_set_int(NETSNMP_DS_LIBRARY_ID, NETSNMP_DS_LIB_TIMEOUT, kMasterAnswerSeconds);
    netsnmp_ds_set_int(NETSNMP_DS_LIBRARY_ID, NETSNMP_DS_LIB_RETRIES, 0);
    if (main_session != nullptr) {
        main_session->timeout = kMasterAnswerSeconds * 1000000L;
        main_session->retries = 0;
    }
}

}  // namespace

const char* defaultMasterAddress()
{
    return NETSNMP_AGENTX_SOCKET;
}

void configureRole(const AgentRole& role)
{
    netsnmp_ds_set_boolean(NETSNMP_DS_APPLICATION_ID, NETSNMP_DS_AGENT_ROLE,
                           role.subagent ? 1 : 0);
    if (!role.subagent) return;
    const std::string address =
        role.masterAddress.empty() ? defaultMasterAddress() : role.masterAddress;
    netsnmp_ds_set_string(NETSNMP_DS_APPLICATION_ID, NETSNMP_DS_AGENT_X_SOCKET, address.c_str());
    // Every failed attempt would be logged; the host reports the master's state itself.
    netsnmp_ds_set_boolean(NETSNMP_DS_APPLICATION_ID, NETSNMP_DS_AGENT_NO_CONNECTION_WARNINGS, 1);
}

void initRoleModules(const AgentRole& role)
{
    if (role.subagent) {
        // init_agent sets its own default; an agentxPingInterval line read later still wins.
        netsnmp_ds_set_int(NETSNMP_DS_APPLICATION_ID, NETSNMP_DS_AGENT_AGENTX_PING_INTERVAL,
                           kPingIntervalSeconds);
        return;  // the master serves the system group, sysORTable and access control
    }
    init_system_mib();
    init_sysORTable();
    init_snmp_mib();
    init_snmpEngine();  // snmpEngineID, snmpEngineBoots, snmpEngineTime
    init_vacm_vars();
    init_vacm_conf();
    // The display's root is the default sysObjectID; a "sysobjectid" line in the
    // configuration, read later, still overrides it.
    std::string sysObjectId = "sysobjectid " + oidToString(rootOid()).substr(1);
    netsnmp_config(&sysObjectId[0]);
}

bool startRole(const AgentRole& role)
{
    if (!role.subagent) return init_master_agent() == 0;
    // The first attempt to reach the master ran as the configuration was read. Re-reading it
    // later must not try to open a second session: the ping alarm keeps the one we have.
    snmp_unregister_callback(SNMP_CALLBACK_LIBRARY, SNMP_CALLBACK_POST_READ_CONFIG,
                             subagent_startup, nullptr, 1);
    boundMasterWaits();
    return true;
}

bool masterConnected(const AgentRole& role)
{
    return role.subagent && main_session != nullptr;
}

void reloadConfiguration(const AgentRole& role)
{
    update_config();
    if (role.subagent) boundMasterWaits();
}

void leaveMaster(const AgentRole& role)
{
    if (role.subagent && main_session != nullptr) {
        main_session->timeout = kFarewellMicroseconds;
        main_session->retries = 0;
    }
}

void stopRole(const AgentRole& role)
{
    // A subagent's session is closed by snmp_shutdown's callbacks.
    if (!role.subagent) shutdown_master_agent();
}

}  // namespace kw::snmp
