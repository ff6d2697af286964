#include "host/framework/Framework.h"

#include <algorithm>
#include <cstring>
#include <deque>
#include <future>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <thread>
#include <vector>

#include "platform/CAppEventManager.h"
#include "platform/ORVALE.h"

namespace kw::host {
namespace {

using ORVALE0300::CApplication;
using ORVALE0300::IMessageListener;

// Delivered events always carry the target's instance id (never negative), so this value
// marks the framework's own wake-ups for queued work.
constexpr int kWorkMarker = -1;

void freePayload(void* data)
{
    delete[] static_cast<unsigned char*>(data);
}

struct Work {
    std::function<void()> fn;
    std::promise<bool> ran;
};

struct AppEntry {
    std::string appId;
    CApplication* app = nullptr;
    int instanceId = 0;
    std::thread thread;

    // Guards the members below. Work and its queue marker are pushed together under it, so
    // an empty queue with work left means the markers were cleared (t_OnClearQueue).
    std::mutex mutex;
    std::deque<std::unique_ptr<Work>> work;
    bool stopping = false;
    std::thread::id threadId;

    bool onAppThread()
    {
        std::lock_guard<std::mutex> lock(mutex);
        return threadId == std::this_thread::get_id();
    }
};

using AppMap = std::map<std::string, std::shared_ptr<AppEntry>>;

struct State {
    std::mutex registryMutex;
    AppMap apps;
    // Apps unregistered whose thread has not ended yet; they cannot be registered again until
    // it has, or two threads would drain one queue.
    std::set<CApplication*> exiting;

