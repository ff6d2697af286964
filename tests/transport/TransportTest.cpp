// The platform-app transport: command events out, reply events in, the per-command
// corrections, the receivers, and the link to the command API.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <numeric>
#include <thread>
#include <vector>

#include "TransportSupport.h"
#include "command/VoRIXSNMPApi.h"
#include "host/framework/Clock.h"
#include "host/framework/Tv.h"
#include "platform/ORVALE.h"
#include "platform/SnmpAgent.h"

using kw::test::RecordingProtocolApp;
using kw::test::RecordingReceiver;
using namespace nsVoMessageDefSNMP;

namespace {

const auto* const kEnvironment =
    ::testing::AddGlobalTestEnvironment(new kw::test::MessageServiceTeardown());

std::vector<uint8_t> bytes(std::initializer_list<int> list)
{
    std::vector<uint8_t> out;
    for (int b : list) {
        out.push_back(static_cast<uint8_t>(b));
    }
    return out;
}

// A reply event's payload as the protocol service hands it over (array new, owned by the
// receiver of the event).
PTEvent replyEvent(const std::vector<uint8_t>& payload, int type = kVoEventRIXReply)
{
    PTEvent ev;
    ev.nEventType = type;
    ev.pData = new unsigned char[payload.size()];
    if (!payload.empty()) {
        memcpy(ev.pData, payload.data(), payload.size());
    }
    ev.nDataSize = static_cast<uint16_t>(payload.size());
    return ev;
}

uint8_t sum(const std::vector<uint8_t>& v)
{
    return static_cast<uint8_t>(std::accumulate(v.begin(), v.end(), 0u));
}

class TransportTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        kw::host::tv::setAvailable(true);
        kw::host::tv::setDisplayId(5);
        m_pTransport = new VoPlatformAppSNMP();
    }
    void TearDown() override
    {
        if (m_pTransport != nullptr) {
            m_pTransport->Release();
        }
        kw::host::tv::setAvailable(true);
    }

    int send(const std::vector<uint8_t>& frame)
    {
        return m_pTransport->Send(frame.data(), static_cast<unsigned int>(frame.size()));
    }

    // Replaces the command API by one recording receiver answering result.
    RecordingReceiver& recordReplies(int result = 0)
    {
        m_receiver.m_result = result;
        m_pTransport->m_ReceiverList.clear();
        m_pTransport->AddReceiver(&m_receiver);
        return m_receiver;
    }

    kw::host::VirtualClockScope m_clock;
    VoPlatformAppSNMP* m_pTransport = nullptr;
    RecordingReceiver m_receiver{0};
};

TEST_F(TransportTest, ConstructionLinksTheCommandApi)
{
    VoRIXSNMPApi* pApi = VoSingletonSNMP<VoRIXSNMPApi>::m_pObject;
    ASSERT_NE(nullptr, pApi);
    EXPECT_EQ(static_cast<VoPacketSenderInterfaceSNMP*>(m_pTransport), pApi->m_pSender);
    ASSERT_EQ(1u, m_pTransport->m_ReceiverList.size());
    EXPECT_EQ(static_cast<VoPacketReceiverInterfaceSNMP*>(pApi),
              m_pTransport->m_ReceiverList.front());
    EXPECT_EQ(1007, m_pTransport->GetVoAppID());
    EXPECT_EQ(nullptr, m_pTransport->m_pOwnerApp);

    // The application-facing hooks keep their base behaviour.
    PTEvent other;
    EXPECT_EQ(1, m_pTransport->CreateApp());
    EXPECT_EQ(1, m_pTransport->Activate());
    EXPECT_EQ(1, m_pTransport->Deactivate());
    EXPECT_EQ(1, m_pTransport->Process());
    EXPECT_EQ(0, m_pTransport->BeforeEventDispatch(&other, nullptr));
    EXPECT_EQ(0, m_pTransport->AfterEventDispatch(&other, nullptr));
    m_pTransport->DestroyApp();
    EXPECT_EQ(static_cast<VoPacketSenderInterfaceSNMP*>(m_pTransport), pApi->m_pSender);
}

