// Net-SNMP wants its configuration header first.
#include <net-snmp/net-snmp-config.h>

#include <net-snmp/net-snmp-includes.h>

#include <net-snmp/agent/net-snmp-agent-includes.h>

#include "snmp/Health.h"

#include <algorithm>
#include <mutex>
#include <vector>

#include "snmp/AgentControl.h"
#include "snmp/Notify.h"
#include "snmp/ObjectTable.h"

namespace kw::snmp {
namespace {

// kwdHealth's scalars, by arc.
enum Arc : oid {
    kLinkState = 1,
    kLastReplyAge,
    kCommands,
    kReplies,
    kNaks,
    kTimeouts,
    kRefused,
    kDrops,
    kConnects,
    kServed,
    kRequestsRefused,
    kResends,
    kDepth,
};
constexpr uint32_t kNotificationArc[] = {1, 2, 3};  // kwdPanelLinkDown, Up, CommandsFailing
const oid kSnmpTrapOid[] = {1, 3, 6, 1, 6, 3, 1, 1, 4, 1, 0};
constexpr int kWatchMs = 250;

struct Source {
    std::mutex mutex;
    snmp_agent_health_source fn = nullptr;
    void* context = nullptr;
};
Source g_source;

struct State {
    Scheduler* queue = nullptr;
    QueueStats carried;  // earlier runs' counters
    netsnmp_handler_registration* registration = nullptr;
    unsigned int alarm = 0;
    NotifyPolicy policy;
};
State g_state;

snmp_agent_panel_health readPanel()
{
    snmp_agent_panel_health health{};
    health.link = SNMP_AGENT_LINK_UNKNOWN;
    health.msSinceReply = -1;
    std::lock_guard<std::mutex> lock(g_source.mutex);
    if (g_source.fn != nullptr) {
        g_source.fn(&health, g_source.context);
    }
    return health;
}

QueueStats readQueue()
{
    QueueStats stats = g_state.queue != nullptr ? g_state.queue->stats() : QueueStats{};
    stats.served += g_state.carried.served;
    stats.refused += g_state.carried.refused;
    stats.resendsAbsorbed += g_state.carried.resendsAbsorbed;
    return stats;
}

std::vector<oid> healthOid()
{
    const Oid health = underRoot({1, 2});
    return {health.begin(), health.end()};
}

void setCounter(netsnmp_variable_list* vb, uint64_t value)
{
    struct counter64 c;
    c.high = static_cast<u_long>(value >> 32);
    c.low = static_cast<u_long>(value & 0xffffffffu);
    snmp_set_var_typed_value(vb, ASN_COUNTER64, &c, sizeof c);
}

void setGauge(netsnmp_variable_list* vb, uint64_t value)
{
    const u_long gauge = static_cast<u_long>(std::min<uint64_t>(value, 0xffffffffu));
    snmp_set_var_typed_value(vb, ASN_GAUGE, &gauge, sizeof gauge);
}

void setInteger(netsnmp_variable_list* vb, long value)
{
    snmp_set_var_typed_value(vb, ASN_INTEGER, &value, sizeof value);
}

// Fills one health scalar; false for an arc that is not one.
bool fill(netsnmp_variable_list* vb, oid arc, const snmp_agent_panel_health& panel,
          const QueueStats& queue)
{
    const uint64_t age =
        panel.msSinceReply < 0 ? UINT64_MAX : static_cast<uint64_t>(panel.msSinceReply);
    const uint64_t byArc[] = {0,
                              static_cast<uint64_t>(panel.link),
                              age,
                              panel.commands,
                              panel.replies,
                              panel.naks,
                              panel.timeouts,
                              panel.refused,
                              panel.drops,
                              panel.connects,
                              queue.served,
                              queue.refused,
                              queue.resendsAbsorbed,
                              queue.depth};
    if (arc < kLinkState || arc > kDepth) {
        return false;
    }
    if (arc == kLinkState) {
        setInteger(vb, static_cast<long>(byArc[arc]));
    } else if (arc == kLastReplyAge || arc == kDepth) {
        setGauge(vb, byArc[arc]);
    } else {
        setCounter(vb, byArc[arc]);
    }
    return true;
}

int handleHealth(netsnmp_mib_handler*, netsnmp_handler_registration*,
                 netsnmp_agent_request_info* reqinfo, netsnmp_request_info* requests)
{
    if (reqinfo->mode != MODE_GET) {
        return SNMP_ERR_NOERROR;  // the scalar group helper refuses writes itself
    }
    const snmp_agent_panel_health panel = readPanel();
    const QueueStats queue = readQueue();
    // The scalar helpers have checked the instance; the object's arc follows kwdHealth.
    const size_t arcAt = healthOid().size();
    for (netsnmp_request_info* r = requests; r != nullptr; r = r->next) {
        netsnmp_variable_list* vb = r->requestvb;
        if (r->processed || vb->name_length <= arcAt) {
            continue;
        }
        if (!fill(vb, vb->name[arcAt], panel, queue)) {
            netsnmp_set_request_error(reqinfo, r, SNMP_NOSUCHOBJECT);
        }
    }
    return SNMP_ERR_NOERROR;
}

void addVar(netsnmp_variable_list** list, oid arc, const snmp_agent_panel_health& panel)
{
    std::vector<oid> name = healthOid();
    name.push_back(arc);
    name.push_back(0);
    netsnmp_variable_list* vb =
        snmp_varlist_add_variable(list, name.data(), name.size(), ASN_NULL, nullptr, 0);
    if (vb != nullptr) {
        fill(vb, arc, panel, QueueStats{});
    }
}

void send(Notification what, const snmp_agent_panel_health& panel)
{
    // kwdNotifications is root.0.
    const Oid arcs = underRoot({0, kNotificationArc[static_cast<int>(what)]});
    const std::vector<oid> trap(arcs.begin(), arcs.end());
    netsnmp_variable_list* vars = nullptr;
    snmp_varlist_add_variable(&vars, kSnmpTrapOid, OID_LENGTH(kSnmpTrapOid), ASN_OBJECT_ID,
                              reinterpret_cast<const u_char*>(trap.data()),
                              trap.size() * sizeof(oid));
    // Counter64 values would keep Net-SNMP from building its SNMPv1 form of the trap, and it
    // complains on every send; the counters are a GET away.
    addVar(&vars, kLinkState, panel);
    addVar(&vars, kLastReplyAge, panel);
    send_v2trap(vars);
    snmp_free_varbind(vars);
}

void watch(unsigned int, void*)
{
    const snmp_agent_panel_health panel = readPanel();
    for (Notification what : g_state.policy.observe(panel, NotifyPolicy::Clock::now())) {
        send(what, panel);
    }
}

}  // namespace

bool startHealth(Scheduler& queue)
{
    g_state.queue = &queue;
    g_state.policy = NotifyPolicy();
    const std::vector<oid> root = healthOid();
    g_state.registration = netsnmp_create_handler_registration(
        "kwdHealth", handleHealth, root.data(), root.size(), HANDLER_CAN_RONLY);
    if (g_state.registration == nullptr ||
        netsnmp_register_scalar_group(g_state.registration, kLinkState, kDepth) !=
            MIB_REGISTERED_OK) {
        g_state.registration = nullptr;
        return false;
    }
    struct timeval every = {0, kWatchMs * 1000};
    g_state.alarm = snmp_alarm_register_hr(every, SA_REPEAT, watch, nullptr);
    return true;
}

void stopHealth()
{
    if (g_state.alarm != 0) {
        snmp_alarm_unregister(g_state.alarm);
        g_state.alarm = 0;
    }
    if (g_state.registration != nullptr) {
        netsnmp_unregister_handler(g_state.registration);
        g_state.registration = nullptr;
    }
    if (g_state.queue != nullptr) {
        const QueueStats last = g_state.queue->stats();
        g_state.carried.served += last.served;
        g_state.carried.refused += last.refused;
        g_state.carried.resendsAbsorbed += last.resendsAbsorbed;
        g_state.queue = nullptr;
    }
}

}  // namespace kw::snmp

extern "C" __attribute__((visibility("default"))) void snmp_agent_set_health_source(
    snmp_agent_health_source source, void* context)
{
    std::lock_guard<std::mutex> lock(kw::snmp::g_source.mutex);
    kw::snmp::g_source.fn = source;
    kw::snmp::g_source.context = context;
}
