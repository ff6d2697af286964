#pragma once
// Process-wide message queue with its own service thread. Messages are delivered by
// application id to registered handlers, to every handler for ALL_APP, and to the application
// subscribed to the message id.
#include <pthread.h>

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <deque>
#include <map>
#include <mutex>

#include "runtime/VoEventSNMP.h"
#include "runtime/VoLockSNMP.h"
#include "runtime/VoMessageDefSNMP.h"
#include "runtime/VoMessageInterfaceSNMP.h"
#include "runtime/VoSingletonSNMP.h"
#include "runtime/VoThreadSNMP.h"

class VoMessageSNMP : public VoLockSNMP,
                      public VoSingletonSNMP<VoMessageSNMP>,
                      private VoThreadSNMP {
public:
    // Size of each trace name buffer.
    static constexpr size_t kTraceNameSize = 100;

    // Starts the service thread as its last step.
    VoMessageSNMP();
    // Frees every message still queued. Stops the service thread first if the owner has not.
    ~VoMessageSNMP() override;

    // Queues a copy of the record (and of its payload) and wakes the service thread.
    // 0 for a null record, else 1.
    int SendMessage(const nsVoMessageDefSNMP::_stVoMessage* pMsg);
    int SendMessage(int nSrcApp, int nDstApp, nsVoMessageDefSNMP::eVoMessageID eMessageID,
                    long lParam, const void* pData, unsigned int nDataSize);
    // Delivers at once, in the caller's thread and under the service lock, to the target's
    // handler. 0 when the id lacks the synchronous bit or the target has no handler.
    int GetMessage(int nSrcApp, int nDstApp, nsVoMessageDefSNMP::eVoMessageID eMessageID,
                   long lParam, const void* pData, unsigned int nDataSize);

    // The oldest message, valid until DelFrontMessage removes it; null when the queue is empty.
    nsVoMessageDefSNMP::_stVoMessage* GetFrontMesage();
    // Removes and frees the oldest message. 1, or 0 when the queue was empty.
    int DelFrontMessage();

    // Forms the trace names when g_bEnableDebugMsgSNMP is set; writes nothing.
    void PrintMessage(nsVoMessageDefSNMP::_stVoMessage* pMsg);
    // The names the trace forms: target, source and message, each into kTraceNameSize bytes.
    static void FormTraceNames(const nsVoMessageDefSNMP::_stVoMessage* pMsg, char* szDstApp,
                               char* szSrcApp, char* szMessage);
    // The name of a named application id or message id; null for an unnamed one.
    static const char* GetAppName(int nAppID);
    static const char* GetMessageName(nsVoMessageDefSNMP::eVoMessageID eMessageID);

    // Handler registration, under the service lock. A handler is not owned. Registering again
    // replaces the handler. Refused (0) for a null handler and for ALL_APP.
    int RegisterInterface(int nAppID, VoMessageInterfaceSNMP* pInterface);
    // 1 when a handler was registered. Once it returns, the service thread no longer runs the
    // handler, so it may be destroyed. A handler may call it, also one reached through
    // GetMessage: while it waits for the service thread it gives up the service lock.
    int UnregisterInterface(int nAppID);
    // Every message with this id also goes to nAppID's handler (one application per id).
    int RegisterMessageApp(nsVoMessageDefSNMP::eVoMessageID eMessageID, int nAppID);
    int UnregisterMessageApp(nsVoMessageDefSNMP::eVoMessageID eMessageID);

    // Stops the service thread: raises the stop flag, wakes the thread and waits for it.
    void Destroy() override;

    std::deque<nsVoMessageDefSNMP::_stVoMessage*> m_dqMessage;
    std::map<int, VoMessageInterfaceSNMP*> m_mapInterface;
    std::map<nsVoMessageDefSNMP::eVoMessageID, int> m_mapMessageApp;
    VoEventSNMP m_MessageEvent;

private:
    void t_Main() override;
    void DispatchMessage(const nsVoMessageDefSNMP::_stVoMessage* pMsg);

    // The handler the service thread is calling (null between calls), so that
    // UnregisterInterface can wait for that call to end. m_CallMutex is only ever taken last
    // and never held while a handler runs or while its holder waits for the service lock.
    std::mutex m_CallMutex;
    std::condition_variable m_CallDone;
    VoMessageInterfaceSNMP* m_pCalling = nullptr;
    std::atomic<pthread_t> m_ServiceThread;
};
