#include <algorithm>
#include <map>
#include <mutex>

#include "platform/CAppEventManager.h"

namespace {

struct Subscriptions {
    std::mutex mutex;
    std::map<int, std::vector<PCTask*>> byEvent;
};

// Leaked on purpose: tasks unsubscribe from their destructors, also during static destruction.
Subscriptions& subscriptions()
{
    static Subscriptions* s = new Subscriptions();
    return *s;
}

}  // namespace

CAppEventManager* CAppEventManager::GetInstance()
{
    static CAppEventManager* instance = new CAppEventManager();
    return instance;
}

bool CAppEventManager::DoSubscribeEvent(int event, PCTask* task, bool /*flag*/)
{
    if (task == nullptr) return false;
    Subscriptions& s = subscriptions();
    std::lock_guard<std::mutex> lock(s.mutex);
    std::vector<PCTask*>& tasks = s.byEvent[event];
    if (std::find(tasks.begin(), tasks.end(), task) == tasks.end()) tasks.push_back(task);
    return true;
}

bool CAppEventManager::IsSubscribed(int event, PCTask* task)
{
    Subscriptions& s = subscriptions();
    std::lock_guard<std::mutex> lock(s.mutex);
    auto it = s.byEvent.find(event);
    return it != s.byEvent.end() &&
           std::find(it->second.begin(), it->second.end(), task) != it->second.end();
}

bool CAppEventManager::DoUnsubscribeEvent(int event, PCTask* task)
{
    Subscriptions& s = subscriptions();
    std::lock_guard<std::mutex> lock(s.mutex);
    auto it = s.byEvent.find(event);
    if (it == s.byEvent.end()) return false;
    auto pos = std::find(it->second.begin(), it->second.end(), task);
    if (pos == it->second.end()) return false;
    it->second.erase(pos);
    if (it->second.empty()) s.byEvent.erase(it);
    return true;
}

void CAppEventManager::UnsubscribeAll(PCTask* task)
{
    Subscriptions& s = subscriptions();
    std::lock_guard<std::mutex> lock(s.mutex);
    for (auto it = s.byEvent.begin(); it != s.byEvent.end();) {
        it->second.erase(std::remove(it->second.begin(), it->second.end(), task), it->second.end());
        it = it->second.empty() ? s.byEvent.erase(it) : std::next(it);
    }
}

std::vector<PCTask*> CAppEventManager::GetSubscribers(int event)
{
    Subscriptions& s = subscriptions();
    std::lock_guard<std::mutex> lock(s.mutex);
    auto it = s.byEvent.find(event);
    return it == s.byEvent.end() ? std::vector<PCTask*>() : it->second;
}
