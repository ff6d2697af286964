// Applications on the framework stand-in: their threads, events and payload ownership,
// lifecycle calls, subscriptions, listeners, instance ids and the TV control service.
#include <gtest/gtest.h>

#include <atomic>
#include <future>
#include <mutex>
#include <set>
#include <thread>
#include <vector>

#include "host/framework/Framework.h"
#include "host/framework/Tv.h"
#include "platform/CAppEventManager.h"
#include "platform/CApplication.h"
#include "platform/ORVALE.h"
#include "platform/TvControl.h"

namespace {

using kw::host::Framework;
using ORVALE0300::CApplication;
using ORVALE0300::CString;
using ORVALE0300::IMessageListener;
using ORVALE0300::ORVALE;

PTEvent makeEvent(int type, std::vector<unsigned char> bytes)
{
    PTEvent ev;
    ev.nEventType = type;
    ev.nDataSize = static_cast<uint16_t>(bytes.size());
    if (!bytes.empty()) {
        auto* data = new unsigned char[bytes.size()];
        std::copy(bytes.begin(), bytes.end(), data);
        ev.pData = data;
    }
    return ev;
}

struct Received {
    int type;
    std::vector<unsigned char> bytes;
    int dstInstance;
    std::thread::id thread;
};

// Records everything on its own thread. Takes events it handles (frees their payloads); leaves
// the others to the framework.
class TestApp : public CApplication {
public:
    bool t_Create() override { return lifecycle("create", createResult); }
    bool t_Destroy() override { return lifecycle("destroy", true); }
    bool t_OnActivate(ORVALE0300::DTV_APPLICATION, void*) override
    {
        return lifecycle("activate", activateResult);
    }
    bool t_OnEndActivating(unsigned long, int result) override
    {
        endResult = result;
        return lifecycle("endActivating", true);
    }
    bool t_OnDeactivate(ORVALE0300::DTV_APPLICATION, void*) override
    {
        return lifecycle("deactivate", true);
    }
    bool t_OnEndDeactivating(unsigned long, int) override
    {
        return lifecycle("endDeactivating", true);
    }
    void t_OnExit() override { lifecycle("exit", true); }

    int t_OnUserMessage(const PTEvent* ev) override
    {
        if (onMessage) onMessage(ev);
        const bool take = ev->nEventType != unhandledType;
        {
            std::lock_guard<std::mutex> lock(mutex);
            auto* p = static_cast<unsigned char*>(ev->pData);
            received.push_back({ev->nEventType,
                                std::vector<unsigned char>(p, p + (p ? ev->nDataSize : 0)),
                                ev->nDstInstanceID, std::this_thread::get_id()});
        }
        if (take) delete[] static_cast<unsigned char*>(ev->pData);
        return take ? 1 : 0;
    }

    std::vector<Received> events()
    {
        std::lock_guard<std::mutex> lock(mutex);
        return received;
    }
    std::vector<std::pair<std::string, std::thread::id>> calls()
    {
        std::lock_guard<std::mutex> lock(mutex);
        return lifecycleCalls;
    }

    bool createResult = true;
    bool activateResult = true;
    int unhandledType = -1000;
    std::atomic<int> endResult{-1};
    std::function<void(const PTEvent*)> onMessage;

private:
    bool lifecycle(const char* name, bool result)
    {
        std::lock_guard<std::mutex> lock(mutex);
        lifecycleCalls.emplace_back(name, std::this_thread::get_id());
        return result;
    }

    std::mutex mutex;
    std::vector<Received> received;
    std::vector<std::pair<std::string, std::thread::id>> lifecycleCalls;
};

// Holds the app thread inside an event handler until released.
class Gate {
public:
    void wait() { m_open.wait(); }
    void open() { m_promise.set_value(); }

private:
    std::promise<void> m_promise;
    std::shared_future<void> m_open = m_promise.get_future().share();
};

class FrameworkTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        id = std::string("test.") + ::testing::UnitTest::GetInstance()->current_test_info()->name();
        ASSERT_TRUE(fw().registerApp(id, &app));
    }
    void TearDown() override { fw().unregisterApp(id); }

    static Framework& fw() { return Framework::instance(); }
    int send(const PTEvent& ev) { return ORVALE::SendEvent(ev, id.c_str(), false); }
    std::thread::id appThread()
    {
        std::thread::id t;
        EXPECT_TRUE(fw().runOnAppThread(id, [&] { t = std::this_thread::get_id(); }));
        return t;
    }

    std::string id;
    TestApp app;
};

