#pragma once
// Host framework: a mutex that is one semaphore of count 1.
#include "platform/PCSemaphore.h"

class PCMutex {
public:
    PCMutex();
    virtual ~PCMutex();
    // Destroys the semaphore.
    virtual void Destroy();

    PCSemaphore* GetSemaphore() { return &m_Semaphore; }

private:
    PCSemaphore m_Semaphore;
};
