// One command transaction through the host framework, on real time: the transport posts the
// command to a fake protocol service, which answers with a reply event that comes back through
// the application's user messages into the command API's reply list.
#include <gtest/gtest.h>

#include <cstring>
#include <map>
#include <mutex>
#include <thread>
#include <vector>

#include "TransportSupport.h"
#include "command/VoRIXSNMPApi.h"
#include "host/framework/Clock.h"
#include "host/framework/Framework.h"
#include "host/framework/Tv.h"
#include "platform/ORVALE.h"

namespace {

const auto* const kEnvironment =
    ::testing::AddGlobalTestEnvironment(new kw::test::MessageServiceTeardown());

constexpr uint8_t kDisplayId = 0x2C;

// The protocol service's side: answers each command event with an acknowledged reply event
// carrying the values scripted for its command byte.
class FakeProtocolService : public ORVALE0300::CApplication {
public:
    explicit FakeProtocolService(std::map<uint8_t, std::vector<uint8_t>> values)
        : m_values(std::move(values))
    {
        EXPECT_TRUE(kw::host::Framework::instance().registerApp(kVoProtocolAppName, this));
    }
    ~FakeProtocolService() override
    {
        kw::host::Framework::instance().unregisterApp(kVoProtocolAppName);
    }

    int t_OnUserMessage(const PTEvent* ev) override
    {
        auto* command = static_cast<uint8_t*>(ev->pData);
        if (ev->nEventType != kVoEventRIXCommand || command == nullptr || ev->nDataSize < 2) {
            return 0;
        }
        const uint8_t cmd = command[0];
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_commands.emplace_back(command, command + ev->nDataSize);
        }
        delete[] command;

        const std::vector<uint8_t>& values = m_values[cmd];
        const size_t size = values.size() + 5;
        auto* reply = new uint8_t[size];
        reply[0] = 0xFF;
        reply[1] = kDisplayId;
        reply[2] = static_cast<uint8_t>(values.size() + 2);
        reply[3] = 0x41;
        reply[4] = cmd;
        if (!values.empty()) {
            memcpy(reply + 5, values.data(), values.size());
        }
        PTEvent answer;
        answer.nEventType = kVoEventRIXReply;
        answer.pData = reply;
        answer.nDataSize = static_cast<uint16_t>(size);
        answer.nSrcInstanceID = ORVALE0300::ORVALE::GetInstanceID(
            ORVALE0300::CString(kVoProtocolAppName, ORVALE0300::CString::ENCODING_UTF8));
        ORVALE0300::ORVALE::SendEvent(answer, kVoSnmpAppName, false);
        return 1;
    }

    std::vector<std::vector<uint8_t>> commands()
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_commands;
    }

private:
    std::map<uint8_t, std::vector<uint8_t>> m_values;
    std::mutex m_mutex;
    std::vector<std::vector<uint8_t>> m_commands;
};

// Stands in for the module's application: creates the transport on its own thread and hands
// every user message to it.
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

TEST(TransportRoundTripTest, TransactionsCompleteWithTheRepliesValues)
{
    kw::host::tv::setAvailable(true);
    kw::host::tv::setDisplayId(kDisplayId);
    FakeProtocolService protocol({{0x11, {0x01}},
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
    // The clock reply's zero second value arrives corrected.
    EXPECT_EQ((std::vector<unsigned char>{0x17, 0x0C, 0x03, 0x0A, 0x05, 0x01, 0x02}),
              std::vector<unsigned char>(c, c + 7));
    EXPECT_EQ(1, safety);
    // The safety-screen reply 04 00 00 has a zero value, so its first value arrives as 0.
    EXPECT_EQ((std::vector<unsigned char>{0x00, 0x00, 0x00}), std::vector<unsigned char>(s, s + 3));

    const auto commands = protocol.commands();
    ASSERT_EQ(3u, commands.size());
    EXPECT_EQ((std::vector<uint8_t>{0x11, kDisplayId, 0x00}), commands[0]);
    EXPECT_EQ((std::vector<uint8_t>{0xA7, kDisplayId, 0x00}), commands[1]);
    // The safety-screen set went out corrected.
    EXPECT_EQ((std::vector<uint8_t>{0x5B, kDisplayId, 0x03, 0x04, 0x00, 0x00}), commands[2]);

    // Once the transport is gone, a late request fails at once.
    host.releaseTransport();
    EXPECT_EQ(nullptr, pApi->m_pSender);
    const uint32_t start = kw::host::Clock::now();
    unsigned char late = 0x33;
    EXPECT_EQ(0, pApi->PowerControl(RIX_GET, &late));
    EXPECT_EQ(0x33, late);
    EXPECT_LT(kw::host::Clock::now() - start, 100u);
    EXPECT_EQ(3u, protocol.commands().size());
}

}  // namespace
