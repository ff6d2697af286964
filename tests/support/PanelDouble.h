#pragma once
// A scripted panel as a frame engine's sender: records each command frame with its tick and
// answers with a reply frame through CheckReceiveData on the clock's timer thread.
#include <deque>
#include <map>
#include <mutex>
#include <numeric>
#include <optional>

#include "host/framework/Clock.h"
#include "link/VoRIXSNMP.h"
#include "platform/PTEvent.h"
#include "runtime/VoUtilSNMP.h"

namespace kw::test {

using Bytes = std::vector<uint8_t>;

struct ReplyDeleter {
    void operator()(nsVoRIXSNMP::_stVoRIXData* r) const { delete[] r->pData, delete r; }
};
using Reply = std::unique_ptr<nsVoRIXSNMP::_stVoRIXData, ReplyDeleter>;

// The bytes given, then their checksum.
inline Bytes withSum(Bytes b)
{
    b.push_back(static_cast<uint8_t>(std::accumulate(b.begin(), b.end(), 0u)));
    return b;
}

// An engine reply frame FF L ack cmd values... checksum.
inline Bytes replyFrame(uint8_t cmd, const Bytes& values, uint8_t ack = 'A')
{
    Bytes f{0xFF, static_cast<uint8_t>(values.size() + 2), ack, cmd};
    f.insert(f.end(), values.begin(), values.end());
    return withSum(f);
}

// A reply event as the protocol service sends it; the payload belongs to whoever takes it.
inline PTEvent replyEvent(const Bytes& payload, int type)
{
    PTEvent ev;
    ev.nEventType = type;
    ev.pData = new unsigned char[payload.size()];
    std::copy(payload.begin(), payload.end(), static_cast<unsigned char*>(ev.pData));
    ev.nDataSize = static_cast<uint16_t>(payload.size());
    return ev;
}

class PanelDouble : public VoPacketSenderInterfaceSNMP {
public:
    explicit PanelDouble(VoRIXSNMP* engine) : m_engine(engine)
    {
        reset();
        engine->m_pSender = this;
    }
    // Waits for replies that are due, then detaches; replies not yet due are never delivered.
    ~PanelDouble() override
    {
        kw::host::Clock::drain();
        std::lock_guard<std::mutex> lock(m_link->mutex);
        m_link->engine = nullptr;
        m_engine->m_pSender = nullptr;
        reset();
    }
    // Answers the command's next scripted answer, else with m_echo its data (or {00}), else not.
    int Send(const unsigned char* data, unsigned int len) override
    {
        std::unique_lock<std::mutex> lock(m_mutex);
        m_frames.emplace_back(data, data + len);  // cmd, N, data
        m_lastSend = VoGetTickCountSNMP();
        if (m_sendResult) return *m_sendResult;  // a forced result: recorded, not answered
        Answer a{len > 2 ? Bytes(data + 2, data + len) : Bytes{0x00}, 'A', 50};
        auto& queue = m_answers[data[0]];
        if (!queue.empty()) {
            a = queue.front();
            queue.pop_front();
        } else if (!m_echo) {
            return static_cast<int>(len);
        }
        lock.unlock();
        deliver(replyFrame(data[0], a.values, a.ack), a.delayMs);
        return static_cast<int>(len);
    }
    void answer(uint8_t cmd, Bytes values, uint8_t ack = 'A', uint32_t delayMs = 50)
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_answers[cmd].push_back({std::move(values), ack, delayMs});
    }
    // Offers these bytes to the engine delayMs from now, from the timer thread.
    void deliver(Bytes bytes, uint32_t delayMs)
    {
        kw::host::Clock::schedule(delayMs, [link = m_link, bytes = std::move(bytes)] {
            std::lock_guard<std::mutex> lock(link->mutex);
            unsigned int len = static_cast<unsigned int>(bytes.size());
            if (link->engine != nullptr) link->engine->CheckReceiveData(bytes.data(), len);
        });
    }
    std::vector<Bytes> frames()
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_frames;
    }
    uint32_t sinceLastSend()  // the pause and reply wait of a transaction that has just returned
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        return kw::host::Clock::now() - m_lastSend;
    }
    // Drops the replies left in the engine and the record of sent frames.
    void reset()
    {
        VoAutoLockSNMP guard(&m_engine->m_ReplyLock);
        for (auto* r : m_engine->m_ReplyList) ReplyDeleter()(r);
        m_engine->m_ReplyList.clear();
        std::lock_guard<std::mutex> lock(m_mutex);
        m_frames.clear();
    }
    bool m_echo = false;  // set before the transactions start, as is m_sendResult
    std::optional<int> m_sendResult;

private:
    struct Answer {
        Bytes values;
        uint8_t ack;
        uint32_t delayMs;
    };
    struct Link {  // shared with scheduled deliveries, which may outlive the double
        std::mutex mutex;
        VoRIXSNMP* engine;
    };
    VoRIXSNMP* m_engine;
    std::shared_ptr<Link> m_link{new Link{{}, m_engine}};
    std::mutex m_mutex;
    std::vector<Bytes> m_frames;
    uint32_t m_lastSend = 0;
    std::map<uint8_t, std::deque<Answer>> m_answers;
};

}  // namespace kw::test
