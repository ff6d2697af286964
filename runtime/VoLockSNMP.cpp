#include "runtime/VoLockSNMP.h"

VoLockSNMP::VoLockSNMP() : m_OwnerThread(0), m_nLockCount(0)
{
    m_Mutex.GetSemaphore()->Create(1);
}

VoLockSNMP::~VoLockSNMP()
{
    m_Mutex.GetSemaphore()->Destroy();
}

void VoLockSNMP::Lock()
{
    const pthread_t self = pthread_self();
    // Only this thread can have stored its own id, so the comparison needs no semaphore.
    if (m_OwnerThread.load() == self) {
        ++m_nLockCount;
        return;
    }
    m_Mutex.GetSemaphore()->Take();
    m_OwnerThread.store(self);
    m_nLockCount = 1;
}

void VoLockSNMP::Unlock()
{
    if (m_OwnerThread.load() != pthread_self()) return;
    if (--m_nLockCount > 0) return;
    m_OwnerThread.store(0);
    m_Mutex.GetSemaphore()->Give();
}

VoAutoLockSNMP::VoAutoLockSNMP(VoLockSNMP* lock) : m_pLock(lock)
{
    if (m_pLock != nullptr) m_pLock->Lock();
}

VoAutoLockSNMP::~VoAutoLockSNMP()
{
    if (m_pLock != nullptr) m_pLock->Unlock();
}
