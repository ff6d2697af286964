// The message service: queueing, dispatch order, broadcast, subscriptions, synchronous
// delivery, the trace names and the service thread's lifecycle.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "host/framework/Clock.h"
#include "runtime/VoMessageSNMP.h"
#include "runtime/VoUtilSNMP.h"

using namespace nsVoMessageDefSNMP;

namespace {

constexpr auto kDeliveryTimeout = std::chrono::seconds(10);

struct Delivery {
    int nHandler;  // application id the handler was registered under
    eVoMessageID eMessageID;
    long lParam;
    bool bHasData;
    std::vector<unsigned char> data;
    unsigned int nDataSize;
    int nSrcApp;
    int nDstApp;
};

// Every handler of a test writes into one shared, ordered log.
class DeliveryLog {
public:
    void add(Delivery d)
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_deliveries.push_back(std::move(d));
        m_changed.notify_all();
    }
    bool waitFor(size_t count)
    {
        std::unique_lock<std::mutex> lock(m_mutex);
        return m_changed.wait_for(lock, kDeliveryTimeout,
                                  [&] { return m_deliveries.size() >= count; });
    }
    template <class Pred>
    bool waitUntil(Pred pred)
    {
        std::unique_lock<std::mutex> lock(m_mutex);
        return m_changed.wait_for(lock, kDeliveryTimeout, [&] {
            for (const auto& d : m_deliveries) {
                if (pred(d)) {
                    return true;
                }
            }
            return false;
        });
    }
    std::vector<Delivery> all()
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_deliveries;
    }

private:
    std::mutex m_mutex;
    std::condition_variable m_changed;
    std::vector<Delivery> m_deliveries;
};

class RecordingHandler : public VoMessageInterfaceSNMP {
public:
    RecordingHandler(int nAppID, DeliveryLog& log, int nResult = 1)
        : m_nAppID(nAppID), m_log(log), m_nResult(nResult)
    {
    }
    int DoProcMessage(const _stVoMessage* pMsg) override
    {
        Delivery d{m_nAppID, pMsg->eMessageID, pMsg->lParam,  pMsg->pData != nullptr,
                   {},       pMsg->nDataSize,  pMsg->nSrcApp, pMsg->nDstApp};
        if (pMsg->pData != nullptr) {
            const auto* p = static_cast<const unsigned char*>(pMsg->pData);
            d.data.assign(p, p + pMsg->nDataSize);
        }
        m_lastData = pMsg->pData;
        m_lastThread = std::this_thread::get_id();
        m_log.add(std::move(d));
        return m_nResult;
    }

    const int m_nAppID;
    DeliveryLog& m_log;
    int m_nResult;
    const void* m_lastData = nullptr;
    std::thread::id m_lastThread;
};

// A service of the test's own, so each test starts from an empty queue and stops its thread.
class MessageServiceTest : public ::testing::Test {
protected:
    void SetUp() override { m_pService = new VoMessageSNMP(); }
    void TearDown() override
    {
        if (m_pService != nullptr) {
            m_pService->Destroy();
            delete m_pService;
        }
        m_handlers.clear();
    }

    // Handlers live until the service thread has stopped.
    template <class T, class... Args>
    T& make(Args&&... args)
    {
        m_handlers.push_back(std::make_unique<T>(std::forward<Args>(args)...));
        return static_cast<T&>(*m_handlers.back());
    }

    // Sends a probe to app and waits for it: every message sent before it has been handled.
    void settle(int nApp, DeliveryLog& log)
    {
        const long nProbe = --m_nLastProbe;
        ASSERT_EQ(1, m_pService->SendMessage(0, nApp, VO_MSG_STOP_APP, nProbe, nullptr, 0));
        ASSERT_TRUE(log.waitUntil([&](const Delivery& d) {
            return d.eMessageID == VO_MSG_STOP_APP && d.lParam == nProbe;
        }));
    }

