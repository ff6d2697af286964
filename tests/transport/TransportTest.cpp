// The platform-app transport: command events out, reply events in, the per-command
// corrections, the receivers, and the link to the command API.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <map>
#include <mutex>
#include <numeric>
#include <thread>

#include "command/VoRIXSNMPApi.h"
#include "host/framework/Clock.h"
#include "host/framework/Framework.h"
#include "host/framework/Tv.h"
#include "link/VoPlatformAppSNMP.h"
#include "platform/CApplication.h"
#include "platform/ORVALE.h"
#include "platform/SnmpAgent.h"
#include "runtime/VoMessageSNMP.h"

using namespace nsVoMessageDefSNMP;

namespace {

using Bytes = std::vector<uint8_t>;
constexpr uint8_t kDisplayId = 0x2C;  // what the round trip's protocol service puts in replies

Bytes bytes(std::initializer_list<int> list)
{
    return Bytes(list.begin(), list.end());
}

// A reply event as the protocol service sends it: the payload belongs to whoever takes it.
PTEvent replyEvent(const Bytes& payload, int type = kVoEventRIXReply)
{
    PTEvent ev;
    ev.nEventType = type;
    ev.pData = new unsigned char[payload.size()];
    if (!payload.empty()) memcpy(ev.pData, payload.data(), payload.size());
    ev.nDataSize = static_cast<uint16_t>(payload.size());
    return ev;
}

// The message service is process-wide and starts its thread on first use; stop it at the end.
class MessageServiceTeardown : public ::testing::Environment {
public:
    void TearDown() override
    {
        VoMessageSNMP*& pService = VoSingletonSNMP<VoMessageSNMP>::m_pObject;
        if (pService != nullptr) {
            pService->Destroy();
            delete pService;
            pService = nullptr;
        }
    }
};
const auto* const kEnvironment = ::testing::AddGlobalTestEnvironment(new MessageServiceTeardown());

uint8_t sum(const Bytes& v, size_t n)
{
    return static_cast<uint8_t>(std::accumulate(v.begin(), v.begin() + n, 0u));
}

struct ReceivedEvent {
    int type;
    Bytes payload;
    uint16_t size;
    int srcInstance;
    int dstInstance;
};

// Registered as the protocol service; records every event and takes its payload. Given
// values per command byte, it answers each command with an acknowledged reply event.
class RecordingProtocolApp : public ORVALE0300::CApplication {
public:
    explicit RecordingProtocolApp(std::map<uint8_t, Bytes> answers = {}) : m_answers(answers)
    {
        EXPECT_TRUE(kw::host::Framework::instance().registerApp(kVoProtocolAppName, this));
    }
    ~RecordingProtocolApp() override
    {
        kw::host::Framework::instance().unregisterApp(kVoProtocolAppName);
    }
    int t_OnUserMessage(const PTEvent* ev) override
    {
        const auto* p = static_cast<const uint8_t*>(ev->pData);
        std::lock_guard<std::mutex> lock(m_mutex);
        m_events.push_back({ev->nEventType, p != nullptr ? Bytes(p, p + ev->nDataSize) : Bytes{},
                            ev->nDataSize, ev->nSrcInstanceID, ev->nDstInstanceID});
        delete[] p;
        if (m_answers.empty() || m_events.back().payload.empty()) return 1;
        // FF, display id, L, ack, cmd, values: the service's reply layout.
        const uint8_t cmd = m_events.back().payload[0];
        Bytes reply{0xFF, kDisplayId, static_cast<uint8_t>(m_answers[cmd].size() + 2), 0x41, cmd};
        reply.insert(reply.end(), m_answers[cmd].begin(), m_answers[cmd].end());
        PTEvent answer = replyEvent(reply);
        answer.nSrcInstanceID = ORVALE0300::ORVALE::GetInstanceID(
            ORVALE0300::CString(kVoProtocolAppName, ORVALE0300::CString::ENCODING_UTF8));
        ORVALE0300::ORVALE::SendEvent(answer, kVoSnmpAppName, false);
        return 1;
    }
    // Every event posted so far, once the application thread has handled them.
    std::vector<ReceivedEvent> events()
    {
        kw::host::Framework::instance().waitIdle(kVoProtocolAppName);
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_events;
    }
    std::vector<Bytes> payloads()
    {
        std::vector<Bytes> out;
        for (const auto& ev : events()) out.push_back(ev.payload);
        return out;
    }

private:
    std::map<uint8_t, Bytes> m_answers;
    std::mutex m_mutex;
    std::vector<ReceivedEvent> m_events;
};

class RecordingReceiver : public VoPacketReceiverInterfaceSNMP {
public:
    explicit RecordingReceiver(int result) : m_result(result) {}
    int CheckReceiveData(const unsigned char* data, unsigned int& len) override
    {
        m_frames.emplace_back(data, data + len);
        return m_result;
    }
    int m_result;
    std::vector<Bytes> m_frames;
};

// Records what reaches the UI application through the process-wide message service.
class UiHandler : public VoMessageInterfaceSNMP {
public:
    UiHandler() { m_pService->RegisterInterface(VO_APP_UI, this); }
    int DoProcMessage(const _stVoMessage* pMsg) override
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_messages.push_back(*pMsg);
        m_changed.notify_all();
        return 1;
    }
    // Sends a marker and returns every message that arrived before it, the marker excluded.
    std::vector<_stVoMessage> settle()
    {
        m_pService->SendMessage(VO_APP_MAIN, VO_APP_UI, VO_MSG_UI_SHOW, 0, nullptr, 0);
        std::vector<_stVoMessage> before;
        {
            std::unique_lock<std::mutex> lock(m_mutex);
            EXPECT_TRUE(m_changed.wait_for(lock, std::chrono::seconds(10), [&] {
                return !m_messages.empty() && m_messages.back().eMessageID == VO_MSG_UI_SHOW;
            }));
            before.assign(m_messages.begin(), m_messages.end() - (m_messages.empty() ? 0 : 1));
        }
        // Not under m_mutex: the service thread takes the service lock before calling us.
        m_pService->UnregisterInterface(VO_APP_UI);
        return before;
    }

private:
    VoMessageSNMP* m_pService = VoSingletonSNMP<VoMessageSNMP>::GetInstance();
    std::mutex m_mutex;
    std::condition_variable m_changed;
    std::vector<_stVoMessage> m_messages;
};

class TransportTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        kw::host::tv::setAvailable(true);
        kw::host::tv::setDisplayId(5);
    }
    void TearDown() override
    {
        if (m_pTransport != nullptr) m_pTransport->Release();
        kw::host::tv::setAvailable(true);
    }
    int send(const Bytes& frame)
    {
        return m_pTransport->Send(frame.data(), static_cast<unsigned int>(frame.size()));
    }
    // Replaces the command API by one recording receiver.
    RecordingReceiver& recordReplies()
    {
        m_pTransport->m_ReceiverList.clear();
        m_pTransport->AddReceiver(&m_receiver);
        return m_receiver;
    }
    VoRIXSNMPApi* api() { return VoSingletonSNMP<VoRIXSNMPApi>::m_pObject; }

    kw::host::VirtualClockScope m_clock;
    VoPlatformAppSNMP* m_pTransport = new VoPlatformAppSNMP();
    RecordingReceiver m_receiver{0};
};

TEST_F(TransportTest, ConstructionLinksTheCommandApi)
{
    ASSERT_NE(nullptr, api());
    EXPECT_EQ(static_cast<VoPacketSenderInterfaceSNMP*>(m_pTransport), api()->m_pSender);
    ASSERT_EQ(1u, m_pTransport->m_ReceiverList.size());
    EXPECT_EQ(static_cast<VoPacketReceiverInterfaceSNMP*>(api()),
              m_pTransport->m_ReceiverList.front());
    EXPECT_EQ(1007, m_pTransport->GetVoAppID());
    m_pTransport->DestroyApp();  // keeps the link
    EXPECT_EQ(static_cast<VoPacketSenderInterfaceSNMP*>(m_pTransport), api()->m_pSender);
}

