// The agent application: its transport, agent thread, framework callbacks and shell.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fstream>

#include "agent/CSnmpAppBase.h"
#include "command/VoRIXSNMPApi.h"
#include "host/framework/Framework.h"
#include "link/VoPlatformAppSNMP.h"
#include "platform/CAppEventManager.h"
#include "snmp/stub/AgentStub.h"
#include "tests/support/PanelDouble.h"

namespace {

using kw::test::Bytes;
using kw::test::replyEvent;
using Strings = std::vector<std::string>;
auto& fw = kw::host::Framework::instance();

const auto Api = [] { return VoRIXSNMPApi::GetInstance(); };

class SnmpAppTest : public ::testing::Test {
protected:
    void SetUp() override { kw::agentstub::reset(); }
    void TearDown() override
    {
        // Nothing may outlive a test: the agent is told to leave and its thread joined.
        kw::agentstub::stopMain();
        fw.unregisterApp(kVoSnmpAppName);
        if (m_app != nullptr) m_app->JoinSnmpThread();
        delete m_app;
    }
    CSnmpAppBase* m_app = new CSnmpAppBase();
};

TEST_F(SnmpAppTest, ExecuteShellReportsAStartedAndReapedChild)
{
    EXPECT_EQ(0, m_app->ExecuteShell(nullptr));
    EXPECT_EQ(1, m_app->ExecuteShell("exit 3")) << "the exit status is not examined";
    // It runs through the shell and returns only once the command has finished.
    const std::string file = "/tmp/kw-agent-shell-" + std::to_string(getpid());
    EXPECT_EQ(1, m_app->ExecuteShell(("sleep 0.2; echo a b | tr ' ' - > " + file).c_str()));
    std::string text;
    std::getline(std::ifstream(file), text);
    EXPECT_EQ(std::make_pair(std::string("a-b"), 0), std::make_pair(text, unlink(file.c_str())));

    // Signals landing during the wait (no SA_RESTART) interrupt it; the child is still reaped.
    struct sigaction act = {};
    act.sa_handler = [](int) {};
    ASSERT_EQ(0, sigaction(SIGUSR1, &act, nullptr));
    auto result = std::make_shared<std::atomic<int>>(-1);
    std::thread shell([app = m_app, result] { *result = app->ExecuteShell("sleep 0.3"); });
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (*result < 0 && std::chrono::steady_clock::now() < deadline) {
        pthread_kill(shell.native_handle(), SIGUSR1);
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    *result < 0 ? shell.detach() : shell.join();  // still waiting: fail rather than hang
    EXPECT_EQ(1, result->load());
}

TEST_F(SnmpAppTest, CreateStartsTheAgentAfterBothCallbacks)
{
    // Stand-ins for cp and sync first on PATH log their command lines and touch nothing.
    char dir[] = "/tmp/kw-agent-path-XXXXXX";
    ASSERT_NE(nullptr, mkdtemp(dir));
    for (const std::string tool : {"cp", "sync"}) {
        std::ofstream(dir + ("/" + tool))
            << "#!/bin/sh\necho " << tool << " \"$@\" >>" << dir << "/log\n";
        chmod((dir + ("/" + tool)).c_str(), 0755);
    }
    const std::string path = getenv("PATH");
    setenv("PATH", (dir + (":" + path)).c_str(), 1);
    EXPECT_EQ(0, m_app->JoinSnmpThread()) << "no agent thread yet";
    ASSERT_TRUE(fw.registerApp(kVoSnmpAppName, m_app));
    EXPECT_TRUE(fw.create(kVoSnmpAppName));
    setenv("PATH", path.c_str(), 1);
    std::ifstream log(dir + std::string("/log"));
    EXPECT_EQ(
        "cp -f /mtd_cmmlib/Comp_LIB/SNMP/var/net-snmp/snmpd.conf "
        "/mtd_rwarea/SNMP/var/net-snmp/\nsync\n",
        std::string(std::istreambuf_iterator<char>(log), {}));
    EXPECT_EQ(0, system(("rm -r " + std::string(dir)).c_str()));
    ASSERT_TRUE(kw::agentstub::waitForMain(10000));
    EXPECT_EQ((Strings{"RegisterCallback_STR", "RegisterCallback_HOLIDAY", "main_snmp"}),
              kw::agentstub::calls());
    EXPECT_EQ((Strings{"hostrx", "-f", "-c", "/mtd_cmmlib/Comp_LIB/SNMP/snmpd.conf"}),
              kw::agentstub::mainArgs());
    EXPECT_EQ(&CSnmpAppBase::RIX_Func_Call_Str, kw::agentstub::stringCallback());
    EXPECT_EQ(&CSnmpAppBase::RIX_Func_Call_Holiday, kw::agentstub::holidayCallback());
    EXPECT_TRUE(CAppEventManager::GetInstance()->IsSubscribed(0x10005, m_app));
    EXPECT_TRUE(fw.hasListener(m_app));

    // Once the agent has left its loop the host can join its thread, once.
    kw::agentstub::stopMain();
    EXPECT_EQ(1, m_app->JoinSnmpThread());
    EXPECT_EQ(0, m_app->JoinSnmpThread());
    EXPECT_TRUE(fw.destroy(kVoSnmpAppName));

    // The destructor releases the transport, which detaches itself from the command API.
    fw.unregisterApp(kVoSnmpAppName);
    delete m_app;
    m_app = nullptr;
    EXPECT_EQ(nullptr, Api()->m_pSender);
}

// The framework's calls succeed without a transport; creation makes one, which takes replies.
TEST_F(SnmpAppTest, FrameworkCallsWithoutATransportAndCreationMakesOne)
{
    m_app->m_pPlatformApp->Release();
    m_app->m_pPlatformApp = nullptr;
    PTEvent reply = replyEvent({0xFF, 0x00, 0x03, 0x41, 0x13, 0x00}, 0x2808);
    EXPECT_EQ(0, m_app->t_OnUserMessage(&reply));  // not taken
    int param = 7;
    EXPECT_TRUE(m_app->t_OnActivate(ORVALE0300::DTV_APP_SIGNAGE, &param) &&
                m_app->t_OnDeactivate(ORVALE0300::DTV_APP_NONE, nullptr) &&
                m_app->t_OnEndActivating(~0ul, -1) && m_app->t_OnEndDeactivating(12345, 1));
    EXPECT_FALSE(m_app->t_Destroy()) << "never created: no listener to remove";

    EXPECT_TRUE(m_app->t_Create());
    ASSERT_NE(nullptr, m_app->m_pPlatformApp);
    EXPECT_EQ(m_app, m_app->m_pPlatformApp->m_pOwnerApp);
    EXPECT_EQ(static_cast<VoPacketSenderInterfaceSNMP*>(m_app->m_pPlatformApp), Api()->m_pSender);
    EXPECT_EQ(1, m_app->t_OnUserMessage(&reply));   // consumed: the transport frees the payload
    kw::test::Reply r(Api()->PopRIXData(0x13, 1));  // one look: the reply is there already
    ASSERT_NE(nullptr, r);
    EXPECT_EQ((Bytes{0x13, 0x41, 0x00}), (Bytes{r->nCmd, r->nAck, r->pData[0]}));
    EXPECT_TRUE(m_app->t_Destroy());
}

}  // namespace