TEST_F(TransportTest, SendPostsTheCommandEventWithTheDisplayId)
{
    RecordingProtocolApp protocol;
    EXPECT_EQ(4, send({0x11, 0x01, 0x01}));
    kw::host::tv::setDisplayId(0xFE);
    EXPECT_EQ(3, send({0x19, 0x00}));

    const auto events = protocol.events();
    ASSERT_EQ(2u, events.size());
    const int src =
        ORVALE0300::ORVALE::GetInstanceID(ORVALE0300::CString("vantrel.native.lumistavesnmp", 2));
    EXPECT_EQ(0x2807, events[0].type);
    EXPECT_EQ(bytes({0x11, 0x05, 0x01, 0x01}), events[0].payload);
    EXPECT_EQ(4, events[0].size);
    EXPECT_EQ(src, events[0].srcInstance);
    EXPECT_EQ(
        ORVALE0300::ORVALE::GetInstanceID(ORVALE0300::CString("vantrel.native.ozkprotocol", 2)),
        events[0].dstInstance);
    EXPECT_EQ(bytes({0x19, 0xFE, 0x00}), events[1].payload);
    EXPECT_EQ(3, events[1].size);
}

TEST_F(TransportTest, SendSizeLimits)
{
    RecordingProtocolApp protocol;
    // The largest frame the engine builds: 255 data bytes.
    std::vector<uint8_t> big(257, 0xAB);
    big[0] = 0x22;
    big[1] = 0xFF;
    EXPECT_EQ(258, send(big));
    // A frame of the command byte alone still travels (no length byte to carry).
    EXPECT_EQ(2, send({0x30}));
    EXPECT_EQ(0, m_pTransport->Send(nullptr, 3));
    EXPECT_EQ(0, m_pTransport->Send(big.data(), 0));
    // A payload whose size does not fit the event's 16-bit size is refused.
    std::vector<uint8_t> huge(0xFFFF, 0);
    EXPECT_EQ(0, send(huge));
    EXPECT_EQ(0xFFFE + 1, send(std::vector<uint8_t>(0xFFFE, 0)));

    const auto events = protocol.events();
    ASSERT_EQ(3u, events.size());
    EXPECT_EQ(258u, events[0].payload.size());
    EXPECT_EQ(0x22, events[0].payload[0]);
    EXPECT_EQ(0x05, events[0].payload[1]);
    EXPECT_EQ(0xFF, events[0].payload[2]);
    EXPECT_EQ(0xAB, events[0].payload[257]);
    EXPECT_EQ(bytes({0x30, 0x05}), events[1].payload);
    EXPECT_EQ(0xFFFF, events[2].size);
}

TEST_F(TransportTest, SendFailsWhenNoProtocolServiceTakesTheEvent)
{
    // The framework frees the payload (checked by the leak checker).
    EXPECT_EQ(0, send({0x11, 0x01, 0x01}));
}

TEST_F(TransportTest, SafetyScreenCorrectionOnTheWayOut)
{
    RecordingProtocolApp protocol;
    send({0x5B, 0x03, 0x00, 0x07, 0x09});
    send({0x5B, 0x03, 0x01, 0x07, 0x09});  // first data byte not 0
    send({0x5B, 0x02, 0x00, 0x07});        // N not 3
    send({0x5B, 0x04, 0x00, 0x07, 0x09, 0x01});
    send({0x5B, 0x03});  // claims three data bytes that are not there
    send({0x5B});
    const auto events = protocol.events();
    ASSERT_EQ(6u, events.size());
    EXPECT_EQ(bytes({0x5B, 0x05, 0x03, 0x04, 0x00, 0x00}), events[0].payload);
    EXPECT_EQ(bytes({0x5B, 0x05, 0x03, 0x01, 0x07, 0x09}), events[1].payload);
    EXPECT_EQ(bytes({0x5B, 0x05, 0x02, 0x00, 0x07}), events[2].payload);
    EXPECT_EQ(bytes({0x5B, 0x05, 0x04, 0x00, 0x07, 0x09, 0x01}), events[3].payload);
    EXPECT_EQ(bytes({0x5B, 0x05, 0x03}), events[4].payload);
    EXPECT_EQ(bytes({0x5B, 0x05}), events[5].payload);
}

