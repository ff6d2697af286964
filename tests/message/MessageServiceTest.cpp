// The message service: queueing, dispatch order, broadcast, subscriptions, synchronous
// delivery, the trace names and the service thread's lifecycle.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <functional>
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

using Bytes = std::vector<unsigned char>;

struct Delivery {
    int nHandler;  // application id the handler was registered under
    eVoMessageID eMessageID;
    long lParam;
    const void* pData;  // as handed to the handler
    Bytes data;
    unsigned int nDataSize;
    int nSrcApp;
    std::thread::id thread;
};

// Every handler of a test writes into one shared, ordered log.
class DeliveryLog {
public:
    void add(int nHandler, const _stVoMessage* pMsg)
    {
        const auto* p = static_cast<const unsigned char*>(pMsg->pData);
        std::lock_guard<std::mutex> lock(m_mutex);
        m_all.push_back({nHandler, pMsg->eMessageID, pMsg->lParam, pMsg->pData,
                         p != nullptr ? Bytes(p, p + pMsg->nDataSize) : Bytes{}, pMsg->nDataSize,
                         pMsg->nSrcApp, std::this_thread::get_id()});
        m_changed.notify_all();
    }
    bool waitUntil(const std::function<bool(const std::vector<Delivery>&)>& pred)
    {
        std::unique_lock<std::mutex> lock(m_mutex);
        return m_changed.wait_for(lock, std::chrono::seconds(10), [&] { return pred(m_all); });
    }
    bool waitFor(size_t n)
    {
        return waitUntil([n](const std::vector<Delivery>& all) { return all.size() >= n; });
    }
    std::vector<Delivery> all()
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_all;
    }

private:
    std::mutex m_mutex;
    std::condition_variable m_changed;
    std::vector<Delivery> m_all;
};

// Logs every message; an optional action runs after logging, on the delivering thread.
class Handler : public VoMessageInterfaceSNMP {
public:
    Handler(int nAppID, DeliveryLog& log, int nResult = 1)
        : m_nAppID(nAppID), m_log(log), m_nResult(nResult)
    {
    }
    int DoProcMessage(const _stVoMessage* pMsg) override
    {
        m_log.add(m_nAppID, pMsg);
        return m_action ? m_action(pMsg) : m_nResult;
    }
    const int m_nAppID;
    DeliveryLog& m_log;
    int m_nResult;
    std::function<int(const _stVoMessage*)> m_action;
};

// A service of the test's own, so each test starts from an empty queue and stops its thread.
class MessageServiceTest : public ::testing::Test {
protected:
    void TearDown() override
    {
        if (m_pService != nullptr) {
            m_pService->Destroy();
            delete m_pService;
        }
        m_handlers.clear();  // only once the service thread has stopped
    }
    Handler& add(int nAppID, int nResult = 1)
    {
        m_handlers.push_back(std::make_unique<Handler>(nAppID, m_log, nResult));
        EXPECT_EQ(1, m_pService->RegisterInterface(nAppID, m_handlers.back().get()));
        return *m_handlers.back();
    }
    // Sends a probe to app and waits for it: every message sent before it has been handled.
    void settle(int nApp)
    {
        const long nProbe = --m_nLastProbe;
        ASSERT_EQ(1, m_pService->SendMessage(0, nApp, VO_MSG_STOP_APP, nProbe, nullptr, 0));
        ASSERT_TRUE(m_log.waitUntil([&](const std::vector<Delivery>& all) {
            for (const auto& d : all) {
                if (d.eMessageID == VO_MSG_STOP_APP && d.lParam == nProbe) return true;
            }
            return false;
        }));
    }
    // (handler, lParam) of every delivery of id.
    std::vector<std::pair<int, long>> seen(eVoMessageID id)
    {
        std::vector<std::pair<int, long>> out;
        for (const auto& d : m_log.all()) {
            if (d.eMessageID == id) out.emplace_back(d.nHandler, d.lParam);
        }
        return out;
    }

    kw::host::VirtualClockScope m_clock;
    DeliveryLog m_log;
    VoMessageSNMP* m_pService = new VoMessageSNMP();
    long m_nLastProbe = -1000;
    std::vector<std::unique_ptr<Handler>> m_handlers;
};

