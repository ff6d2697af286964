#include "platform/PCSemaphore.h"

#include <cerrno>

PCSemaphore::PCSemaphore() : m_Sem(), m_bCreated(false) {}

PCSemaphore::~PCSemaphore()
{
    Destroy();
}

bool PCSemaphore::Create(unsigned int initial)
{
    if (m_bCreated) return false;
    if (sem_init(&m_Sem, 0, initial) != 0) return false;
    m_bCreated = true;
    return true;
}

bool PCSemaphore::Take()
{
    if (!m_bCreated) return false;
    while (sem_wait(&m_Sem) != 0) {
        if (errno != EINTR) return false;
    }
    return true;
}

bool PCSemaphore::Give()
{
    return m_bCreated && sem_post(&m_Sem) == 0;
}

void PCSemaphore::Destroy()
{
    if (!m_bCreated) return;
    sem_destroy(&m_Sem);
    m_bCreated = false;
}
