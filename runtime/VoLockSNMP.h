#pragma once
// Recursive, owner-tracking lock over one framework semaphore, and its scoped guard.
#include <pthread.h>

#include <atomic>

#include "platform/PCMutex.h"

class VoLockSNMP {
public:
    VoLockSNMP();
    // Does not check whether the lock is held.
    virtual ~VoLockSNMP();

    void Lock();
    // Ignored when the caller does not own the lock.
    void Unlock();

    PCMutex m_Mutex;
    // Compared without holding the semaphore; only the owner sets it back to 0.
    std::atomic<pthread_t> m_OwnerThread;
    static_assert(std::atomic<pthread_t>::is_always_lock_free, "the owner is one atomic word");
    int m_nLockCount;
};

class VoAutoLockSNMP {
public:
    // A null lock makes the guard a no-op.
    explicit VoAutoLockSNMP(VoLockSNMP* lock);
    virtual ~VoAutoLockSNMP();

    VoAutoLockSNMP(const VoAutoLockSNMP&) = delete;
    VoAutoLockSNMP& operator=(const VoAutoLockSNMP&) = delete;

    VoLockSNMP* m_pLock;
};