TEST_F(MessageServiceTest, DeliversInOrderWithPayloadCopies)
{
    add(VO_APP_UI);
    unsigned char buffer[3] = {1, 2, 3};
    _stVoMessage msg{VO_MSG_NEW_SCHEDULE, 7, buffer, sizeof buffer, VO_APP_MAIN, VO_APP_UI};
    EXPECT_EQ(1, m_pService->SendMessage(&msg));
    // The sender may reuse its record and payload as soon as the call returns.
    memset(buffer, 0xEE, sizeof buffer);
    msg.eMessageID = VO_MSG_NEW_TICKER;
    EXPECT_EQ(1, m_pService->SendMessage(&msg));
    EXPECT_EQ(1, m_pService->SendMessage(VO_APP_PLAYER, VO_APP_UI, VO_MSG_UI_SHOW, -9, buffer, 0));
    EXPECT_EQ(1, m_pService->SendMessage(VO_APP_PLAYER, VO_APP_UI, VO_MSG_UI_HIDE, 0, nullptr, 5));
    EXPECT_EQ(0, m_pService->SendMessage(nullptr));

    ASSERT_TRUE(m_log.waitFor(4));
    const auto got = m_log.all();
    ASSERT_EQ(4u, got.size());
    EXPECT_EQ(VO_MSG_NEW_SCHEDULE, got[0].eMessageID);
    EXPECT_EQ(7, got[0].lParam);
    EXPECT_EQ(VO_APP_MAIN, got[0].nSrcApp);
    EXPECT_EQ((Bytes{1, 2, 3}), got[0].data);
    EXPECT_NE(static_cast<const void*>(buffer), got[0].pData) << "the service's own copy";
    EXPECT_EQ(VO_MSG_NEW_TICKER, got[1].eMessageID);
    EXPECT_EQ((Bytes{0xEE, 0xEE, 0xEE}), got[1].data);
    // A payload pointer with size 0 is not queued; a size without a payload is kept.
    EXPECT_EQ(VO_MSG_UI_SHOW, got[2].eMessageID);
    EXPECT_EQ(nullptr, got[2].pData);
    EXPECT_EQ(0u, got[2].nDataSize);
    EXPECT_EQ(-9, got[2].lParam);
    EXPECT_EQ(nullptr, got[3].pData);
    EXPECT_EQ(5u, got[3].nDataSize);
}

TEST_F(MessageServiceTest, BroadcastReachesEveryHandlerOnceInAscendingOrder)
{
    add(VO_APP_WSRM);
    add(VO_APP_MAIN);
    EXPECT_EQ(0, m_pService->RegisterInterface(ALL_APP, &add(VO_APP_UI)));
    EXPECT_EQ(0, m_pService->RegisterInterface(VO_APP_SERIAL, nullptr));
    EXPECT_EQ(1, m_pService->SendMessage(1, ALL_APP, VO_MSG_SYSTEM_RESTART, 0, "abc", 3));
    settle(VO_APP_MAIN);
    const std::vector<std::pair<int, long>> expected{
        {VO_APP_MAIN, 0}, {VO_APP_UI, 0}, {VO_APP_WSRM, 0}};
    EXPECT_EQ(expected, seen(VO_MSG_SYSTEM_RESTART));
    for (const auto& d : m_log.all()) {
        if (d.eMessageID == VO_MSG_SYSTEM_RESTART) {
            EXPECT_EQ((Bytes{'a', 'b', 'c'}), d.data);
        }
    }
    // With nobody registered a broadcast is dropped and freed.
    for (int app : {VO_APP_MAIN, VO_APP_UI, VO_APP_WSRM})
        EXPECT_EQ(1, m_pService->UnregisterInterface(app));
    EXPECT_EQ(0, m_pService->UnregisterInterface(VO_APP_UI));
    EXPECT_EQ(1, m_pService->SendMessage(1, ALL_APP, VO_MSG_SYSTEM_RESTART, 0, "abc", 3));
}