TEST_F(TransportTest, SendPostsTheCommandEventWithTheDisplayId)
{
    // Nobody takes the event: fails, and the framework frees the payload.
    EXPECT_EQ(0, send({0x11, 0x01, 0x01}));

    RecordingProtocolApp protocol;
    EXPECT_EQ(4, send({0x11, 0x01, 0x01}));
    kw::host::tv::setDisplayId(0xFE);
    EXPECT_EQ(3, send({0x19, 0x00}));
    EXPECT_EQ(2, send({0x30}));  // the command byte alone still travels
    Bytes big(257, 0xAB);        // the largest frame the engine builds
    big[0] = 0x22;
    big[1] = 0xFF;
    EXPECT_EQ(258, send(big));
    EXPECT_EQ(0xFFFF, send(Bytes(0xFFFE, 0)));
    // Nothing to send, or more than the event's 16-bit size holds.
    EXPECT_EQ(0, m_pTransport->Send(nullptr, 3));
    EXPECT_EQ(0, m_pTransport->Send(big.data(), 0));
    EXPECT_EQ(0, send(Bytes(0xFFFF, 0)));
    // A display ID failure posts nothing.
    kw::host::tv::setAvailable(false);
    EXPECT_EQ(0, send({0x11, 0x01, 0x01}));

    const auto events = protocol.events();
    ASSERT_EQ(5u, events.size());
    EXPECT_EQ(0x2807, events[0].type);
    EXPECT_EQ(bytes({0x11, 0x05, 0x01, 0x01}), events[0].payload);
    EXPECT_EQ(4, events[0].size);
    EXPECT_EQ(ORVALE0300::ORVALE::GetInstanceID(ORVALE0300::CString(kVoSnmpAppName, 2)),
              events[0].srcInstance);
    EXPECT_EQ(ORVALE0300::ORVALE::GetInstanceID(ORVALE0300::CString(kVoProtocolAppName, 2)),
              events[0].dstInstance);
    EXPECT_EQ(bytes({0x19, 0xFE, 0x00}), events[1].payload);
    EXPECT_EQ(bytes({0x30, 0xFE}), events[2].payload);
    Bytes expected = big;
    expected.insert(expected.begin() + 1, 0xFE);
    EXPECT_EQ(expected, events[3].payload);
    EXPECT_EQ(0xFFFF, events[4].size);
}

TEST_F(TransportTest, SafetyScreenCorrectionOnTheWayOut)
{
    RecordingProtocolApp protocol;
    const std::vector<Bytes> sent = {{0x5B, 0x03, 0x00, 0x07, 0x09},
                                     {0x5B, 0x03, 0x01, 0x07, 0x09},  // first data byte not 0
                                     {0x5B, 0x02, 0x00, 0x07},
                                     {0x5B, 0x04, 0x00, 0x07, 0x09, 0x01},  // N not 3
                                     {0x5B, 0x03},  // claims three data bytes that are not there
                                     {0x5B}};
    for (const Bytes& frame : sent) send(frame);
    EXPECT_EQ((std::vector<Bytes>{{0x5B, 0x05, 0x03, 0x04, 0x00, 0x00},
                                  {0x5B, 0x05, 0x03, 0x01, 0x07, 0x09},
                                  {0x5B, 0x05, 0x02, 0x00, 0x07},
                                  {0x5B, 0x05, 0x04, 0x00, 0x07, 0x09, 0x01},
                                  {0x5B, 0x05, 0x03},
                                  {0x5B, 0x05}}),
              protocol.payloads());
}

TEST_F(TransportTest, InputSourceAutoRunNotifiesTheUiOnlyWhenSent)
{
    RecordingProtocolApp protocol;
    UiHandler ui;
    EXPECT_EQ(4, send({0x14, 0x01, 0x21}));  // another source: no notification
    EXPECT_EQ(2, send({0x14}));              // no data byte to look at
    kw::host::tv::setAvailable(false);
    EXPECT_EQ(0, send({0x14, 0x01, 0x60}));  // never went out: no notification
    kw::host::tv::setAvailable(true);
    EXPECT_EQ(4, send({0x14, 0x01, 0x60}));

    const auto messages = ui.settle();
    ASSERT_EQ(1u, messages.size());
    EXPECT_EQ(VO_MSG_SET_AUTO_RUN, messages[0].eMessageID);
    EXPECT_EQ(0, messages[0].nSrcApp);
    EXPECT_EQ(0, messages[0].lParam);
    EXPECT_EQ(nullptr, messages[0].pData);
    EXPECT_EQ(0u, messages[0].nDataSize);
    // The command itself is posted as usual, unchanged.
    EXPECT_EQ(
        (std::vector<Bytes>{{0x14, 0x05, 0x01, 0x21}, {0x14, 0x05}, {0x14, 0x05, 0x01, 0x60}}),
        protocol.payloads());
}