    kw::host::VirtualClockScope m_clock;
    DeliveryLog m_log;
    VoMessageSNMP* m_pService = nullptr;
    long m_nLastProbe = -1000;
    std::vector<std::unique_ptr<VoMessageInterfaceSNMP>> m_handlers;
};

TEST_F(MessageServiceTest, DeliversInOrderWithPayloadCopies)
{
    auto& ui = make<RecordingHandler>(VO_APP_UI, m_log);
    ASSERT_EQ(1, m_pService->RegisterInterface(VO_APP_UI, &ui));

    unsigned char buffer[3] = {1, 2, 3};
    _stVoMessage msg{VO_MSG_NEW_SCHEDULE, 7, buffer, sizeof buffer, VO_APP_MAIN, VO_APP_UI};
    EXPECT_EQ(1, m_pService->SendMessage(&msg));
    // The sender may reuse its record and payload as soon as the call returns.
    memset(buffer, 0xEE, sizeof buffer);
    msg.eMessageID = VO_MSG_NEW_TICKER;
    msg.lParam = 8;
    EXPECT_EQ(1, m_pService->SendMessage(&msg));
    EXPECT_EQ(1, m_pService->SendMessage(VO_APP_PLAYER, VO_APP_UI, VO_MSG_UI_SHOW, -9, buffer, 0));
    EXPECT_EQ(1, m_pService->SendMessage(VO_APP_PLAYER, VO_APP_UI, VO_MSG_UI_HIDE, 0, nullptr, 5));
    EXPECT_EQ(0, m_pService->SendMessage(nullptr));

    ASSERT_TRUE(m_log.waitFor(4));
    const auto got = m_log.all();
    ASSERT_EQ(4u, got.size());
    EXPECT_EQ(VO_MSG_NEW_SCHEDULE, got[0].eMessageID);
    EXPECT_EQ(7, got[0].lParam);
    EXPECT_EQ((std::vector<unsigned char>{1, 2, 3}), got[0].data);
    EXPECT_EQ(VO_APP_MAIN, got[0].nSrcApp);
    EXPECT_EQ(VO_APP_UI, got[0].nDstApp);
    EXPECT_EQ(VO_MSG_NEW_TICKER, got[1].eMessageID);
    EXPECT_EQ((std::vector<unsigned char>{0xEE, 0xEE, 0xEE}), got[1].data);
    // A payload pointer with size 0 is not queued; a size without a payload is kept.
    EXPECT_EQ(VO_MSG_UI_SHOW, got[2].eMessageID);
    EXPECT_FALSE(got[2].bHasData);
    EXPECT_EQ(0u, got[2].nDataSize);
    EXPECT_EQ(-9, got[2].lParam);
    EXPECT_EQ(VO_MSG_UI_HIDE, got[3].eMessageID);
    EXPECT_FALSE(got[3].bHasData);
    EXPECT_EQ(5u, got[3].nDataSize);
    // The handler was given the service's copy, not the sender's buffer.
    EXPECT_NE(static_cast<const void*>(buffer), ui.m_lastData);
}

