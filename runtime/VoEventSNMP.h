#pragma once
// Counting event over one POSIX semaphore. SetWait(false) only posts, so it is safe in a
// signal handler.
#include <semaphore.h>

class VoEventSNMP {
public:
    VoEventSNMP();
    ~VoEventSNMP();

    // Blocks until a signal is pending and consumes it. Returns sem_wait's result.
    int WaitEvent();
    // true: consume one pending signal without blocking. false: add one pending signal.
    int SetWait(bool bWait);

    sem_t m_Sem;
};
