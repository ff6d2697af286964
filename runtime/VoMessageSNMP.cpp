#include "runtime/VoMessageSNMP.h"

#include <cstdio>
#include <cstring>
#include <utility>
#include <vector>

#include "runtime/VoUtilSNMP.h"

using namespace nsVoMessageDefSNMP;

namespace {

// A record on the caller's stack; its payload pointer is the caller's.
_stVoMessage MakeMessage(int nSrcApp, int nDstApp, eVoMessageID eMessageID, long lParam,
                         const void* pData, unsigned int nDataSize)
{
    _stVoMessage msg;
    msg.eMessageID = eMessageID;
    msg.lParam = lParam;
    msg.pData = const_cast<void*>(pData);
    msg.nDataSize = nDataSize;
    msg.nSrcApp = nSrcApp;
    msg.nDstApp = nDstApp;
    return msg;
}

struct AppName {
    int nID;
    const char* szName;
};

const AppName kAppNames[] = {
    {VO_APP_MAIN, "VO_APP_MAIN"},
    {VO_APP_PLAYER, "VO_APP_PLAYER"},
    {VO_APP_AGENT, "VO_APP_AGENT"},
    {VO_APP_DTVSOURCE, "VO_APP_DTVSOURCE"},
    {VO_APP_FILETRANSFER, "VO_APP_FILETRANSFER"},
    {VO_APP_SERIAL, "VO_APP_SERIAL"},
    {VO_APP_UI, "VO_APP_UI"},
    {VO_SNMP_APP_PLATFORM, "VO_SNMP_APP_PLATFORM"},
    {VO_APP_DEVICEEVNET, "VO_APP_DEVICEEVNET"},
    {VO_APP_KEYEVENT, "VO_APP_KEYEVENT"},
    {VO_APP_SOURCEMGR, "VO_APP_SOURCEMGR"},
    {VO_APP_WSRM, "VO_APP_WSRM"},
    {ALL_APP, "ALL_APP"},
};

struct MessageName {
    eVoMessageID eID;
    const char* szName;
};

#define VO_MSG_NAME(id) \
    {                   \
        id, #id         \
    }

const MessageName kMessageNames[] = {
    VO_MSG_NAME(VO_MSG_ADD_CONTENT),
    VO_MSG_NAME(VO_MSG_DEL_CONTENT),
    VO_MSG_NAME(VO_MSG_DEL_ALL_CONTENT),
    VO_MSG_NAME(VO_MSG_DEL_ALL_CONTENT_EXCEPT_TICKER),
    VO_MSG_NAME(VO_MSG_DEL_ALL_CONTENT_COMPLETE),
    VO_MSG_NAME(VO_MSG_FILESERVER_LOGIN),
    VO_MSG_NAME(VO_MSG_FILESERVER_LOGOUT),
    VO_MSG_NAME(VO_MSG_DOWNLOADFILE),
    VO_MSG_NAME(VO_MSG_DOWNLOADFILE_RESULT),
    VO_MSG_NAME(VO_MSG_FILETRANSFER_PROGRESS_RATE),
    VO_MSG_NAME(VO_MSG_NEW_SCHEDULE),
    VO_MSG_NAME(VO_MSG_UNDEPLOY),
    VO_MSG_NAME(VO_MSG_NEW_JOB_SCHEDULE),
    VO_MSG_NAME(VO_MSG_SET_CONNECTION_STATUS),
    VO_MSG_NAME(VO_MSG_NEW_TICKER),
    VO_MSG_NAME(VO_MSG_STOP_TICKER),
    VO_MSG_NAME(VO_MSG_SET_APPROVAL_STATUS),
    VO_MSG_NAME(VO_MSG_SET_SCHEDULE_MODE),
    VO_MSG_NAME(VO_MSG_COPY_AUTOPLAY_CONTENTS_TO_INTERNAL),
    VO_MSG_NAME(VO_MSG_ERR_NOT_ENOUGH_INTERNAL_MEMORY),
    VO_MSG_NAME(VO_MSG_PLAYER_RESTART),
    VO_MSG_NAME(VO_MSG_SYSTEM_RESTART),
    VO_MSG_NAME(VO_MSG_JOB_SCHEDULE_UNDEPLOYED),
    VO_MSG_NAME(VO_MSG_NEW_UPDATE),
    VO_MSG_NAME(VO_MSG_UPDATE_RESULT),
    VO_MSG_NAME(VO_MSG_SELECT_SCHEDULE_MODE),
    VO_MSG_NAME(VO_MSG_SAFETY_REMOVE_USB),
    VO_MSG_NAME(VO_MSG_DELETE_AUTOPLAY_CONTENTS),
    VO_MSG_NAME(VO_MSG_CREATE_LOCAL_SCHEDULE),
    VO_MSG_NAME(VO_MSG_NEW_LOCAL_SCHEDULE),
    VO_MSG_NAME(VO_MSG_LOCAL_SCHEDULE_UNDEPLOY),
    VO_MSG_NAME(VO_MSG_INTERNAL_AUTOPLAY),
    VO_MSG_NAME(VO_MSG_REMOVABLE_DISK_AUTOPLAY),
    VO_MSG_NAME(VO_MSG_STOP_CONTENTS),
    VO_MSG_NAME(VO_MSG_READY_FOR_REBOOT),
    VO_MSG_NAME(VO_MSG_SET_AUTO_RUN),
    VO_MSG_NAME(VO_MSG_START_SCHEDULE),
    VO_MSG_NAME(VO_MSG_STOP_SCHEDULE),
    VO_MSG_NAME(VO_MSG_SIZE),
    VO_MSG_NAME(VO_MSG_SET_CURRENT_CONTENT_ID),
    VO_MSG_NAME(VO_MSG_UI_SHOW),
    VO_MSG_NAME(VO_MSG_UI_HIDE),
    VO_MSG_NAME(VO_MSG_UI_START_SCHEDULE),
    VO_MSG_NAME(VO_MSG_UI_STOP_SCHEDULE),
    VO_MSG_NAME(VO_MSG_UI_SET_RUN_SCHEDULE),
    VO_MSG_NAME(VO_MSG_DEVICE_CONNECT),
    VO_MSG_NAME(VO_MSG_DEVICE_DISCONNECT),
    VO_MSG_NAME(VO_MSG_KEY_EVENT),
    VO_MSG_NAME(VO_MSG_SWUPDATE),
    VO_MSG_NAME(VO_MSG_DELETE_CONTENTS),
    VO_MSG_NAME(VO_MSG_DELETE_CONTENTS_RESULT),
    VO_MSG_NAME(VO_MSG_REMOVE_USB),
    VO_MSG_NAME(VO_MSG_REMOVE_USB_RESULT),
    VO_MSG_NAME(VO_MSG_RUN_APP),
    VO_MSG_NAME(VO_MSG_STOP_APP),
};

#undef VO_MSG_NAME

void FormAppName(int nAppID, char* szBuffer)
{
    const char* szName = VoMessageSNMP::GetAppName(nAppID);
    if (szName != nullptr) {
        snprintf(szBuffer, VoMessageSNMP::kTraceNameSize, "%s", szName);
    } else {
        snprintf(szBuffer, VoMessageSNMP::kTraceNameSize, "Unknown App(%d)", nAppID);
    }
}

}  // namespace