TEST_F(TransportTest, ReplyEventBecomesAnEngineReplyFrame)
{
    auto& rx = recordReplies();
    memset(bufferSource, 0xCC, sizeof bufferSource);
    PTEvent ev = replyEvent(bytes({0xFF, 0x05, 0x03, 0x41, 0x11, 0x01}));
    EXPECT_EQ(1, m_pTransport->ProcEvent(&ev));  // takes and frees the payload
    ev = replyEvent(bytes({0xFF, 0x01, 0x02, 0x4E, 0x11}), kVoEventRIXReplyAlt);
    EXPECT_EQ(1, m_pTransport->ProcEvent(&ev));
    ASSERT_EQ(2u, rx.m_frames.size());
    EXPECT_EQ(bytes({0xFF, 0x03, 0x41, 0x11, 0x01, 0x55}), rx.m_frames[0]);
    EXPECT_EQ(bytes({0xFF, 0x02, 0x4E, 0x11, 0x60}), rx.m_frames[1]);
    EXPECT_EQ(0, memcmp(bufferSource, rx.m_frames[1].data(), 5));
    EXPECT_EQ(0x55, bufferSource[5]) << "only the new frame's bytes are written";
    EXPECT_EQ(0xCC, bufferSource[6]);

    // Four bytes are the smallest payload taken on, 1021 the largest.
    m_pTransport->processAckRIX(bytes({0xFF, 0x00, 0x02, 0x41}).data(), 4);
    Bytes largest(1021, 0x01);
    largest[0] = largest[2] = 0xFF;
    m_pTransport->processAckRIX(largest.data(), 1021);
    ASSERT_EQ(4u, rx.m_frames.size());
    EXPECT_EQ(bytes({0xFF, 0x02, 0x41, 0x42}), rx.m_frames[2]);
    ASSERT_EQ(1021u, rx.m_frames[3].size());
    EXPECT_EQ(sum(rx.m_frames[3], 1020), rx.m_frames[3].back());
    EXPECT_EQ(0, memcmp(bufferSource, rx.m_frames[3].data(), 1021));
}

// Each of these is taken (payload freed, checked by the leak sanitizer) or left alone, and
// none reaches a receiver.
TEST_F(TransportTest, EventsThatCarryNoReply)
{
    auto& rx = recordReplies();
    EXPECT_EQ(0, m_pTransport->ProcEvent(nullptr));
    PTEvent other = replyEvent(bytes({0xFF, 0x05, 0x03, 0x41, 0x11, 0x01}), 0x2807);
    EXPECT_EQ(0, m_pTransport->ProcEvent(&other));  // not ours: left alone
    delete[] static_cast<unsigned char*>(other.pData);
    PTEvent noData;
    noData.nEventType = kVoEventRIXReply;
    EXPECT_EQ(1, m_pTransport->ProcEvent(&noData));

    Bytes tooLong(1022, 0x00), negative(0x8001, 0x00);  // 0x8001 reads negative as 16 bits
    tooLong[0] = negative[0] = 0xFF;
    for (const Bytes& payload : {Bytes{}, bytes({0xFE, 0x05, 0x03, 0x41, 0x11, 0x01}),
                                 bytes({0xFF, 0x05, 0x01}), tooLong, negative}) {
        PTEvent ev = replyEvent(payload);
        EXPECT_EQ(1, m_pTransport->ProcEvent(&ev)) << payload.size();
    }
    m_pTransport->processAckRIX(nullptr, 10);
    m_pTransport->processAckRIX(tooLong.data(), 3);
    EXPECT_TRUE(rx.m_frames.empty());
}

// The checksum is computed after the corrections.
TEST_F(TransportTest, ClockAndSafetyScreenCorrectionsOnTheWayIn)
{
    auto& rx = recordReplies();
    const auto clock = [](int ack, int second) {
        return bytes({0xFF, 0x00, 0x09, ack, 0xA7, 0x17, second, 0x03, 0x0A, 0x05, 0x01, 0x02});
    };
    const auto safety = [](int ack, int v1, int v2, int v3) {
        return bytes({0xFF, 0x00, 0x05, ack, 0x5B, v1, v2, v3});
    };
    struct Case {
        Bytes payload;
        size_t at;  // index of the corrected byte in the engine frame
        uint8_t value;
    };
    Case cases[] = {
        {clock(0x41, 0x00), 5, 0x0C},
        {clock(0x4E, 0x00), 5, 0x00},  // refused: not corrected
        {clock(0x41, 0x07), 5, 0x07},
        {bytes({0xFF, 0x00, 0x04, 0x41, 0xA7, 0x17, 0x00}), 5, 0x00},  // L not 9
        {safety(0x41, 0x02, 0x00, 0x03), 4, 0x00},
        {safety(0x41, 0x02, 0x01, 0x00), 4, 0x00},
        {safety(0x41, 0x02, 0x01, 0x03), 4, 0x02},
        {safety(0x4E, 0x02, 0x00, 0x00), 4, 0x02},
    };
    for (Case& c : cases) {
        rx.m_frames.clear();
        m_pTransport->processAckRIX(c.payload.data(), static_cast<unsigned int>(c.payload.size()));
        ASSERT_EQ(1u, rx.m_frames.size());
        const Bytes& frame = rx.m_frames[0];
        Bytes expected{0xFF};
        expected.insert(expected.end(), c.payload.begin() + 2, c.payload.end());
        expected[c.at] = c.value;
        expected.push_back(sum(expected, expected.size()));
        EXPECT_EQ(expected, frame) << &c - cases;
    }
}

