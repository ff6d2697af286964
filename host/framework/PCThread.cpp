#include "platform/PCThread.h"

#include <cstring>

PCThread::PCThread() : m_Thread(), m_bCreated(false), m_szName() {}

void PCThread::t_Main() {}

PCThread::~PCThread() = default;

int PCThread::Create(const char* name, int stackSize)
{
    if (m_bCreated.load()) return 0;
    std::memset(m_szName, 0, sizeof(m_szName));
    if (name != nullptr) std::strncpy(m_szName, name, sizeof(m_szName) - 1);

    pthread_attr_t attr;
    pthread_attr_init(&attr);
    if (stackSize >= PTHREAD_STACK_MIN)
        pthread_attr_setstacksize(&attr, static_cast<size_t>(stackSize));
    // Marked created before the body can run, so a body that asks sees itself as started.
    m_bCreated.store(true);
    const int rc = pthread_create(&m_Thread, &attr, &PCThread::Entry, this);
    pthread_attr_destroy(&attr);
    if (rc != 0) {
        m_bCreated.store(false);
        return 0;
    }
    if (m_szName[0] != '\0') pthread_setname_np(m_Thread, m_szName);
    return 1;
}

void PCThread::Destroy()
{
    if (!m_bCreated.exchange(false)) return;
    if (pthread_equal(m_Thread, pthread_self())) {
        pthread_detach(m_Thread);
    } else {
        pthread_join(m_Thread, nullptr);
    }
}

void* PCThread::Entry(void* self)
{
    static_cast<PCThread*>(self)->t_Main();
    return nullptr;
}