TEST_F(MessageServiceTest, BroadcastReachesEveryHandlerOnceInAscendingOrder)
{
    auto& wsrm = make<RecordingHandler>(VO_APP_WSRM, m_log);
    auto& main = make<RecordingHandler>(VO_APP_MAIN, m_log);
    auto& ui = make<RecordingHandler>(VO_APP_UI, m_log);
    m_pService->RegisterInterface(VO_APP_WSRM, &wsrm);
    m_pService->RegisterInterface(VO_APP_MAIN, &main);
    m_pService->RegisterInterface(VO_APP_UI, &ui);
    EXPECT_EQ(0, m_pService->RegisterInterface(ALL_APP, &ui));
    EXPECT_EQ(0, m_pService->RegisterInterface(VO_APP_SERIAL, nullptr));

    EXPECT_EQ(1, m_pService->SendMessage(1, ALL_APP, VO_MSG_SYSTEM_RESTART, 0, "abc", 3));
    ASSERT_TRUE(m_log.waitFor(3));
    settle(VO_APP_MAIN, m_log);
    const auto got = m_log.all();
    ASSERT_EQ(4u, got.size());
    EXPECT_EQ(VO_APP_MAIN, got[0].nHandler);
    EXPECT_EQ(VO_APP_UI, got[1].nHandler);
    EXPECT_EQ(VO_APP_WSRM, got[2].nHandler);
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(VO_MSG_SYSTEM_RESTART, got[i].eMessageID);
        EXPECT_EQ((std::vector<unsigned char>{'a', 'b', 'c'}), got[i].data);
    }

    // With nobody registered a broadcast is dropped and freed.
    for (int app : {VO_APP_MAIN, VO_APP_UI, VO_APP_WSRM}) {
        EXPECT_EQ(1, m_pService->UnregisterInterface(app));
    }
    EXPECT_EQ(1, m_pService->SendMessage(1, ALL_APP, VO_MSG_SYSTEM_RESTART, 0, "abc", 3));
}

TEST_F(MessageServiceTest, SubscriptionAddsASecondDelivery)
{
    auto& ui = make<RecordingHandler>(VO_APP_UI, m_log);
    auto& player = make<RecordingHandler>(VO_APP_PLAYER, m_log);
    m_pService->RegisterInterface(VO_APP_UI, &ui);
    m_pService->RegisterInterface(VO_APP_PLAYER, &player);

    // Subscriptions are read at dispatch time, so each step is settled before the next.
    // Target and subscriber are the same handler: it receives the message twice.
    EXPECT_EQ(1, m_pService->RegisterMessageApp(VO_MSG_KEY_EVENT, VO_APP_UI));
    m_pService->SendMessage(0, VO_APP_UI, VO_MSG_KEY_EVENT, 1, nullptr, 0);
    settle(VO_APP_UI, m_log);
    // Another subscriber receives it after the target.
    EXPECT_EQ(1, m_pService->RegisterMessageApp(VO_MSG_KEY_EVENT, VO_APP_PLAYER));
    m_pService->SendMessage(0, VO_APP_UI, VO_MSG_KEY_EVENT, 2, nullptr, 0);
    // A broadcast also goes to the subscriber once more.
    m_pService->SendMessage(0, ALL_APP, VO_MSG_KEY_EVENT, 3, nullptr, 0);
    settle(VO_APP_UI, m_log);
    // A subscriber without a handler and a target without one: dropped silently.
    m_pService->RegisterMessageApp(VO_MSG_KEY_EVENT, VO_APP_SERIAL);
    m_pService->SendMessage(0, VO_APP_DTVSOURCE, VO_MSG_KEY_EVENT, 4, nullptr, 0);
    settle(VO_APP_UI, m_log);
    EXPECT_EQ(1, m_pService->UnregisterMessageApp(VO_MSG_KEY_EVENT));
    EXPECT_EQ(0, m_pService->UnregisterMessageApp(VO_MSG_KEY_EVENT));
    m_pService->SendMessage(0, VO_APP_UI, VO_MSG_KEY_EVENT, 5, nullptr, 0);
    settle(VO_APP_UI, m_log);

    std::vector<std::pair<int, long>> seen;
    for (const auto& d : m_log.all()) {
        if (d.eMessageID == VO_MSG_KEY_EVENT) {
            seen.emplace_back(d.nHandler, d.lParam);
        }
    }
    const std::vector<std::pair<int, long>> expected = {
        {VO_APP_UI, 1},     {VO_APP_UI, 1}, {VO_APP_UI, 2},     {VO_APP_PLAYER, 2},
        {VO_APP_PLAYER, 3}, {VO_APP_UI, 3}, {VO_APP_PLAYER, 3}, {VO_APP_UI, 5}};
    EXPECT_EQ(expected, seen);
}