TEST_F(FrameworkTest, EventsReachTheAppOnItsOwnThreadInOrder)
{
    ASSERT_TRUE(fw().create(id));
    EXPECT_EQ(send(makeEvent(0x2808, {0xFF, 0x01})), 1);
    EXPECT_EQ(send(makeEvent(0x2809, {0xFF, 0x02, 0x03})), 1);
    EXPECT_EQ(send(makeEvent(0x2808, {})), 1);
    fw().waitIdle(id);

    const auto events = app.events();
    ASSERT_EQ(events.size(), 3u);
    EXPECT_EQ(events[0].type, 0x2808);
    EXPECT_EQ(events[0].bytes, (std::vector<unsigned char>{0xFF, 0x01}));
    EXPECT_EQ(events[1].bytes, (std::vector<unsigned char>{0xFF, 0x02, 0x03}));
    EXPECT_TRUE(events[2].bytes.empty());
    const int instance = ORVALE::GetInstanceID(CString(id.c_str(), CString::ENCODING_UTF8));
    const std::thread::id createThread = app.calls().at(0).second;
    EXPECT_NE(createThread, std::this_thread::get_id());
    for (const Received& r : events) {
        EXPECT_EQ(r.dstInstance, instance);
        EXPECT_EQ(r.thread, createThread);
    }
}

// Under ASan these prove that no payload leaks whichever way an event ends.
TEST_F(FrameworkTest, FrameworkFreesPayloadsNobodyTakes)
{
    app.unhandledType = 0x1234;
    EXPECT_EQ(send(makeEvent(0x1234, {1, 2, 3})), 1);  // offered, left unhandled
    fw().waitIdle(id);
    EXPECT_EQ(app.events().size(), 1u);

    EXPECT_EQ(ORVALE::SendEvent(makeEvent(0x2808, {1}), "test.no-such-app", false), 0);
    EXPECT_EQ(ORVALE::SendEvent(makeEvent(0x2808, {1}), nullptr, false), 0);
    EXPECT_FALSE(fw().post("test.no-such-app", makeEvent(0x2808, {1})));
}

TEST_F(FrameworkTest, UnregisterDropsQueuedEventsAndEndsTheThread)
{
    Gate gate;
    std::promise<void> inHandler;
    app.onMessage = [&](const PTEvent* ev) {
        if (ev->nEventType == 1) {
            inHandler.set_value();
            gate.wait();
        }
    };
    ASSERT_EQ(send(makeEvent(1, {1})), 1);
    inHandler.get_future().wait();
    ASSERT_EQ(send(makeEvent(2, {2, 2})), 1);
    ASSERT_EQ(send(makeEvent(3, {3})), 1);

    std::thread stopper([&] { fw().unregisterApp(id); });
    // The queued events go as soon as the unregister starts; the app is still in event 1.
    while (app.GetQueue()->Size() != 0) std::this_thread::yield();
    EXPECT_FALSE(fw().isRegistered(id));
    EXPECT_EQ(send(makeEvent(4, {4})), 0);
    gate.open();
    stopper.join();

    const auto events = app.events();
    ASSERT_EQ(events.size(), 1u);
    EXPECT_EQ(events[0].type, 1);
    ASSERT_FALSE(app.calls().empty());
    EXPECT_EQ(app.calls().back().first, "exit");
    EXPECT_EQ(app.calls().back().second, events[0].thread);

    // The same app can come back and receives events again.
    ASSERT_TRUE(fw().registerApp(id, &app));
    EXPECT_EQ(send(makeEvent(5, {5})), 1);
    fw().waitIdle(id);
    EXPECT_EQ(app.events().size(), 2u);
}

