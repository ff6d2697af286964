// The protocol service between the module's command events and a panel link: payload formats
// both ways, ownership of every payload, silence, refusals, malformed events and shutdown.
#include <gtest/gtest.h>

#include <condition_variable>
#include <cstring>
#include <mutex>
#include <optional>
#include <vector>

#include "host/framework/Framework.h"
#include "host/panel/PanelLink.h"
#include "host/protocol/ProtocolService.h"
#include "link/VoPlatformAppSNMP.h"
#include "platform/ORVALE.h"

namespace {

using kw::panel::Reply;
using kw::protocol::ProtocolService;
using namespace std::chrono_literals;

// The service and the module must agree on the names and numbers they meet by.
static_assert(kVoEventRIXCommand == kw::protocol::kCommandEvent);
static_assert(kVoEventRIXReply == kw::protocol::kReplyEvent);

bool sameText(const char* a, const char* b)
{
    return std::strcmp(a, b) == 0;
}

constexpr auto kWaitLimit = 5s;  // only reached when something is broken

struct Transaction {
    uint8_t cmd;
    uint8_t displayId;
    std::vector<uint8_t> data;
    std::chrono::milliseconds timeout;
};

// A panel link whose answers the test scripts. It can hold a transaction until shutdown, and
// it checks that transactions never overlap.
class FakeLink : public kw::panel::PanelLink {
public:
    using Script = std::function<std::optional<Reply>(const Transaction&)>;

    explicit FakeLink(Script script) : m_script(std::move(script)) {}

    std::optional<Reply> transact(uint8_t cmd, uint8_t displayId, const std::vector<uint8_t>& data,
                                  std::chrono::milliseconds timeout) override
    {
        std::unique_lock<std::mutex> lock(m_mutex);
        if (++m_inFlight > 1) m_overlapped = true;
        m_calls.push_back({cmd, displayId, data, timeout});
        m_changed.notify_all();
        if (m_holdUntilShutdown) {
            m_changed.wait(lock, [&] { return m_shutdown; });
        }
        std::optional<Reply> reply;
        if (!m_shutdown) reply = m_script(m_calls.back());
        if (m_dropDuringWait) m_connected = false;
        --m_inFlight;
        return reply;
    }
    bool connected() const override
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_connected && !m_shutdown;
    }
    std::string describe() const override { return "fake"; }
    void shutdown() override
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_shutdown = true;
        m_changed.notify_all();
    }

    void setConnected(bool up)
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_connected = up;
    }
    void holdUntilShutdown()
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_holdUntilShutdown = true;
    }
    void dropDuringWait()
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_dropDuringWait = true;
    }
    bool waitForCalls(size_t count)
    {
        std::unique_lock<std::mutex> lock(m_mutex);
        return m_changed.wait_for(lock, kWaitLimit, [&] { return m_calls.size() >= count; });
    }
    std::vector<Transaction> calls() const
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_calls;
    }
    bool overlapped() const
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_overlapped;
    }

private:
    Script m_script;
    mutable std::mutex m_mutex;
    std::condition_variable m_changed;
    std::vector<Transaction> m_calls;
    bool m_connected = true;
    bool m_shutdown = false;
    bool m_holdUntilShutdown = false;
    bool m_dropDuringWait = false;
    int m_inFlight = 0;
    bool m_overlapped = false;
};

struct Posted {
    int type;
    std::vector<uint8_t> payload;
    int srcInstance;
};

