// The agent library's exported entry points. main_snmp starts Net-SNMP on a thread of its own
// and then serves the display's requests itself, so that every callback runs on the thread
// that called it, one at a time.
#include <fcntl.h>
#include <semaphore.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <thread>
#include <unordered_map>

#include "platform/SnmpAgent.h"
#include "snmp/AgentControl.h"
#include "snmp/AgentLoop.h"
#include "snmp/RequestServer.h"
#include "snmp/Scheduler.h"

#define KW_EXPORT __attribute__((visibility("default")))

extern "C" {
KW_EXPORT unsigned char bufferSource[kBufferSourceSize];
}

namespace kw::snmp {
namespace {

// Display varbinds one PDU may carry unless the host says otherwise.
constexpr int kDefaultMaxVarbinds = 64;

struct Shared {
    std::once_flag once;
    // Written by snmp_agent_stop, possibly from a signal handler: only atomics, sem_post and
    // write are used on that path. The pipe and the semaphore live as long as the process.
    std::atomic<bool> stopRequested{false};
    std::atomic<bool> reloadRequested{false};
    std::atomic<int> wakeWriteFd{-1};
    int wakeReadFd = -1;
    sem_t serverWake;
    std::atomic<bool> semReady{false};

    std::atomic<bool> running{false};
    std::atomic<RIXCallbackFunc> stringCallback{nullptr};
    std::atomic<RIXCallbackFunc> holidayCallback{nullptr};
    std::atomic<int> maxVarbinds{kDefaultMaxVarbinds};
    std::atomic<Scheduler*> scheduler{nullptr};  // the running main_snmp's
    std::atomic<void (*)()> heartbeat{nullptr};
    std::atomic<unsigned> heartbeatMs{0};

    std::mutex stateMutex;
    std::condition_variable stateChanged;
    int state = SNMP_AGENT_TIMEOUT;  // last run's outcome; TIMEOUT while none is known

    std::mutex roleMutex;
    AgentRole role;  // for the next run
    std::atomic<bool> masterConnected{false};
};

// A namespace-scope object, constructed when the library loads, so that snmp_agent_stop never
// runs a static initialiser (which a signal handler must not).
Shared g_shared;

Shared& shared()
{
    return g_shared;
}

void setupOnce()
{
    Shared& s = shared();
    std::call_once(s.once, [&s] {
        int fds[2];
        if (::pipe2(fds, O_CLOEXEC | O_NONBLOCK) == 0) {
            s.wakeReadFd = fds[0];
            s.wakeWriteFd.store(fds[1]);
        }
        if (::sem_init(&s.serverWake, 0, 0) == 0) {
            s.semReady.store(true);
        }
    });
}

void wakeLoop()
{
    const int fd = shared().wakeWriteFd.load();
    if (fd >= 0) {
        const char byte = 1;
        // A full pipe already holds a wake-up.
        [[maybe_unused]] ssize_t n = ::write(fd, &byte, 1);
    }
}

void wakeServer()
{
    if (shared().semReady.load()) {
        ::sem_post(&shared().serverWake);
    }
}

void setState(int state)
{
    Shared& s = shared();
    {
        std::lock_guard<std::mutex> lock(s.stateMutex);
        s.state = state;
    }
    s.stateChanged.notify_all();
}

void waitForWork()
{
    while (::sem_wait(&shared().serverWake) != 0 && errno == EINTR) {
    }
}

int runAgent(int argc, char** argv)
{
    Shared& s = shared();
    setupOnce();
    if (s.wakeReadFd < 0 || !s.semReady.load()) {
        setState(SNMP_AGENT_INIT_FAILED);
        return 1;
    }
    if (s.running.exchange(true)) {
        std::fprintf(stderr, "main_snmp: the agent is already running\n");
        return 1;
    }
    if (s.stopRequested.exchange(false)) {
        s.running.store(false);
        return 0;
    }
    // Forget wake-ups left over from an earlier run.
    while (::sem_trywait(&s.serverWake) == 0) {
    }
    setState(SNMP_AGENT_TIMEOUT);

    AgentOptions options = parseAgentArguments(argc, argv);
    {
        std::lock_guard<std::mutex> lock(s.roleMutex);
        options.role = s.role;
    }
    s.reloadRequested.store(false);
    for (const std::string& option : options.ignored) {
        std::fprintf(stderr, "main_snmp: ignoring option %s\n", option.c_str());
    }

    Scheduler queue;
    s.scheduler.store(&queue);
    std::atomic<bool> loopStop{false};
    std::atomic<bool> loopEnded{false};
    int outcome = SNMP_AGENT_READY;
    auto toState = [](LoopState state) {
        switch (state) {
            case LoopState::Ready:
                return SNMP_AGENT_READY;
            case LoopState::WaitingForMaster:
                return SNMP_AGENT_WAITING;
            case LoopState::BindFailed:
                return SNMP_AGENT_BIND_FAILED;
            default:
                return SNMP_AGENT_INIT_FAILED;
        }
    };

    LoopContext context;
    context.options = std::move(options);
    context.queue = &queue;
    context.maxVarbinds = static_cast<size_t>(s.maxVarbinds.load());
    context.wakeFd = s.wakeReadFd;
    context.stop = &loopStop;
    context.wakeServer = wakeServer;
    context.heartbeat = s.heartbeat.load();
    context.heartbeatMs = s.heartbeatMs.load();
    context.reload = &s.reloadRequested;
    context.reportState = [&outcome, toState](LoopState state) {
        outcome = toState(state);
        setState(outcome);
    };
    context.reportMaster = [&s](bool connected) { s.masterConnected.store(connected); };

    std::thread loop([&] {
        runNetSnmpLoop(context);
        loopEnded.store(true);
        wakeServer();
    });

    // Serve the display's requests, one varbind at a time in the scheduler's order, until
    // stopped or until Net-SNMP gives up. A stop is seen between two varbinds, so it waits
    // for one panel call at most; what is left is answered by the loop as it shuts down.
    // Each unfinished job keeps its readings, so that an object and its numeric twin in one PDU
    // cost one panel command even when other jobs' varbinds come between them.
    std::unordered_map<uint64_t, Readings> readings;
    while (!s.stopRequested.load() && !loopEnded.load()) {
        waitForWork();
        Scheduler::Step step;
        while (!s.stopRequested.load() && queue.next(step)) {
            Callbacks callbacks{s.stringCallback.load(), s.holidayCallback.load()};
            ItemResult result = serveItem(step.kind, step.item, callbacks, readings[step.ticket]);
            if (queue.complete(step.ticket, std::move(result))) {
                readings.erase(step.ticket);
                wakeLoop();
            }
        }
    }

    loopStop.store(true);
    wakeLoop();
    loop.join();
    s.scheduler.store(nullptr);

    {
        std::lock_guard<std::mutex> lock(s.stateMutex);
        // A run that served leaves TIMEOUT behind, so waiting for the next run starts afresh;
        // a failed start stays visible to whoever waits for it.
        if (s.state == SNMP_AGENT_READY || s.state == SNMP_AGENT_WAITING) {
            s.state = SNMP_AGENT_TIMEOUT;
        }
    }
    s.stateChanged.notify_all();
    s.masterConnected.store(false);
    s.stopRequested.store(false);
    s.running.store(false);
    return outcome == SNMP_AGENT_READY || outcome == SNMP_AGENT_WAITING ? 0 : 1;
}

}  // namespace

QueueStats queueStats()
{
    // Read on the loop thread, which the running main_snmp joins before its scheduler goes.
    Scheduler* scheduler = shared().scheduler.load();
    return scheduler != nullptr ? scheduler->stats() : QueueStats{};
}

AgentOptions parseAgentArguments(int argc, char** argv)
{
    AgentOptions options;
    auto addConfig = [&options](const std::string& list) {
        size_t start = 0;
        while (start <= list.size()) {
            const size_t comma = list.find(',', start);
            const std::string file =
                list.substr(start, comma == std::string::npos ? std::string::npos : comma - start);
            if (!file.empty()) {
                options.configFiles.push_back(file);
            }
            if (comma == std::string::npos) {
                break;
            }
            start = comma + 1;
        }
    };
    for (int i = 1; i < argc && argv != nullptr; ++i) {
        if (argv[i] == nullptr) {
            continue;
        }
        const std::string arg = argv[i];
        if (arg == "-f") {
            continue;  // the agent never forks: it always runs in the caller's process
        }
        if (arg == "-C") {
            options.readDefaultConfigs = false;
        } else if (arg.rfind("-c", 0) == 0) {
            if (arg.size() > 2) {
                addConfig(arg.substr(2));
            } else if (i + 1 < argc && argv[i + 1] != nullptr) {
                addConfig(argv[++i]);
            } else {
                options.ignored.push_back(arg);
            }
        } else if (arg.rfind("-D", 0) == 0) {
            options.debug = true;
            options.debugTokens = arg.substr(2);
        } else {
            options.ignored.push_back(arg);
        }
    }
    return options;
}

}  // namespace kw::snmp