    // Held while listeners are offered a message, so a removed listener is never called
    // afterwards; recursive because a listener may add or remove listeners itself.
    std::recursive_mutex listenerMutex;
    std::vector<IMessageListener*> listeners;
};

// Leaked on purpose: applications and listeners may leave during static destruction.
State& state()
{
    static State* s = new State();
    return *s;
}

std::shared_ptr<AppEntry> findApp(const std::string& appId)
{
    State& s = state();
    std::lock_guard<std::mutex> lock(s.registryMutex);
    auto it = s.apps.find(appId);
    return it == s.apps.end() ? nullptr : it->second;
}

void finish(std::unique_ptr<Work> work, bool stopping)
{
    if (!stopping) work->fn();
    work->ran.set_value(!stopping);
}

void runNextWork(AppEntry& e)
{
    std::unique_ptr<Work> work;
    bool stopping = false;
    {
        std::lock_guard<std::mutex> lock(e.mutex);
        if (e.work.empty()) return;  // already run as orphaned work
        work = std::move(e.work.front());
        e.work.pop_front();
        stopping = e.stopping;
    }
    finish(std::move(work), stopping);
}

// Runs work whose markers were cleared from the queue, so its callers do not wait forever.
void runOrphanedWork(AppEntry& e)
{
    std::deque<std::unique_ptr<Work>> orphans;
    bool stopping = false;
    {
        std::lock_guard<std::mutex> lock(e.mutex);
        if (e.work.empty() || e.app->GetQueue()->Size() != 0) return;
        orphans.swap(e.work);
        stopping = e.stopping;
    }
    for (auto& work : orphans) finish(std::move(work), stopping);
}

void appThread(std::shared_ptr<AppEntry> e)
{
    {
        std::lock_guard<std::mutex> lock(e->mutex);
        e->threadId = std::this_thread::get_id();
    }
    PCQueue* queue = e->app->GetQueue();
    PTEvent ev;
    while (queue->Pop(&ev)) {
        if (ev.nDstInstanceID == kWorkMarker) {
            runNextWork(*e);
        } else {
            bool stopping;
            {
                std::lock_guard<std::mutex> lock(e->mutex);
                stopping = e->stopping;
            }
            // An event the app does not take is freed here, so no payload is ever lost.
            if (stopping || e->app->t_OnUserMessage(&ev) == 0) freePayload(ev.pData);
        }
        runOrphanedWork(*e);
    }
    e->app->t_OnExit();

    std::deque<std::unique_ptr<Work>> left;
    {
        std::lock_guard<std::mutex> lock(e->mutex);
        left.swap(e->work);
    }
    for (auto& work : left) finish(std::move(work), true);

    State& s = state();
    std::lock_guard<std::mutex> lock(s.registryMutex);
    s.exiting.erase(e->app);
}

// Queues fn for the app's thread and waits; false when it did not run.
bool runOn(AppEntry& e, const std::function<void()>& fn)
{
    std::future<bool> ran;
    bool runHere = false;
    {
        std::lock_guard<std::mutex> lock(e.mutex);
        // Waiting for our own thread would never end, so run at once.
        runHere = e.threadId == std::this_thread::get_id();
        if (!runHere) {
            if (e.stopping) return false;
            auto work = std::make_unique<Work>();
            work->fn = fn;
            ran = work->ran.get_future();
            e.work.push_back(std::move(work));
            PTEvent marker;
            marker.nDstInstanceID = kWorkMarker;
            e.app->GetQueue()->Push(marker);
        }
    }
    if (runHere) {
        fn();
        return true;
    }
    return ran.get();
}

bool call(const std::string& appId, const std::function<bool(CApplication*)>& fn)
{
    std::shared_ptr<AppEntry> e = findApp(appId);
    if (!e) return false;
    bool result = false;
    CApplication* app = e->app;
    return runOn(*e, [&] { result = fn(app); }) && result;
}

bool postTo(AppEntry& e, const PTEvent& ev)
{
    PTEvent copy = ev;
    copy.nDstInstanceID = e.instanceId;
    if (!e.app->GetQueue()->Push(copy)) {
        freePayload(copy.pData);
        return false;
    }
    return true;
}

// Ends the thread of an app already taken out of the registry.
void stop(const std::shared_ptr<AppEntry>& e)
{
    CAppEventManager::GetInstance()->UnsubscribeAll(e->app);
    bool self;
    {
        std::lock_guard<std::mutex> lock(e->mutex);
        e->stopping = true;
        self = e->threadId == std::this_thread::get_id();
    }
    PCQueue* queue = e->app->GetQueue();
    queue->Close();
    queue->Delete();
    if (self) {
        e->thread.detach();  // it ends once the current call returns
    } else {
        e->thread.join();
    }
}

// Takes the app at `it` out of the registry, then ends its thread with the registry lock
// released: the thread takes that lock as it ends.
void unregisterEntry(State& s, std::unique_lock<std::mutex> registryLock, AppMap::iterator it)
{
    std::shared_ptr<AppEntry> e = it->second;
    s.apps.erase(it);
    s.exiting.insert(e->app);
    registryLock.unlock();
    stop(e);
}

}  // namespace

Framework& Framework::instance()
{
    static Framework* framework = new Framework();
    return *framework;
}

bool Framework::registerApp(const std::string& appId, CApplication* app)
{
    if (app == nullptr) return false;
    const int instanceId = ORVALE0300::ORVALE::GetInstanceID(ORVALE0300::CString(appId.c_str(), 2));
    State& s = state();
    std::lock_guard<std::mutex> lock(s.registryMutex);
    if (s.apps.count(appId) != 0 || s.exiting.count(app) != 0) return false;
    for (const auto& entry : s.apps) {
        if (entry.second->app == app) return false;
    }
    auto e = std::make_shared<AppEntry>();
    e->appId = appId;
    e->app = app;
    e->instanceId = instanceId;
    app->GetQueue()->Reopen();
    e->thread = std::thread(appThread, e);
    s.apps.emplace(appId, e);
    return true;
}

void Framework::unregisterApp(const std::string& appId)
{
    State& s = state();
    std::unique_lock<std::mutex> lock(s.registryMutex);
    auto it = s.apps.find(appId);
    if (it != s.apps.end()) unregisterEntry(s, std::move(lock), it);
}

void Framework::unregisterApp(CApplication* app)
{
    State& s = state();
    std::unique_lock<std::mutex> lock(s.registryMutex);
    auto it = std::find_if(s.apps.begin(), s.apps.end(),
                           [app](const auto& entry) { return entry.second->app == app; });
    if (it != s.apps.end()) unregisterEntry(s, std::move(lock), it);
}

bool Framework::isRegistered(const std::string& appId)
{
    return findApp(appId) != nullptr;
}

bool Framework::create(const std::string& appId)
{
    return call(appId, [](CApplication* app) { return app->t_Create(); });
}

bool Framework::activate(const std::string& appId)
{
    return call(appId, [](CApplication* app) {
        const bool ok = app->t_OnActivate(ORVALE0300::DTV_APP_SIGNAGE, nullptr);
        return app->t_OnEndActivating(0, ok ? 1 : 0) && ok;
    });
}

bool Framework::deactivate(const std::string& appId)
{
    return call(appId, [](CApplication* app) {
        const bool ok = app->t_OnDeactivate(ORVALE0300::DTV_APP_SIGNAGE, nullptr);
        return app->t_OnEndDeactivating(0, ok ? 1 : 0) && ok;
    });
}

bool Framework::destroy(const std::string& appId)
{
    return call(appId, [](CApplication* app) { return app->t_Destroy(); });
}

bool Framework::post(const std::string& appId, const PTEvent& ev)
{
    std::shared_ptr<AppEntry> e = findApp(appId);
    if (!e) {
        freePayload(ev.pData);
        return false;
    }
    return postTo(*e, ev);
}

void Framework::publish(const PTEvent& ev)
{
    State& s = state();
    {
        std::lock_guard<std::recursive_mutex> lock(s.listenerMutex);
        const std::vector<IMessageListener*> offered = s.listeners;
        for (IMessageListener* listener : offered) {
            // A listener may have removed another one meanwhile.
            if (std::find(s.listeners.begin(), s.listeners.end(), listener) != s.listeners.end()) {
                listener->IfMessageReceived(&ev);
            }
        }
    }

    const std::vector<PCTask*> tasks =
        CAppEventManager::GetInstance()->GetSubscribers(ev.nEventType);
    if (tasks.empty()) return;
    std::vector<std::shared_ptr<AppEntry>> targets;
    {
        std::lock_guard<std::mutex> lock(s.registryMutex);
        for (PCTask* task : tasks) {
            for (const auto& entry : s.apps) {
                if (static_cast<PCTask*>(entry.second->app) == task)
                    targets.push_back(entry.second);
            }
        }
    }
    for (const auto& e : targets) {
        PTEvent copy = ev;
        copy.pData = nullptr;
        if (ev.pData != nullptr && ev.nDataSize != 0) {
            auto* data = new unsigned char[ev.nDataSize];
            std::memcpy(data, ev.pData, ev.nDataSize);
            copy.pData = data;
        }
        postTo(*e, copy);
    }
}

bool Framework::runOnAppThread(const std::string& appId, const std::function<void()>& fn)
{
    std::shared_ptr<AppEntry> e = findApp(appId);
    return e && runOn(*e, fn);
}

void Framework::waitIdle(const std::string& appId)
{
    std::shared_ptr<AppEntry> e = findApp(appId);
    if (!e || e->onAppThread()) return;
    PCQueue* queue = e->app->GetQueue();
    // Each round runs behind everything queued before it; idle when nothing came in since.
    for (;;) {
        bool idle = false;
        if (!runOn(*e, [&] { idle = queue->Size() == 0; }) || idle) return;
    }
}

bool Framework::addListener(IMessageListener* listener)
{
    if (listener == nullptr) return false;
    State& s = state();
    std::lock_guard<std::recursive_mutex> lock(s.listenerMutex);
    if (std::find(s.listeners.begin(), s.listeners.end(), listener) != s.listeners.end()) {
        return false;
    }
    s.listeners.push_back(listener);
    return true;
}

bool Framework::removeListener(IMessageListener* listener)
{
    State& s = state();
    std::lock_guard<std::recursive_mutex> lock(s.listenerMutex);
    auto it = std::find(s.listeners.begin(), s.listeners.end(), listener);
    if (it == s.listeners.end()) return false;
    s.listeners.erase(it);
    return true;
}

bool Framework::hasListener(IMessageListener* listener)
{
    State& s = state();
    std::lock_guard<std::recursive_mutex> lock(s.listenerMutex);
    return std::find(s.listeners.begin(), s.listeners.end(), listener) != s.listeners.end();
}

}  // namespace kw::host