TEST_F(MessageServiceTest, GetMessageNeedsBit27AndARegisteredTarget)
{
    auto& ui = make<RecordingHandler>(VO_APP_UI, m_log, 42);
    m_pService->RegisterInterface(VO_APP_UI, &ui);
    m_pService->RegisterMessageApp(static_cast<eVoMessageID>(0x08000001), VO_APP_UI);

    const unsigned char payload[2] = {9, 8};
    EXPECT_EQ(0, m_pService->GetMessage(0, VO_APP_UI, VO_MSG_SET_AUTO_RUN, 0, payload, 2));
    EXPECT_TRUE(m_log.all().empty());

    const auto syncID = static_cast<eVoMessageID>(0x08000000 | VO_MSG_SET_AUTO_RUN);
    EXPECT_EQ(42, m_pService->GetMessage(3, VO_APP_UI, syncID, 6, payload, 2));
    ASSERT_EQ(1u, m_log.all().size());
    // Delivered at once in the caller's thread, with the caller's own payload.
    EXPECT_EQ(std::this_thread::get_id(), ui.m_lastThread);
    EXPECT_EQ(static_cast<const void*>(payload), ui.m_lastData);
    const Delivery d = m_log.all()[0];
    EXPECT_EQ(syncID, d.eMessageID);
    EXPECT_EQ(6, d.lParam);
    EXPECT_EQ(3, d.nSrcApp);

    // Neither a broadcast nor a subscription reaches anyone this way.
    EXPECT_EQ(0, m_pService->GetMessage(0, ALL_APP, syncID, 0, nullptr, 0));
    EXPECT_EQ(0, m_pService->GetMessage(0, VO_APP_PLAYER, static_cast<eVoMessageID>(0x08000001), 0,
                                        nullptr, 0));
    EXPECT_EQ(1u, m_log.all().size());
}

// A handler that calls back into the service from GetMessage re-enters the recursive lock.
TEST_F(MessageServiceTest, GetMessageHandlerMaySendWhileHoldingTheLock)
{
    struct Resender : VoMessageInterfaceSNMP {
        VoMessageSNMP* pService = nullptr;
        int DoProcMessage(const _stVoMessage*) override
        {
            return pService->SendMessage(0, VO_APP_UI, VO_MSG_UI_SHOW, 11, nullptr, 0) + 1;
        }
    };
    auto& resender = make<Resender>();
    resender.pService = m_pService;
    auto& ui = make<RecordingHandler>(VO_APP_UI, m_log);
    m_pService->RegisterInterface(VO_APP_AGENT, &resender);
    m_pService->RegisterInterface(VO_APP_UI, &ui);
    EXPECT_EQ(2, m_pService->GetMessage(0, VO_APP_AGENT, static_cast<eVoMessageID>(0x08000000), 0,
                                        nullptr, 0));
    ASSERT_TRUE(m_log.waitFor(1));
    EXPECT_EQ(11, m_log.all()[0].lParam);
}

TEST(MessageInterfaceTest, ProcMessageChainsPreAndDo)
{
    struct Handler : VoMessageInterfaceSNMP {
        int nPre = 0;
        int nDoCalls = 0;
        int PreProcMessage(const _stVoMessage*) override { return nPre; }
        int DoProcMessage(const _stVoMessage*) override
        {
            ++nDoCalls;
            return 77;
        }
    } handler;
    _stVoMessage msg{VO_MSG_RUN_APP, 0, nullptr, 0, 0, VO_APP_UI};
    EXPECT_EQ(0, handler.ProcMessage(nullptr));
    EXPECT_EQ(0, handler.nDoCalls);
    EXPECT_EQ(77, handler.ProcMessage(&msg));
    EXPECT_EQ(1, handler.nDoCalls);
    handler.nPre = 5;
    EXPECT_EQ(1, handler.ProcMessage(&msg));
    EXPECT_EQ(1, handler.nDoCalls);
}