// Records what reaches the UI application through the process-wide message service.
class UiHandler : public VoMessageInterfaceSNMP {
public:
    int DoProcMessage(const _stVoMessage* pMsg) override
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_messages.push_back(*pMsg);
        m_changed.notify_all();
        return 1;
    }
    bool waitFor(size_t n)
    {
        std::unique_lock<std::mutex> lock(m_mutex);
        return m_changed.wait_for(lock, std::chrono::seconds(10),
                                  [&] { return m_messages.size() >= n; });
    }
    std::vector<_stVoMessage> messages()
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_messages;
    }

private:
    std::mutex m_mutex;
    std::condition_variable m_changed;
    std::vector<_stVoMessage> m_messages;
};

TEST_F(TransportTest, NothingIsPostedWhenTheDisplayIdIsUnavailable)
{
    RecordingProtocolApp protocol;
    UiHandler ui;
    VoMessageSNMP* pService = VoSingletonSNMP<VoMessageSNMP>::GetInstance();
    pService->RegisterInterface(VO_APP_UI, &ui);
    kw::host::tv::setAvailable(false);
    EXPECT_EQ(0, send({0x11, 0x01, 0x01}));
    EXPECT_EQ(0, send({0x14, 0x01, 0x60}));
    // The auto-run notification is not sent for a command that never went out.
    pService->SendMessage(VO_APP_MAIN, VO_APP_UI, VO_MSG_UI_SHOW, 0, nullptr, 0);
    ASSERT_TRUE(ui.waitFor(1));
    pService->UnregisterInterface(VO_APP_UI);
    ASSERT_EQ(1u, ui.messages().size());
    EXPECT_EQ(VO_MSG_UI_SHOW, ui.messages()[0].eMessageID);
    EXPECT_TRUE(protocol.events().empty());
}

TEST_F(TransportTest, InputSourceAutoRunNotifiesTheUi)
{
    RecordingProtocolApp protocol;
    UiHandler ui;
    VoMessageSNMP* pService = VoSingletonSNMP<VoMessageSNMP>::GetInstance();
    pService->RegisterInterface(VO_APP_UI, &ui);

    EXPECT_EQ(4, send({0x14, 0x01, 0x21}));  // another source: no notification
    EXPECT_EQ(2, send({0x14}));              // no data byte to look at
    EXPECT_EQ(4, send({0x14, 0x01, 0x60}));
    // A marker after it: had the first two notified, they would arrive before it.
    pService->SendMessage(VO_APP_MAIN, VO_APP_UI, VO_MSG_UI_SHOW, 0, nullptr, 0);
    ASSERT_TRUE(ui.waitFor(2));
    pService->UnregisterInterface(VO_APP_UI);

    const auto messages = ui.messages();
    ASSERT_EQ(2u, messages.size());
    EXPECT_EQ(VO_MSG_SET_AUTO_RUN, messages[0].eMessageID);
    EXPECT_EQ(0, messages[0].nSrcApp);
    EXPECT_EQ(VO_APP_UI, messages[0].nDstApp);
    EXPECT_EQ(0, messages[0].lParam);
    EXPECT_EQ(nullptr, messages[0].pData);
    EXPECT_EQ(0u, messages[0].nDataSize);
    EXPECT_EQ(VO_MSG_UI_SHOW, messages[1].eMessageID);

    // The command itself is posted as usual, unchanged.
    const auto events = protocol.events();
    ASSERT_EQ(3u, events.size());
    EXPECT_EQ(bytes({0x14, 0x05, 0x01, 0x21}), events[0].payload);
    EXPECT_EQ(bytes({0x14, 0x05}), events[1].payload);
    EXPECT_EQ(bytes({0x14, 0x05, 0x01, 0x60}), events[2].payload);
}