TEST_F(MessageServiceTest, SubscriptionAddsASecondDelivery)
{
    add(VO_APP_UI);
    add(VO_APP_PLAYER);
    // Subscriptions are read at dispatch time, so each step is settled before the next.
    // Target and subscriber are the same handler: it receives the message twice.
    EXPECT_EQ(1, m_pService->RegisterMessageApp(VO_MSG_KEY_EVENT, VO_APP_UI));
    m_pService->SendMessage(0, VO_APP_UI, VO_MSG_KEY_EVENT, 1, nullptr, 0);
    settle(VO_APP_UI);
    // Another subscriber receives it after the target, and once more after a broadcast.
    EXPECT_EQ(1, m_pService->RegisterMessageApp(VO_MSG_KEY_EVENT, VO_APP_PLAYER));
    m_pService->SendMessage(0, VO_APP_UI, VO_MSG_KEY_EVENT, 2, nullptr, 0);
    m_pService->SendMessage(0, ALL_APP, VO_MSG_KEY_EVENT, 3, nullptr, 0);
    settle(VO_APP_UI);
    // A subscriber without a handler and a target without one: dropped silently.
    m_pService->RegisterMessageApp(VO_MSG_KEY_EVENT, VO_APP_SERIAL);
    m_pService->SendMessage(0, VO_APP_DTVSOURCE, VO_MSG_KEY_EVENT, 4, nullptr, 0);
    settle(VO_APP_UI);
    EXPECT_EQ(1, m_pService->UnregisterMessageApp(VO_MSG_KEY_EVENT));
    EXPECT_EQ(0, m_pService->UnregisterMessageApp(VO_MSG_KEY_EVENT));
    m_pService->SendMessage(0, VO_APP_UI, VO_MSG_KEY_EVENT, 5, nullptr, 0);
    settle(VO_APP_UI);

    const std::vector<std::pair<int, long>> expected = {
        {VO_APP_UI, 1},     {VO_APP_UI, 1}, {VO_APP_UI, 2},     {VO_APP_PLAYER, 2},
        {VO_APP_PLAYER, 3}, {VO_APP_UI, 3}, {VO_APP_PLAYER, 3}, {VO_APP_UI, 5}};
    EXPECT_EQ(expected, seen(VO_MSG_KEY_EVENT));
}

// Delivered at once in the caller's thread with the caller's payload; the handler may send
// from there while the service lock is held.
TEST_F(MessageServiceTest, GetMessageNeedsBit27AndARegisteredTarget)
{
    Handler& ui = add(VO_APP_UI, 42);
    add(VO_APP_PLAYER);
    m_pService->RegisterMessageApp(static_cast<eVoMessageID>(0x08000001), VO_APP_UI);
    const unsigned char payload[2] = {9, 8};
    EXPECT_EQ(0, m_pService->GetMessage(0, VO_APP_UI, VO_MSG_SET_AUTO_RUN, 0, payload, 2));
    EXPECT_TRUE(m_log.all().empty());

    const auto syncID = static_cast<eVoMessageID>(0x08000000 | VO_MSG_SET_AUTO_RUN);
    EXPECT_EQ(42, m_pService->GetMessage(3, VO_APP_UI, syncID, 6, payload, 2));
    ASSERT_EQ(1u, m_log.all().size());
    const Delivery d = m_log.all()[0];
    EXPECT_EQ(std::this_thread::get_id(), d.thread);
    EXPECT_EQ(static_cast<const void*>(payload), d.pData);
    EXPECT_EQ(syncID, d.eMessageID);
    EXPECT_EQ(6, d.lParam);
    EXPECT_EQ(3, d.nSrcApp);
    // Neither a broadcast nor a subscription reaches anyone this way.
    EXPECT_EQ(0, m_pService->GetMessage(0, ALL_APP, syncID, 0, nullptr, 0));
    EXPECT_EQ(0, m_pService->GetMessage(0, VO_APP_SERIAL, static_cast<eVoMessageID>(0x08000001), 0,
                                        nullptr, 0));
    EXPECT_EQ(1u, m_log.all().size());

    ui.m_action = [this](const _stVoMessage*) {
        return m_pService->SendMessage(0, VO_APP_PLAYER, VO_MSG_UI_SHOW, 11, nullptr, 0) + 1;
    };
    EXPECT_EQ(2, m_pService->GetMessage(0, VO_APP_UI, syncID, 0, nullptr, 0));
    ASSERT_TRUE(m_log.waitFor(3));
    EXPECT_EQ((std::vector<std::pair<int, long>>{{VO_APP_PLAYER, 11}}), seen(VO_MSG_UI_SHOW));
}