TEST_F(MessageServiceTest, HandlersMaySendDuringTheDrain)
{
    struct Chainer : VoMessageInterfaceSNMP {
        VoMessageSNMP* pService = nullptr;
        DeliveryLog* pLog = nullptr;
        int DoProcMessage(const _stVoMessage* pMsg) override
        {
            pLog->add({VO_APP_AGENT, pMsg->eMessageID, pMsg->lParam, false, {}, 0, 0, 0});
            if (pMsg->lParam < 5) {
                pService->SendMessage(0, VO_APP_AGENT, VO_MSG_RUN_APP, pMsg->lParam + 1, nullptr,
                                      0);
            }
            return 1;
        }
    };
    auto& chainer = make<Chainer>();
    chainer.pService = m_pService;
    chainer.pLog = &m_log;
    m_pService->RegisterInterface(VO_APP_AGENT, &chainer);
    m_pService->SendMessage(0, VO_APP_AGENT, VO_MSG_RUN_APP, 0, nullptr, 0);
    ASSERT_TRUE(m_log.waitFor(6));
    const auto got = m_log.all();
    for (long i = 0; i < 6; ++i) {
        EXPECT_EQ(i, got[i].lParam);
    }
}

// Each message is sent just after the previous one was handled, so sends keep landing while
// the service thread finishes its pass: around the last look at the queue and the re-arm.
// A lost wake-up would leave a message waiting and time the test out.
TEST_F(MessageServiceTest, MessageSentAfterTheLastLookIsNotStranded)
{
    auto& ui = make<RecordingHandler>(VO_APP_UI, m_log);
    m_pService->RegisterInterface(VO_APP_UI, &ui);
    constexpr int kRounds = 500;
    for (int i = 0; i < kRounds; ++i) {
        m_pService->SendMessage(0, VO_APP_UI, VO_MSG_UI_SHOW, i, nullptr, 0);
        ASSERT_TRUE(m_log.waitFor(static_cast<size_t>(i) + 1)) << "stranded at " << i;
    }
}

TEST_F(MessageServiceTest, DestroyStopsAWaitingThreadAndDestructionFreesTheQueue)
{
    auto& ui = make<RecordingHandler>(VO_APP_UI, m_log);
    m_pService->RegisterInterface(VO_APP_UI, &ui);
    settle(VO_APP_UI, m_log);  // the thread is back waiting on an empty queue
    m_pService->Destroy();

    // No thread any more: these stay queued, and the destructor frees them with their payloads.
    unsigned char payload[64] = {};
    m_pService->SendMessage(0, VO_APP_UI, VO_MSG_UI_SHOW, 0, payload, sizeof payload);
    m_pService->SendMessage(0, ALL_APP, VO_MSG_UI_HIDE, 0, payload, 1);
    ASSERT_NE(nullptr, m_pService->GetFrontMesage());
    EXPECT_EQ(VO_MSG_UI_SHOW, m_pService->GetFrontMesage()->eMessageID);
    delete m_pService;
    m_pService = nullptr;
    EXPECT_EQ(1u, m_log.all().size());
}

TEST_F(MessageServiceTest, FrontMessageAccessors)
{
    m_pService->Destroy();  // nobody else takes messages out
    EXPECT_EQ(nullptr, m_pService->GetFrontMesage());
    EXPECT_EQ(0, m_pService->DelFrontMessage());
    m_pService->SendMessage(1, 2, VO_MSG_SWUPDATE, 0, "x", 1);
    m_pService->SendMessage(1, 2, VO_MSG_REMOVE_USB, 0, nullptr, 0);
    EXPECT_EQ(VO_MSG_SWUPDATE, m_pService->GetFrontMesage()->eMessageID);
    EXPECT_EQ(1, m_pService->DelFrontMessage());
    EXPECT_EQ(VO_MSG_REMOVE_USB, m_pService->GetFrontMesage()->eMessageID);
    EXPECT_EQ(1, m_pService->DelFrontMessage());
    EXPECT_EQ(0, m_pService->DelFrontMessage());
}

