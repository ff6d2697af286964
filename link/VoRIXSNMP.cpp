#include "link/VoRIXSNMP.h"

#include <cstdint>
#include <cstring>

#include "runtime/VoUtilSNMP.h"

namespace {

constexpr unsigned char kReplyMarker = 0xFF;
// Bytes of a reply frame that are not covered by L: marker, L itself and the checksum.
constexpr unsigned int kReplyOverhead = 3;
// L covers at least the acknowledgement and the reply command byte.
constexpr unsigned int kMinReplyLength = 2;
constexpr unsigned int kMaxCommandData = 255;
constexpr long kPollIntervalMs = 100;
constexpr int32_t kReplyLifetimeMs = 30000;

// Ticks wrap modulo 2^32; the signed difference stays right across the wrap.
int32_t ElapsedSince(unsigned int since)
{
    return static_cast<int32_t>(VoGetTickCountSNMP() - since);
}

void FreeReply(nsVoRIXSNMP::_stVoRIXData* reply)
{
    delete[] reply->pData;
    delete reply;
}

}  // namespace

VoRIXSNMP::VoRIXSNMP() : m_pSender(nullptr), m_pSendFrame(nullptr) {}

VoRIXSNMP::~VoRIXSNMP()
{
    VoAutoLockSNMP lock(&m_ReplyLock);
    delete[] m_pSendFrame;
    m_pSendFrame = nullptr;
    for (auto* reply : m_ReplyList) FreeReply(reply);
    m_ReplyList.clear();
}

int VoRIXSNMP::SendRIXData(unsigned char cmd, const unsigned char* data, unsigned int len)
{
    delete[] m_pSendFrame;
    m_pSendFrame = nullptr;
    // The length field is one byte: a longer command cannot be framed truthfully.
    if (len > kMaxCommandData) return 0;

    // Zero-filled, so a null data pointer with a length never sends stale memory.
    m_pSendFrame = new unsigned char[len + 2]();
    m_pSendFrame[0] = cmd;
    m_pSendFrame[1] = static_cast<unsigned char>(len);
    if (len != 0 && data != nullptr) std::memcpy(m_pSendFrame + 2, data, len);

    if (m_pSender != nullptr) return m_pSender->Send(m_pSendFrame, len + 2);

    delete[] m_pSendFrame;
    m_pSendFrame = nullptr;
    return 0;
}

int VoRIXSNMP::CheckReceiveData(const unsigned char* data, unsigned int& len)
{
    VoAutoLockSNMP lock(&m_ReplyLock);
    if (len == 0) return 2;
    if (data == nullptr || data[0] != kReplyMarker) return 1;
    if (len < 2) return 2;  // the length byte has not arrived yet

    const unsigned int frameLen = data[1];
    if (frameLen < kMinReplyLength) return 1;
    if (len < frameLen + kReplyOverhead) return 2;
    if (data[frameLen + 2] != GetCheckSum(data, frameLen + 2)) return 1;

    auto* reply = new nsVoRIXSNMP::_stVoRIXData();
    reply->nAck = data[2];
    reply->nCmd = data[3];
    reply->nSize = frameLen - kMinReplyLength;
    reply->pData = new unsigned char[reply->nSize];
    if (reply->nSize != 0) std::memcpy(reply->pData, data + 4, reply->nSize);
    reply->nTick = VoGetTickCountSNMP();
    m_ReplyList.push_back(reply);

    len = frameLen + kReplyOverhead;
    CheckAliveData();
    return 0;
}

nsVoRIXSNMP::_stVoRIXData* VoRIXSNMP::PopRIXData(unsigned char cmd, long timeoutMs)
{
    const unsigned int start = VoGetTickCountSNMP();
    for (;;) {
        if (ElapsedSince(start) >= timeoutMs) return nullptr;
        {
            VoAutoLockSNMP lock(&m_ReplyLock);
            for (auto it = m_ReplyList.begin(); it != m_ReplyList.end(); ++it) {
                if ((*it)->nCmd == cmd) {
                    nsVoRIXSNMP::_stVoRIXData* reply = *it;
                    m_ReplyList.erase(it);
                    return reply;
                }
            }
        }
        // Never sleep holding the lock: the delivering thread appends between two polls.
        VoSleepSNMP(kPollIntervalMs);
    }
}

unsigned char VoRIXSNMP::GetCheckSum(const unsigned char* data, unsigned int n)
{
    unsigned char sum = 0;
    if (data == nullptr) return sum;
    for (unsigned int i = 0; i < n; ++i) sum = static_cast<unsigned char>(sum + data[i]);
    return sum;
}

void VoRIXSNMP::CheckAliveData()
{
    for (auto it = m_ReplyList.begin(); it != m_ReplyList.end();) {
        if (ElapsedSince((*it)->nTick) > kReplyLifetimeMs) {
            FreeReply(*it);
            it = m_ReplyList.erase(it);
        } else {
            ++it;
        }
    }
}
