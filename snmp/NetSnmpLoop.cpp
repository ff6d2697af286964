// Net-SNMP's side of the agent. Everything here runs on the loop thread, the only thread that
// touches Net-SNMP's state.

// Net-SNMP wants its configuration header first.
#include <net-snmp/net-snmp-config.h>

#include <net-snmp/net-snmp-includes.h>

#include <net-snmp/agent/net-snmp-agent-includes.h>

#include <net-snmp/agent/agent_callbacks.h>
#include <net-snmp/agent/agent_sysORTable.h>

#include <malloc.h>
#include <netinet/in.h>
#include <sys/select.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <functional>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

#include "snmp/AgentLoop.h"
#include "snmp/AgentRole.h"
#include "snmp/Health.h"
#include "snmp/HexText.h"
#include "snmp/ObjectTable.h"

// Net-SNMP's agent internals; their headers are not installed.
extern "C" {
// The SET that Net-SNMP is working on; while it is set, Net-SNMP holds every new request.
extern netsnmp_agent_session* netsnmp_processing_set;
// Requests Net-SNMP holds back, oldest first.
extern netsnmp_agent_session* netsnmp_agent_queued_list;
int netsnmp_handle_request(netsnmp_agent_session* asp, int status);
void add_to_init_list(char* module_list);
}

namespace kw::snmp {
namespace {

constexpr const char* kAppType = "snmpd";
constexpr const char* kDevicePersistentDir = "/mtd_rwarea/SNMP/var/net-snmp";
constexpr const char* kAppliedMark = "kwdApplied";
int g_appliedMarker = 1;

// One handler call whose requests wait for the display.
struct Pending {
    netsnmp_delegated_cache* cache = nullptr;
    std::vector<netsnmp_request_info*> requests;
    JobKind kind = JobKind::Get;
    size_t request = 0;        // requestHash() of its PDU
    bool otherObjects = false;  // a SET that also writes objects outside the display's subtree
};

class Loop {
public:
    explicit Loop(LoopContext& context) : m_context(context) {}

    void run();

    int gate(view_parameters* view);
    int handle(netsnmp_mib_handler* handler, netsnmp_handler_registration* reginfo,
               netsnmp_agent_request_info* reqinfo, netsnmp_request_info* requests);
    void onWake();

private:
    bool start();
    void serve();
    void settle();
    void watchRole();
    void stopNetSnmp();

    int onGet(netsnmp_mib_handler*, netsnmp_handler_registration*, netsnmp_agent_request_info*,
              netsnmp_request_info*);
    int onGetNext(netsnmp_mib_handler*, netsnmp_handler_registration*, netsnmp_agent_request_info*,
                  netsnmp_request_info*);
    int onReserve1(netsnmp_agent_request_info*, netsnmp_request_info*);
    int onReserve2(netsnmp_agent_request_info*, netsnmp_request_info*);
    int onAction(netsnmp_mib_handler*, netsnmp_handler_registration*, netsnmp_agent_request_info*,
                 netsnmp_request_info*);
    int onUndo(netsnmp_agent_request_info*, netsnmp_request_info*);

    // Queues the job (or joins or answers it); returns the job's admission.
    Scheduler::Admission dispatch(netsnmp_mib_handler*, netsnmp_handler_registration*,
                                  netsnmp_agent_request_info*, netsnmp_request_info*,
                                  std::unique_ptr<Pending> pending, WorkJob job);
    void apply(const Pending& pending, const JobResult& result, bool delegated);
    void release(Pending* pending);

    bool overLimit(netsnmp_agent_request_info* reqinfo, netsnmp_request_info* requests);
    WorkJob setJob(netsnmp_request_info* requests, std::vector<netsnmp_request_info*>* mine);

