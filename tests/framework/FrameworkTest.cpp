// Applications on the framework stand-in: threads, events, payload ownership, lifecycle, listeners.
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
#include "tests/framework/Events.h"

namespace {

using kw::host::Framework;
using ORVALE0300::CApplication;
using ORVALE0300::CString;
using ORVALE0300::IMessageListener;
using ORVALE0300::ORVALE;
using Bytes = std::vector<unsigned char>;
using Names = std::vector<std::string>;

Framework& fw()
{
    return Framework::instance();
}

int instanceOf(const std::string& appId)
{
    return ORVALE::GetInstanceID(CString(appId.c_str(), CString::ENCODING_UTF8));
}

struct Received {
    int type;
    Bytes bytes;
    int dstInstance;
    std::thread::id thread;
};

// Records lifecycle calls and events with their threads; frees every event but `unhandledType`.
class TestApp : public CApplication {
public:
    bool t_Create() override { return note("create", createResult); }
    bool t_Destroy() override { return note("destroy", true); }
    bool t_OnActivate(ORVALE0300::DTV_APPLICATION, void*) override
    {
        return note("activate", activateResult);
    }
    bool t_OnEndActivating(unsigned long, int result) override
    {
        endResult = result;
        return note("endActivating", true);
    }
    bool t_OnDeactivate(ORVALE0300::DTV_APPLICATION, void*) override
    {
        return note("deactivate", true);
    }
    bool t_OnEndDeactivating(unsigned long, int) override { return note("endDeactivating", true); }
    void t_OnExit() override { note("exit", true); }

    int t_OnUserMessage(const PTEvent* ev) override
    {
        if (onMessage) onMessage(ev);
        auto* p = static_cast<unsigned char*>(ev->pData);
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_events.push_back({ev->nEventType, p ? Bytes(p, p + ev->nDataSize) : Bytes{},
                                ev->nDstInstanceID, std::this_thread::get_id()});
        }
        if (ev->nEventType == unhandledType) return 0;
        delete[] p;
        return 1;
    }

    std::vector<Received> events()
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_events;
    }
    std::vector<std::pair<std::string, std::thread::id>> calls()
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_calls;
    }
    Names callNames()
    {
        Names names;
        for (auto& c : calls()) names.push_back(c.first);
        return names;
    }

    bool createResult = true;
    bool activateResult = true;
    int unhandledType = -1000;
    std::atomic<int> endResult{-1};
    std::function<void(const PTEvent*)> onMessage;

private:
    bool note(const char* name, bool result)
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_calls.emplace_back(name, std::this_thread::get_id());
        return result;
    }

    std::mutex m_mutex;
    std::vector<Received> m_events;
    std::vector<std::pair<std::string, std::thread::id>> m_calls;
};

class FrameworkTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        id = std::string("test.") + ::testing::UnitTest::GetInstance()->current_test_info()->name();
        ASSERT_TRUE(fw().registerApp(id, &app));
    }
    void TearDown() override { fw().unregisterApp(id); }

    int send(const PTEvent& ev) { return ORVALE::SendEvent(ev, id.c_str(), false); }
    std::thread::id appThread()
    {
        std::thread::id t;
        EXPECT_TRUE(fw().runOnAppThread(id, [&] { t = std::this_thread::get_id(); }));
        return t;
    }
    // Holds the app thread inside the handler of event type 1 until release().
    void holdInEvent1()
    {
        app.onMessage = [this](const PTEvent* ev) {
            if (ev->nEventType != 1) return;
            m_entered.set_value();
            m_released.wait();
            if (afterRelease) afterRelease();
        };
        ASSERT_EQ(send(makeEvent(1, {1})), 1);
        m_entered.get_future().wait();
    }
    void release() { m_release.set_value(); }

    std::string id;
    TestApp app;
    std::function<void()> afterRelease;

private:
    std::promise<void> m_entered, m_release;
    std::shared_future<void> m_released = m_release.get_future().share();
};

TEST_F(FrameworkTest, EventsReachTheAppOnItsOwnThreadInOrder)
{
    ASSERT_TRUE(fw().create(id));
    EXPECT_EQ(send(makeEvent(0x2808, {0xFF, 0x01})), 1);
    EXPECT_EQ(send(makeEvent(0x2809, {0xFF, 0x02, 0x03})), 1);
    EXPECT_EQ(send(makeEvent(0x2808)), 1);
    fw().waitIdle(id);

    const std::thread::id createThread = app.calls().at(0).second;
    EXPECT_NE(createThread, std::this_thread::get_id());
    std::vector<std::pair<int, Bytes>> got;
    for (const Received& r : app.events()) {
        got.emplace_back(r.type, r.bytes);
        EXPECT_EQ(r.dstInstance, instanceOf(id));
        EXPECT_EQ(r.thread, createThread);
    }
    EXPECT_EQ(got, (std::vector<std::pair<int, Bytes>>{
                       {0x2808, {0xFF, 0x01}}, {0x2809, {0xFF, 0x02, 0x03}}, {0x2808, {}}}));
}