TEST_F(TransportTest, ReplyEventBecomesAnEngineReplyFrame)
{
    auto& rx = recordReplies();
    memset(bufferSource, 0xCC, sizeof bufferSource);
    PTEvent ev = replyEvent(bytes({0xFF, 0x05, 0x03, 0x41, 0x11, 0x01}));
    EXPECT_EQ(1, m_pTransport->ProcEvent(&ev));  // takes and frees the payload
    ASSERT_EQ(1u, rx.m_frames.size());
    EXPECT_EQ(bytes({0xFF, 0x03, 0x41, 0x11, 0x01, 0x55}), rx.m_frames[0]);
    EXPECT_EQ(0, memcmp(bufferSource, rx.m_frames[0].data(), 6));
    EXPECT_EQ(0xCC, bufferSource[6]);

    // 0x2809 is a reply too.
    ev = replyEvent(bytes({0xFF, 0x01, 0x02, 0x4E, 0x11}), kVoEventRIXReplyAlt);
    EXPECT_EQ(1, m_pTransport->ProcEvent(&ev));
    ASSERT_EQ(2u, rx.m_frames.size());
    EXPECT_EQ(bytes({0xFF, 0x02, 0x4E, 0x11, 0x60}), rx.m_frames[1]);
}

TEST_F(TransportTest, ReplyEventsThatCarryNoReply)
{
    auto& rx = recordReplies();
    EXPECT_EQ(0, m_pTransport->ProcEvent(nullptr));

    // Another event type is not ours: its payload is left alone.
    PTEvent other = replyEvent(bytes({0xFF, 0x05, 0x03, 0x41, 0x11, 0x01}), 0x2807);
    EXPECT_EQ(0, m_pTransport->ProcEvent(&other));
    delete[] static_cast<unsigned char*>(other.pData);

    PTEvent noData;
    noData.nEventType = kVoEventRIXReply;
    EXPECT_EQ(1, m_pTransport->ProcEvent(&noData));

    PTEvent empty = replyEvent({});
    EXPECT_EQ(1, m_pTransport->ProcEvent(&empty));

    PTEvent unmarked = replyEvent(bytes({0xFE, 0x05, 0x03, 0x41, 0x11, 0x01}));
    EXPECT_EQ(1, m_pTransport->ProcEvent(&unmarked));

    // Too short, too long, and a size that reads negative as 16 bits.
    PTEvent shortOne = replyEvent(bytes({0xFF, 0x05, 0x01}));
    EXPECT_EQ(1, m_pTransport->ProcEvent(&shortOne));
    std::vector<uint8_t> tooLong(1022, 0x00);
    tooLong[0] = 0xFF;
    PTEvent longOne = replyEvent(tooLong);
    EXPECT_EQ(1, m_pTransport->ProcEvent(&longOne));
    std::vector<uint8_t> negative(0x8001, 0x00);
    negative[0] = 0xFF;
    PTEvent negativeOne = replyEvent(negative);
    EXPECT_EQ(1, m_pTransport->ProcEvent(&negativeOne));

    EXPECT_TRUE(rx.m_frames.empty());
}

TEST_F(TransportTest, ReplySizeBounds)
{
    auto& rx = recordReplies();
    // Four bytes: the smallest payload taken on.
    m_pTransport->processAckRIX(bytes({0xFF, 0x00, 0x02, 0x41}).data(), 4);
    ASSERT_EQ(1u, rx.m_frames.size());
    EXPECT_EQ(bytes({0xFF, 0x02, 0x41, 0x42}), rx.m_frames[0]);

    std::vector<uint8_t> largest(1021, 0x01);
    largest[0] = 0xFF;
    largest[2] = 0xFF;
    m_pTransport->processAckRIX(largest.data(), 1021);
    ASSERT_EQ(2u, rx.m_frames.size());
    ASSERT_EQ(1021u, rx.m_frames[1].size());
    std::vector<uint8_t> head(rx.m_frames[1].begin(), rx.m_frames[1].end() - 1);
    EXPECT_EQ(sum(head), rx.m_frames[1].back());
    EXPECT_EQ(0, memcmp(bufferSource, rx.m_frames[1].data(), 1021));

    m_pTransport->processAckRIX(nullptr, 10);
    m_pTransport->processAckRIX(largest.data(), 3);
    largest.push_back(0);
    m_pTransport->processAckRIX(largest.data(), 1022);
    EXPECT_EQ(2u, rx.m_frames.size());
}

