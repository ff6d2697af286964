// The protocol service between the module's command events and a panel link.
#include <gtest/gtest.h>

#include <condition_variable>
#include <cstring>
#include <mutex>
#include <optional>
#include <string_view>
#include <thread>
#include <vector>

#include "host/framework/Framework.h"
#include "host/panel/PanelLink.h"
#include "host/protocol/ProtocolService.h"
#include "link/VoPlatformAppSNMP.h"
#include "platform/ORVALE.h"

namespace {

using kw::panel::Reply;
using kw::protocol::ProtocolService;
using Bytes = std::vector<uint8_t>;
using namespace std::chrono_literals;

// The service and the module must agree on the names and numbers they meet by.
static_assert(kVoEventRIXCommand == kw::protocol::kCommandEvent);
static_assert(kVoEventRIXReply == kw::protocol::kReplyEvent);
static_assert(std::string_view(kVoSnmpAppName) == kw::protocol::kModuleAppId);
static_assert(std::string_view(kVoProtocolAppName) == kw::protocol::kServiceAppId);

constexpr uint8_t kA = 0x41, kN = 0x4E, kDown = kw::protocol::kUnreachableReason;

struct Transaction {
    uint8_t cmd, displayId;
    Bytes data;
    std::chrono::milliseconds timeout;
};

// A scripted panel link; can hold a transaction until shutdown or drop the line during one.
class FakeLink : public kw::panel::PanelLink {
public:
    using Script = std::function<std::optional<Reply>(const Transaction&)>;
    explicit FakeLink(Script script) : m_script(std::move(script)) {}

    std::optional<Reply> transact(uint8_t cmd, uint8_t displayId, const Bytes& data,
                                  std::chrono::milliseconds timeout) override
    {
        std::unique_lock<std::mutex> lock(m_mutex);
        overlapped |= ++m_inFlight > 1;
        m_calls.push_back({cmd, displayId, data, timeout});
        m_changed.notify_all();
        if (holdUntilShutdown) m_changed.wait(lock, [&] { return m_shutdown; });
        std::optional<Reply> reply;
        if (!m_shutdown) reply = m_script(m_calls.back());
        if (dropDuringWait) up = false;
        --m_inFlight;
        return reply;
    }
    bool connected() const override
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        return up && !m_shutdown;
    }
    std::string describe() const override { return "fake"; }
    void shutdown() override
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_shutdown = true;
        m_changed.notify_all();
    }

    bool waitForCalls(size_t count)
    {
        std::unique_lock<std::mutex> lock(m_mutex);
        return m_changed.wait_for(lock, 5s, [&] { return m_calls.size() >= count; });
    }
    std::vector<Transaction> calls() const
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_calls;
    }

    bool up = true, holdUntilShutdown = false, dropDuringWait = false, overlapped = false;

private:
    Script m_script;
    mutable std::mutex m_mutex;
    std::condition_variable m_changed;
    std::vector<Transaction> m_calls;
    bool m_shutdown = false;
    int m_inFlight = 0;
};

struct Posted {
    int type;
    Bytes payload;
    int srcInstance;
};

// Stands in for the module under its id: records every event and frees the payload.
class RecordingModule : public ORVALE0300::CApplication {
public:
    RecordingModule()
    {
        EXPECT_TRUE(kw::host::Framework::instance().registerApp(kw::protocol::kModuleAppId, this));
    }
    ~RecordingModule() override
    {
        kw::host::Framework::instance().unregisterApp(kw::protocol::kModuleAppId);
    }
    int t_OnUserMessage(const PTEvent* ev) override
    {
        auto* bytes = static_cast<uint8_t*>(ev->pData);
        std::lock_guard<std::mutex> lock(m_mutex);
        m_events.push_back({ev->nEventType, bytes ? Bytes(bytes, bytes + ev->nDataSize) : Bytes{},
                            ev->nSrcInstanceID});
        delete[] bytes;
        return 1;
    }
    std::vector<Posted> events()
    {
        kw::host::Framework::instance().waitIdle(kw::protocol::kModuleAppId);
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_events;
    }
    std::vector<Bytes> payloads()
    {
        std::vector<Bytes> out;
        for (const Posted& p : events()) out.push_back(p.payload);
        return out;
    }

private:
    std::mutex m_mutex;
    std::vector<Posted> m_events;
};