// Under ASan this proves no payload leaks whichever way an event ends.
TEST_F(FrameworkTest, RegistrationRulesAndUndeliveredPayloadsAreFreed)
{
    TestApp other;
    EXPECT_FALSE(fw().registerApp("test.null", nullptr));
    EXPECT_FALSE(fw().registerApp(id, &other));           // id taken
    EXPECT_FALSE(fw().registerApp("test.second", &app));  // app registered already
    EXPECT_FALSE(fw().isRegistered("test.second"));
    fw().unregisterApp("test.second");  // unknown: nothing happens

    app.unhandledType = 0x1234;
    EXPECT_EQ(send(makeEvent(0x1234, {1, 2, 3})), 1);  // offered, left unhandled
    fw().waitIdle(id);
    EXPECT_EQ(app.events().size(), 1u);
    EXPECT_EQ(ORVALE::SendEvent(makeEvent(0x2808, {1}), "test.no-such-app", false), 0);
    EXPECT_EQ(ORVALE::SendEvent(makeEvent(0x2808, {1}), nullptr, false), 0);
    EXPECT_FALSE(fw().post("test.no-such-app", makeEvent(0x2808, {1})));
}

// Queued events and a waiting call are dropped as soon as unregistering starts; the call fails
// without running, and the app thread ends after the event it is in.
TEST_F(FrameworkTest, UnregisterDropsQueuedEventsAndCallsAndEndsTheThread)
{
    holdInEvent1();
    ASSERT_EQ(send(makeEvent(2, {2, 2})), 1);
    ASSERT_EQ(send(makeEvent(3, {3})), 1);
    auto created = std::async(std::launch::async, [&] { return fw().create(id); });
    while (app.GetQueue()->Size() < 3) std::this_thread::yield();  // the call is queued

    std::thread stopper([&] { fw().unregisterApp(id); });
    while (app.GetQueue()->Size() != 0) std::this_thread::yield();
    EXPECT_FALSE(fw().isRegistered(id));
    EXPECT_EQ(send(makeEvent(4, {4})), 0);
    release();
    stopper.join();
    EXPECT_FALSE(created.get());

    const auto events = app.events();
    ASSERT_EQ(events.size(), 1u);
    EXPECT_EQ(events[0].type, 1);
    EXPECT_EQ(app.calls(),
              (std::vector<std::pair<std::string, std::thread::id>>{{"exit", events[0].thread}}));

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

    for (const auto& call : app.calls()) EXPECT_EQ(call.second, thread) << call.first;
    EXPECT_EQ(app.callNames(),
              (Names{"create", "activate", "endActivating", "deactivate", "endDeactivating",
                     "destroy", "create", "activate", "endActivating"}));
    EXPECT_FALSE(fw().create("test.no-such-app"));
    EXPECT_FALSE(fw().runOnAppThread("test.no-such-app", [] {}));
}

TEST_F(FrameworkTest, CallsFromTheAppThreadRunAtOnceAndWaitIdleCoversFollowUps)
{
    bool nestedRan = false;
    app.onMessage = [&](const PTEvent* ev) {
        if (ev->nEventType == 1) {
            nestedRan = fw().runOnAppThread(id, [] {}) && fw().create(id);
            fw().waitIdle(id);  // must not wait for itself
        }
        if (ev->nEventType < 5) ORVALE::SendEvent(makeEvent(ev->nEventType + 1), id.c_str(), false);
    };
    send(makeEvent(1));
    fw().waitIdle(id);
    EXPECT_TRUE(nestedRan);
    EXPECT_EQ(app.events().size(), 5u);
}

TEST_F(FrameworkTest, CallsSurviveTheAppClearingItsQueue)
{
    afterRelease = [&] { app.t_OnClearQueue(); };  // drops the call's wake-up with event 2
    holdInEvent1();
    send(makeEvent(2, {2}));
    auto created = std::async(std::launch::async, [&] { return fw().create(id); });
    while (app.GetQueue()->Size() < 2) std::this_thread::yield();
    release();
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
    EXPECT_EQ(app.callNames().back(), "exit");
}

TEST(FrameworkApps, DestroyingARegisteredAppStopsItsThread)
{
    {
        TestApp app;
        ASSERT_TRUE(fw().registerApp("test.short-lived", &app));
        ASSERT_TRUE(fw().create("test.short-lived"));
        ORVALE::SendEvent(makeEvent(1, {1}), "test.short-lived", false);
        fw().waitIdle("test.short-lived");  // the app's own parts go first; it must be idle
    }
    EXPECT_FALSE(fw().isRegistered("test.short-lived"));
}

