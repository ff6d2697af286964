// The agent application: its transport, its agent thread, its framework callbacks and the
// shell it prepares the agent's data directory with.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "agent/CSnmpAppBase.h"
#include "command/VoRIXSNMPApi.h"
#include "host/framework/Clock.h"
#include "host/framework/Framework.h"
#include "link/VoPlatformAppSNMP.h"
#include "platform/CAppEventManager.h"
#include "runtime/VoUtilSNMP.h"
#include "snmp/stub/AgentStub.h"

namespace {

using Bytes = std::vector<uint8_t>;
using kw::host::Framework;

VoRIXSNMPApi* Api()
{
    return VoSingletonSNMP<VoRIXSNMPApi>::GetInstance();
}

VoPacketSenderInterfaceSNMP* AsSender(VoPlatformAppSNMP* p)
{
    return static_cast<VoPacketSenderInterfaceSNMP*>(p);
}

ORVALE0300::IMessageListener* AsListener(CSnmpAppBase* app)
{
    return static_cast<ORVALE0300::IMessageListener*>(app);
}

// A reply event as the protocol service sends it; the payload belongs to whoever takes it.
PTEvent ReplyEvent(int type, const Bytes& payload)
{
    PTEvent ev;
    ev.nEventType = type;
    auto* data = new unsigned char[payload.size()];
    memcpy(data, payload.data(), payload.size());
    ev.pData = data;
    ev.nDataSize = static_cast<uint16_t>(payload.size());
    return ev;
}

// Takes the engine's oldest reply to cmd with a single look; empty when there is none.
Bytes TakeReply(unsigned char cmd)
{
    nsVoRIXSNMP::_stVoRIXData* reply = Api()->PopRIXData(cmd, 1);
    if (reply == nullptr) return {};
    Bytes out{reply->nAck};
    out.insert(out.end(), reply->pData, reply->pData + reply->nSize);
    delete[] reply->pData;
    delete reply;
    return out;
}

// A transport that records what the application forwards to it.
class SpyTransport : public VoPlatformAppSNMP {
public:
    explicit SpyTransport(std::vector<std::string>* log) : m_log(log) {}
    int ProcEvent(const PTEvent* ev) override
    {
        return note("ProcEvent", VoPlatformAppSNMP::ProcEvent(ev));
    }
    int Activate() override { return note("Activate", VoPlatformAppSNMP::Activate()); }
    int Deactivate() override { return note("Deactivate", VoPlatformAppSNMP::Deactivate()); }
    void DestroyApp() override { note("DestroyApp", 0); }
    void Release() override
    {
        note("Release", 0);
        VoPlatformAppSNMP::Release();  // deletes this
    }

private:
    int note(const char* call, int result)
    {
        m_log->push_back(call);
        return result;
    }
    std::vector<std::string>* m_log;
};

class SnmpAppTest : public ::testing::Test {
protected:
    void SetUp() override { kw::agentstub::reset(); }
    void TearDown() override
    {
        // Nothing may outlive a test: the agent is told to leave and its thread joined.
        kw::agentstub::stopMain();
        Framework::instance().unregisterApp(kVoSnmpAppName);
        if (m_app != nullptr) {
            m_app->JoinSnmpThread();
            delete m_app;
        }
        kw::agentstub::reset();
    }

