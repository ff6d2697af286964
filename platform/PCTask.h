#pragma once
// Host framework: a task with an event queue. Applications are tasks.
#include "platform/PCQueue.h"
#include "platform/PTEvent.h"

class PCTask {
public:
    PCTask();
    virtual ~PCTask();

    // Default handlers, used unchanged by the module's application.
    virtual void t_Idle();
    virtual void t_OnExit();
    virtual int t_OnUser(const PTEvent* ev);
    // Empties the queue, freeing payloads.
    virtual void t_OnClearQueue();

    PCQueue* GetQueue() { return &m_Queue; }

private:
    PCQueue m_Queue;
};