TEST_F(FrameworkTest, PublishedEventsReachSubscribersWithTheirOwnCopy)
{
    constexpr int kEvent = 0x10005;
    auto* events = CAppEventManager::GetInstance();
    ASSERT_TRUE(fw().runOnAppThread(
        id, [&] { EXPECT_TRUE(events->DoSubscribeEvent(kEvent, &app, false)); }));
    EXPECT_TRUE(events->IsSubscribed(kEvent, &app));
    EXPECT_FALSE(events->DoSubscribeEvent(kEvent, nullptr, false));

    unsigned char bytes[3] = {7, 8, 9};
    PTEvent ev;
    ev.nEventType = kEvent + 1;  // nobody subscribed
    fw().publish(ev);
    ev.nEventType = kEvent;
    ev.pData = bytes;  // stays the publisher's
    ev.nDataSize = 3;
    fw().publish(ev);
    fw().waitIdle(id);
    const auto got = app.events();
    ASSERT_EQ(got.size(), 1u);
    EXPECT_EQ(got[0].type, kEvent);
    EXPECT_EQ(got[0].bytes, (Bytes{7, 8, 9}));
    EXPECT_EQ(got[0].thread, appThread());

    fw().unregisterApp(id);  // leaving the framework ends the subscription
    EXPECT_FALSE(events->IsSubscribed(kEvent, &app));
}

class CountingListener : public IMessageListener {
public:
    int IfMessageReceived(const PTEvent* ev) override
    {
        lastType = ev->nEventType;
        ++offered;
        return 1;
    }
    std::atomic<int> offered{0}, lastType{0};
};

// The module's shape: an application that is also a listener and keeps its default answer.
class ListeningApp : public CApplication, public IMessageListener {
public:
    bool t_Create() override { return AddMessageListener(this); }
    bool t_Destroy() override { return RemoveMessageListener(this); }
};

TEST(FrameworkListeners, AreOfferedPublishedEventsUntilRemoved)
{
    CountingListener listener;
    EXPECT_TRUE(fw().addListener(&listener));
    EXPECT_FALSE(fw().addListener(&listener));
    EXPECT_FALSE(fw().addListener(nullptr));
    PTEvent ev;
    ev.nEventType = 42;
    fw().publish(ev);
    EXPECT_EQ(std::make_pair(listener.offered.load(), listener.lastType.load()),
              std::make_pair(1, 42));
    EXPECT_TRUE(fw().removeListener(&listener));
    EXPECT_FALSE(fw().removeListener(&listener));
    fw().publish(ev);
    EXPECT_EQ(listener.offered, 1);
    {
        CountingListener gone;
        fw().addListener(&gone);
    }
    fw().publish(ev);  // a destroyed listener has left the list

    ListeningApp app;
    IMessageListener* asListener = &app;
    ASSERT_TRUE(fw().registerApp("test.listening", &app));
    EXPECT_TRUE(fw().create("test.listening"));
    EXPECT_TRUE(fw().hasListener(asListener));
    EXPECT_FALSE(fw().create("test.listening"));  // already there
    EXPECT_TRUE(fw().destroy("test.listening"));
    EXPECT_FALSE(fw().hasListener(asListener));
    EXPECT_FALSE(fw().destroy("test.listening"));
    fw().unregisterApp("test.listening");
}

TEST(InstanceIds, AreStableDistinctNonZeroAndAgreeAcrossThreads)
{
    const int a = instanceOf("vantrel.native.lumistavesnmp");
    EXPECT_NE(a, 0);
    EXPECT_NE(a, instanceOf("vantrel.native.ozkprotocol"));
    EXPECT_EQ(instanceOf("vantrel.native.lumistavesnmp"), a);
    EXPECT_NE(instanceOf(""), 0);

    constexpr int kIds = 50;
    std::vector<int> up(kIds), down(kIds);  // two threads meet from both ends
    std::thread other([&] {
        for (int i = kIds - 1; i >= 0; --i) down[i] = instanceOf("test.c." + std::to_string(i));
    });
    for (int i = 0; i < kIds; ++i) up[i] = instanceOf("test.c." + std::to_string(i));
    other.join();
    EXPECT_EQ(up, down);
    std::set<int> distinct(up.begin(), up.end());
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
    kw::host::tv::setAvailable(false);
    EXPECT_EQ(tv->GetDisplayID(&id), 0);
    EXPECT_EQ(id, 1);  // nothing written
    EXPECT_EQ(tv->GetDisplayID(nullptr), 0);
    kw::host::tv::setAvailable(true);
    EXPECT_NE(tv->GetDisplayID(&id), 0);
    EXPECT_EQ(id, 5);
    kw::host::tv::setDisplayId(1);
}

}  // namespace
