// The platform-app transport: command events out, reply events in as engine reply frames.
#include <gtest/gtest.h>

#include <cstring>

#include "command/VoRIXSNMPApi.h"
#include "host/framework/Clock.h"
#include "host/framework/Framework.h"
#include "host/framework/Tv.h"
#include "link/VoPlatformAppSNMP.h"
#include "platform/ORVALE.h"
#include "platform/SnmpAgent.h"
#include "runtime/VoMessageSNMP.h"
#include "tests/support/Contender.h"
#include "tests/support/PanelDouble.h"

using namespace nsVoMessageDefSNMP;

namespace {

using kw::test::Bytes;
using kw::test::replyEvent;
using kw::test::withSum;
using Frames = std::vector<Bytes>;
auto& fw = kw::host::Framework::instance();

// Registered as the protocol service: records the command events' payloads and sources.
class ProtocolApp : public ORVALE0300::CApplication {
public:
    ProtocolApp() { EXPECT_TRUE(fw.registerApp(kVoProtocolAppName, this)); }
    ~ProtocolApp() override { fw.unregisterApp(kVoProtocolAppName); }
    int t_OnUserMessage(const PTEvent* ev) override
    {
        const auto* p = static_cast<const uint8_t*>(ev->pData);
        EXPECT_EQ(kVoEventRIXCommand, ev->nEventType);
        std::lock_guard<std::mutex> lock(m_mutex);
        m_payloads.emplace_back(p, p + ev->nDataSize);
        m_source = ev->nSrcInstanceID;
        delete[] p;
        return 1;
    }
    Frames payloads()
    {
        fw.waitIdle(kVoProtocolAppName);
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_payloads;
    }
    std::mutex m_mutex;
    Frames m_payloads;
    int m_source = 0;
};

class RecordingReceiver : public VoPacketReceiverInterfaceSNMP {
public:
    explicit RecordingReceiver(int result = 0) : m_result(result) {}
    int CheckReceiveData(const unsigned char* data, unsigned int& len) override
    {
        return m_frames.emplace_back(data, data + len), m_result;
    }
    int m_result;
    Frames m_frames;
};

class TransportTest : public ::testing::Test {
protected:
    void SetUp() override { kw::host::tv::setDisplayId(5); }
    void TearDown() override
    {
        if (m_pTransport != nullptr) m_pTransport->Release();
        kw::host::tv::setAvailable(true);
    }
    int send(const Bytes& frame)
    {
        return m_pTransport->Send(frame.data(), static_cast<unsigned int>(frame.size()));
    }
    static VoRIXSNMPApi* api() { return VoSingletonSNMP<VoRIXSNMPApi>::m_pObject; }

