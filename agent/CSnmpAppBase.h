#pragma once
// The module's framework application: owns the platform-app transport, prepares the agent's
// writable data directory and runs the SNMP agent on a thread of its own, whose two request
// callbacks turn SNMP gets and sets into RIX commands.
#include <pthread.h>

#include "platform/CApplication.h"
#include "platform/PTEvent.h"
#include "platform/SnmpAgent.h"

class VoPlatformAppSNMP;

class CSnmpAppBase : public ORVALE0300::CApplication, public ORVALE0300::IMessageListener {
public:
    // Creates the transport (which creates and links the command API).
    CSnmpAppBase();
    // Releases the transport. Does not stop the agent: the host stops it and joins the agent
    // thread (JoinSnmpThread) before destroying the application.
    ~CSnmpAppBase() override;

    // Subscribes to 0x10005, copies the agent's configuration, starts the agent thread and
    // listens for framework messages. Always true.
    bool t_Create() override;
    // Tells the transport and stops listening; the result of RemoveMessageListener.
    bool t_Destroy() override;
    // Hands the event to the transport: 1 for a reply event it consumed, else 0.
    int t_OnUserMessage(const PTEvent* ev) override;
    bool t_OnActivate(ORVALE0300::DTV_APPLICATION app, void* param) override;
    bool t_OnDeactivate(ORVALE0300::DTV_APPLICATION app, void* param) override;
    bool t_OnEndActivating(unsigned long param, int result) override;
    bool t_OnEndDeactivating(unsigned long param, int result) override;

    // Runs command with "/bin/sh -c". 1 when the child was started and reaped (whatever its
    // exit status), 0 for a null command or when no child could be started or reaped.
    int ExecuteShell(const char* command);

    // Waits for the agent thread to end; the host calls it after it has told the agent to
    // leave its main loop. 1 when a started thread was joined, 0 when there is none.
    int JoinSnmpThread();

    // Agent thread body: registers both callbacks and runs the agent's main loop.
    static void* Snmp_thread(void* arg);
    // The agent's string request callback, indexes 0 to 87.
    static int RIX_Func_Call_Str(unsigned char* buf, int getset, eFuncType index, int extra);
    // The agent's holiday request callback, indexes 59 and 60.
    static int RIX_Func_Call_Holiday(unsigned char* buf, int getset, eFuncType index, int extra);

    VoPlatformAppSNMP* m_pPlatformApp;

private:
    // The agent thread, kept so the host can join it once the agent has been stopped.
    pthread_t m_hSnmpThread;
    bool m_bSnmpThreadStarted;
};
