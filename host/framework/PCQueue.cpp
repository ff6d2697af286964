#include "platform/PCQueue.h"

#include <utility>

namespace {

void freePayload(void* data)
{
    delete[] static_cast<unsigned char*>(data);
}

}  // namespace

PCQueue::PCQueue() = default;

// Events nobody took still own their payloads.
PCQueue::~PCQueue()
{
    Delete();
}

bool PCQueue::Push(const PTEvent& ev)
{
    {
        std::lock_guard<std::mutex> lock(m_Mutex);
        if (m_bClosed) return false;
        m_Events.push_back(ev);
    }
    m_Cond.notify_one();
    return true;
}

bool PCQueue::Pop(PTEvent* ev)
{
    std::unique_lock<std::mutex> lock(m_Mutex);
    m_Cond.wait(lock, [this] { return !m_Events.empty() || m_bClosed; });
    if (m_Events.empty()) return false;
    if (ev != nullptr) {
        *ev = m_Events.front();
    } else {
        freePayload(m_Events.front().pData);
    }
    m_Events.pop_front();
    return true;
}

void PCQueue::Delete()
{
    std::deque<PTEvent> dropped;
    {
        std::lock_guard<std::mutex> lock(m_Mutex);
        dropped.swap(m_Events);
    }
    for (const PTEvent& ev : dropped) freePayload(ev.pData);
}

void PCQueue::Close()
{
    {
        std::lock_guard<std::mutex> lock(m_Mutex);
        m_bClosed = true;
    }
    m_Cond.notify_all();
}

void PCQueue::Reopen()
{
    std::lock_guard<std::mutex> lock(m_Mutex);
    m_bClosed = false;
}

size_t PCQueue::Size()
{
    std::lock_guard<std::mutex> lock(m_Mutex);
    return m_Events.size();
}
