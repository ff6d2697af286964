#include "platform/PCMutex.h"

PCMutex::PCMutex() = default;

PCMutex::~PCMutex()
{
    m_Semaphore.Destroy();
}

void PCMutex::Destroy()
{
    m_Semaphore.Destroy();
}
