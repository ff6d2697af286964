#pragma once
// Host framework: a task's event queue. Thread-safe; Pop blocks until an event is queued or the
// queue is closed.
#include <condition_variable>
#include <deque>
#include <mutex>

#include "platform/PTEvent.h"

class PCQueue {
public:
    PCQueue();
    // Frees the payloads of the events still queued.
    virtual ~PCQueue();

    // Queues a copy of the event. Returns false once the queue is closed.
    bool Push(const PTEvent& ev);
    // Takes the oldest event; false when the queue was closed and is empty. With a null ev the
    // event is dropped and its payload freed.
    bool Pop(PTEvent* ev);
    // Drops every queued event and frees its payload (array delete).
    void Delete();
    // Wakes every Pop; later Pushes are refused. Events already queued can still be popped.
    void Close();
    // Accepts Pushes again.
    void Reopen();
    size_t Size();

private:
    std::mutex m_Mutex;
    std::condition_variable m_Cond;
    std::deque<PTEvent> m_Events;
    bool m_bClosed = false;
};
