#include "runtime/VoThreadSNMP.h"

namespace {
// Stack size handed to the platform for every module thread.
constexpr int kThreadStackSize = 0x40000;
}  // namespace

VoThreadSNMP::VoThreadSNMP() : m_bStop(false) {}

void VoThreadSNMP::t_Main() {}

VoThreadSNMP::~VoThreadSNMP() = default;

void VoThreadSNMP::Destroy()
{
    DestroyThread();
}

int VoThreadSNMP::CreateThread(const char* name)
{
    if (IsCreated()) return 0;
    m_bStop.store(false);
    return Create(name, kThreadStackSize);
}

void VoThreadSNMP::DestroyThread()
{
    if (!IsCreated()) return;
    // Raised before the platform thread is released, so the body sees it and leaves its loop.
    m_bStop.store(true);
    PCThread::Destroy();
}
