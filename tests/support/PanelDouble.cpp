#include "tests/support/PanelDouble.h"

#include <utility>

#include "host/framework/Clock.h"
#include "runtime/VoUtilSNMP.h"

namespace kw::test {

PanelDouble::PanelDouble(VoRIXSNMP* engine) : m_engine(engine), m_link(std::make_shared<Link>())
{
    m_link->engine = engine;
    dropReplies(engine);
    engine->m_pSender = this;
}

PanelDouble::~PanelDouble()
{
    kw::host::Clock::drain();
    {
        std::lock_guard<std::mutex> lock(m_link->mutex);
        m_link->engine = nullptr;
    }
    m_engine->m_pSender = nullptr;
    dropReplies(m_engine);
}

void PanelDouble::dropReplies(VoRIXSNMP* engine)
{
    VoAutoLockSNMP guard(&engine->m_ReplyLock);
    for (nsVoRIXSNMP::_stVoRIXData* reply : engine->m_ReplyList) {
        delete[] reply->pData;
        delete reply;
    }
    engine->m_ReplyList.clear();
}

std::vector<uint8_t> PanelDouble::replyFrame(uint8_t cmd, const std::vector<uint8_t>& values,
                                             uint8_t ack)
{
    std::vector<uint8_t> frame;
    frame.reserve(values.size() + 5);
    frame.push_back(0xFF);
    frame.push_back(static_cast<uint8_t>(values.size() + 2));
    frame.push_back(ack);
    frame.push_back(cmd);
    frame.insert(frame.end(), values.begin(), values.end());
    uint8_t sum = 0;
    for (uint8_t b : frame) sum = static_cast<uint8_t>(sum + b);
    frame.push_back(sum);
    return frame;
}

int PanelDouble::Send(const unsigned char* data, unsigned int len)
{
    std::vector<uint8_t> bytes;
    if (data != nullptr) bytes.assign(data, data + len);
    const uint32_t tick = VoGetTickCountSNMP();

    std::unique_lock<std::mutex> lock(m_mutex);
    m_frames.push_back(SentFrame{bytes, tick});
    const int result = m_forceResult ? m_sendResult : static_cast<int>(len);
    if (result <= 0 || bytes.empty()) return result;

    const uint8_t cmd = bytes[0];
    Answer reply{{}, 'A', 50};
    auto scripted = m_answers.find(cmd);
    if (scripted != m_answers.end() && !scripted->second.empty()) {
        reply = std::move(scripted->second.front());
        scripted->second.pop_front();
    } else if (m_defaultMode == DefaultMode::Silent) {
        return result;
    } else if (m_defaultMode == DefaultMode::Echo) {
        if (bytes.size() > 2) {
            reply.values.assign(bytes.begin() + 2, bytes.end());
        } else {
            reply.values = {0x00};
        }
    } else {
        reply.values = m_defaultValues;
    }
    lock.unlock();
    schedule(replyFrame(cmd, reply.values, reply.ack), reply.delayMs);
    return result;
}

void PanelDouble::schedule(std::vector<uint8_t> bytes, uint32_t delayMs)
{
    std::shared_ptr<Link> link = m_link;
    kw::host::Clock::schedule(delayMs, [link, bytes = std::move(bytes)] {
        std::lock_guard<std::mutex> lock(link->mutex);
        if (link->engine == nullptr) return;
        unsigned int len = static_cast<unsigned int>(bytes.size());
        link->engine->CheckReceiveData(bytes.data(), len);
    });
}

std::vector<SentFrame> PanelDouble::frames() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_frames;
}

void PanelDouble::clearFrames()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_frames.clear();
}

void PanelDouble::answer(uint8_t cmd, std::vector<uint8_t> values, uint8_t ack, uint32_t delayMs)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_answers[cmd].push_back(Answer{std::move(values), ack, delayMs});
}

void PanelDouble::deliverRaw(std::vector<uint8_t> bytes, uint32_t delayMs)
{
    schedule(std::move(bytes), delayMs);
}

void PanelDouble::setDefaultSilent()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_defaultMode = DefaultMode::Silent;
}

void PanelDouble::setDefaultEcho()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_defaultMode = DefaultMode::Echo;
}

void PanelDouble::setDefaultValues(std::vector<uint8_t> values)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_defaultMode = DefaultMode::Fixed;
    m_defaultValues = std::move(values);
}

void PanelDouble::setSendResult(int result)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_forceResult = true;
    m_sendResult = result;
}

}  // namespace kw::test