VoMessageSNMP::VoMessageSNMP() : m_ServiceThread(pthread_t())
{
    CreateThread("VoMessageSNMP");
}

VoMessageSNMP::~VoMessageSNMP()
{
    // A thread left running would go on using this object after it is gone.
    if (IsCreated()) {
        Destroy();
    }
    while (DelFrontMessage() != 0) {
    }
}

int VoMessageSNMP::SendMessage(const _stVoMessage* pMsg)
{
    if (pMsg == nullptr) {
        return 0;
    }
    VoAutoLockSNMP lock(this);
    _stVoMessage* pCopy = new _stVoMessage(*pMsg);
    pCopy->pData = nullptr;
    try {
        if (pMsg->pData != nullptr && pMsg->nDataSize != 0) {
            unsigned char* pData = new unsigned char[pMsg->nDataSize];
            memcpy(pData, pMsg->pData, pMsg->nDataSize);
            pCopy->pData = pData;
        }
        m_dqMessage.push_back(pCopy);
    } catch (...) {
        delete[] static_cast<unsigned char*>(pCopy->pData);
        delete pCopy;
        throw;
    }
    m_MessageEvent.SetWait(false);
    return 1;
}

int VoMessageSNMP::SendMessage(int nSrcApp, int nDstApp, eVoMessageID eMessageID, long lParam,
                               const void* pData, unsigned int nDataSize)
{
    VoAutoLockSNMP lock(this);
    _stVoMessage msg = MakeMessage(nSrcApp, nDstApp, eMessageID, lParam, pData, nDataSize);
    return SendMessage(&msg);
}

