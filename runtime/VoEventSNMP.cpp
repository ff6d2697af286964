#include "runtime/VoEventSNMP.h"

VoEventSNMP::VoEventSNMP() : m_Sem()
{
    sem_init(&m_Sem, 0, 0);
}

VoEventSNMP::~VoEventSNMP()
{
    sem_destroy(&m_Sem);
}

// An interrupted wait is not retried: callers treat it like a consumed signal.
int VoEventSNMP::WaitEvent()
{
    return sem_wait(&m_Sem);
}

int VoEventSNMP::SetWait(bool bWait)
{
    if (bWait) return sem_trywait(&m_Sem);
    return sem_post(&m_Sem);
}