    CSnmpAppBase* m_app = new CSnmpAppBase();
    std::vector<std::string> m_log;
};

TEST_F(SnmpAppTest, ExecuteShellReportsAStartedAndReapedChild)
{
    EXPECT_EQ(m_app->ExecuteShell(nullptr), 0);
    EXPECT_EQ(m_app->ExecuteShell("true"), 1);
    EXPECT_EQ(m_app->ExecuteShell("exit 3"), 1) << "the exit status is not examined";
    EXPECT_EQ(m_app->ExecuteShell("/nonexistent/program"), 1);

    // It runs through the shell and returns only once the command has finished.
    char dir[] = "/tmp/kw-agent-shell-XXXXXX";
    ASSERT_NE(mkdtemp(dir), nullptr);
    const std::string file = std::string(dir) + "/out";
    const std::string cmd = "sleep 0.2; printf 'a b' | tr ' ' '-' > " + file;
    EXPECT_EQ(m_app->ExecuteShell(cmd.c_str()), 1);
    std::string text;
    std::getline(std::ifstream(file), text);
    EXPECT_EQ(text, "a-b");
    unlink(file.c_str());
    rmdir(dir);
}

// The destructor detaches the transport, so a late request fails at once.
TEST_F(SnmpAppTest, TransportIsAttachedForTheAppsLifetimeOnly)
{
    ASSERT_NE(m_app->m_pPlatformApp, nullptr);
    EXPECT_EQ(m_app->m_pPlatformApp->m_pOwnerApp, m_app);
    EXPECT_EQ(Api()->m_pSender, AsSender(m_app->m_pPlatformApp));
    EXPECT_EQ(m_app->JoinSnmpThread(), 0) << "no agent thread yet";
    delete m_app;
    m_app = nullptr;
    EXPECT_EQ(Api()->m_pSender, nullptr);

    kw::host::VirtualClockScope clock;
    unsigned char buf[256];
    memset(buf, 0xEE, sizeof buf);
    const unsigned int before = VoGetTickCountSNMP();
    EXPECT_EQ(CSnmpAppBase::RIX_Func_Call_Str(buf, 1, static_cast<eFuncType>(3), 0), 0);
    EXPECT_STREQ(reinterpret_cast<char*>(buf), "00");
    EXPECT_EQ(VoGetTickCountSNMP(), before) << "no pause, no wait for a reply";
}

TEST_F(SnmpAppTest, CreateStartsTheAgentAfterBothCallbacksAndTakesReplies)
{
    // The packaged file is absent on a build machine, so the copy fails; creation goes on.
    struct stat st;
    if (stat("/mtd_cmmlib/Comp_LIB/SNMP/var/net-snmp/snmpd.conf", &st) == 0) {
        GTEST_SKIP() << "the device's configuration file exists here";
    }
    Framework& fw = Framework::instance();
    ASSERT_TRUE(fw.registerApp(kVoSnmpAppName, m_app));
    EXPECT_TRUE(fw.create(kVoSnmpAppName));
    ASSERT_TRUE(kw::agentstub::waitForMain(10000));
    EXPECT_EQ(kw::agentstub::calls(),
              (std::vector<std::string>{"RegisterCallback_STR", "RegisterCallback_HOLIDAY",
                                        "main_snmp"}));
    EXPECT_EQ(
        kw::agentstub::mainArgs(),
        (std::vector<std::string>{"hostrx", "-f", "-c", "/mtd_cmmlib/Comp_LIB/SNMP/snmpd.conf"}));
    EXPECT_EQ(kw::agentstub::stringCallback(), &CSnmpAppBase::RIX_Func_Call_Str);
    EXPECT_EQ(kw::agentstub::holidayCallback(), &CSnmpAppBase::RIX_Func_Call_Holiday);
    EXPECT_TRUE(CAppEventManager::GetInstance()->IsSubscribed(0x10005, m_app));
    EXPECT_TRUE(fw.hasListener(AsListener(m_app)));

    // A reply event posted to the application reaches the engine and bufferSource.
    ASSERT_TRUE(fw.post(kVoSnmpAppName, ReplyEvent(0x2808, {0xFF, 0x05, 0x03, 0x41, 0x11, 0x01})));
    fw.waitIdle(kVoSnmpAppName);
    EXPECT_EQ(TakeReply(0x11), (Bytes{0x41, 0x01}));
    const Bytes frame{0xFF, 0x03, 0x41, 0x11, 0x01, 0x55};
    EXPECT_EQ(Bytes(bufferSource, bufferSource + frame.size()), frame);

    // Once the agent has left its loop the host can join its thread, once.
    kw::agentstub::stopMain();
    EXPECT_EQ(m_app->JoinSnmpThread(), 1);
    EXPECT_EQ(m_app->JoinSnmpThread(), 0);
    EXPECT_TRUE(fw.destroy(kVoSnmpAppName));
    EXPECT_FALSE(fw.hasListener(AsListener(m_app)));
}

TEST_F(SnmpAppTest, FrameworkCallsAreForwardedToTheTransport)
{
    m_app->m_pPlatformApp->Release();
    m_app->m_pPlatformApp = new SpyTransport(&m_log);
    int param = 7;
    EXPECT_TRUE(m_app->t_OnActivate(ORVALE0300::DTV_APP_NONE, nullptr));
    EXPECT_TRUE(m_app->t_OnActivate(ORVALE0300::DTV_APP_SIGNAGE, &param));
    EXPECT_TRUE(m_app->t_OnDeactivate(ORVALE0300::DTV_APP_SIGNAGE, &param));
    EXPECT_TRUE(m_app->t_OnEndActivating(~0ul, -1));
    EXPECT_TRUE(m_app->t_OnEndDeactivating(12345, 1));

    // A reply event is consumed (payload freed by the transport); any other is left alone.
    PTEvent reply = ReplyEvent(0x2809, {0xFF, 0x00, 0x03, 0x41, 0x13, 0x00});
    EXPECT_EQ(m_app->t_OnUserMessage(&reply), 1);
    EXPECT_EQ(TakeReply(0x13), (Bytes{0x41, 0x00}));
    PTEvent other = ReplyEvent(0x2807, {0x01});
    EXPECT_EQ(m_app->t_OnUserMessage(&other), 0);
    delete[] static_cast<unsigned char*>(other.pData);
    EXPECT_FALSE(m_app->t_Destroy()) << "never created: no listener to remove";

    EXPECT_EQ(m_log, (std::vector<std::string>{"Activate", "Activate", "Deactivate", "ProcEvent",
                                               "ProcEvent", "DestroyApp"}));
    delete m_app;
    m_app = nullptr;
    EXPECT_EQ(m_log.back(), "Release");
}

TEST_F(SnmpAppTest, WithoutATransportNothingIsForwardedAndCreateMakesOne)
{
    m_app->m_pPlatformApp->Release();
    m_app->m_pPlatformApp = nullptr;
    PTEvent reply = ReplyEvent(0x2808, {0xFF, 0x00, 0x03, 0x41, 0x11, 0x01});
    EXPECT_EQ(m_app->t_OnUserMessage(&reply), 0);
    delete[] static_cast<unsigned char*>(reply.pData);  // not taken
    EXPECT_TRUE(m_app->t_OnActivate(ORVALE0300::DTV_APP_NONE, nullptr));
    EXPECT_TRUE(m_app->t_OnDeactivate(ORVALE0300::DTV_APP_NONE, nullptr));
    EXPECT_FALSE(m_app->t_Destroy());

    EXPECT_TRUE(m_app->t_Create());
    ASSERT_NE(m_app->m_pPlatformApp, nullptr);
    EXPECT_EQ(m_app->m_pPlatformApp->m_pOwnerApp, m_app);
    EXPECT_EQ(Api()->m_pSender, AsSender(m_app->m_pPlatformApp));
    EXPECT_TRUE(Framework::instance().hasListener(AsListener(m_app)));
    EXPECT_TRUE(m_app->t_Destroy());
}

}  // namespace