TEST_F(FrameworkTest, LifecycleCallsRunOnTheAppThreadAndReturnItsResults)
{
    const std::thread::id thread = appThread();
    EXPECT_TRUE(fw().create(id));
    EXPECT_TRUE(fw().activate(id));
    EXPECT_EQ(app.endResult, 1);
    EXPECT_TRUE(fw().deactivate(id));
    EXPECT_TRUE(fw().destroy(id));

    app.createResult = false;
    app.activateResult = false;
    EXPECT_FALSE(fw().create(id));
    EXPECT_FALSE(fw().activate(id));
    EXPECT_EQ(app.endResult, 0);  // the end call hears that activation failed

    std::vector<std::string> names;
    for (const auto& call : app.calls()) {
        names.push_back(call.first);
        EXPECT_EQ(call.second, thread) << call.first;
    }
    EXPECT_EQ(names, (std::vector<std::string>{"create", "activate", "endActivating", "deactivate",
                                               "endDeactivating", "destroy", "create", "activate",
                                               "endActivating"}));

    EXPECT_FALSE(fw().create("test.no-such-app"));
    EXPECT_FALSE(fw().runOnAppThread("test.no-such-app", [] {}));
}

TEST_F(FrameworkTest, CallsFromTheAppThreadRunAtOnce)
{
    bool nestedRan = false;
    app.onMessage = [&](const PTEvent*) {
        nestedRan = fw().runOnAppThread(id, [] {}) && fw().create(id);
        fw().waitIdle(id);  // must not wait for itself
    };
    send(makeEvent(1, {}));
    fw().waitIdle(id);
    EXPECT_TRUE(nestedRan);
}

TEST_F(FrameworkTest, WaitIdleCoversEventsPostedWhileHandling)
{
    app.onMessage = [&](const PTEvent* ev) {
        if (ev->nEventType < 5)
            ORVALE::SendEvent(makeEvent(ev->nEventType + 1, {}), id.c_str(), false);
    };
    send(makeEvent(1, {}));
    fw().waitIdle(id);
    EXPECT_EQ(app.events().size(), 5u);
}

TEST_F(FrameworkTest, CallWaitingAtUnregisterFailsWithoutRunning)
{
    Gate gate;
    std::promise<void> inHandler;
    app.onMessage = [&](const PTEvent*) {
        inHandler.set_value();
        gate.wait();
    };
    send(makeEvent(1, {}));
    inHandler.get_future().wait();

    auto created = std::async(std::launch::async, [&] { return fw().create(id); });
    while (app.GetQueue()->Size() == 0) std::this_thread::yield();  // the call is queued
    std::thread stopper([&] { fw().unregisterApp(id); });
    while (app.GetQueue()->Size() != 0) std::this_thread::yield();
    gate.open();
    stopper.join();
    EXPECT_FALSE(created.get());
    for (const auto& call : app.calls()) EXPECT_NE(call.first, "create");
}

TEST_F(FrameworkTest, CallsSurviveTheAppClearingItsQueue)
{
    Gate gate;
    std::promise<void> inHandler;
    app.onMessage = [&](const PTEvent* ev) {
        if (ev->nEventType != 1) return;
        inHandler.set_value();
        gate.wait();
        app.t_OnClearQueue();  // drops the queued call's wake-up along with event 2
    };
    send(makeEvent(1, {}));
    inHandler.get_future().wait();
    send(makeEvent(2, {2}));
    auto created = std::async(std::launch::async, [&] { return fw().create(id); });
    while (app.GetQueue()->Size() < 2) std::this_thread::yield();
    gate.open();
    EXPECT_TRUE(created.get());
    EXPECT_EQ(app.events().size(), 1u);
}

