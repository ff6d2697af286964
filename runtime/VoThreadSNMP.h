#pragma once
// Thread base: bodies poll m_bStop and leave their loop when it is set.
#include <atomic>

#include "platform/PCThread.h"

class VoThreadSNMP : public PCThread {
public:
    VoThreadSNMP();
    void t_Main() override;
    // Does not stop a running thread; the owner calls Destroy first.
    ~VoThreadSNMP() override;
    virtual void Destroy();

    // 0 when the thread exists already; otherwise clears m_bStop and starts it.
    int CreateThread(const char* name);
    // Raises m_bStop, then releases the platform thread. Nothing when no thread exists.
    void DestroyThread();

    std::atomic<bool> m_bStop;
};