    LoopContext& m_context;
    netsnmp_handler_registration* m_registration = nullptr;
    netsnmp_handler_registration* m_numeric = nullptr;  // kwdNumeric, same handler
    bool m_readfdRegistered = false;
    std::vector<oid> m_module;
    bool m_sysORRegistered = false;
    bool m_gateRegistered = false;
    bool m_stopping = false;
    bool m_trimDue = false;
    // Delegated handler calls per request (requestHash), original and retransmissions.
    std::unordered_map<size_t, size_t> m_waiting;
    // Delegated SETs that also wrote objects outside the display's subtree, and the SETs that
    // wait for them to finish (see settle()).
    size_t m_otherObjectSets = 0;
    std::deque<netsnmp_agent_session*> m_parked;
    bool m_masterConnected = false;
};

Oid toOid(const oid* name, size_t length)
{
    return Oid(name, name + length);
}

std::vector<oid> toNetSnmp(const Oid& o)
{
    return std::vector<oid>(o.begin(), o.end());
}

int dispatchHandler(netsnmp_mib_handler* handler, netsnmp_handler_registration* reginfo,
                    netsnmp_agent_request_info* reqinfo, netsnmp_request_info* requests)
{
    return static_cast<Loop*>(handler->myvoid)->handle(handler, reginfo, reqinfo, requests);
}

void heartbeatCallback(unsigned int, void* context)
{
    static_cast<LoopContext*>(context)->heartbeat();
}

void wakeCallback(int, void* data)
{
    static_cast<Loop*>(data)->onWake();
}

int gateCallback(int, int, void* serverArg, void* clientArg)
{
    return static_cast<Loop*>(clientArg)->gate(static_cast<view_parameters*>(serverArg));
}

bool fileExists(const std::string& path)
{
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0;
}

void appendBytes(std::string& key, const void* data, size_t length)
{
    key.append(reinterpret_cast<const char*>(&length), sizeof length);
    if (data != nullptr && length != 0) {
        key.append(static_cast<const char*>(data), length);
    }
}

// The manager a request comes from: its socket address (which, for UDP and TCP over IPv4 or
// IPv6, Net-SNMP's transport data starts with) and its community or user. Requests of one
// source are served in arrival order; sources take turns at the panel.
std::string sourceOf(const netsnmp_pdu* pdu)
{
    std::string source;
    const auto* address = static_cast<const sockaddr*>(pdu->transport_data);
    const size_t length = pdu->transport_data_length;
    if (address != nullptr && length >= sizeof(sockaddr_in) && address->sa_family == AF_INET) {
        const auto* in = reinterpret_cast<const sockaddr_in*>(address);
        appendBytes(source, &in->sin_addr, sizeof in->sin_addr);
        appendBytes(source, &in->sin_port, sizeof in->sin_port);
    } else if (address != nullptr && length >= sizeof(sockaddr_in6) &&
               address->sa_family == AF_INET6) {
        const auto* in6 = reinterpret_cast<const sockaddr_in6*>(address);
        appendBytes(source, &in6->sin6_addr, sizeof in6->sin6_addr);
        appendBytes(source, &in6->sin6_port, sizeof in6->sin6_port);
    } else {
        appendBytes(source, address, address != nullptr ? length : 0);
    }
    appendBytes(source, pdu->community, pdu->community_len);
    appendBytes(source, pdu->securityName, pdu->securityNameLen);
    return source;
}

// Names a request so that a manager's retransmission (same source, request id and varbinds)
// finds the first one. `pdu` is the request as it arrived.
size_t requestHash(const netsnmp_pdu* pdu)
{
    std::string key = sourceOf(pdu);
    const long header[] = {pdu->version, pdu->command, pdu->reqid, pdu->securityModel,
                           pdu->securityLevel};
    appendBytes(key, header, sizeof header);
    appendBytes(key, pdu->contextName, pdu->contextNameLen);
    for (const netsnmp_variable_list* vb = pdu->variables; vb != nullptr;
         vb = vb->next_variable) {
        appendBytes(key, vb->name, vb->name_length * sizeof(oid));
        appendBytes(key, &vb->type, sizeof vb->type);
        appendBytes(key, vb->val.string, vb->val.string != nullptr ? vb->val_len : 0);
    }
    return std::hash<std::string>()(key);
}

const netsnmp_pdu* arrived(const netsnmp_agent_request_info* reqinfo)
{
    const netsnmp_agent_session* asp = reqinfo->asp;
    return asp->orig_pdu != nullptr ? asp->orig_pdu : asp->pdu;
}

// A job's key: its request and, as a GETNEXT or GETBULK makes several passes, the pass. A hash
// stands for the request: should two requests ever share one, they would share an answer for
// the very same display varbinds, which is what each would have got anyway.
std::string jobKey(size_t request, const WorkJob& job)
{
    std::string key;
    appendBytes(key, &request, sizeof request);
    appendBytes(key, &job.kind, sizeof job.kind);
    for (const WorkItem& item : job.items) {
        appendBytes(key, item.oid.data(), item.oid.size() * sizeof(uint32_t));
        appendBytes(key, item.bytes.data(), item.bytes.size());
    }
    return key;
}

bool touchesOtherObjects(const netsnmp_pdu* pdu)
{
    const Oid control = controlOid();
    for (const netsnmp_variable_list* vb = pdu->variables; vb != nullptr;
         vb = vb->next_variable) {
        if (vb->name_length < control.size() ||
            !std::equal(control.begin(), control.end(), vb->name)) {
            return true;
        }
    }
    return false;
}

bool Loop::start()
{
    const AgentOptions& options = m_context.options;
    configureRole(options.role);
    // Alarms run from our loop, never from SIGALRM: the host owns its signals.
    netsnmp_ds_set_boolean(NETSNMP_DS_LIBRARY_ID, NETSNMP_DS_LIB_ALARM_DONT_USE_SIG, 1);
    // Debian's Net-SNMP logs every packet's source through TCP wrappers; that is noise here.
    netsnmp_ds_set_boolean(NETSNMP_DS_APPLICATION_ID,
                           NETSNMP_DS_AGENT_DONT_LOG_TCPWRAPPERS_CONNECTS, 1);
    if (!options.readDefaultConfigs) {
        netsnmp_ds_set_boolean(NETSNMP_DS_LIBRARY_ID, NETSNMP_DS_LIB_DONT_READ_CONFIGS, 1);
    }
    // A -c file that is not there is skipped quietly: the device's paths need not exist.
    std::string optional;
    for (const std::string& file : options.configFiles) {
        if (fileExists(file)) {
            optional += optional.empty() ? file : "," + file;
        }
    }
    if (!optional.empty()) {
        netsnmp_ds_set_string(NETSNMP_DS_LIBRARY_ID, NETSNMP_DS_LIB_OPTIONALCONFIG,
                              optional.c_str());
    }
    // On the device the writable data directory holds the agent's state and its copied
    // snmpd.conf; elsewhere Net-SNMP's own default or SNMP_PERSISTENT_DIR applies.
    if (std::getenv("SNMP_PERSISTENT_DIR") == nullptr && fileExists(kDevicePersistentDir)) {
        netsnmp_ds_set_string(NETSNMP_DS_LIBRARY_ID, NETSNMP_DS_LIB_PERSISTENT_DIR,
                              kDevicePersistentDir);
    }
    // The agent answers by number and needs no MIB files; loading them only costs start-up
    // time and fills the log with complaints about modules the system does not ship.
    static char noMibs[] = "mibs :";
    netsnmp_config_remember(noMibs);
    if (!snmp_get_do_logging()) {
        snmp_enable_stderrlog();
    }
    if (options.debug) {
        if (!options.debugTokens.empty()) {
            debug_register_tokens(options.debugTokens.c_str());
        }
        snmp_set_do_debugging(1);
    }

    // No SMUX listener: nothing here speaks it, and it would take TCP port 199.
    static char noSmux[] = "-smux";
    add_to_init_list(noSmux);
    if (init_agent(kAppType) != 0) {
        m_context.reportState(LoopState::InitFailed);
        return false;
    }
    initRoleModules(options.role);
    // After the access check, so that it sees only requests that pass it.
    m_gateRegistered = snmp_register_callback(SNMP_CALLBACK_APPLICATION,
                                              SNMPD_CALLBACK_ACM_CHECK_INITIAL, gateCallback,
                                              this) == SNMPERR_SUCCESS;

    const std::vector<oid> control = toNetSnmp(controlOid());
    m_registration = netsnmp_create_handler_registration(
        "kwdControl", dispatchHandler, control.data(), control.size(), HANDLER_CAN_RWRITE);
    if (m_registration == nullptr) {
        m_context.reportState(LoopState::InitFailed);
        return false;
    }
    m_registration->handler->myvoid = this;
    // Net-SNMP hands the varbinds of both subtrees to one handler call, so that an object and
    // its numeric twin in one PDU make one job and one panel command.
    m_registration->global_cacheid = 0x6b77;
    if (netsnmp_register_handler(m_registration) != MIB_REGISTERED_OK) {
        m_registration = nullptr;  // freed by the failed registration
        m_context.reportState(LoopState::InitFailed);
        return false;
    }
    const std::vector<oid> numeric = toNetSnmp(numericOid());
    m_numeric = netsnmp_create_handler_registration("kwdNumeric", dispatchHandler, numeric.data(),
                                                    numeric.size(), HANDLER_CAN_RONLY);
    if (m_numeric != nullptr) {
        m_numeric->handler->myvoid = this;
        m_numeric->global_cacheid = m_registration->global_cacheid;
    }
    if (m_numeric == nullptr || netsnmp_register_handler(m_numeric) != MIB_REGISTERED_OK ||
        !startHealth(*m_context.queue)) {
        m_context.reportState(LoopState::InitFailed);
        return false;
    }
    m_module = toNetSnmp(rootOid());
    m_module.push_back(2);  // kwDisplayMIB, the module identity
    register_sysORTable(m_module.data(), m_module.size(),
                        "The MIB module for the display's controls");
    m_sysORRegistered = true;

    init_snmp(kAppType);
    if (!startRole(options.role)) {
        m_context.reportState(LoopState::BindFailed);
        return false;
    }
    if (register_readfd(m_context.wakeFd, wakeCallback, this) != FD_REGISTERED_OK) {
        m_context.reportState(LoopState::InitFailed);
        return false;
    }
    m_readfdRegistered = true;
    if (m_context.heartbeat != nullptr && m_context.heartbeatMs > 0) {
        const unsigned ms = m_context.heartbeatMs;
        snmp_alarm_register_hr(
            {static_cast<time_t>(ms / 1000), static_cast<suseconds_t>(ms % 1000 * 1000)}, SA_REPEAT,
            heartbeatCallback, &m_context);
    }
    if (!options.role.subagent) {
        m_context.reportState(LoopState::Ready);
    } else {
        // A subagent is ready once the master holds its registration; until then it retries.
        m_masterConnected = masterConnected(options.role);
        m_context.reportMaster(m_masterConnected);
        m_context.reportState(m_masterConnected ? LoopState::Ready : LoopState::WaitingForMaster);
    }
    return true;
}

// Between two passes of the loop: a reload asked for, and the master coming or going.
void Loop::watchRole()
{
    const AgentRole& role = m_context.options.role;
    if (m_context.reload->exchange(false)) {
        reloadConfiguration(role);
    }
    const bool connected = masterConnected(role);
    if (connected != m_masterConnected) {
        m_masterConnected = connected;
        m_context.reportMaster(connected);
        if (connected) {
            m_context.reportState(LoopState::Ready);
        }
    }
}

void Loop::serve()
{
    while (!m_context.stop->load()) {
        int numfds = 0;
        int block = 0;
        fd_set readfds;
        fd_set writefds;
        fd_set exceptfds;
        FD_ZERO(&readfds);
        FD_ZERO(&writefds);
        FD_ZERO(&exceptfds);
        struct timeval timeout = {LONG_MAX, 0};
        snmp_select_info(&numfds, &readfds, &timeout, &block);
        netsnmp_external_event_info(&numfds, &readfds, &writefds, &exceptfds);
        // Our wake-up pipe is among the external fds, so blocking without a timeout is safe.
        int count = ::select(numfds, &readfds, &writefds, &exceptfds, block ? nullptr : &timeout);
        if (count > 0) {
            netsnmp_dispatch_external_events(&count, &readfds, &writefds, &exceptfds);
            if (count > 0) {
                snmp_read(&readfds);
            }
        } else if (count == 0) {
            snmp_timeout();
        } else if (errno != EINTR) {
            snmp_log_perror("kwdisplay agent: select");
        }
        run_alarms();
        settle();
        // A large request's sessions, freed once it is answered, leave holes that glibc keeps;
        // hand them back, so that a burst of big requests does not raise RSS for good.
        if (m_trimDue) {
            m_trimDue = false;
            ::malloc_trim(0);
        }
        watchRole();
    }
}

// Net-SNMP starts a SET only when no delegated request is outstanding, and holds every request
// that arrives meanwhile behind it; the SET it works on (netsnmp_processing_set) holds all
// others too. With the panel behind every display request that would stall the whole agent,
// system group included, for as long as the panel takes, so onAction lets go of a SET once its
// display part is queued, and a SET held here is started at once: the scheduler keeps the
// display's own writes in order.
//
// Net-SNMP's own objects, though, are written in ACTION and restored by UNDO when any varbind
// of their SET fails. While a SET that wrote one of them waits for the panel, a second SET of
// that object must not run, or the first one's undo would wipe the second's write. So a held
// SET that touches anything outside the display's subtree is parked while such a SET is
// outstanding, and started, in arrival order, once none is. Reads are never held: they may
// see the first SET's value before it is undone, as they would between two SETs anyway.
void Loop::settle()
{
    for (;;) {
        netsnmp_check_outstanding_agent_requests();
        netsnmp_agent_session* held = netsnmp_processing_set;
        if (held != nullptr && netsnmp_agent_queued_list == held) {
            netsnmp_agent_queued_list = held->next;
            held->next = nullptr;
            if (m_otherObjectSets > 0 && touchesOtherObjects(held->pdu)) {
                netsnmp_processing_set = nullptr;
                m_parked.push_back(held);
            } else {
                netsnmp_handle_request(held, held->status);
            }
            continue;
        }
        if (held == nullptr && m_otherObjectSets == 0 && !m_parked.empty()) {
            held = m_parked.front();
            m_parked.pop_front();
            netsnmp_processing_set = held;
            netsnmp_handle_request(held, held->status);
            continue;
        }
        return;
    }
}

void Loop::stopNetSnmp()
{
    leaveMaster(m_context.options.role);
    if (m_readfdRegistered) {
        unregister_readfd(m_context.wakeFd);
        m_readfdRegistered = false;
    }
    if (m_gateRegistered) {
        snmp_unregister_callback(SNMP_CALLBACK_APPLICATION, SNMPD_CALLBACK_ACM_CHECK_INITIAL,
                                 gateCallback, this, 1);
        m_gateRegistered = false;
    }
    // Nothing of a parked SET has been written: it is dropped, and its manager times out.
    m_stopping = true;
    for (netsnmp_agent_session* asp : m_parked) {
        netsnmp_remove_and_free_agent_snmp_session(asp);
    }
    m_parked.clear();
    // Every request still waiting for the display is answered now with what was done: a GET
    // with genErr, a SET with commitFailed (and undoFailed for what reached the panel).
    for (auto& [token, result] : m_context.queue->abandon()) {
        auto* pending = static_cast<Pending*>(token);
        if (netsnmp_handler_check_cache(pending->cache) != nullptr) {
            apply(*pending, result, true);
        }
        release(pending);
    }
    netsnmp_check_outstanding_agent_requests();
    stopHealth();
    for (netsnmp_handler_registration** r : {&m_registration, &m_numeric}) {
        if (*r != nullptr) {
            netsnmp_unregister_handler(*r);
            *r = nullptr;
        }
    }
    if (m_sysORRegistered) {
        unregister_sysORTable(m_module.data(), m_module.size());
        m_sysORRegistered = false;
    }
    snmp_shutdown(kAppType);
    stopRole(m_context.options.role);
    shutdown_agent();
}

void Loop::run()
{
    if (start()) {
        serve();
    }
    stopNetSnmp();
}

void Loop::onWake()
{
    char drain[64];
    while (::read(m_context.wakeFd, drain, sizeof drain) > 0) {
    }
    auto finished = m_context.queue->takeFinished();
    for (auto& [token, result] : finished) {
        auto* pending = static_cast<Pending*>(token);
        if (netsnmp_handler_check_cache(pending->cache) != nullptr) {
            apply(*pending, result, true);
        }
        release(pending);
    }
    if (!finished.empty()) {
        m_trimDue = true;
    }
}

void Loop::release(Pending* pending)
{
    if (pending->cache != nullptr) {
        netsnmp_free_delegated_cache(pending->cache);
        auto it = m_waiting.find(pending->request);
        if (it != m_waiting.end() && --it->second == 0) {
            m_waiting.erase(it);
        }
        if (pending->otherObjects) {
            m_otherObjectSets--;
        }
    }
    delete pending;
}

// Net-SNMP keeps a whole session for every delegated request, so a retransmission of a request
// in hand may join it only up to the scheduler's bound on waiters. Any further one is dropped
// before Net-SNMP works on it: the manager sends again if it still waits. Net-SNMP drops a
// request unanswered, in every version, when the access check reports an unknown context
// (and counts it in snmpUnknownContexts).
int Loop::gate(view_parameters* view)
{
    if (view == nullptr || view->pdu == nullptr || view->errorcode != 0 || m_waiting.empty()) {
        return 0;
    }
    auto it = m_waiting.find(requestHash(view->pdu));
    if (it != m_waiting.end() && it->second >= m_context.queue->limits().waiters) {
        m_context.queue->countAbsorbed();
        view->errorcode = VACM_NOSUCHCONTEXT;
    }
    return 0;
}

// A PDU may carry only so many display varbinds, as each costs the panel a command. One with
// more is answered tooBig, before anything is queued or written: managers take tooBig as
// "ask for less" and split the request or shrink max-repetitions, where genErr would only
// make them fail.
bool Loop::overLimit(netsnmp_agent_request_info* reqinfo, netsnmp_request_info* requests)
{
    size_t count = 0;
    for (netsnmp_request_info* r = requests; r != nullptr; r = r->next) {
        count += r->processed ? 0 : 1;
    }
    if (count <= m_context.maxVarbinds) {
        return false;
    }
    m_context.queue->countRefused();
    netsnmp_set_request_error(reqinfo, requests, SNMP_ERR_TOOBIG);
    return true;
}

int Loop::handle(netsnmp_mib_handler* handler, netsnmp_handler_registration* reginfo,
                 netsnmp_agent_request_info* reqinfo, netsnmp_request_info* requests)
{
    switch (reqinfo->mode) {
        case MODE_GET:
            return onGet(handler, reginfo, reqinfo, requests);
        case MODE_GETNEXT:
            return onGetNext(handler, reginfo, reqinfo, requests);
        case MODE_SET_RESERVE1:
            return onReserve1(reqinfo, requests);
        case MODE_SET_RESERVE2:
            return onReserve2(reqinfo, requests);
        case MODE_SET_ACTION:
            return onAction(handler, reginfo, reqinfo, requests);
        case MODE_SET_UNDO:
            return onUndo(reqinfo, requests);
        default:  // COMMIT and FREE: the display was written in ACTION, nothing was reserved
            return SNMP_ERR_NOERROR;
    }
}

int Loop::onGet(netsnmp_mib_handler* handler, netsnmp_handler_registration* reginfo,
                netsnmp_agent_request_info* reqinfo, netsnmp_request_info* requests)
{
    if (overLimit(reqinfo, requests)) {
        return SNMP_ERR_NOERROR;
    }
    auto pending = std::make_unique<Pending>();
    pending->kind = JobKind::Get;
    WorkJob job;
    job.kind = JobKind::Get;
    for (netsnmp_request_info* r = requests; r != nullptr; r = r->next) {
        if (r->processed) {
            continue;
        }
        const Oid name = toOid(r->requestvb->name, r->requestvb->name_length);
        const Target target = resolve(name);
        switch (target.kind) {
            case Target::Kind::NoObject:
                netsnmp_set_request_error(reqinfo, r, SNMP_NOSUCHOBJECT);
                continue;
            case Target::Kind::NoInstance:
                netsnmp_set_request_error(reqinfo, r, SNMP_NOSUCHINSTANCE);
                continue;
            case Target::Kind::Scalar:
                // Set-only rows never reach the display on a read.
                if (target.object->access == Access::WriteOnly) {
                    netsnmp_set_request_error(reqinfo, r, SNMP_NOSUCHINSTANCE);
                    continue;
                }
                break;
            case Target::Kind::HolidayEntry:
            case Target::Kind::Number:
                break;
        }
        job.items.push_back({name, {}, 0});
        pending->requests.push_back(r);
    }
    if (!job.items.empty()) {
        dispatch(handler, reginfo, reqinfo, requests, std::move(pending), std::move(job));
    }
    return SNMP_ERR_NOERROR;
}

int Loop::onGetNext(netsnmp_mib_handler* handler, netsnmp_handler_registration* reginfo,
                    netsnmp_agent_request_info* reqinfo, netsnmp_request_info* requests)
{
    if (overLimit(reqinfo, requests)) {
        return SNMP_ERR_NOERROR;
    }
    auto pending = std::make_unique<Pending>();
    pending->kind = JobKind::GetNext;
    WorkJob job;
    job.kind = JobKind::GetNext;
    for (netsnmp_request_info* r = requests; r != nullptr; r = r->next) {
        if (r->processed) {
            continue;
        }
        const Oid name = toOid(r->requestvb->name, r->requestvb->name_length);
        // Past our last readable object the request moves on to the next registration.
        const bool numeric = walksNumeric(name);
        if (numeric ? nextNumeric(name) == nullptr : nextStep(name).kind == WalkStep::Kind::End) {
            continue;
        }
        job.items.push_back({name, {}, 0});
        pending->requests.push_back(r);
    }
    if (!job.items.empty()) {
        dispatch(handler, reginfo, reqinfo, requests, std::move(pending), std::move(job));
    }
    return SNMP_ERR_NOERROR;
}

// Checks a set's varbinds before anything is queued: the display is touched only by values
// that can be written.
int Loop::onReserve1(netsnmp_agent_request_info* reqinfo, netsnmp_request_info* requests)
{
    if (overLimit(reqinfo, requests)) {
        return SNMP_ERR_NOERROR;
    }
    for (netsnmp_request_info* r = requests; r != nullptr; r = r->next) {
        const netsnmp_variable_list* vb = r->requestvb;
        const Target target = resolve(toOid(vb->name, vb->name_length));
        int error = SNMP_ERR_NOERROR;
        if (target.kind == Target::Kind::NoInstance && target.object != nullptr &&
            target.object->access != Access::ReadOnly) {
            error = SNMP_ERR_NOCREATION;
        } else if (target.kind != Target::Kind::Scalar ||
                   target.object->access == Access::ReadOnly) {
            error = SNMP_ERR_NOTWRITABLE;
        } else if (vb->type != ASN_OCTET_STR) {
            error = SNMP_ERR_WRONGTYPE;
        } else {
            auto bytes = parseHexText(
                std::string_view(reinterpret_cast<const char*>(vb->val.string), vb->val_len));
            if (!bytes) {
                error = SNMP_ERR_WRONGVALUE;
            } else if (!acceptsByteCount(*target.object, bytes->size())) {
                error = SNMP_ERR_WRONGLENGTH;
            }
        }
        if (error != SNMP_ERR_NOERROR) {
            netsnmp_set_request_error(reqinfo, r, error);
            return SNMP_ERR_NOERROR;
        }
    }
    return SNMP_ERR_NOERROR;
}

WorkJob Loop::setJob(netsnmp_request_info* requests, std::vector<netsnmp_request_info*>* mine)
{
    WorkJob job;
    job.kind = JobKind::Set;
    for (netsnmp_request_info* r = requests; r != nullptr; r = r->next) {
        const netsnmp_variable_list* vb = r->requestvb;
        std::string_view text(reinterpret_cast<const char*>(vb->val.string), vb->val_len);
        auto bytes = parseHexText(text);  // checked in RESERVE1
        job.items.push_back({toOid(vb->name, vb->name_length),
                             bytes ? *bytes : std::vector<uint8_t>{},
                             static_cast<int>(vb->val_len)});
        if (mine != nullptr) {
            mine->push_back(r);
        }
    }
    return job;
}

// A set that cannot be queued is refused while nothing has been written yet.
int Loop::onReserve2(netsnmp_agent_request_info* reqinfo, netsnmp_request_info* requests)
{
    const netsnmp_pdu* pdu = arrived(reqinfo);
    if (m_stopping ||
        !m_context.queue->wouldAdmit(sourceOf(pdu),
                                     jobKey(requestHash(pdu), setJob(requests, nullptr)))) {
        netsnmp_set_request_error(reqinfo, requests, SNMP_ERR_RESOURCEUNAVAILABLE);
    }
    return SNMP_ERR_NOERROR;
}

int Loop::onAction(netsnmp_mib_handler* handler, netsnmp_handler_registration* reginfo,
                   netsnmp_agent_request_info* reqinfo, netsnmp_request_info* requests)
{
    auto pending = std::make_unique<Pending>();
    pending->kind = JobKind::Set;
    pending->otherObjects = touchesOtherObjects(reqinfo->asp->pdu);
    Pending* raw = pending.get();
    WorkJob job = setJob(requests, &pending->requests);
    const Scheduler::Admission admission =
        dispatch(handler, reginfo, reqinfo, requests, std::move(pending), std::move(job));
    // The rest of the agent goes on while the panel works; settle() explains why that is safe.
    if (admission == Scheduler::Admission::Queued || admission == Scheduler::Admission::Joined) {
        if (raw->otherObjects) {
            m_otherObjectSets++;
        }
        if (netsnmp_processing_set == reqinfo->asp) {
            netsnmp_processing_set = nullptr;
        }
    }
    return SNMP_ERR_NOERROR;
}

// Panel writes cannot be taken back: a set that fails after one of ours went through reports
// undoFailed for it.
int Loop::onUndo(netsnmp_agent_request_info* reqinfo, netsnmp_request_info* requests)
{
    for (netsnmp_request_info* r = requests; r != nullptr; r = r->next) {
        if (netsnmp_request_get_list_data(r, kAppliedMark) != nullptr) {
            netsnmp_set_request_error(reqinfo, r, SNMP_ERR_UNDOFAILED);
        }
    }
    return SNMP_ERR_NOERROR;
}

Scheduler::Admission Loop::dispatch(netsnmp_mib_handler* handler,
                                    netsnmp_handler_registration* reginfo,
                                    netsnmp_agent_request_info* reqinfo,
                                    netsnmp_request_info* requests,
                                    std::unique_ptr<Pending> pending, WorkJob job)
{
    const JobKind kind = job.kind;
    const netsnmp_pdu* pdu = arrived(reqinfo);
    pending->request = requestHash(pdu);
    const std::string key = jobKey(pending->request, job);
    JobResult answer;
    Pending* raw = pending.get();
    // Once stopping, nothing more is queued: the request is refused like one with no room.
    const Scheduler::Admission admission =
        m_stopping ? Scheduler::Admission::Full
                   : m_context.queue->submit(sourceOf(pdu), key, std::move(job), raw, &answer);
    switch (admission) {
        case Scheduler::Admission::Queued:
        case Scheduler::Admission::Joined:
            for (netsnmp_request_info* r : raw->requests) {
                r->delegated = 1;
            }
            raw->cache =
                netsnmp_create_delegated_cache(handler, reginfo, reqinfo, requests, nullptr);
            pending.release();  // the queue's waiter now
            m_waiting[raw->request]++;
            if (admission == Scheduler::Admission::Queued) {
                m_context.wakeServer();
            }
            break;
        case Scheduler::Admission::Answered:
            apply(*raw, answer, false);
            break;
        case Scheduler::Admission::Dropped:  // rare: the gate drops most of these earlier
        case Scheduler::Admission::Full:
            for (netsnmp_request_info* r : raw->requests) {
                netsnmp_set_request_error(
                    reqinfo, r,
                    kind == JobKind::Set ? SNMP_ERR_RESOURCEUNAVAILABLE : SNMP_ERR_GENERR);
            }
            break;
    }
    return admission;
}

// Hex text for a display object; its first byte, typed by the MIB, for a numeric twin.
bool setValue(netsnmp_variable_list* vb, const ItemResult& item)
{
    const Target target = resolve(item.oid);
    if (target.kind != Target::Kind::Number) {
        snmp_set_var_typed_value(vb, ASN_OCTET_STR, item.text.data(), item.text.size());
        return true;
    }
    const std::optional<uint32_t> number = numberFromText(item.text);
    if (!number) {
        return false;
    }
    const u_char type = target.numeric->kind == NumberKind::OnOff ? ASN_INTEGER : ASN_GAUGE;
    return snmp_set_var_typed_integer(vb, type, static_cast<long>(*number)) == 0;
}

void Loop::apply(const Pending& pending, const JobResult& result, bool delegated)
{
    for (size_t i = 0; i < pending.requests.size() && i < result.size(); ++i) {
        netsnmp_request_info* r = pending.requests[i];
        const ItemResult& item = result[i];
        r->delegated = REQUEST_IS_NOT_DELEGATED;
        if (item.status == ItemResult::Status::Failed) {
            // Give the varbind a value: an SNMPv1 answer would otherwise report the untouched
            // varbind as noSuchName instead of the failure.
            if (pending.kind != JobKind::Set) {
                snmp_set_var_typed_value(r->requestvb, ASN_OCTET_STR, nullptr, 0);
            }
            netsnmp_request_set_error(
                r, pending.kind == JobKind::Set ? SNMP_ERR_COMMITFAILED : SNMP_ERR_GENERR);
            continue;
        }
        if (item.status != ItemResult::Status::Value) {
            continue;  // end of our subtree (the walk moves on), or a set never run
        }
        if (pending.kind == JobKind::Set) {
            netsnmp_request_add_list_data(
                r, netsnmp_create_data_list(kAppliedMark, &g_appliedMarker, nullptr));
            continue;
        }
        if (pending.kind == JobKind::GetNext) {
            const std::vector<oid> name = toNetSnmp(item.oid);
            snmp_set_var_objid(r->requestvb, name.data(), name.size());
        }
        if (!setValue(r->requestvb, item)) {
            netsnmp_request_set_error(r, SNMP_ERR_GENERR);
            continue;
        }
        // Net-SNMP's bulk helper moves a GETBULK repetition on when our handler returns;
        // a delegated answer comes later, so it is moved on here the same way.
        if (delegated && pending.kind == JobKind::GetNext && r->agent_req_info != nullptr &&
            r->agent_req_info->mode == MODE_GETBULK && r->repeat > 0 &&
            r->requestvb->next_variable != nullptr) {
            r->repeat--;
            snmp_set_var_objid(r->requestvb->next_variable, r->requestvb->name,
                               r->requestvb->name_length);
            r->requestvb = r->requestvb->next_variable;
            r->requestvb->type = ASN_PRIV_RETRY;
        }
    }
}

}  // namespace

void runNetSnmpLoop(LoopContext& context)
{
    Loop loop(context);
    loop.run();
}

}  // namespace kw::snmp