int VoMessageSNMP::GetMessage(int nSrcApp, int nDstApp, eVoMessageID eMessageID, long lParam,
                              const void* pData, unsigned int nDataSize)
{
    if ((static_cast<unsigned int>(eMessageID) & VO_MSG_SYNC_MASK) == 0) {
        return 0;
    }
    VoAutoLockSNMP lock(this);
    _stVoMessage msg = MakeMessage(nSrcApp, nDstApp, eMessageID, lParam, pData, nDataSize);
    auto it = m_mapInterface.find(nDstApp);
    if (it == m_mapInterface.end()) {
        return 0;
    }
    return it->second->ProcMessage(&msg);
}

_stVoMessage* VoMessageSNMP::GetFrontMesage()
{
    VoAutoLockSNMP lock(this);
    if (m_dqMessage.empty()) {
        return nullptr;
    }
    return m_dqMessage.front();
}

int VoMessageSNMP::DelFrontMessage()
{
    VoAutoLockSNMP lock(this);
    if (m_dqMessage.empty()) {
        return 0;
    }
    _stVoMessage* pMsg = m_dqMessage.front();
    m_dqMessage.pop_front();
    delete[] static_cast<unsigned char*>(pMsg->pData);
    delete pMsg;
    return 1;
}

void VoMessageSNMP::PrintMessage(_stVoMessage* pMsg)
{
    if (!g_bEnableDebugMsgSNMP || pMsg == nullptr) {
        return;
    }
    char szDstApp[kTraceNameSize];
    char szSrcApp[kTraceNameSize];
    char szMessage[kTraceNameSize];
    FormTraceNames(pMsg, szDstApp, szSrcApp, szMessage);
    // The trace is formed only; no line is written anywhere.
}

void VoMessageSNMP::FormTraceNames(const _stVoMessage* pMsg, char* szDstApp, char* szSrcApp,
                                   char* szMessage)
{
    memset(szDstApp, 0, kTraceNameSize);
    memset(szSrcApp, 0, kTraceNameSize);
    memset(szMessage, 0, kTraceNameSize);
    if (pMsg == nullptr) {
        return;
    }
    FormAppName(pMsg->nDstApp, szDstApp);
    FormAppName(pMsg->nSrcApp, szSrcApp);
    const char* szName = GetMessageName(pMsg->eMessageID);
    if (pMsg->eMessageID == VO_MSG_SET_CURRENT_CONTENT_ID && pMsg->pData == nullptr) {
        szName = "VO_MSG_SET_CURRENT_CONTENT_ID_NULL";
    }
    if (szName != nullptr) {
        snprintf(szMessage, kTraceNameSize, "%s", szName);
    } else {
        snprintf(szMessage, kTraceNameSize, "Unknown Message(%d)",
                 static_cast<int>(pMsg->eMessageID));
    }
}

const char* VoMessageSNMP::GetAppName(int nAppID)
{
    for (const AppName& app : kAppNames) {
        if (app.nID == nAppID) {
            return app.szName;
        }
    }
    return nullptr;
}

const char* VoMessageSNMP::GetMessageName(eVoMessageID eMessageID)
{
    for (const MessageName& msg : kMessageNames) {
        if (msg.eID == eMessageID) {
            return msg.szName;
        }
    }
    return nullptr;
}

int VoMessageSNMP::RegisterInterface(int nAppID, VoMessageInterfaceSNMP* pInterface)
{
    if (pInterface == nullptr || nAppID == ALL_APP) {
        return 0;
    }
    VoAutoLockSNMP lock(this);
    m_mapInterface[nAppID] = pInterface;
    return 1;
}

