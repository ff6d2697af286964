// The message service: queueing, dispatch, subscriptions, GetMessage, the trace, its thread.
#include <gtest/gtest.h>

#include <condition_variable>
#include <cstring>
#include <future>

#include "host/framework/Clock.h"
#include "runtime/VoMessageSNMP.h"
#include "runtime/VoUtilSNMP.h"

using namespace nsVoMessageDefSNMP;

namespace {

using Bytes = std::vector<unsigned char>;
constexpr auto kLimit = std::chrono::seconds(10);
const auto kSync = static_cast<eVoMessageID>(0x08000000 | VO_MSG_SET_AUTO_RUN);

struct Delivery {
    int nApp;  // the handler's application
    _stVoMessage msg;
    Bytes data;
    std::thread::id thread;
};

class Handler : public VoMessageInterfaceSNMP {
public:
    Handler(int nApp, std::function<void(Delivery)> log) : m_nApp(nApp), m_log(std::move(log)) {}
    int DoProcMessage(const _stVoMessage* m) override
    {
        const auto* p = static_cast<const unsigned char*>(m->pData);
        m_log({m_nApp, *m, p ? Bytes(p, p + m->nDataSize) : Bytes{}, std::this_thread::get_id()});
        return m_action ? m_action(m) : 1;
    }
    const int m_nApp;
    std::function<void(Delivery)> m_log;
    std::function<int(const _stVoMessage*)> m_action;
};

class MessageServiceTest : public ::testing::Test {
protected:
    void TearDown() override
    {
        if (m_pService != nullptr) m_pService->Destroy();
        delete m_pService;
        m_handlers.clear();  // only once the service thread has stopped
    }
    Handler& add(int nApp)
    {
        m_handlers.push_back(std::make_unique<Handler>(nApp, [this](Delivery d) {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_log.push_back(std::move(d));
            m_changed.notify_all();
        }));
        EXPECT_EQ(1, m_pService->RegisterInterface(nApp, m_handlers.back().get()));
        return *m_handlers.back();
    }
    // Waits until id has been delivered n times; every delivery of id so far.
    std::vector<Delivery> seen(eVoMessageID id, size_t n = 0)
    {
        std::unique_lock<std::mutex> lock(m_mutex);
        std::vector<Delivery> out;
        EXPECT_TRUE(m_changed.wait_for(lock, kLimit, [&] {
            out.clear();
            for (const auto& d : m_log)
                if (d.msg.eMessageID == id) out.push_back(d);
            return out.size() >= n;
        })) << id;
        return out;
    }
    // "<handler's application>:<lParam>" of each delivery of id, once there are n.
    std::string who(eVoMessageID id, size_t n)
    {
        std::string out;
        for (const auto& d : seen(id, n))
            out += (out.empty() ? "" : " ") + std::to_string(d.nApp) + ":" +
                   std::to_string(d.msg.lParam);
        return out;
    }
    int send(int nDst, eVoMessageID id, long lParam, const void* pData = nullptr, unsigned n = 0)
    {
        return m_pService->SendMessage(0, nDst, id, lParam, pData, n);
    }