TEST(MessageServiceLifecycleTest, DestructorStopsAThreadLeftRunning)
{
    kw::host::VirtualClockScope clock;
    auto* pService = new VoMessageSNMP();
    pService->SendMessage(0, VO_APP_UI, VO_MSG_UI_SHOW, 0, "abc", 3);
    delete pService;  // without Destroy first
}

TEST_F(MessageServiceTest, UnregisterWaitsForARunningHandler)
{
    struct Slow : VoMessageInterfaceSNMP {
        std::atomic<bool> bEntered{false};
        std::atomic<bool> bFinished{false};
        int DoProcMessage(const _stVoMessage*) override
        {
            bEntered = true;
            // Long enough for an unregistration that does not wait to return first.
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
            bFinished = true;
            return 1;
        }
    };
    auto& slow = make<Slow>();
    m_pService->RegisterInterface(VO_APP_KEYEVENT, &slow);
    m_pService->SendMessage(0, VO_APP_KEYEVENT, VO_MSG_KEY_EVENT, 0, nullptr, 0);
    while (!slow.bEntered) {
        std::this_thread::yield();
    }
    EXPECT_EQ(1, m_pService->UnregisterInterface(VO_APP_KEYEVENT));
    EXPECT_TRUE(slow.bFinished);
    EXPECT_EQ(0, m_pService->UnregisterInterface(VO_APP_KEYEVENT));
}

TEST_F(MessageServiceTest, HandlerMayRemoveItselfAndOthers)
{
    struct Remover : VoMessageInterfaceSNMP {
        VoMessageSNMP* pService = nullptr;
        DeliveryLog* pLog = nullptr;
        int DoProcMessage(const _stVoMessage* pMsg) override
        {
            pLog->add({VO_APP_MAIN, pMsg->eMessageID, pMsg->lParam, false, {}, 0, 0, 0});
            pService->UnregisterInterface(VO_APP_MAIN);
            pService->UnregisterInterface(VO_APP_UI);
            return 1;
        }
    };
    auto& remover = make<Remover>();
    remover.pService = m_pService;
    remover.pLog = &m_log;
    auto& ui = make<RecordingHandler>(VO_APP_UI, m_log);
    auto& wsrm = make<RecordingHandler>(VO_APP_WSRM, m_log);
    m_pService->RegisterInterface(VO_APP_MAIN, &remover);
    m_pService->RegisterInterface(VO_APP_UI, &ui);
    m_pService->RegisterInterface(VO_APP_WSRM, &wsrm);
    // The broadcast looked UI up before the removal, yet UI is not called after it.
    m_pService->SendMessage(0, ALL_APP, VO_MSG_UI_SHOW, 0, nullptr, 0);
    settle(VO_APP_WSRM, m_log);
    const auto got = m_log.all();
    ASSERT_EQ(3u, got.size());
    EXPECT_EQ(VO_APP_MAIN, got[0].nHandler);
    EXPECT_EQ(VO_APP_WSRM, got[1].nHandler);
    EXPECT_EQ(VO_APP_WSRM, got[2].nHandler);
}