TEST_F(TransportTest, ReceiversAreOfferedTheFrameInOrder)
{
    RecordingReceiver a(-1), b(3), c(0), d(0);
    m_pTransport->m_ReceiverList.clear();
    unsigned char frame[] = {0xFF, 0x02, 0x41, 0x11, 0x53};
    unsigned int len = sizeof frame;
    EXPECT_EQ(0, m_pTransport->ProcReceiver(frame, len));  // nobody
    m_pTransport->AddReceiver(nullptr);
    EXPECT_TRUE(m_pTransport->m_ReceiverList.empty());

    m_pTransport->AddReceiver(&a);
    m_pTransport->AddReceiver(&b);
    EXPECT_EQ(0, m_pTransport->ProcReceiver(frame, len));  // nobody answered 0, 1 or 2
    m_pTransport->AddReceiver(&c);
    m_pTransport->AddReceiver(&d);
    EXPECT_EQ(1, m_pTransport->ProcReceiver(frame, len));
    EXPECT_EQ(2u, a.m_frames.size());
    EXPECT_EQ(2u, b.m_frames.size());
    EXPECT_EQ(1u, c.m_frames.size());
    c.m_result = 1;
    EXPECT_EQ(1, m_pTransport->ProcReceiver(frame, len));
    c.m_result = 2;
    EXPECT_EQ(0, m_pTransport->ProcReceiver(frame, len));
    EXPECT_TRUE(d.m_frames.empty());
}

TEST_F(TransportTest, ReplyReachesTheCommandApi)
{
    // A reply one byte longer than L + 3 is taken when that byte is the right checksum.
    auto longer = bytes({0xFF, 0x05, 0x04, 0x41, 0x12, 0x07, 0x2A});
    longer.push_back(static_cast<uint8_t>(0xFF + 0x04 + 0x41 + 0x12 + 0x07 + 0x2A));
    auto wrong = longer;
    wrong.back() ^= 1;
    for (const Bytes& payload : {longer, bytes({0xFF, 0x05, 0x03, 0x41, 0x11, 0x01}), wrong}) {
        PTEvent ev = replyEvent(payload);
        m_pTransport->ProcEvent(&ev);
    }
    for (auto [cmd, value] : {std::pair<uint8_t, uint8_t>{0x11, 0x01}, {0x12, 0x07}}) {
        nsVoRIXSNMP::_stVoRIXData* pReply = api()->PopRIXData(cmd, 100);
        ASSERT_NE(nullptr, pReply);
        EXPECT_EQ(0x41, pReply->nAck);
        ASSERT_GE(pReply->nSize, 1u);
        EXPECT_EQ(value, pReply->pData[0]);
        delete[] pReply->pData;
        delete pReply;
    }
    EXPECT_EQ(nullptr, api()->PopRIXData(0x12, 100));  // the wrong checksum was dropped
}

// The detach waits for a transaction in flight (the transaction lock); after it a late request
// fails at once. Another sender attached meanwhile is left alone.
TEST_F(TransportTest, ReleaseDetachesFromTheCommandApiUnderTheTransactionLock)
{
    VoPacketSenderInterfaceSNMP* const pSender = api()->m_pSender;
    std::atomic<bool> released{false};
    api()->m_Lock.Lock();
    std::thread teardown([&] {
        m_pTransport->Release();
        released = true;
    });
    // Give a release that ignored the lock the chance to show.
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_FALSE(released);
    EXPECT_EQ(pSender, api()->m_pSender);
    api()->m_Lock.Unlock();
    teardown.join();
    m_pTransport = nullptr;
    EXPECT_EQ(nullptr, api()->m_pSender);

    const uint32_t start = kw::host::Clock::now();
    unsigned char value = 0x77;
    EXPECT_EQ(0, api()->PowerControl(RIX_GET, &value));
    EXPECT_EQ(0x77, value);
    EXPECT_EQ(start, kw::host::Clock::now());

    struct OtherSender : VoPacketSenderInterfaceSNMP {
        int Send(const unsigned char*, unsigned int len) override { return static_cast<int>(len); }
    } other;
    auto* second = new VoPlatformAppSNMP();
    api()->m_pSender = &other;
    second->Release();
    EXPECT_EQ(&other, api()->m_pSender);
    api()->m_pSender = nullptr;
}