TEST_F(TransportTest, ClockCorrectionOnTheWayIn)
{
    auto& rx = recordReplies();
    const auto clock = [](int ack, int second) {
        return bytes({0xFF, 0x00, 0x09, ack, 0xA7, 0x17, second, 0x03, 0x0A, 0x05, 0x01, 0x02});
    };
    m_pTransport->processAckRIX(clock(0x41, 0x00).data(), 12);
    m_pTransport->processAckRIX(clock(0x4E, 0x00).data(), 12);
    m_pTransport->processAckRIX(clock(0x41, 0x07).data(), 12);
    // L other than 9: not the clock reply the correction is for.
    m_pTransport->processAckRIX(bytes({0xFF, 0x00, 0x04, 0x41, 0xA7, 0x17, 0x00}).data(), 7);

    ASSERT_EQ(4u, rx.m_frames.size());
    auto expected = bytes({0xFF, 0x09, 0x41, 0xA7, 0x17, 0x0C, 0x03, 0x0A, 0x05, 0x01, 0x02});
    expected.push_back(sum(expected));  // computed over the corrected value
    EXPECT_EQ(expected, rx.m_frames[0]);
    EXPECT_EQ(0x00, rx.m_frames[1][5]);
    EXPECT_EQ(0x07, rx.m_frames[2][5]);
    EXPECT_EQ(bytes({0xFF, 0x04, 0x41, 0xA7, 0x17, 0x00, 0x00}).size(), rx.m_frames[3].size());
    EXPECT_EQ(0x00, rx.m_frames[3][5]);
    for (const auto& frame : rx.m_frames) {
        std::vector<uint8_t> head(frame.begin(), frame.end() - 1);
        EXPECT_EQ(sum(head), frame.back());
    }
}

TEST_F(TransportTest, SafetyScreenCorrectionOnTheWayIn)
{
    auto& rx = recordReplies();
    const auto safety = [](int ack, int v1, int v2, int v3) {
        return bytes({0xFF, 0x00, 0x05, ack, 0x5B, v1, v2, v3});
    };
    m_pTransport->processAckRIX(safety(0x41, 0x02, 0x00, 0x03).data(), 8);
    m_pTransport->processAckRIX(safety(0x41, 0x02, 0x01, 0x00).data(), 8);
    m_pTransport->processAckRIX(safety(0x41, 0x02, 0x01, 0x03).data(), 8);
    m_pTransport->processAckRIX(safety(0x4E, 0x02, 0x00, 0x00).data(), 8);
    ASSERT_EQ(4u, rx.m_frames.size());
    auto expected = bytes({0xFF, 0x05, 0x41, 0x5B, 0x00, 0x00, 0x03});
    expected.push_back(sum(expected));
    EXPECT_EQ(expected, rx.m_frames[0]);
    EXPECT_EQ(0x00, rx.m_frames[1][4]);
    EXPECT_EQ(0x02, rx.m_frames[2][4]);
    EXPECT_EQ(0x02, rx.m_frames[3][4]);
}

TEST_F(TransportTest, ReceiversAreOfferedTheFrameInOrder)
{
    RecordingReceiver a(-1), b(3), c(0), d(0);
    m_pTransport->m_ReceiverList.clear();
    unsigned char frame[] = {0xFF, 0x02, 0x41, 0x11, 0x53};
    unsigned int len = sizeof frame;
    EXPECT_EQ(0, m_pTransport->ProcReceiver(frame, len));  // nobody

    m_pTransport->AddReceiver(&a);
    m_pTransport->AddReceiver(&b);
    EXPECT_EQ(0, m_pTransport->ProcReceiver(frame, len));  // nobody answered 0, 1 or 2
    m_pTransport->AddReceiver(&c);
    m_pTransport->AddReceiver(&d);
    EXPECT_EQ(1, m_pTransport->ProcReceiver(frame, len));
    EXPECT_EQ(2u, a.m_frames.size());
    EXPECT_EQ(2u, b.m_frames.size());
    EXPECT_EQ(1u, c.m_frames.size());
    EXPECT_TRUE(d.m_frames.empty());

    c.m_result = 1;
    EXPECT_EQ(1, m_pTransport->ProcReceiver(frame, len));
    c.m_result = 2;
    EXPECT_EQ(0, m_pTransport->ProcReceiver(frame, len));
    EXPECT_TRUE(d.m_frames.empty());
}

