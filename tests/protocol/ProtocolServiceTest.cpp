// The protocol service between the module's command events and a panel link.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <mutex>
#include <optional>
#include <string_view>
#include <utility>
#include <vector>

#include "host/framework/Framework.h"
#include "host/panel/PanelLink.h"
#include "host/protocol/ProtocolService.h"
#include "link/VoPlatformAppSNMP.h"
#include "platform/ORVALE.h"

namespace {

using kw::host::Framework;
using kw::panel::Reply;
using kw::protocol::kModuleAppId;
using kw::protocol::kServiceAppId;
using kw::protocol::ProtocolService;
using Bytes = std::vector<uint8_t>;
using namespace std::chrono_literals;

// The service and the module must agree on the names and numbers they meet by.
static_assert(kVoEventRIXCommand == kw::protocol::kCommandEvent);
static_assert(kVoEventRIXReply == kw::protocol::kReplyEvent);
static_assert(std::string_view(kVoSnmpAppName) == kModuleAppId);
static_assert(std::string_view(kVoProtocolAppName) == kServiceAppId);

constexpr uint8_t kA = 0x41, kN = 0x4E, kDown = kw::protocol::kUnreachableReason;

using Transaction = std::tuple<int, int, Bytes, std::chrono::milliseconds>;

// A panel link that echoes what it is sent and refuses 0x13. Display 3 is silent, display 2's
// line drops while it waits, display 9 holds the transaction until shutdown.
class FakeLink : public kw::panel::PanelLink {
public:
    std::optional<Reply> transact(uint8_t cmd, uint8_t displayId, const Bytes& data,
                                  std::chrono::milliseconds timeout) override
    {
        std::unique_lock<std::mutex> lock(m_mutex);
        m_calls.push_back({cmd, displayId, data, timeout});
        m_changed.notify_all();
        if (displayId == 9) m_changed.wait(lock, [&] { return m_shutdown.load(); });
        if (displayId == 2) up = false;
        if (cmd == 0x13) return Reply{kw::panel::kNak, cmd, {0x03}};
        if (cmd == 0x8A) return Reply{kA, cmd, Bytes(kw::panel::kMaxReplyValues, 'x')};
        if (displayId == 3 || displayId == 2 || m_shutdown) return std::nullopt;
        return Reply{kA, cmd, data};
    }
    bool connected() const override { return up && !m_shutdown; }
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

    std::atomic<bool> up{true};

private:
    mutable std::mutex m_mutex;
    std::condition_variable m_changed;
    std::vector<Transaction> m_calls;
    std::atomic<bool> m_shutdown{false};
};

// Stands in for the module under its id: records every event and frees the payload.
class RecordingModule : public ORVALE0300::CApplication {
public:
    RecordingModule() { EXPECT_TRUE(Framework::instance().registerApp(kModuleAppId, this)); }
    ~RecordingModule() override { Framework::instance().unregisterApp(kModuleAppId); }
    int t_OnUserMessage(const PTEvent* ev) override
    {
        auto* bytes = static_cast<uint8_t*>(ev->pData);
        std::lock_guard<std::mutex> lock(m_mutex);
        EXPECT_EQ(ev->nEventType, 0x2808);
        EXPECT_EQ(ev->nSrcInstanceID, ORVALE0300::ORVALE::GetInstanceID(ORVALE0300::CString(
                                          kServiceAppId, ORVALE0300::CString::ENCODING_UTF8)));
        m_payloads.push_back(bytes ? Bytes(bytes, bytes + ev->nDataSize) : Bytes{});
        delete[] bytes;
        return 1;
    }
    std::vector<Bytes> take()
    {
        Framework::instance().waitIdle(kModuleAppId);
        std::lock_guard<std::mutex> lock(m_mutex);
        return std::exchange(m_payloads, {});
    }

private:
    std::mutex m_mutex;
    std::vector<Bytes> m_payloads;
};

// Posts a command as the module does: an array-new'd payload that belongs to the receiver.
void postCommand(const Bytes& payload)
{
    PTEvent ev;
    ev.nEventType = kw::protocol::kCommandEvent;
    if (!payload.empty()) ev.pData = new uint8_t[payload.size()];
    std::copy(payload.begin(), payload.end(), static_cast<uint8_t*>(ev.pData));
    ev.nDataSize = static_cast<uint16_t>(payload.size());
    ORVALE0300::ORVALE::SendEvent(ev, kServiceAppId, false);
}

// The refusal the service makes up for a command that cannot reach the panel.
const auto refusal = [](uint8_t cmd, uint8_t id = 1) { return Bytes{0xFF, id, 3, kN, cmd, kDown}; };

class ProtocolServiceTest : public ::testing::Test {
protected:
    void start(std::shared_ptr<kw::panel::PanelLink> link, std::string replyTo = kModuleAppId)
    {
        ProtocolService::Options options;
        options.replyTo = replyTo;
        m_service = std::make_unique<ProtocolService>(std::move(link), options);
        ASSERT_TRUE(m_service->start());
    }
    // Waits until the service has handled everything posted to it so far.
    void settle() { Framework::instance().waitIdle(kServiceAppId); }
    void serve(const Bytes& command)
    {
        postCommand(command);
        settle();
    }
    void TearDown() override { m_service->stop(); }  // every test starts one

