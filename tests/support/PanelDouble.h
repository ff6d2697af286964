#pragma once
// A scripted panel for tests: attached to a frame engine as its packet sender, it records every
// engine command frame and answers with engine reply frames delivered through CheckReceiveData
// on the clock's timer thread, so replies arrive from another thread, on virtual time when the
// test runs under kw::host::VirtualClockScope.
#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <vector>

#include "link/VoRIXSNMP.h"

namespace kw::test {

struct SentFrame {
    std::vector<uint8_t> bytes;  // the engine command frame: cmd, N, data
    uint32_t tick;               // clock tick when Send was called
};

class PanelDouble : public VoPacketSenderInterfaceSNMP {
public:
    // Attaches itself as engine->m_pSender; drops replies left in engine->m_ReplyList.
    explicit PanelDouble(VoRIXSNMP* engine);
    // Waits for scheduled replies that are due, detaches (m_pSender = nullptr) and frees the
    // replies left in the engine's list. Replies not yet due are never delivered.
    ~PanelDouble() override;

    PanelDouble(const PanelDouble&) = delete;
    PanelDouble& operator=(const PanelDouble&) = delete;

    // Records the frame, then answers it (unless a forced result marks the send as failed).
    int Send(const unsigned char* data, unsigned int len) override;

    std::vector<SentFrame> frames() const;
    void clearFrames();

    // Queues the answer to the next command with byte cmd (FIFO per command byte). The reply
    // frame FF L ack cmd values... checksum reaches the engine delayMs after that send.
    void answer(uint8_t cmd, std::vector<uint8_t> values, uint8_t ack = 'A', uint32_t delayMs = 50);
    // Delivers these raw bytes through CheckReceiveData delayMs after now.
    void deliverRaw(std::vector<uint8_t> bytes, uint32_t delayMs);

    // What a command without a scripted answer gets: nothing (the default), an 'A' reply that
    // echoes the sent data bytes ({0x00} for a command without data), or fixed values.
    void setDefaultSilent();
    void setDefaultEcho();
    void setDefaultValues(std::vector<uint8_t> values);

    // Forces Send's result; 0 or below marks a failed send, which is recorded but not answered.
    // The default returns len.
    void setSendResult(int result);

    // An engine reply frame with its checksum; values holds at most 253 bytes.
    static std::vector<uint8_t> replyFrame(uint8_t cmd, const std::vector<uint8_t>& values,
                                           uint8_t ack = 'A');

private:
    enum class DefaultMode { Silent, Echo, Fixed };
    struct Answer {
        std::vector<uint8_t> values;
        uint8_t ack;
        uint32_t delayMs;
    };
    // Shared with scheduled deliveries, which may outlive the double: once detached they drop
    // their bytes instead of touching the engine.
    struct Link {
        std::mutex mutex;
        VoRIXSNMP* engine;
    };

    void schedule(std::vector<uint8_t> bytes, uint32_t delayMs);
    static void dropReplies(VoRIXSNMP* engine);

    VoRIXSNMP* m_engine;
    std::shared_ptr<Link> m_link;
    mutable std::mutex m_mutex;
    std::vector<SentFrame> m_frames;
    std::map<uint8_t, std::deque<Answer>> m_answers;
    DefaultMode m_defaultMode = DefaultMode::Silent;
    std::vector<uint8_t> m_defaultValues;
    bool m_forceResult = false;
    int m_sendResult = 0;
};

}  // namespace kw::test