extern "C" {

KW_EXPORT int main_snmp(int argc, char** argv)
{
    return kw::snmp::runAgent(argc, argv);
}

KW_EXPORT void snmp_agent_set_heartbeat(void (*beat)(void), unsigned intervalMs)
{
    kw::snmp::shared().heartbeat.store(beat);
    kw::snmp::shared().heartbeatMs.store(intervalMs);
}

KW_EXPORT int RegisterCallback_STR(RIXCallbackFunc fn)
{
    kw::snmp::shared().stringCallback.store(fn);
    return 1;
}

KW_EXPORT int RegisterCallback_HOLIDAY(RIXCallbackFunc fn)
{
    kw::snmp::shared().holidayCallback.store(fn);
    return 1;
}

KW_EXPORT void snmp_agent_stop(void)
{
    kw::snmp::shared().stopRequested.store(true);
    kw::snmp::wakeServer();
    kw::snmp::wakeLoop();
}

KW_EXPORT void snmp_agent_set_max_varbinds(int count)
{
    kw::snmp::shared().maxVarbinds.store(count > 0 ? count : kw::snmp::kDefaultMaxVarbinds);
}

KW_EXPORT void snmp_agent_set_agentx(const char* address)
{
    kw::snmp::Shared& s = kw::snmp::shared();
    std::lock_guard<std::mutex> lock(s.roleMutex);
    s.role.subagent = true;
    s.role.masterAddress = address != nullptr ? address : "";
}

KW_EXPORT int snmp_agent_master_connected(void)
{
    return kw::snmp::shared().masterConnected.load() ? 1 : 0;
}

KW_EXPORT void snmp_agent_reload(void)
{
    kw::snmp::shared().reloadRequested.store(true);
    kw::snmp::wakeLoop();
}

KW_EXPORT int snmp_agent_wait_ready(int timeoutMs)
{
    kw::snmp::Shared& s = kw::snmp::shared();
    std::unique_lock<std::mutex> lock(s.stateMutex);
    s.stateChanged.wait_for(lock, std::chrono::milliseconds(timeoutMs < 0 ? 0 : timeoutMs),
                            [&s] { return s.state != SNMP_AGENT_TIMEOUT; });
    const int state = s.state;
    // A failed start is told once, so that a later start is not mistaken for it.
    if (state != SNMP_AGENT_READY) {
        s.state = SNMP_AGENT_TIMEOUT;
    }
    return state;
}
}