    kw::host::VirtualClockScope m_clock;
    VoPlatformAppSNMP* m_pTransport = new VoPlatformAppSNMP();
};

TEST_F(TransportTest, SendPostsTheCommandEventWithTheDisplayIdAndCorrections)
{
    EXPECT_EQ(static_cast<VoPacketSenderInterfaceSNMP*>(m_pTransport), api()->m_pSender);
    EXPECT_EQ(m_pTransport->m_ReceiverList, std::list<VoPacketReceiverInterfaceSNMP*>{api()});
    EXPECT_EQ(1007, m_pTransport->GetVoAppID());
    EXPECT_EQ(0, send({0x11, 0x01, 0x01}));  // nobody takes the event: the framework frees it

    ProtocolApp protocol;
    VoMessageSNMP* service = VoSingletonSNMP<VoMessageSNMP>::GetInstance();
    service->Destroy();  // its messages now stay queued for the test to read
    const struct {
        Bytes frame, payload;
    } cases[] = {
        {{0x11, 0x01, 0x01}, {0x11, 0x05, 0x01, 0x01}},
        {{0x30}, {0x30, 0x05}},  // the command byte alone still travels
        // Safety screen: the three-value form with first value 0 goes out as 04 00 00.
        {{0x5B, 0x03, 0x00, 0x07, 0x09}, {0x5B, 0x05, 0x03, 0x04, 0x00, 0x00}},
        {{0x5B, 0x03, 0x01, 0x07, 0x09}, {0x5B, 0x05, 0x03, 0x01, 0x07, 0x09}},
        {{0x5B, 0x02, 0x00, 0x07}, {0x5B, 0x05, 0x02, 0x00, 0x07}},
        {{0x5B, 0x04, 0x00, 0x07, 0x09, 0x01}, {0x5B, 0x05, 0x04, 0x00, 0x07, 0x09, 0x01}},
        {{0x5B, 0x03}, {0x5B, 0x05, 0x03}},  // claims data that is not there
        // Input source: only source 0x60 notifies the UI, once the command went out.
        {{0x14, 0x01, 0x21}, {0x14, 0x05, 0x01, 0x21}},
        {{0x14}, {0x14, 0x05}},
        {{0x14, 0x01, 0x60}, {0x14, 0x05, 0x01, 0x60}},
    };
    Frames expected;
    for (const auto& c : cases) {
        EXPECT_EQ(static_cast<int>(c.frame.size() + 1), send(c.frame));
        expected.push_back(c.payload);
    }
    kw::host::tv::setDisplayId(0xFE);
    Bytes big(0xFFFE, 0xAB);  // the event's 16-bit size holds one more byte, no more
    big[0] = 0x22;
    EXPECT_EQ(0xFFFF, send(big));
    big.insert(big.begin() + 1, 0xFE);
    expected.push_back(big);
    big.resize(0xFFFF);
    EXPECT_EQ(0, send(big));
    EXPECT_EQ(0, m_pTransport->Send(nullptr, 3));
    EXPECT_EQ(0, m_pTransport->Send(big.data(), 0));
    kw::host::tv::setAvailable(false);  // a display ID failure posts nothing
    EXPECT_EQ(0, send({0x14, 0x01, 0x60}));

    EXPECT_EQ(expected, protocol.payloads());
    EXPECT_EQ(ORVALE0300::ORVALE::GetInstanceID(ORVALE0300::CString(kVoSnmpAppName, 2)),
              protocol.m_source);
    ASSERT_EQ(1u, service->m_dqMessage.size());
    const _stVoMessage& m = *service->m_dqMessage.front();
    EXPECT_EQ(
        std::make_tuple(VO_MSG_SET_AUTO_RUN, 0L, static_cast<void*>(nullptr), 0u, 0, VO_APP_UI),
        std::make_tuple(m.eMessageID, m.lParam, m.pData, m.nDataSize, m.nSrcApp, m.nDstApp));
}

// Each payload becomes a reply frame (display ID dropped, corrections made, checksum last) in
// bufferSource, offered to the receivers; or nothing reaches them.
TEST_F(TransportTest, ReplyEventsBecomeEngineReplyFrames)
{
    RecordingReceiver rx;
    m_pTransport->m_ReceiverList = {&rx};
    Bytes largest(1021, 0x01), largestFrame(1020, 0x01);
    largest[0] = largest[2] = largestFrame[0] = largestFrame[1] = 0xFF;
    const auto clock = [](int ack, int second) {
        return Bytes{0xFF, 0x00, 0x09, uint8_t(ack), 0xA7, 0x17, uint8_t(second), 3, 0x0A, 5, 1, 2};
    };
    const auto safety = [](int ack, int v1, int v2, int v3) {
        return Bytes{0xFF, 0x00, 0x05, uint8_t(ack), 0x5B, uint8_t(v1), uint8_t(v2), uint8_t(v3)};
    };
    const struct {
        Bytes payload;
        Bytes frame;  // empty: nothing offered
        int type = kVoEventRIXReply;
    } cases[] = {
        {{0xFF, 0x05, 0x03, 0x41, 0x11, 0x01}, {0xFF, 0x03, 0x41, 0x11, 0x01, 0x55}},
        {{0xFF, 0x01, 0x02, 0x4E, 0x11}, {0xFF, 0x02, 0x4E, 0x11, 0x60}, kVoEventRIXReplyAlt},
        {{0xFF, 0x00, 0x02, 0x41}, {0xFF, 0x02, 0x41, 0x42}},  // the smallest taken on
        {largest, withSum(largestFrame)},
        {clock(0x41, 0x00), withSum({0xFF, 0x09, 0x41, 0xA7, 0x17, 0x0C, 3, 0x0A, 5, 1, 2})},
        {clock(0x4E, 0x00), withSum({0xFF, 0x09, 0x4E, 0xA7, 0x17, 0x00, 3, 0x0A, 5, 1, 2})},
        {clock(0x41, 0x07), withSum({0xFF, 0x09, 0x41, 0xA7, 0x17, 0x07, 3, 0x0A, 5, 1, 2})},
        {{0xFF, 0x00, 0x04, 0x41, 0xA7, 0x17, 0x00}, withSum({0xFF, 0x04, 0x41, 0xA7, 0x17, 0})},
        {safety(0x41, 2, 0, 3), withSum({0xFF, 0x05, 0x41, 0x5B, 0x00, 0x00, 0x03})},
        {safety(0x41, 2, 1, 0), withSum({0xFF, 0x05, 0x41, 0x5B, 0x00, 0x01, 0x00})},
        {safety(0x41, 2, 1, 3), withSum({0xFF, 0x05, 0x41, 0x5B, 0x02, 0x01, 0x03})},
        {safety(0x4E, 2, 0, 0), withSum({0xFF, 0x05, 0x4E, 0x5B, 0x02, 0x00, 0x00})},
        {{}, {}},
        {{0xFE, 0x05, 0x03, 0x41, 0x11, 0x01}, {}},
        {{0xFF, 0x05, 0x01}, {}},
        {Bytes(1022, 0xFF), {}},
        {Bytes(0x8001, 0xFF), {}},  // reads negative as 16 bits
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(&c - cases);
        rx.m_frames.clear();
        memset(bufferSource, 0xCC, sizeof bufferSource);
        PTEvent ev = replyEvent(c.payload, c.type);
        EXPECT_EQ(1, m_pTransport->ProcEvent(&ev));  // taken, payload freed
        if (c.frame.empty()) {
            EXPECT_TRUE(rx.m_frames.empty());
            continue;
        }
        EXPECT_EQ(rx.m_frames, Frames{c.frame});
        EXPECT_EQ(Bytes(bufferSource, bufferSource + c.frame.size()), c.frame);
        EXPECT_EQ(0xCC, bufferSource[c.frame.size()]);  // only the new frame's bytes
    }
    PTEvent noData;
    noData.nEventType = kVoEventRIXReply;
    EXPECT_EQ(std::make_pair(0, 1),
              std::make_pair(m_pTransport->ProcEvent(nullptr), m_pTransport->ProcEvent(&noData)));
    PTEvent other = replyEvent({0xFF, 0x05, 0x03, 0x41, 0x11, 0x01}, kVoEventRIXCommand);
    EXPECT_EQ(0, m_pTransport->ProcEvent(&other));  // not ours: left alone
    delete[] static_cast<unsigned char*>(other.pData);
    m_pTransport->processAckRIX(nullptr, 10);
    EXPECT_TRUE(rx.m_frames.empty());
}

// The walk ends at a receiver that took (0) or refused (1) the frame, or with 0 at one that
// finds it incomplete (2); other answers pass it on.
TEST_F(TransportTest, ReceiversAreOfferedTheFrameInOrder)
{
    RecordingReceiver a(-1), b(3), c(0), d(0);
    unsigned char frame[] = {0xFF, 0x02, 0x41, 0x11, 0x53};
    unsigned int len = sizeof frame;
    m_pTransport->m_ReceiverList.clear();
    m_pTransport->AddReceiver(nullptr);
    EXPECT_EQ(0, m_pTransport->ProcReceiver(frame, len));  // nobody
    for (auto* r : {&a, &b, &c, &d}) m_pTransport->AddReceiver(r);
    for (int result : {0, 1, 2}) {
        c.m_result = result;
        EXPECT_EQ(result == 2 ? 0 : 1, m_pTransport->ProcReceiver(frame, len));
    }
    EXPECT_EQ(std::make_tuple(3u, 3u, 0u),
              std::make_tuple(a.m_frames.size(), c.m_frames.size(), d.m_frames.size()));
}

// The detach waits for a transaction in flight; after it a request fails at once.
TEST_F(TransportTest, ReleaseDetachesFromTheCommandApiUnderTheTransactionLock)
{
    api()->m_Lock.Lock();
    kw::test::Contender teardown([this] { m_pTransport->Release(); });
    EXPECT_TRUE(teardown.blocked());
    EXPECT_NE(nullptr, api()->m_pSender);
    api()->m_Lock.Unlock();
    EXPECT_TRUE(teardown.finish());
    m_pTransport = nullptr;
    EXPECT_EQ(nullptr, api()->m_pSender);
    unsigned char value = 0x77;
    EXPECT_EQ(0, api()->PowerControl(RIX_GET, &value));
    EXPECT_EQ(std::make_pair(0x77, 0u), std::make_pair(int(value), kw::host::Clock::now()));
}

// The message service is process-wide and starts its thread on first use; stop it at the end.
class StopMessageService : public ::testing::Environment {
public:
    void TearDown() override
    {
        VoMessageSNMP*& pService = VoSingletonSNMP<VoMessageSNMP>::m_pObject;
        if (pService != nullptr) pService->Destroy();
        delete pService;
        pService = nullptr;
    }
};
const auto* const kEnvironment = ::testing::AddGlobalTestEnvironment(new StopMessageService());

}  // namespace