// Posts a command as the module does: an array-new'd payload that belongs to the receiver.
void postCommand(const Bytes& payload)
{
    PTEvent ev;
    ev.nEventType = kw::protocol::kCommandEvent;
    if (!payload.empty()) {
        auto* data = new uint8_t[payload.size()];
        std::memcpy(data, payload.data(), payload.size());
        ev.pData = data;
    }
    ev.nDataSize = static_cast<uint16_t>(payload.size());
    ORVALE0300::ORVALE::SendEvent(ev, kw::protocol::kServiceAppId, false);
}

// Waits until the service has handled everything posted to it so far.
void settle()
{
    kw::host::Framework::instance().waitIdle(kw::protocol::kServiceAppId);
}

Reply ack(uint8_t cmd, Bytes values)
{
    return Reply{kw::panel::kAck, cmd, std::move(values)};
}

const FakeLink::Script echo = [](const Transaction& t) { return ack(t.cmd, t.data); };

class ProtocolServiceTest : public ::testing::Test {
protected:
    void startWith(FakeLink::Script script, ProtocolService::Options options = {})
    {
        m_link = std::make_shared<FakeLink>(std::move(script));
        start(m_link, std::move(options));
    }
    void start(std::shared_ptr<kw::panel::PanelLink> link, ProtocolService::Options options = {})
    {
        m_service = std::make_unique<ProtocolService>(std::move(link), std::move(options));
        ASSERT_TRUE(m_service->start());
    }
    void TearDown() override
    {
        if (m_service) m_service->stop();
    }

    RecordingModule m_module;
    std::shared_ptr<FakeLink> m_link;
    std::unique_ptr<ProtocolService> m_service;
};

TEST_F(ProtocolServiceTest, CommandsReachTheLinkAndRepliesComeBackAsEvent0x2808)
{
    startWith([](const Transaction& t) -> std::optional<Reply> {
        if (t.cmd == 0x13) return Reply{kw::panel::kNak, 0x13, {0x03}};
        if (t.cmd == 0x8A) return ack(0x8A, Bytes(kw::panel::kMaxReplyValues, 'x'));
        return echo(t);
    });
    postCommand({0x11, 0x05, 0x01, 0x01});  // set
    postCommand({0x71, 0x01, 0x00});        // get without data
    postCommand({0x13, 0x01, 0x01, 0x64});  // refused
    postCommand({0x8A, 0x02, 0x00});        // longest reply
    settle();

    const auto calls = m_link->calls();
    ASSERT_EQ(calls.size(), 4u);
    EXPECT_EQ(std::tie(calls[0].cmd, calls[0].displayId, calls[0].data, calls[0].timeout),
              std::make_tuple(0x11, 0x05, Bytes{0x01}, 10400ms));
    EXPECT_TRUE(calls[1].data.empty());

    const auto events = m_module.events();
    ASSERT_EQ(events.size(), 4u);
    EXPECT_EQ(events[0].type, 0x2808);
    EXPECT_EQ(events[0].srcInstance,
              ORVALE0300::ORVALE::GetInstanceID(ORVALE0300::CString(
                  kw::protocol::kServiceAppId, ORVALE0300::CString::ENCODING_UTF8)));
    Bytes longest{0xFF, 0x02, 0xFF, kA, 0x8A};  // L = 255
    longest.resize(258, 'x');
    EXPECT_EQ(m_module.payloads(), (std::vector<Bytes>{{0xFF, 0x05, 0x03, kA, 0x11, 0x01},
                                                       {0xFF, 0x01, 0x02, kA, 0x71},
                                                       {0xFF, 0x01, 0x03, kN, 0x13, 0x03},
                                                       longest}));
    EXPECT_EQ(m_service->stats().replies, 4u);
    EXPECT_EQ(m_service->stats().naks, 1u);
    EXPECT_TRUE(m_service->stats().lastReply);

    // One at a time, in arrival order.
    for (uint8_t i = 0; i < 8; ++i) postCommand({0x16, 0x01, 0x01, i});
    settle();
    EXPECT_FALSE(m_link->overlapped);
    const auto more = m_module.events();
    ASSERT_EQ(more.size(), 12u);
    for (uint8_t i = 0; i < 8; ++i) EXPECT_EQ(more[4 + i].payload[5], i);
}

