#pragma once
// Doubles for the platform-app transport's tests: a protocol service that records the command
// events it receives, a receiver that records the frames offered to it, and a teardown that
// stops the process-wide message service.
#include <gtest/gtest.h>

#include <cstdint>
#include <mutex>
#include <vector>

#include "host/framework/Framework.h"
#include "link/VoPacketInterfaceSNMP.h"
#include "link/VoPlatformAppSNMP.h"
#include "platform/CApplication.h"
#include "runtime/VoMessageSNMP.h"

namespace kw::test {

struct ReceivedEvent {
    int type;
    std::vector<uint8_t> payload;
    uint16_t size;
    int srcInstance;
    int dstInstance;
};

// Registered as the protocol service; records every event and takes its payload.
class RecordingProtocolApp : public ORVALE0300::CApplication {
public:
    RecordingProtocolApp()
    {
        EXPECT_TRUE(kw::host::Framework::instance().registerApp(kVoProtocolAppName, this));
    }
    ~RecordingProtocolApp() override
    {
        kw::host::Framework::instance().unregisterApp(kVoProtocolAppName);
    }

    int t_OnUserMessage(const PTEvent* ev) override
    {
        const auto* p = static_cast<const uint8_t*>(ev->pData);
        std::lock_guard<std::mutex> lock(m_mutex);
        m_events.push_back(
            {ev->nEventType,
             p != nullptr ? std::vector<uint8_t>(p, p + ev->nDataSize) : std::vector<uint8_t>{},
             ev->nDataSize, ev->nSrcInstanceID, ev->nDstInstanceID});
        delete[] static_cast<uint8_t*>(ev->pData);
        return 1;
    }

    // Every event posted so far, once the application thread has handled them.
    std::vector<ReceivedEvent> events()
    {
        kw::host::Framework::instance().waitIdle(kVoProtocolAppName);
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_events;
    }

private:
    std::mutex m_mutex;
    std::vector<ReceivedEvent> m_events;
};

class RecordingReceiver : public VoPacketReceiverInterfaceSNMP {
public:
    explicit RecordingReceiver(int result) : m_result(result) {}
    int CheckReceiveData(const unsigned char* data, unsigned int& len) override
    {
        m_frames.emplace_back(data, data + len);
        return m_result;
    }
    int m_result;
    std::vector<std::vector<uint8_t>> m_frames;
};

// The message service is process-wide and starts its thread on first use; stop it at the end.
class MessageServiceTeardown : public ::testing::Environment {
public:
    void TearDown() override
    {
        VoMessageSNMP*& pService = VoSingletonSNMP<VoMessageSNMP>::m_pObject;
        if (pService != nullptr) {
            pService->Destroy();
            delete pService;
            pService = nullptr;
        }
    }
};

}  // namespace kw::test
