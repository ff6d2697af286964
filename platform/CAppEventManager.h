#pragma once
// Host framework: subscriptions of tasks to framework-wide events.
#include <vector>

#include "platform/PCTask.h"

class CAppEventManager {
public:
    static CAppEventManager* GetInstance();
    // Subscribes task to event. A published event reaches an application's t_OnUserMessage on
    // its own thread. flag is reserved. Returns true when subscribed (also when it was
    // already); false for a null task.
    bool DoSubscribeEvent(int event, PCTask* task, bool flag);
    bool IsSubscribed(int event, PCTask* task);
    // Returns true when the task was subscribed to event.
    bool DoUnsubscribeEvent(int event, PCTask* task);
    // Drops every subscription of task (the framework does so when the task goes away).
    void UnsubscribeAll(PCTask* task);
    // The tasks subscribed to event, in subscription order.
    std::vector<PCTask*> GetSubscribers(int event);

private:
    CAppEventManager() = default;
};