TEST_F(ProtocolServiceTest, SilenceIsNotPostedAndALineDownOrLostIsRefused)
{
    startWith(
        [](const Transaction& t) {
            if (t.cmd == 0x14) std::this_thread::sleep_for(200ms);  // the whole wait
            return std::optional<Reply>();
        },
        ProtocolService::Options{200ms, kw::protocol::kModuleAppId, {}});
    postCommand({0x11, 0x01, 0x00});
    settle();
    EXPECT_EQ(m_link->calls().size(), 1u);
    EXPECT_TRUE(m_module.events().empty());
    EXPECT_EQ(m_service->stats().silent, 1u);
    EXPECT_FALSE(m_service->stats().lastReply);

    m_link->dropDuringWait = true;  // lost after the whole wait: the module waits no more
    postCommand({0x14, 0x01, 0x00});
    settle();
    m_link->up = true;
    postCommand({0x12, 0x01, 0x00});  // lost while waiting: refused
    settle();
    m_link->dropDuringWait = false;
    postCommand({0x11, 0x07, 0x00});  // down: refused without touching the link
    settle();
    EXPECT_EQ(m_link->calls().size(), 3u);
    EXPECT_EQ(m_module.payloads(), (std::vector<Bytes>{{0xFF, 0x01, 0x03, kN, 0x12, kDown},
                                                       {0xFF, 0x07, 0x03, kN, 0x11, kDown}}));
    EXPECT_EQ(m_service->stats().refused, 2u);

    m_link->up = true;  // back again: served as usual
    postCommand({0x11, 0x07, 0x00});
    settle();
    EXPECT_EQ(m_link->calls().size(), 4u);
    EXPECT_EQ(m_module.events().size(), 2u);  // the line is up but the panel stays silent
}

TEST_F(ProtocolServiceTest, MalformedAndForeignEventsAreDroppedAndFreed)
{
    startWith(echo);
    // Too short, N 2 with one byte, N 0 with one byte.
    for (const Bytes& bad : std::vector<Bytes>{
             {}, {0x11}, {0x11, 0x01}, {0x11, 0x01, 0x02, 0x05}, {0x11, 0x01, 0x00, 0x05}})
        postCommand(bad);
    settle();
    EXPECT_TRUE(m_link->calls().empty());
    EXPECT_TRUE(m_module.events().empty());
    EXPECT_EQ(m_service->stats().malformed, 5u);
    EXPECT_EQ(m_service->stats().commands, 0u);

    // Called directly: another event type is left to the framework with its payload; a
    // command is taken and freed (ASan checks both).
    ProtocolService direct(m_link, ProtocolService::Options{});
    PTEvent ev;
    ev.nEventType = kw::protocol::kReplyEvent;
    ev.pData = new uint8_t[3]{0xFF, 0x01, 0x00};
    ev.nDataSize = 3;
    EXPECT_EQ(direct.t_OnUserMessage(&ev), 0);
    delete[] static_cast<uint8_t*>(ev.pData);
    ev.nEventType = kw::protocol::kCommandEvent;
    ev.pData = new uint8_t[3]{0x11, 0x01, 0x00};
    EXPECT_EQ(direct.t_OnUserMessage(&ev), 1);
    EXPECT_EQ(direct.t_OnUserMessage(nullptr), 0);
}