TEST_F(FrameworkTest, AppCanUnregisterItselfFromItsOwnThread)
{
    std::promise<void> handled;
    app.onMessage = [&](const PTEvent* ev) {
        if (ev->nEventType != 1) return;
        fw().unregisterApp(id);  // cannot wait for its own thread: the thread ends after this
        handled.set_value();
    };
    send(makeEvent(1, {1}));
    handled.get_future().wait();
    EXPECT_FALSE(fw().isRegistered(id));
    EXPECT_EQ(send(makeEvent(2, {2})), 0);
    // Until its old thread has ended the app cannot come back; then it can.
    while (!fw().registerApp(id, &app)) std::this_thread::yield();
    const auto calls = app.calls();
    ASSERT_FALSE(calls.empty());
    EXPECT_EQ(calls.back().first, "exit");
}

TEST(FrameworkApps, DestroyingARegisteredAppStopsItsThread)
{
    Framework& fw = Framework::instance();
    {
        TestApp app;
        ASSERT_TRUE(fw.registerApp("test.short-lived", &app));
        ASSERT_TRUE(fw.create("test.short-lived"));
        ORVALE::SendEvent(makeEvent(1, {1}), "test.short-lived", false);
        fw.waitIdle("test.short-lived");  // the app's own parts go first; it must be idle
    }
    EXPECT_FALSE(fw.isRegistered("test.short-lived"));
}

TEST_F(FrameworkTest, RegistrationRules)
{
    TestApp other;
    EXPECT_FALSE(fw().registerApp("test.null", nullptr));
    EXPECT_FALSE(fw().registerApp(id, &other));           // id taken
    EXPECT_FALSE(fw().registerApp("test.second", &app));  // app registered already
    EXPECT_TRUE(fw().isRegistered(id));
    EXPECT_FALSE(fw().isRegistered("test.second"));
    fw().unregisterApp("test.second");  // unknown: nothing happens
}

TEST_F(FrameworkTest, PublishedEventsReachSubscribersWithTheirOwnCopy)
{
    constexpr int kEvent = 0x10005;
    TestApp other;
    const std::string otherId = id + ".other";
    ASSERT_TRUE(fw().registerApp(otherId, &other));
    ASSERT_TRUE(fw().runOnAppThread(id, [&] {
        EXPECT_TRUE(CAppEventManager::GetInstance()->DoSubscribeEvent(kEvent, &app, false));
    }));
    EXPECT_TRUE(CAppEventManager::GetInstance()->IsSubscribed(kEvent, &app));
    EXPECT_FALSE(CAppEventManager::GetInstance()->IsSubscribed(kEvent, &other));
    EXPECT_FALSE(CAppEventManager::GetInstance()->DoSubscribeEvent(kEvent, nullptr, false));

    unsigned char bytes[3] = {7, 8, 9};
    PTEvent ev;
    ev.nEventType = kEvent;
    ev.pData = bytes;  // stays the publisher's
    ev.nDataSize = 3;
    fw().publish(ev);
    ev.nEventType = kEvent + 1;  // nobody subscribed
    fw().publish(ev);
    fw().waitIdle(id);
    fw().waitIdle(otherId);

    const auto events = app.events();
    ASSERT_EQ(events.size(), 1u);
    EXPECT_EQ(events[0].type, kEvent);
    EXPECT_EQ(events[0].bytes, (std::vector<unsigned char>{7, 8, 9}));
    EXPECT_EQ(events[0].thread, appThread());
    EXPECT_TRUE(other.events().empty());

    // Leaving the framework ends the subscription.
    fw().unregisterApp(otherId);
    fw().unregisterApp(id);
    EXPECT_FALSE(CAppEventManager::GetInstance()->IsSubscribed(kEvent, &app));
}

class CountingListener : public IMessageListener {
public:
    int IfMessageReceived(const PTEvent* ev) override
    {
        lastType = ev->nEventType;
        ++offered;
        return 1;
    }
    std::atomic<int> offered{0};
    std::atomic<int> lastType{0};
};

// The module's shape: an application that is also a listener and keeps its default answer.
class ListeningApp : public CApplication, public IMessageListener {
public:
    bool t_Create() override { return AddMessageListener(this); }
    bool t_Destroy() override { return RemoveMessageListener(this); }
};