    kw::host::VirtualClockScope m_clock;
    VoMessageSNMP* m_pService = new VoMessageSNMP();
    std::mutex m_mutex;
    std::condition_variable m_changed;
    std::vector<Delivery> m_log;
    std::vector<std::unique_ptr<Handler>> m_handlers;
};

TEST_F(MessageServiceTest, DeliversInOrderWithPayloadCopies)
{
    add(VO_APP_UI);
    unsigned char buffer[3] = {1, 2, 3};
    _stVoMessage msg{VO_MSG_UI_SHOW, 0, buffer, sizeof buffer, VO_APP_MAIN, VO_APP_UI};
    EXPECT_EQ(1, m_pService->SendMessage(&msg));
    memset(buffer, 0xEE, sizeof buffer);  // the sender may reuse it at once
    msg.lParam = 1;
    EXPECT_EQ(1, m_pService->SendMessage(&msg));
    // A payload pointer with size 0 is not queued; a size without a payload is kept.
    EXPECT_EQ(1, send(VO_APP_UI, VO_MSG_UI_SHOW, 2, buffer, 0));
    EXPECT_EQ(1, send(VO_APP_UI, VO_MSG_UI_SHOW, 3, nullptr, 5));
    EXPECT_EQ(0, m_pService->SendMessage(nullptr));
    EXPECT_EQ("1006:0 1006:1 1006:2 1006:3", who(VO_MSG_UI_SHOW, 4));
    const auto got = seen(VO_MSG_UI_SHOW);
    EXPECT_EQ((std::vector<Bytes>{{1, 2, 3}, {0xEE, 0xEE, 0xEE}}),
              (std::vector<Bytes>{got[0].data, got[1].data}));
    EXPECT_EQ(std::make_tuple(nullptr, 0u, nullptr, 5u),
              std::make_tuple(got[2].msg.pData, got[2].msg.nDataSize, got[3].msg.pData,
                              got[3].msg.nDataSize));
}

// Broadcasts go to every handler in ascending id order; a subscriber gets one more copy, also
// when it is the target itself. Subscriptions are read at dispatch, so each step is awaited.
// A handler may remove itself and others during the drain.
TEST_F(MessageServiceTest, BroadcastSubscriptionsAndRemovalDuringTheDrain)
{
    add(VO_APP_WSRM);
    std::atomic<int> removed{0};
    add(VO_APP_MAIN).m_action = [&](const _stVoMessage* m) {
        if (m->eMessageID != VO_MSG_UI_SHOW) return 1;
        return removed = m_pService->UnregisterInterface(VO_APP_MAIN) +
                         10 * m_pService->UnregisterInterface(VO_APP_UI);
    };
    EXPECT_EQ(0, m_pService->RegisterInterface(ALL_APP, &add(VO_APP_UI)));
    EXPECT_EQ(0, m_pService->RegisterInterface(VO_APP_SERIAL, nullptr));
    send(ALL_APP, VO_MSG_KEY_EVENT, 1, "abc", 3);
    EXPECT_EQ((Bytes{'a', 'b', 'c'}), seen(VO_MSG_KEY_EVENT, 3)[2].data);
    m_pService->RegisterMessageApp(VO_MSG_KEY_EVENT, VO_APP_UI);
    send(VO_APP_UI, VO_MSG_KEY_EVENT, 2);
    seen(VO_MSG_KEY_EVENT, 5);
    EXPECT_EQ(1, m_pService->RegisterMessageApp(VO_MSG_KEY_EVENT, VO_APP_WSRM));
    send(VO_APP_MAIN, VO_MSG_KEY_EVENT, 3);
    seen(VO_MSG_KEY_EVENT, 7);
    m_pService->RegisterMessageApp(VO_MSG_KEY_EVENT, VO_APP_SERIAL);  // no handler: dropped
    send(VO_APP_DTVSOURCE, VO_MSG_KEY_EVENT, 4);
    EXPECT_EQ(1, m_pService->UnregisterMessageApp(VO_MSG_KEY_EVENT));
    EXPECT_EQ(0, m_pService->UnregisterMessageApp(VO_MSG_KEY_EVENT));
    send(VO_APP_MAIN, VO_MSG_KEY_EVENT, 5);
    EXPECT_EQ("1000:1 1006:1 1011:1 1006:2 1006:2 1000:3 1011:3 1000:5", who(VO_MSG_KEY_EVENT, 8));
    // The broadcast looked UI up before its removal, yet UI is not called after it.
    send(ALL_APP, VO_MSG_UI_SHOW, 0);
    EXPECT_EQ("1000:0 1011:0", who(VO_MSG_UI_SHOW, 2));
    EXPECT_EQ(11, removed.load());
    EXPECT_EQ(1, m_pService->UnregisterInterface(VO_APP_WSRM));
    EXPECT_EQ(0, m_pService->UnregisterInterface(VO_APP_UI));
    send(ALL_APP, VO_MSG_KEY_EVENT, 6, "abc", 3);  // nobody: freed
}

// Delivered at once in the caller's thread with the caller's payload, only to the target.
TEST_F(MessageServiceTest, GetMessageNeedsBit27AndARegisteredTarget)
{
    add(VO_APP_UI).m_action = [](const _stVoMessage*) { return 42; };
    add(VO_APP_PLAYER);
    m_pService->RegisterMessageApp(kSync, VO_APP_PLAYER);
    const unsigned char payload[2] = {9, 8};
    EXPECT_EQ(0, m_pService->GetMessage(0, VO_APP_UI, VO_MSG_SET_AUTO_RUN, 0, payload, 2));
    EXPECT_EQ(42, m_pService->GetMessage(3, VO_APP_UI, kSync, 6, payload, 2));
    EXPECT_EQ(0, m_pService->GetMessage(0, VO_APP_SERIAL, kSync, 0, nullptr, 0));
    const auto got = seen(kSync);
    ASSERT_EQ(1u, got.size());
    EXPECT_EQ(std::make_tuple(VO_APP_UI, 6L, 3, static_cast<const void*>(payload),
                              std::this_thread::get_id()),
              std::make_tuple(got[0].nApp, got[0].msg.lParam, got[0].msg.nSrcApp,
                              static_cast<const void*>(got[0].msg.pData), got[0].thread));
    EXPECT_TRUE(seen(VO_MSG_SET_AUTO_RUN).empty());

    // A handler's pre-processing may consume a message; then the result is 1.
    struct Pre : Handler {
        using Handler::Handler;
        int PreProcMessage(const _stVoMessage*) override { return 5; }
    } pre(0, nullptr);
    EXPECT_EQ(std::make_pair(0, 1),
              std::make_pair(pre.ProcMessage(nullptr), pre.ProcMessage(&got[0].msg)));
}

// Through GetMessage (lock held) a handler removes the one running a broadcast, which needs the
// lock to send: the removal returns once that call has ended. Bounded: a hang fails.
TEST_F(MessageServiceTest, UnregisterFromGetMessageDuringABroadcastDoesNotDeadlock)
{
    std::promise<void> entered, gate;
    std::shared_future<void> opened = gate.get_future().share();
    std::atomic<bool> finished{false};
    add(VO_APP_MAIN).m_action = [&, opened](const _stVoMessage*) {
        entered.set_value();
        opened.wait_for(kLimit);
        send(VO_APP_WSRM, VO_MSG_UI_HIDE, 0);
        finished = true;
        return 1;
    };
    add(VO_APP_WSRM);
    add(VO_APP_UI).m_action = [&](const _stVoMessage* m) {
        if (m->eMessageID != kSync) return 1;
        gate.set_value();
        return m_pService->UnregisterInterface(VO_APP_MAIN) + (finished ? 10 : 0);
    };
    send(ALL_APP, VO_MSG_UI_SHOW, 0);
    ASSERT_EQ(std::future_status::ready, entered.get_future().wait_for(kLimit));
    auto result = std::make_shared<std::promise<int>>();
    std::future<int> done = result->get_future();
    std::thread caller([this, result] {
        result->set_value(m_pService->GetMessage(0, VO_APP_UI, kSync, 0, nullptr, 0));
    });
    if (done.wait_for(kLimit) != std::future_status::ready) {
        caller.detach();  // deadlocked: leave the service and handlers to the hung threads
        m_pService = nullptr;
        for (auto& h : m_handlers) h.release();
        FAIL() << "UnregisterInterface deadlocked";
    }
    caller.join();
    EXPECT_EQ(11, done.get());
    EXPECT_EQ("1011:0", who(VO_MSG_UI_HIDE, 1));
    EXPECT_EQ("1000:0 1006:0 1011:0", who(VO_MSG_UI_SHOW, 3));
}

// Once stopped, messages stay queued; destruction frees them and stops a running thread.
TEST_F(MessageServiceTest, DestroyStopsAWaitingThreadAndDestructionFreesTheQueue)
{
    add(VO_APP_UI);
    send(VO_APP_UI, VO_MSG_UI_SHOW, 0);
    seen(VO_MSG_UI_SHOW, 1);  // the thread goes back to waiting on an empty queue
    const auto deadline = std::chrono::steady_clock::now() + kLimit;
    while (kw::host::Clock::now() == 0 && std::chrono::steady_clock::now() < deadline) {
    }
    m_pService->Destroy();  // wakes it for one more pass; each pass ends with a 1 ms pause
    EXPECT_LE(kw::host::Clock::now(), 2u);
    EXPECT_EQ(0, m_pService->DelFrontMessage());
    send(VO_APP_UI, VO_MSG_UI_SHOW, 0, "abc", 3);
    send(ALL_APP, VO_MSG_UI_HIDE, 0, "abc", 1);
    EXPECT_EQ(1, m_pService->DelFrontMessage());
    EXPECT_EQ(VO_MSG_UI_HIDE, m_pService->GetFrontMesage()->eMessageID);
    EXPECT_EQ(1, m_pService->UnregisterInterface(VO_APP_UI));  // nothing running: no wait
    delete m_pService;
    m_pService = new VoMessageSNMP();  // deleted with its thread running
    send(VO_APP_UI, VO_MSG_UI_SHOW, 0, "abc", 3);
    delete m_pService;
    m_pService = nullptr;
}

TEST(MessageTrace, NamesAsTheTraceFormsThem)
{
    char dst[100], src[100], name[100];
    const auto form = [&](_stVoMessage msg) {
        VoMessageSNMP::FormTraceNames(&msg, dst, src, name);
        return std::string(dst) + "|" + src + "|" + name;
    };
    EXPECT_EQ("ALL_APP|Unknown App(0)|Unknown Message(2028)",
              form({static_cast<eVoMessageID>(2028), 0, nullptr, 0, 0, ALL_APP}));
    EXPECT_EQ("Unknown App(-7)|VO_APP_DEVICEEVNET|VO_MSG_SET_CURRENT_CONTENT_ID_NULL",
              form({VO_MSG_SET_CURRENT_CONTENT_ID, 0, nullptr, 0, VO_APP_DEVICEEVNET, -7}));
    EXPECT_EQ("VO_APP_MAIN|VO_APP_WSRM|VO_MSG_SET_CURRENT_CONTENT_ID",
              form({VO_MSG_SET_CURRENT_CONTENT_ID, 0, name, 0, VO_APP_WSRM, 1000}));
    VoMessageSNMP::FormTraceNames(nullptr, dst, src, name);  // only clears the buffers
    EXPECT_EQ("||", std::string(dst) + "|" + src + "|" + name);
}

}  // namespace