TEST(MessageTraceTest, NamesAsTheTraceFormsThem)
{
    char dst[VoMessageSNMP::kTraceNameSize];
    char src[VoMessageSNMP::kTraceNameSize];
    char name[VoMessageSNMP::kTraceNameSize];
    _stVoMessage msg{VO_MSG_SET_AUTO_RUN, 0, nullptr, 0, 0, VO_APP_UI};
    VoMessageSNMP::FormTraceNames(&msg, dst, src, name);
    EXPECT_STREQ("VO_APP_UI", dst);
    EXPECT_STREQ("Unknown App(0)", src);
    EXPECT_STREQ("VO_MSG_SET_AUTO_RUN", name);

    msg = {static_cast<eVoMessageID>(2028), 0, nullptr, 0, VO_APP_DEVICEEVNET, ALL_APP};
    VoMessageSNMP::FormTraceNames(&msg, dst, src, name);
    EXPECT_STREQ("ALL_APP", dst);
    EXPECT_STREQ("VO_APP_DEVICEEVNET", src);
    EXPECT_STREQ("Unknown Message(2028)", name);

    char byte = 1;
    msg = {VO_MSG_SET_CURRENT_CONTENT_ID, 0, nullptr, 0, VO_SNMP_APP_PLATFORM, -7};
    VoMessageSNMP::FormTraceNames(&msg, dst, src, name);
    EXPECT_STREQ("Unknown App(-7)", dst);
    EXPECT_STREQ("VO_SNMP_APP_PLATFORM", src);
    EXPECT_STREQ("VO_MSG_SET_CURRENT_CONTENT_ID_NULL", name);
    msg.pData = &byte;
    VoMessageSNMP::FormTraceNames(&msg, dst, src, name);
    EXPECT_STREQ("VO_MSG_SET_CURRENT_CONTENT_ID", name);

    // Ids at the edges of both blocks, and the gaps.
    EXPECT_STREQ("VO_MSG_ADD_CONTENT", VoMessageSNMP::GetMessageName(VO_MSG_ADD_CONTENT));
    EXPECT_STREQ("VO_MSG_STOP_APP", VoMessageSNMP::GetMessageName(VO_MSG_STOP_APP));
    for (int id : {999, 1005, 1999, 2034, 2035, 2040, 2044, 2045, 2056, 0x08000000 | 2031}) {
        EXPECT_EQ(nullptr, VoMessageSNMP::GetMessageName(static_cast<eVoMessageID>(id))) << id;
    }
    int named = 0;
    for (int id = 2000; id <= 2055; ++id) {
        named += VoMessageSNMP::GetMessageName(static_cast<eVoMessageID>(id)) != nullptr;
    }
    EXPECT_EQ(50, named);
    EXPECT_STREQ("VO_APP_MAIN", VoMessageSNMP::GetAppName(1000));
    EXPECT_STREQ("VO_APP_WSRM", VoMessageSNMP::GetAppName(1011));
    EXPECT_EQ(nullptr, VoMessageSNMP::GetAppName(1012));

    // The id text is bounded by the buffer and terminated.
    msg = {static_cast<eVoMessageID>(-2147483647 - 1), 0, nullptr, 0, -2147483647 - 1, 0};
    VoMessageSNMP::FormTraceNames(&msg, dst, src, name);
    EXPECT_STREQ("Unknown Message(-2147483648)", name);
    EXPECT_STREQ("Unknown App(-2147483648)", src);
}

TEST_F(MessageServiceTest, TracingOnDeliversUnnamedIdsAndWritesNothing)
{
    auto& unnamed = make<RecordingHandler>(4242, m_log);
    m_pService->RegisterInterface(4242, &unnamed);
    g_bEnableDebugMsgSNMP = true;
    testing::internal::CaptureStdout();
    testing::internal::CaptureStderr();
    m_pService->SendMessage(-3, 4242, static_cast<eVoMessageID>(2028), 0, nullptr, 0);
    m_pService->SendMessage(0, 4242, VO_MSG_SET_CURRENT_CONTENT_ID, 0, nullptr, 0);
    const bool delivered = m_log.waitFor(2);
    _stVoMessage msg{VO_MSG_SIZE, 0, nullptr, 0, 0, 0};
    m_pService->PrintMessage(&msg);
    m_pService->PrintMessage(nullptr);
    const std::string out = testing::internal::GetCapturedStdout();
    const std::string err = testing::internal::GetCapturedStderr();
    g_bEnableDebugMsgSNMP = false;
    EXPECT_TRUE(delivered);
    EXPECT_EQ("", out);
    EXPECT_EQ("", err);
}

}  // namespace