// Stands in for the module's application in the round trip below: creates the transport on its
// own thread and hands every user message to it.
class TransportHostApp : public ORVALE0300::CApplication {
public:
    TransportHostApp()
    {
        auto& fw = kw::host::Framework::instance();
        EXPECT_TRUE(fw.registerApp(kVoSnmpAppName, this));
        fw.runOnAppThread(kVoSnmpAppName, [this] { m_pTransport = new VoPlatformAppSNMP(); });
    }
    ~TransportHostApp() override
    {
        releaseTransport();
        kw::host::Framework::instance().unregisterApp(kVoSnmpAppName);
    }

    int t_OnUserMessage(const PTEvent* ev) override
    {
        return m_pTransport != nullptr ? m_pTransport->ProcEvent(ev) : 0;
    }

    void releaseTransport()
    {
        kw::host::Framework::instance().runOnAppThread(kVoSnmpAppName, [this] {
            if (m_pTransport != nullptr) {
                m_pTransport->Release();
                m_pTransport = nullptr;
            }
        });
    }

private:
    VoPlatformAppSNMP* m_pTransport = nullptr;
};

// One command transaction at a time through the host framework, on real time: the command goes
// to the protocol service, whose reply event comes back through the application.
TEST(TransportRoundTripTest, TransactionsCompleteWithTheRepliesValues)
{
    kw::host::tv::setAvailable(true);
    kw::host::tv::setDisplayId(kDisplayId);
    RecordingProtocolApp protocol({{0x11, {0x01}},
                                   {0xA7, {0x17, 0x00, 0x03, 0x0A, 0x05, 0x01, 0x02}},
                                   {0x5B, {0x04, 0x00, 0x00}}});
    TransportHostApp host;
    VoRIXSNMPApi* pApi = VoSingletonSNMP<VoRIXSNMPApi>::m_pObject;
    ASSERT_NE(nullptr, pApi);

    int power = 0, clock = 0, safety = 0;
    unsigned char value = 0;
    unsigned char c[7] = {};
    unsigned char s[3] = {0x00, 0x07, 0x09};
    // The agent thread's part: each call is one whole transaction.
    std::thread agent([&] {
        power = pApi->PowerControl(RIX_GET, &value);
        clock = pApi->ClockControl(RIX_GET, &c[0], &c[1], &c[2], &c[3], &c[4], &c[5], &c[6]);
        safety = pApi->SafetyScreenControl(RIX_SET, &s[0], &s[1], &s[2]);
    });
    agent.join();

    EXPECT_EQ(1, power);
    EXPECT_EQ(0x01, value);
    EXPECT_EQ(1, clock);
    // The clock reply's zero second value arrives corrected, and the safety-screen reply
    // 04 00 00 (zero second value) arrives with its first value 0.
    EXPECT_EQ(bytes({0x17, 0x0C, 0x03, 0x0A, 0x05, 0x01, 0x02}), Bytes(c, c + 7));
    EXPECT_EQ(1, safety);
    EXPECT_EQ(bytes({0x00, 0x00, 0x00}), Bytes(s, s + 3));
    // The safety-screen set went out corrected.
    EXPECT_EQ((std::vector<Bytes>{{0x11, kDisplayId, 0x00},
                                  {0xA7, kDisplayId, 0x00},
                                  {0x5B, kDisplayId, 0x03, 0x04, 0x00, 0x00}}),
              protocol.payloads());

    // Once the transport is gone, a late request fails at once.
    host.releaseTransport();
    EXPECT_EQ(nullptr, pApi->m_pSender);
    const uint32_t start = kw::host::Clock::now();
    unsigned char late = 0x33;
    EXPECT_EQ(0, pApi->PowerControl(RIX_GET, &late));
    EXPECT_EQ(0x33, late);
    EXPECT_LT(kw::host::Clock::now() - start, 100u);
    EXPECT_EQ(3u, protocol.payloads().size());
}

}  // namespace