TEST(MessageInterfaceTest, ProcMessageChainsPreAndDo)
{
    struct Chain : VoMessageInterfaceSNMP {
        int nPre = 0, nDoCalls = 0;
        int PreProcMessage(const _stVoMessage*) override { return nPre; }
        int DoProcMessage(const _stVoMessage*) override { return ++nDoCalls, 77; }
    } handler;
    _stVoMessage msg{VO_MSG_RUN_APP, 0, nullptr, 0, 0, VO_APP_UI};
    EXPECT_EQ(0, handler.ProcMessage(nullptr));
    EXPECT_EQ(77, handler.ProcMessage(&msg));
    handler.nPre = 5;
    EXPECT_EQ(1, handler.ProcMessage(&msg));
    EXPECT_EQ(1, handler.nDoCalls);
}

// Handlers may send, and remove themselves and others, while the thread drains the queue.
TEST_F(MessageServiceTest, HandlersMaySendAndUnregisterDuringTheDrain)
{
    Handler& agent = add(VO_APP_AGENT);
    agent.m_action = [this](const _stVoMessage* pMsg) {
        if (pMsg->eMessageID == VO_MSG_RUN_APP && pMsg->lParam < 5)
            m_pService->SendMessage(0, VO_APP_AGENT, VO_MSG_RUN_APP, pMsg->lParam + 1, nullptr, 0);
        return 1;
    };
    m_pService->SendMessage(0, VO_APP_AGENT, VO_MSG_RUN_APP, 0, nullptr, 0);
    ASSERT_TRUE(m_log.waitFor(6));
    for (long i = 0; i < 6; ++i) EXPECT_EQ(i, m_log.all()[i].lParam);

    Handler& main = add(VO_APP_MAIN);
    add(VO_APP_UI);
    add(VO_APP_WSRM);
    main.m_action = [this](const _stVoMessage*) {
        m_pService->UnregisterInterface(VO_APP_MAIN);
        m_pService->UnregisterInterface(VO_APP_UI);
        return 1;
    };
    // The broadcast looked UI up before the removal, yet UI is not called after it.
    m_pService->SendMessage(0, ALL_APP, VO_MSG_UI_SHOW, 0, nullptr, 0);
    settle(VO_APP_WSRM);
    const std::vector<std::pair<int, long>> expected{
        {VO_APP_MAIN, 0}, {VO_APP_AGENT, 0}, {VO_APP_WSRM, 0}};
    EXPECT_EQ(expected, seen(VO_MSG_UI_SHOW));
}

TEST_F(MessageServiceTest, UnregisterWaitsForARunningHandler)
{
    std::atomic<bool> entered{false}, finished{false};
    add(VO_APP_KEYEVENT).m_action = [&](const _stVoMessage*) {
        entered = true;
        // Long enough for an unregistration that does not wait to return first.
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        finished = true;
        return 1;
    };
    m_pService->SendMessage(0, VO_APP_KEYEVENT, VO_MSG_KEY_EVENT, 0, nullptr, 0);
    while (!entered) std::this_thread::yield();
    EXPECT_EQ(1, m_pService->UnregisterInterface(VO_APP_KEYEVENT));
    EXPECT_TRUE(finished);
}

// Each message is sent just after the previous one was handled, so sends keep landing while
// the thread finishes its pass; a lost wake-up strands a message and times the test out.
TEST_F(MessageServiceTest, MessageSentAfterTheLastLookIsNotStranded)
{
    add(VO_APP_UI);
    for (int i = 0; i < 500; ++i) {
        m_pService->SendMessage(0, VO_APP_UI, VO_MSG_UI_SHOW, i, nullptr, 0);
        ASSERT_TRUE(m_log.waitFor(static_cast<size_t>(i) + 1)) << "stranded at " << i;
    }
}

