#include "platform/PCTask.h"

#include "platform/CAppEventManager.h"

PCTask::PCTask() = default;

// A task that goes away must not stay subscribed: another object could later live at its
// address. Its queue frees whatever payloads are still queued.
PCTask::~PCTask()
{
    CAppEventManager::GetInstance()->UnsubscribeAll(this);
}

void PCTask::t_Idle() {}

void PCTask::t_OnExit() {}

int PCTask::t_OnUser(const PTEvent* /*ev*/)
{
    return 0;
}

void PCTask::t_OnClearQueue()
{
    m_Queue.Delete();
}
