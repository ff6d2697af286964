#pragma once
// Host framework: a thread object whose body is the virtual t_Main.
#include <pthread.h>

#include <atomic>

class PCThread {
public:
    PCThread();
    // Runs on the new thread. The default body returns at once.
    virtual void t_Main();
    // Does not stop a running thread; its owner calls Destroy first.
    virtual ~PCThread();

    // Starts t_Main on a new thread. The stack size is in bytes (0x40000 is what the module
    // passes). Returns 1 when the thread was started, 0 when it runs already or cannot start.
    int Create(const char* name, int stackSize);
    // Waits for t_Main to return and forgets the thread. Called from the thread itself it only
    // detaches, so a body may end its own thread.
    void Destroy();
    // True from a successful Create until Destroy.
    bool IsCreated() const { return m_bCreated.load(); }

private:
    static void* Entry(void* self);

    pthread_t m_Thread;
    std::atomic<bool> m_bCreated;
    char m_szName[16];
};