// Stands in for the module: registered under the module's id, it records every event it gets
// and frees the payload, as the module does.
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
        m_events.push_back(
            {ev->nEventType,
             bytes ? std::vector<uint8_t>(bytes, bytes + ev->nDataSize) : std::vector<uint8_t>{},
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

private:
    std::mutex m_mutex;
    std::vector<Posted> m_events;
};

// Posts a command event to the service the way the module does: an array-new'd payload that
// belongs to the receiver.
void postCommand(const std::vector<uint8_t>& payload, int type = kw::protocol::kCommandEvent)
{
    PTEvent ev;
    ev.nEventType = type;
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

Reply ack(uint8_t cmd, std::vector<uint8_t> values)
{
    return Reply{kw::panel::kAck, cmd, std::move(values)};
}

class ProtocolServiceTest : public ::testing::Test {
protected:
    void startWith(FakeLink::Script script)
    {
        m_link = std::make_shared<FakeLink>(std::move(script));
        m_service = std::make_unique<ProtocolService>(m_link, ProtocolService::Options{});
        ASSERT_TRUE(m_service->start());
    }
    void TearDown() override
    {
        if (m_service) m_service->stop();
        m_service.reset();
    }

    RecordingModule m_module;
    std::shared_ptr<FakeLink> m_link;
    std::unique_ptr<ProtocolService> m_service;
};

TEST_F(ProtocolServiceTest, CommandReachesTheLinkAndTheReplyComesBackAsEvent0x2808)
{
    startWith([](const Transaction& t) { return ack(t.cmd, {0x01}); });
    postCommand({0x11, 0x05, 0x01, 0x01});
    settle();

    const auto calls = m_link->calls();
    ASSERT_EQ(calls.size(), 1u);
    EXPECT_EQ(calls[0].cmd, 0x11);
    EXPECT_EQ(calls[0].displayId, 0x05);
    EXPECT_EQ(calls[0].data, (std::vector<uint8_t>{0x01}));
    EXPECT_EQ(calls[0].timeout, 3000ms);

    const auto events = m_module.events();
    ASSERT_EQ(events.size(), 1u);
    EXPECT_EQ(events[0].type, 0x2808);
    EXPECT_EQ(events[0].payload, (std::vector<uint8_t>{0xFF, 0x05, 0x03, 0x41, 0x11, 0x01}));
    EXPECT_EQ(events[0].srcInstance,
              ORVALE0300::ORVALE::GetInstanceID(ORVALE0300::CString(
                  kw::protocol::kServiceAppId, ORVALE0300::CString::ENCODING_UTF8)));
    EXPECT_EQ(m_service->stats().replies, 1u);
}

TEST_F(ProtocolServiceTest, GetWithoutDataRefusalAndLongestReplyKeepTheirShape)
{
    startWith([](const Transaction& t) -> std::optional<Reply> {
        if (t.cmd == 0x13) return Reply{kw::panel::kNak, 0x13, {0x03}};
        if (t.cmd == 0x8A) return ack(0x8A, std::vector<uint8_t>(kw::panel::kMaxReplyValues, 'x'));
        return ack(t.cmd, {});
    });
    postCommand({0x71, 0x01, 0x00});
    postCommand({0x13, 0x01, 0x01, 0x64});
    postCommand({0x8A, 0x02, 0x00});
    settle();

    const auto calls = m_link->calls();
    ASSERT_EQ(calls.size(), 3u);
    EXPECT_TRUE(calls[0].data.empty());

    const auto events = m_module.events();
    ASSERT_EQ(events.size(), 3u);
    EXPECT_EQ(events[0].payload, (std::vector<uint8_t>{0xFF, 0x01, 0x02, 0x41, 0x71}));
    EXPECT_EQ(events[1].payload, (std::vector<uint8_t>{0xFF, 0x01, 0x03, 0x4E, 0x13, 0x03}));
    ASSERT_EQ(events[2].payload.size(), 258u);  // L + 3 with L = 255
    EXPECT_EQ(events[2].payload[1], 0x02);
    EXPECT_EQ(events[2].payload[2], 0xFF);
    EXPECT_EQ(events[2].payload[257], 'x');
}

TEST_F(ProtocolServiceTest, CommandsAreServedOneAtATimeInArrivalOrder)
{
    startWith(
        [](const Transaction& t) { return ack(t.cmd, {t.data.empty() ? uint8_t(0) : t.data[0]}); });
    for (uint8_t i = 0; i < 8; ++i) postCommand({0x16, 0x01, 0x01, i});
    settle();

    EXPECT_FALSE(m_link->overlapped());
    const auto events = m_module.events();
    ASSERT_EQ(events.size(), 8u);
    for (uint8_t i = 0; i < 8; ++i) EXPECT_EQ(events[i].payload[5], i);
}

TEST_F(ProtocolServiceTest, SilentPanelGetsNothingPosted)
{
    startWith([](const Transaction&) { return std::nullopt; });
    postCommand({0x11, 0x01, 0x00});
    settle();

    EXPECT_EQ(m_link->calls().size(), 1u);
    EXPECT_TRUE(m_module.events().empty());
    EXPECT_EQ(m_service->stats().silent, 1u);
}

TEST_F(ProtocolServiceTest, LineDownIsRefusedAtOnceWithoutTouchingTheLink)
{
    startWith([](const Transaction& t) { return ack(t.cmd, {0x01}); });
    m_link->setConnected(false);
    postCommand({0x11, 0x07, 0x00});
    settle();

    EXPECT_TRUE(m_link->calls().empty());
    const auto events = m_module.events();
    ASSERT_EQ(events.size(), 1u);
    EXPECT_EQ(events[0].payload, (std::vector<uint8_t>{0xFF, 0x07, 0x03, 0x4E, 0x11,
                                                       kw::protocol::kUnreachableReason}));

    m_link->setConnected(true);  // back again: served as usual
    postCommand({0x11, 0x07, 0x00});
    settle();
    ASSERT_EQ(m_module.events().size(), 2u);
    EXPECT_EQ(m_module.events()[1].payload[3], 0x41);
    EXPECT_EQ(m_service->stats().refused, 1u);
}

TEST_F(ProtocolServiceTest, LineLostDuringTheWaitIsRefused)
{
    startWith([](const Transaction&) { return std::nullopt; });
    m_link->dropDuringWait();
    postCommand({0x12, 0x01, 0x00});
    settle();

    const auto events = m_module.events();
    ASSERT_EQ(events.size(), 1u);
    EXPECT_EQ(events[0].payload[3], 0x4E);
    EXPECT_EQ(events[0].payload[4], 0x12);
}

TEST_F(ProtocolServiceTest, MalformedPayloadsAreDroppedAndFreed)
{
    startWith([](const Transaction& t) { return ack(t.cmd, {}); });
    postCommand({});                        // no payload at all
    postCommand({0x11});                    // too short
    postCommand({0x11, 0x01});              // too short
    postCommand({0x11, 0x01, 0x02, 0x05});  // N says 2, one data byte
    postCommand({0x11, 0x01, 0x00, 0x05});  // N says 0, one data byte
    settle();

    EXPECT_TRUE(m_link->calls().empty());
    EXPECT_TRUE(m_module.events().empty());
    EXPECT_EQ(m_service->stats().malformed, 5u);
    EXPECT_EQ(m_service->stats().commands, 0u);
}

TEST(ProtocolServiceDirect, OnlyCommandEventsAreTaken)
{
    auto link = std::make_shared<FakeLink>([](const Transaction&) { return std::nullopt; });
    ProtocolService service(link, ProtocolService::Options{});  // not registered

    // Another event type is left to the framework, payload untouched.
    auto* other = new uint8_t[3]{0xFF, 0x01, 0x00};
    PTEvent ev;
    ev.nEventType = kw::protocol::kReplyEvent;
    ev.pData = other;
    ev.nDataSize = 3;
    EXPECT_EQ(service.t_OnUserMessage(&ev), 0);
    EXPECT_EQ(other[0], 0xFF);
    delete[] other;

    // A command event is taken and its payload freed (ASan checks the free).
    ev.nEventType = kw::protocol::kCommandEvent;
    ev.pData = new uint8_t[3]{0x11, 0x01, 0x00};
    EXPECT_EQ(service.t_OnUserMessage(&ev), 1);
    EXPECT_EQ(service.t_OnUserMessage(nullptr), 0);
}

TEST_F(ProtocolServiceTest, ShutdownEndsTheWaitAndRefusesWhatFollows)
{
    startWith([](const Transaction& t) { return ack(t.cmd, {0x01}); });
    m_link->holdUntilShutdown();
    postCommand({0x11, 0x01, 0x00});
    ASSERT_TRUE(m_link->waitForCalls(1));
    postCommand({0x16, 0x01, 0x00});

    m_service->shutdownLink();
    settle();

    // The held command and the queued one are both refused; only the first reached the link.
    EXPECT_EQ(m_link->calls().size(), 1u);
    const auto events = m_module.events();
    ASSERT_EQ(events.size(), 2u);
    EXPECT_EQ(events[0].payload[3], 0x4E);
    EXPECT_EQ(events[0].payload[4], 0x11);
    EXPECT_EQ(events[1].payload[3], 0x4E);
    EXPECT_EQ(events[1].payload[4], 0x16);
    EXPECT_FALSE(m_link->connected());
}

// The module may still be polling for a command the panel never answered: stopping tells it.
TEST_F(ProtocolServiceTest, ShutdownRefusesTheCommandLeftUnanswered)
{
    startWith([](const Transaction& t) -> std::optional<Reply> {
        if (t.cmd == 0x12) return ack(0x12, {0x0F});
        return std::nullopt;
    });
    postCommand({0x11, 0x03, 0x00});
    settle();
    EXPECT_TRUE(m_module.events().empty());

    m_service->shutdownLink();
    const auto events = m_module.events();
    ASSERT_EQ(events.size(), 1u);
    EXPECT_EQ(events[0].payload, (std::vector<uint8_t>{0xFF, 0x03, 0x03, 0x4E, 0x11,
                                                       kw::protocol::kUnreachableReason}));
    m_service->shutdownLink();  // once only
    EXPECT_EQ(m_module.events().size(), 1u);
}

TEST_F(ProtocolServiceTest, ShutdownLeavesAnsweredCommandsAlone)
{
    startWith([](const Transaction& t) -> std::optional<Reply> {
        if (t.cmd == 0x12) return ack(0x12, {0x0F});
        return std::nullopt;
    });
    postCommand({0x11, 0x01, 0x00});  // silent, then superseded by the next command
    postCommand({0x12, 0x01, 0x00});
    settle();
    m_service->shutdownLink();
    const auto events = m_module.events();
    ASSERT_EQ(events.size(), 1u);
    EXPECT_EQ(events[0].payload[3], 0x41);
}

TEST_F(ProtocolServiceTest, StopWhileCommandsAreQueuedFreesThem)
{
    startWith([](const Transaction& t) { return ack(t.cmd, {0x01}); });
    m_link->holdUntilShutdown();
    postCommand({0x11, 0x01, 0x00});
    ASSERT_TRUE(m_link->waitForCalls(1));
    for (int i = 0; i < 4; ++i) postCommand({0x16, 0x01, 0x00});

    m_service->stop();  // ends the wait, unregisters; the queue is dropped (ASan: no leak)
    EXPECT_FALSE(kw::host::Framework::instance().isRegistered(kw::protocol::kServiceAppId));
    m_service.reset();
}

TEST_F(ProtocolServiceTest, ReplyWithNobodyToTakeItIsFreedByTheFramework)
{
    auto link = std::make_shared<FakeLink>([](const Transaction& t) { return ack(t.cmd, {0x01}); });
    ProtocolService::Options options;
    options.replyTo = "vantrel.native.nobody";
    m_service = std::make_unique<ProtocolService>(link, options);
    ASSERT_TRUE(m_service->start());
    postCommand({0x11, 0x01, 0x00});
    settle();

    EXPECT_EQ(m_service->stats().postFailures, 1u);
    EXPECT_TRUE(m_module.events().empty());
}

TEST_F(ProtocolServiceTest, SecondServiceCannotTakeTheId)
{
    startWith([](const Transaction&) { return std::nullopt; });
    ProtocolService other(m_link, ProtocolService::Options{});
    EXPECT_FALSE(other.start());
}

TEST_F(ProtocolServiceTest, TraceTellsWhatHappenedToEachCommand)
{
    std::vector<std::string> lines;
    std::mutex linesMutex;
    auto link = std::make_shared<FakeLink>([](const Transaction& t) -> std::optional<Reply> {
        if (t.cmd == 0x11) return ack(0x11, {0x01});
        return std::nullopt;
    });
    ProtocolService::Options options;
    options.trace = [&](const std::string& line) {
        std::lock_guard<std::mutex> lock(linesMutex);
        lines.push_back(line);
    };
    m_service = std::make_unique<ProtocolService>(link, options);
    ASSERT_TRUE(m_service->start());
    postCommand({0x11, 0x01, 0x00});
    postCommand({0x12, 0x01, 0x01, 0x32});
    settle();
    m_service->stop();  // the trace outlives no service call

    std::lock_guard<std::mutex> lock(linesMutex);
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_EQ(lines[0], "cmd 11 id 1: A 01");
    EXPECT_EQ(lines[1], "cmd 12 id 1 data 32: no reply");
    EXPECT_EQ(lines[2], "cmd 12 id 1 data 32: refused, stopping, no reply came");
}

// The in-process simulated panel behind the service: the reply carries the model's state.
TEST_F(ProtocolServiceTest, SimulatedPanelAnswersThroughTheService)
{
    auto sim = std::make_shared<kw::panel::SimLink>();
    m_service = std::make_unique<ProtocolService>(sim, ProtocolService::Options{});
    ASSERT_TRUE(m_service->start());
    postCommand({0x12, 0x01, 0x01, 0x21});  // volume 33
    postCommand({0x12, 0x01, 0x00});        // read it back
    postCommand({0x12, 0x01, 0x01, 0xC8});  // 200: out of range
    settle();

    const auto events = m_module.events();
    ASSERT_EQ(events.size(), 3u);
    EXPECT_EQ(events[0].payload, (std::vector<uint8_t>{0xFF, 0x01, 0x03, 0x41, 0x12, 0x21}));
    EXPECT_EQ(events[1].payload, (std::vector<uint8_t>{0xFF, 0x01, 0x03, 0x41, 0x12, 0x21}));
    EXPECT_EQ(events[2].payload[3], 0x4E);
}

TEST(ProtocolServiceNames, MatchTheModule)
{
    EXPECT_TRUE(sameText(kVoSnmpAppName, kw::protocol::kModuleAppId));
    EXPECT_TRUE(sameText(kVoProtocolAppName, kw::protocol::kServiceAppId));
}

}  // namespace