TEST_F(ProtocolServiceTest, ShutdownEndsTheWaitAndRefusesWhatFollows)
{
    startWith(echo);
    m_link->holdUntilShutdown = true;
    postCommand({0x11, 0x01, 0x00});
    ASSERT_TRUE(m_link->waitForCalls(1));
    postCommand({0x16, 0x01, 0x00});
    m_service->shutdownLink();
    settle();
    // The held command and the queued one are both refused; only the first reached the link.
    EXPECT_EQ(m_link->calls().size(), 1u);
    EXPECT_EQ(m_module.payloads(), (std::vector<Bytes>{{0xFF, 0x01, 0x03, kN, 0x11, kDown},
                                                       {0xFF, 0x01, 0x03, kN, 0x16, kDown}}));
    EXPECT_FALSE(m_link->connected());

    // Stop with commands queued behind a held one drops them (ASan: no leak).
    m_service->stop();
    startWith(echo);
    m_link->holdUntilShutdown = true;
    postCommand({0x11, 0x01, 0x00});
    ASSERT_TRUE(m_link->waitForCalls(1));
    for (int i = 0; i < 4; ++i) postCommand({0x16, 0x01, 0x00});
    m_service->stop();
    EXPECT_FALSE(kw::host::Framework::instance().isRegistered(kw::protocol::kServiceAppId));
}

// The module may still be polling for a command the panel never answered: stopping tells it,
// once, and leaves an answered last command alone.
TEST_F(ProtocolServiceTest, ShutdownRefusesOnlyALastCommandLeftUnanswered)
{
    const auto answers12 = [](const Transaction& t) -> std::optional<Reply> {
        if (t.cmd == 0x12) return ack(0x12, {0x0F});
        return std::nullopt;
    };
    startWith(answers12);
    postCommand({0x11, 0x03, 0x00});
    settle();
    EXPECT_TRUE(m_module.events().empty());
    m_service->shutdownLink();
    const Bytes refused{0xFF, 0x03, 0x03, kN, 0x11, kDown};
    EXPECT_EQ(m_module.payloads(), std::vector<Bytes>{refused});
    m_service->shutdownLink();
    EXPECT_EQ(m_module.events().size(), 1u);
    m_service->stop();

    startWith(answers12);
    postCommand({0x11, 0x01, 0x00});  // silent, then superseded by an answered command
    postCommand({0x12, 0x01, 0x00});
    settle();
    m_service->shutdownLink();
    const auto events = m_module.events();
    ASSERT_EQ(events.size(), 2u);
    EXPECT_EQ(events[1].payload[3], kA);
}

TEST_F(ProtocolServiceTest, UndeliverableReplyIsFreedAndTheIdIsTakenOnce)
{
    ProtocolService::Options options;
    options.replyTo = "vantrel.native.nobody";
    startWith(echo, options);
    EXPECT_FALSE(ProtocolService(m_link, ProtocolService::Options{}).start());
    postCommand({0x11, 0x01, 0x00});
    settle();
    EXPECT_EQ(m_service->stats().postFailures, 1u);
    EXPECT_TRUE(m_module.events().empty());
}

// The in-process simulated panel behind the service: the reply carries the model's state.
TEST_F(ProtocolServiceTest, SimulatedPanelAnswersThroughTheService)
{
    start(std::make_shared<kw::panel::SimLink>());
    postCommand({0x12, 0x01, 0x01, 0x21});  // volume 33
    postCommand({0x12, 0x01, 0x00});        // read it back
    postCommand({0x12, 0x01, 0x01, 0xC8});  // 200: out of range
    settle();
    const auto events = m_module.events();
    ASSERT_EQ(events.size(), 3u);
    EXPECT_EQ(events[0].payload, (Bytes{0xFF, 0x01, 0x03, kA, 0x12, 0x21}));
    EXPECT_EQ(events[1].payload, (Bytes{0xFF, 0x01, 0x03, kA, 0x12, 0x21}));
    EXPECT_EQ(events[2].payload[3], kN);
}

}  // namespace
