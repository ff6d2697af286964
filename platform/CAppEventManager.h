#pragma once
// Host framework: subscriptions of tasks to framework-wide events.
#include "platform/PCTask.h"

class CAppEventManager {
public:
    static CAppEventManager* GetInstance();
    // Subscribes task to event. A published event reaches an application's t_OnUserMessage on
    // its own thread. flag is reserved. Returns true when subscribed.
    bool DoSubscribeEvent(int event, PCTask* task, bool flag);
    bool IsSubscribed(int event, PCTask* task);

private:
    CAppEventManager() = default;
};