TEST_F(TransportTest, NullReceiverIsIgnored)
{
    m_pTransport->m_ReceiverList.clear();
    m_pTransport->AddReceiver(nullptr);
    EXPECT_TRUE(m_pTransport->m_ReceiverList.empty());

    // A reply still reaches the receivers registered after it.
    m_receiver.m_result = 0;
    m_pTransport->AddReceiver(&m_receiver);
    PTEvent ev = replyEvent(bytes({0xFF, 0x05, 0x03, 0x41, 0x11, 0x01}));
    EXPECT_EQ(1, m_pTransport->ProcEvent(&ev));
    EXPECT_EQ(1u, m_receiver.m_frames.size());
}

TEST_F(TransportTest, ReplyReachesTheCommandApi)
{
    VoRIXSNMPApi* pApi = VoSingletonSNMP<VoRIXSNMPApi>::m_pObject;
    // A reply one byte longer than L + 3 is taken when that byte is the right checksum.
    auto longer = bytes({0xFF, 0x05, 0x04, 0x41, 0x12, 0x07, 0x2A});
    longer.push_back(static_cast<uint8_t>(0xFF + 0x04 + 0x41 + 0x12 + 0x07 + 0x2A));
    PTEvent ev = replyEvent(longer);
    m_pTransport->ProcEvent(&ev);
    PTEvent plain = replyEvent(bytes({0xFF, 0x05, 0x03, 0x41, 0x11, 0x01}));
    m_pTransport->ProcEvent(&plain);
    auto wrong = longer;
    wrong.back() ^= 1;
    PTEvent bad = replyEvent(wrong);
    m_pTransport->ProcEvent(&bad);

    for (auto [cmd, value] : {std::pair<uint8_t, uint8_t>{0x11, 0x01}, {0x12, 0x07}}) {
        nsVoRIXSNMP::_stVoRIXData* pReply = pApi->PopRIXData(cmd, 100);
        ASSERT_NE(nullptr, pReply);
        EXPECT_EQ(0x41, pReply->nAck);
        ASSERT_GE(pReply->nSize, 1u);
        EXPECT_EQ(value, pReply->pData[0]);
        delete[] pReply->pData;
        delete pReply;
    }
    EXPECT_EQ(nullptr, pApi->PopRIXData(0x12, 100));  // the wrong checksum was dropped
}

TEST_F(TransportTest, ReleaseDetachesFromTheCommandApi)
{
    VoRIXSNMPApi* pApi = VoSingletonSNMP<VoRIXSNMPApi>::m_pObject;
    m_pTransport->Release();
    m_pTransport = nullptr;
    EXPECT_EQ(nullptr, pApi->m_pSender);

    // A late request fails at once.
    const uint32_t start = kw::host::Clock::now();
    unsigned char value = 0x77;
    EXPECT_EQ(0, pApi->PowerControl(RIX_GET, &value));
    EXPECT_EQ(0x77, value);
    EXPECT_EQ(start, kw::host::Clock::now());
}

TEST_F(TransportTest, ReleaseLeavesAnotherSenderAttached)
{
    struct OtherSender : VoPacketSenderInterfaceSNMP {
        int Send(const unsigned char*, unsigned int len) override { return static_cast<int>(len); }
    } other;
    VoRIXSNMPApi* pApi = VoSingletonSNMP<VoRIXSNMPApi>::m_pObject;
    pApi->m_pSender = &other;
    m_pTransport->Release();
    m_pTransport = nullptr;
    EXPECT_EQ(&other, pApi->m_pSender);
    pApi->m_pSender = nullptr;
}

// The detach waits for a transaction in flight: while one holds the transaction lock, the
// sender stays attached.
TEST_F(TransportTest, ReleaseWaitsForTheTransactionLock)
{
    VoRIXSNMPApi* pApi = VoSingletonSNMP<VoRIXSNMPApi>::m_pObject;
    VoPacketSenderInterfaceSNMP* const pSender = pApi->m_pSender;
    std::atomic<bool> released{false};
    pApi->m_Lock.Lock();
    std::thread teardown([&] {
        m_pTransport->Release();
        released = true;
    });
    // Give a release that ignored the lock the chance to show.
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_FALSE(released);
    EXPECT_EQ(pSender, pApi->m_pSender);
    pApi->m_Lock.Unlock();
    teardown.join();
    m_pTransport = nullptr;
    EXPECT_TRUE(released);
    EXPECT_EQ(nullptr, pApi->m_pSender);
}

}  // namespace