TEST(FrameworkListeners, AreOfferedPublishedEventsUntilRemoved)
{
    Framework& fw = Framework::instance();
    CountingListener listener;
    EXPECT_TRUE(fw.addListener(&listener));
    EXPECT_FALSE(fw.addListener(&listener));
    EXPECT_FALSE(fw.addListener(nullptr));

    PTEvent ev;
    ev.nEventType = 42;
    fw.publish(ev);
    EXPECT_EQ(listener.offered, 1);
    EXPECT_EQ(listener.lastType, 42);

    EXPECT_TRUE(fw.removeListener(&listener));
    EXPECT_FALSE(fw.removeListener(&listener));
    fw.publish(ev);
    EXPECT_EQ(listener.offered, 1);

    IMessageListener plain;
    EXPECT_EQ(plain.IfMessageReceived(&ev), 0);
    {
        CountingListener gone;
        fw.addListener(&gone);
    }
    fw.publish(ev);  // a destroyed listener has left the list
}

TEST(FrameworkListeners, ApplicationAddsAndRemovesItsListenerPart)
{
    Framework& fw = Framework::instance();
    ListeningApp app;
    ASSERT_TRUE(fw.registerApp("test.listening", &app));
    IMessageListener* asListener = &app;
    EXPECT_TRUE(fw.create("test.listening"));
    EXPECT_TRUE(fw.hasListener(asListener));
    EXPECT_FALSE(fw.create("test.listening"));  // already there
    EXPECT_TRUE(fw.destroy("test.listening"));
    EXPECT_FALSE(fw.hasListener(asListener));
    EXPECT_FALSE(fw.destroy("test.listening"));
    fw.unregisterApp("test.listening");
}

TEST(InstanceIds, AreStableDistinctNonZeroAndAgreeAcrossThreads)
{
    auto idOf = [](const std::string& appId) {
        return ORVALE::GetInstanceID(CString(appId.c_str(), CString::ENCODING_UTF8));
    };
    const int a = idOf("vantrel.native.lumistavesnmp");
    const int b = idOf("vantrel.native.ozkprotocol");
    EXPECT_NE(a, 0);
    EXPECT_NE(b, 0);
    EXPECT_NE(a, b);
    EXPECT_EQ(idOf("vantrel.native.lumistavesnmp"), a);
    EXPECT_NE(idOf(""), 0);

    constexpr int kThreads = 4;
    constexpr int kIds = 50;
    std::vector<std::vector<int>> seen(kThreads, std::vector<int>(kIds));
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&, t] {
            for (int i = 0; i < kIds; ++i) {
                const int n = t % 2 == 0 ? i : kIds - 1 - i;  // meet from both ends
                seen[t][n] = idOf("test.concurrent." + std::to_string(n));
            }
        });
    }
    for (auto& t : threads) t.join();
    std::set<int> distinct;
    for (int i = 0; i < kIds; ++i) {
        for (int t = 1; t < kThreads; ++t) EXPECT_EQ(seen[t][i], seen[0][i]);
        distinct.insert(seen[0][i]);
    }
    EXPECT_EQ(distinct.size(), static_cast<size_t>(kIds));
    EXPECT_EQ(distinct.count(0), 0u);
}

TEST(TvControlService, GivesTheHostsDisplayIdAndCanBeMadeToFail)
{
    ITvInterface* tv = TvControl::GetTv();
    ASSERT_NE(tv, nullptr);
    unsigned char id = 0;
    EXPECT_NE(tv->GetDisplayID(&id), 0);
    EXPECT_EQ(id, 1);  // until the host sets one

    kw::host::tv::setDisplayId(5);
    EXPECT_NE(tv->GetDisplayID(&id), 0);
    EXPECT_EQ(id, 5);

    kw::host::tv::setAvailable(false);
    id = 0x77;
    EXPECT_EQ(tv->GetDisplayID(&id), 0);
    EXPECT_EQ(id, 0x77);  // nothing written
    EXPECT_EQ(tv->GetDisplayID(nullptr), 0);
    kw::host::tv::setAvailable(true);
    EXPECT_NE(tv->GetDisplayID(&id), 0);
    EXPECT_EQ(id, 5);
    kw::host::tv::setDisplayId(1);
}

}  // namespace