int VoMessageSNMP::UnregisterInterface(int nAppID)
{
    VoAutoLockSNMP lock(this);
    auto it = m_mapInterface.find(nAppID);
    if (it == m_mapInterface.end()) {
        return 0;
    }
    VoMessageInterfaceSNMP* pInterface = it->second;
    m_mapInterface.erase(it);
    // A handler removing itself runs on the service thread and must not wait for itself.
    if (pthread_equal(m_ServiceThread.load(), pthread_self())) {
        return 1;
    }
    std::unique_lock<std::mutex> calling(m_CallMutex);
    if (m_pCalling != pInterface) {
        return 1;
    }
    // The call in progress may need the service lock to finish, and the caller may hold it
    // (a handler reached through GetMessage): give it up entirely while waiting, then take it
    // back as deep as it was.
    const int nDepth = m_nLockCount;
    for (int i = 0; i < nDepth; ++i) {
        Unlock();
    }
    m_CallDone.wait(calling, [&] { return m_pCalling != pInterface; });
    calling.unlock();
    for (int i = 0; i < nDepth; ++i) {
        Lock();
    }
    return 1;
}

int VoMessageSNMP::RegisterMessageApp(eVoMessageID eMessageID, int nAppID)
{
    VoAutoLockSNMP lock(this);
    m_mapMessageApp[eMessageID] = nAppID;
    return 1;
}

int VoMessageSNMP::UnregisterMessageApp(eVoMessageID eMessageID)
{
    VoAutoLockSNMP lock(this);
    return m_mapMessageApp.erase(eMessageID) != 0 ? 1 : 0;
}

void VoMessageSNMP::Destroy()
{
    m_bStop = true;
    m_MessageEvent.SetWait(false);
    DestroyThread();
}

void VoMessageSNMP::t_Main()
{
    m_ServiceThread = pthread_self();
    if (m_bStop) {
        return;
    }
    do {
        m_MessageEvent.WaitEvent();
        for (_stVoMessage* pMsg = GetFrontMesage(); pMsg != nullptr; pMsg = GetFrontMesage()) {
            DispatchMessage(pMsg);
            DelFrontMessage();
        }
        {
            // A message queued after the last look at the queue keeps its signal, so the next
            // wait returns at once.
            VoAutoLockSNMP lock(this);
            if (m_dqMessage.empty()) {
                m_MessageEvent.SetWait(true);
            }
        }
        VoSleepSNMP(1);
    } while (!m_bStop);
}

void VoMessageSNMP::DispatchMessage(const _stVoMessage* pMsg)
{
    PrintMessage(const_cast<_stVoMessage*>(pMsg));

    std::vector<std::pair<int, VoMessageInterfaceSNMP*>> handlers;
    {
        VoAutoLockSNMP lock(this);
        if (pMsg->nDstApp == ALL_APP) {
            handlers.assign(m_mapInterface.begin(), m_mapInterface.end());
        } else {
            auto it = m_mapInterface.find(pMsg->nDstApp);
            if (it != m_mapInterface.end()) {
                handlers.push_back(*it);
            }
        }
        auto sub = m_mapMessageApp.find(pMsg->eMessageID);
        if (sub != m_mapMessageApp.end()) {
            auto it = m_mapInterface.find(sub->second);
            if (it != m_mapInterface.end()) {
                handlers.push_back(*it);
            }
        }
    }
    // Handlers run without the service lock, so they may send messages themselves. One of them
    // may also remove another, so each is looked up again right before its call.
    for (const auto& handler : handlers) {
        {
            VoAutoLockSNMP lock(this);
            auto it = m_mapInterface.find(handler.first);
            if (it == m_mapInterface.end() || it->second != handler.second) {
                continue;
            }
            // Marked before the service lock goes: a removal after it waits for this call.
            std::lock_guard<std::mutex> calling(m_CallMutex);
            m_pCalling = handler.second;
        }
        handler.second->ProcMessage(pMsg);
        {
            std::lock_guard<std::mutex> calling(m_CallMutex);
            m_pCalling = nullptr;
        }
        m_CallDone.notify_all();
    }
}
