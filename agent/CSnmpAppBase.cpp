#include "agent/CSnmpAppBase.h"

#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "link/VoPlatformAppSNMP.h"
#include "platform/CAppEventManager.h"

namespace {

// Framework event the application subscribes to at creation.
constexpr int kSubscribedEvent = 0x10005;

// The agent's command line: stay in the foreground and read this configuration file.
constexpr int kAgentArgc = 4;
const char* const kAgentArgv[kAgentArgc] = {"hostrx", "-f", "-c",
                                            "/mtd_cmmlib/Comp_LIB/SNMP/snmpd.conf"};
// Longest argument above, with its terminator.
constexpr size_t kAgentArgSize = 64;

// The packaged configuration goes into the agent's writable data directory.
constexpr const char* kCopyConfigCommand =
    "cp -f /mtd_cmmlib/Comp_LIB/SNMP/var/net-snmp/snmpd.conf /mtd_rwarea/SNMP/var/net-snmp/";
constexpr const char* kSyncCommand = "sync";
constexpr const char* kShellPath = "/bin/sh";

}  // namespace

CSnmpAppBase::CSnmpAppBase() : m_pPlatformApp(nullptr), m_hSnmpThread(), m_bSnmpThreadStarted(false)
{
    m_pPlatformApp = new VoPlatformAppSNMP();
    if (m_pPlatformApp != nullptr) m_pPlatformApp->m_pOwnerApp = this;
}

CSnmpAppBase::~CSnmpAppBase()
{
    // The transport detaches itself from the command API as it goes, so a request that still
    // arrives fails at its send instead of reaching a released transport.
    if (m_pPlatformApp != nullptr) {
        m_pPlatformApp->Release();
        m_pPlatformApp = nullptr;
    }
    // A thread the host did not join still gets its resources back when it ends.
    if (m_bSnmpThreadStarted) {
        pthread_detach(m_hSnmpThread);
        m_bSnmpThreadStarted = false;
    }
}

bool CSnmpAppBase::t_Create()
{
    CAppEventManager::GetInstance()->DoSubscribeEvent(kSubscribedEvent, this, false);

    // Neither result matters: without the copy the agent reads what is already there.
    ExecuteShell(kCopyConfigCommand);
    ExecuteShell(kSyncCommand);

    // One agent per process: a repeated create must not enter the agent's main loop twice.
    if (!m_bSnmpThreadStarted) {
        pthread_t thread;
        if (pthread_create(&thread, nullptr, Snmp_thread, this) == 0) {
            m_hSnmpThread = thread;
            m_bSnmpThreadStarted = true;
        }
    }

    if (m_pPlatformApp == nullptr) {
        m_pPlatformApp = new VoPlatformAppSNMP();
        if (m_pPlatformApp != nullptr) m_pPlatformApp->m_pOwnerApp = this;
    }
    if (m_pPlatformApp != nullptr) {
        AddMessageListener(static_cast<ORVALE0300::IMessageListener*>(this));
    }
    return true;
}

bool CSnmpAppBase::t_Destroy()
{
    if (m_pPlatformApp != nullptr) m_pPlatformApp->DestroyApp();
    return RemoveMessageListener(static_cast<ORVALE0300::IMessageListener*>(this));
}

int CSnmpAppBase::t_OnUserMessage(const PTEvent* ev)
{
    if (m_pPlatformApp == nullptr) return 0;
    return m_pPlatformApp->ProcEvent(ev);
}

bool CSnmpAppBase::t_OnActivate(ORVALE0300::DTV_APPLICATION /*app*/, void* /*param*/)
{
    if (m_pPlatformApp != nullptr) m_pPlatformApp->Activate();
    return true;
}

bool CSnmpAppBase::t_OnDeactivate(ORVALE0300::DTV_APPLICATION /*app*/, void* /*param*/)
{
    if (m_pPlatformApp != nullptr) m_pPlatformApp->Deactivate();
    return true;
}

bool CSnmpAppBase::t_OnEndActivating(unsigned long /*param*/, int /*result*/)
{
    return true;
}

bool CSnmpAppBase::t_OnEndDeactivating(unsigned long /*param*/, int /*result*/)
{
    return true;
}

int CSnmpAppBase::ExecuteShell(const char* command)
{
    if (command == nullptr) return 0;

    int status = -1;
    const pid_t pid = vfork();
    if (pid == 0) {
        execl(kShellPath, kShellPath, "-c", command, static_cast<char*>(nullptr));
        _exit(1);
    }
    if (pid < 0) return 0;

    // A signal landing during the wait must not leave the child unreaped.
    pid_t waited;
    do {
        waited = waitpid(pid, &status, 0);
    } while (waited < 0 && errno == EINTR);
    return waited == pid ? 1 : 0;
}

int CSnmpAppBase::JoinSnmpThread()
{
    if (!m_bSnmpThreadStarted) return 0;
    m_bSnmpThreadStarted = false;
    return pthread_join(m_hSnmpThread, nullptr) == 0 ? 1 : 0;
}

void* CSnmpAppBase::Snmp_thread(void* /*arg*/)
{
    // The agent parses these as its command line and may rearrange or rewrite them, so it gets
    // writable copies, ended by a null pointer as a command line is.
    char args[kAgentArgc][kAgentArgSize];
    char* argv[kAgentArgc + 1];
    for (int i = 0; i < kAgentArgc; ++i) {
        strncpy(args[i], kAgentArgv[i], kAgentArgSize - 1);
        args[i][kAgentArgSize - 1] = '\0';
        argv[i] = args[i];
    }
    argv[kAgentArgc] = nullptr;

    RegisterCallback_STR(RIX_Func_Call_Str);
    RegisterCallback_HOLIDAY(RIX_Func_Call_Holiday);
    main_snmp(kAgentArgc, argv);
    return nullptr;
}
