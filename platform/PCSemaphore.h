#pragma once
// Host framework: counting semaphore.
#include <semaphore.h>

class PCSemaphore {
public:
    PCSemaphore();
    virtual ~PCSemaphore();

    // Creates the semaphore with the given count. Returns true on success; a second Create
    // without Destroy is refused.
    bool Create(unsigned int initial);
    // Blocks until the count is above zero, then takes one. Retries when a signal interrupts.
    bool Take();
    // Adds one to the count, waking one waiter.
    bool Give();
    void Destroy();
    bool IsCreated() const { return m_bCreated; }

private:
    sem_t m_Sem;
    bool m_bCreated;
};