TEST_F(MessageServiceTest, DestroyStopsAWaitingThreadAndDestructionFreesTheQueue)
{
    add(VO_APP_UI);
    settle(VO_APP_UI);  // the thread is back waiting on an empty queue
    m_pService->Destroy();
    EXPECT_EQ(nullptr, m_pService->GetFrontMesage());
    EXPECT_EQ(0, m_pService->DelFrontMessage());

    // No thread any more: these stay queued, and the destructor frees them with their payloads.
    unsigned char payload[64] = {};
    m_pService->SendMessage(0, VO_APP_UI, VO_MSG_UI_SHOW, 0, payload, sizeof payload);
    m_pService->SendMessage(0, ALL_APP, VO_MSG_UI_HIDE, 0, payload, 1);
    m_pService->SendMessage(0, ALL_APP, VO_MSG_REMOVE_USB, 0, nullptr, 0);
    ASSERT_NE(nullptr, m_pService->GetFrontMesage());
    EXPECT_EQ(VO_MSG_UI_SHOW, m_pService->GetFrontMesage()->eMessageID);
    EXPECT_EQ(1, m_pService->DelFrontMessage());
    EXPECT_EQ(VO_MSG_UI_HIDE, m_pService->GetFrontMesage()->eMessageID);
    delete m_pService;
    m_pService = nullptr;
    EXPECT_EQ(1u, m_log.all().size());

    // Deleted without Destroy first: the destructor stops the thread.
    auto* pService = new VoMessageSNMP();
    pService->SendMessage(0, VO_APP_UI, VO_MSG_UI_SHOW, 0, "abc", 3);
    delete pService;
}

TEST(MessageTraceTest, NamesAsTheTraceFormsThem)
{
    char dst[VoMessageSNMP::kTraceNameSize], src[VoMessageSNMP::kTraceNameSize],
        name[VoMessageSNMP::kTraceNameSize];
    const auto form = [&](_stVoMessage msg) {
        VoMessageSNMP::FormTraceNames(&msg, dst, src, name);
        return std::string(dst) + "|" + src + "|" + name;
    };
    char byte = 1;
    EXPECT_EQ("VO_APP_UI|Unknown App(0)|VO_MSG_SET_AUTO_RUN",
              form({VO_MSG_SET_AUTO_RUN, 0, nullptr, 0, 0, VO_APP_UI}));
    EXPECT_EQ("ALL_APP|VO_APP_DEVICEEVNET|Unknown Message(2028)",
              form({static_cast<eVoMessageID>(2028), 0, nullptr, 0, VO_APP_DEVICEEVNET, ALL_APP}));
    EXPECT_EQ("Unknown App(-7)|VO_SNMP_APP_PLATFORM|VO_MSG_SET_CURRENT_CONTENT_ID_NULL",
              form({VO_MSG_SET_CURRENT_CONTENT_ID, 0, nullptr, 0, VO_SNMP_APP_PLATFORM, -7}));
    EXPECT_EQ("Unknown App(-7)|VO_SNMP_APP_PLATFORM|VO_MSG_SET_CURRENT_CONTENT_ID",
              form({VO_MSG_SET_CURRENT_CONTENT_ID, 0, &byte, 0, VO_SNMP_APP_PLATFORM, -7}));
    // The id text is bounded by the buffer and terminated.
    EXPECT_EQ("VO_APP_MAIN|Unknown App(-2147483648)|Unknown Message(-2147483648)",
              form({static_cast<eVoMessageID>(INT32_MIN), 0, nullptr, 0, INT32_MIN, 1000}));

    // Ids at the edges of both blocks, and the gaps.
    EXPECT_STREQ("VO_MSG_ADD_CONTENT", VoMessageSNMP::GetMessageName(VO_MSG_ADD_CONTENT));
    EXPECT_STREQ("VO_MSG_STOP_APP", VoMessageSNMP::GetMessageName(VO_MSG_STOP_APP));
    for (int id : {999, 1005, 1999, 2034, 2035, 2040, 2044, 2045, 2056, 0x08000000 | 2031}) {
        EXPECT_EQ(nullptr, VoMessageSNMP::GetMessageName(static_cast<eVoMessageID>(id))) << id;
    }
    int named = 0;
    for (int id = 2000; id <= 2055; ++id)
        named += VoMessageSNMP::GetMessageName(static_cast<eVoMessageID>(id)) != nullptr;
    EXPECT_EQ(50, named);
    EXPECT_STREQ("VO_APP_WSRM", VoMessageSNMP::GetAppName(1011));
    EXPECT_EQ(nullptr, VoMessageSNMP::GetAppName(1012));
}

TEST_F(MessageServiceTest, TracingOnDeliversUnnamedIdsAndWritesNothing)
{
    add(4242);
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
    EXPECT_EQ("", out + err);
}

}  // namespace