    RecordingModule m_module;
    std::shared_ptr<FakeLink> m_link = std::make_shared<FakeLink>();
    std::unique_ptr<ProtocolService> m_service;
};

TEST_F(ProtocolServiceTest, CommandsReachTheLinkAndRepliesComeBackInOrder)
{
    start(m_link);
    EXPECT_FALSE(ProtocolService(std::make_shared<FakeLink>(), {}).start());  // the ID is taken
    // Malformed ones are dropped (and freed): too short, N 2 with one byte, N 0 with one byte.
    for (const Bytes& bad : std::vector<Bytes>{
             {}, {0x11}, {0x11, 0x01}, {0x11, 0x01, 0x02, 0x05}, {0x11, 0x01, 0x00, 0x05}})
        postCommand(bad);
    postCommand({0x11, 0x05, 0x01, 0x01});                               // set
    postCommand({0x71, 0x01, 0x00});                                     // get without data
    postCommand({0x13, 0x01, 0x01, 0x64});                               // refused
    postCommand({0x8A, 0x04, 0x00});                                     // longest reply
    for (uint8_t i = 0; i < 4; ++i) postCommand({0x16, 0x01, 0x01, i});  // one at a time
    settle();

    const auto calls = m_link->calls();
    ASSERT_EQ(calls.size(), 8u);
    EXPECT_EQ(calls[0], Transaction(0x11, 0x05, Bytes{0x01}, 10400ms));
    Bytes longest{0xFF, 0x04, 0xFF, kA, 0x8A};  // L = 255
    longest.resize(258, 'x');
    std::vector<Bytes> expected{{0xFF, 0x05, 0x03, kA, 0x11, 0x01},
                                {0xFF, 0x01, 0x02, kA, 0x71},
                                {0xFF, 0x01, 0x03, kN, 0x13, 0x03},
                                longest};
    for (uint8_t i = 0; i < 4; ++i) expected.push_back({0xFF, 0x01, 0x03, kA, 0x16, i});
    EXPECT_EQ(m_module.take(), expected);
}

// Silence posts nothing; a line that is down, or lost while waiting, is refused at once.
// Stopping refuses a last command left unanswered, once, and never an answered one; it ends a
// held wait and refuses what is queued behind it.
TEST_F(ProtocolServiceTest, SilenceLineDownShutdownAndStop)
{
    start(m_link);
    serve({0x11, 0x03, 0x00});
    EXPECT_TRUE(m_module.take().empty());
    serve({0x12, 0x02, 0x00});  // lost while waiting: refused
    serve({0x14, 0x07, 0x00});  // down: refused without touching the link
    EXPECT_EQ(m_link->calls().size(), 2u);
    EXPECT_EQ(m_module.take(), (std::vector<Bytes>{refusal(0x12, 2), refusal(0x14, 7)}));
    m_link->up = true;  // back again: served as usual
    serve({0x11, 0x03, 0x00});
    EXPECT_EQ(m_link->calls().size(), 3u);
    m_service->shutdownLink();
    m_service->shutdownLink();
    EXPECT_EQ(m_module.take(), std::vector<Bytes>{refusal(0x11, 3)});
    m_service->stop();

    // Silent, then superseded by an answered command: nothing to refuse.
    start(m_link = std::make_shared<FakeLink>());
    postCommand({0x11, 0x03, 0x00});
    serve({0x12, 0x01, 0x00});
    m_service->shutdownLink();
    EXPECT_EQ(m_module.take(), (std::vector<Bytes>{{0xFF, 0x01, 0x02, kA, 0x12}}));
    m_service->stop();

    // A held command and the one queued behind it are refused; only the first reached the link.
    start(m_link = std::make_shared<FakeLink>());
    postCommand({0x11, 0x09, 0x00});
    ASSERT_TRUE(m_link->waitForCalls(1));
    postCommand({0x16, 0x01, 0x00});
    m_service->shutdownLink();
    settle();
    EXPECT_EQ(m_link->calls().size(), 1u);
    EXPECT_EQ(m_module.take(), (std::vector<Bytes>{refusal(0x11, 9), refusal(0x16)}));
    EXPECT_FALSE(m_link->connected());
    m_service->stop();

    // Stop alone ends a held wait too and refuses it; what is queued behind it is refused or
    // dropped (ASan: freed either way), depending on how far the service got.
    start(m_link = std::make_shared<FakeLink>());
    postCommand({0x11, 0x09, 0x00});
    ASSERT_TRUE(m_link->waitForCalls(1));
    postCommand({0x16, 0x01, 0x00});
    m_service->stop();
    EXPECT_FALSE(Framework::instance().isRegistered(kServiceAppId));
    EXPECT_EQ(m_module.take().at(0), refusal(0x11, 9));

    start(std::make_shared<FakeLink>(), "vantrel.native.nobody");  // a reply nobody takes: freed
    serve({0x12, 0x01, 0x00});
    EXPECT_TRUE(m_module.take().empty());
}

}  // namespace
