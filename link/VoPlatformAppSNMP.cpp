#include "link/VoPlatformAppSNMP.h"

#include <cstdint>
#include <cstring>

#include "command/VoRIXSNMPApi.h"
#include "link/VoRIXSNMP.h"
#include "platform/ORVALE.h"
#include "platform/SnmpAgent.h"
#include "platform/TvControl.h"
#include "runtime/VoMessageSNMP.h"

namespace {

constexpr unsigned char kCmdInputSource = 0x14;
constexpr unsigned char kCmdSafetyScreen = 0x5B;
constexpr unsigned char kCmdClock = 0xA7;
constexpr unsigned char kInputSourceAutoRun = 0x60;
constexpr unsigned char kReplyMarker = 0xFF;
constexpr unsigned char kAckAccepted = 0x41;
// The largest reply payload taken on; the rebuilt frame must fit the agent's buffer.
constexpr unsigned int kMaxReplyPayload = 1021;
constexpr unsigned int kWorkBufferSize = 1024;
constexpr int kMessageSourceApp = 0;

}  // namespace

VoPlatformAppSNMP::VoPlatformAppSNMP()
{
    VoRIXSNMPApi* pApi = VoSingletonSNMP<VoRIXSNMPApi>::GetInstance();
    AddReceiver(pApi);
    pApi->m_pSender = this;
}

VoPlatformAppSNMP::~VoPlatformAppSNMP()
{
    // Detach under the transaction lock: a transaction in flight finishes its send first, and
    // a later one fails at once instead of reaching a freed sender.
    VoRIXSNMPApi* pApi = VoSingletonSNMP<VoRIXSNMPApi>::m_pObject;
    if (pApi != nullptr) {
        VoAutoLockSNMP lock(&pApi->m_Lock);
        if (pApi->m_pSender == static_cast<VoPacketSenderInterfaceSNMP*>(this)) {
            pApi->m_pSender = nullptr;
        }
    }
    m_ReceiverList.clear();
}

int VoPlatformAppSNMP::GetVoAppID()
{
    return nsVoMessageDefSNMP::VO_SNMP_APP_PLATFORM;
}

void VoPlatformAppSNMP::Release()
{
    delete this;
}

int VoPlatformAppSNMP::Send(const unsigned char* data, unsigned int len)
{
    // The payload is len + 1 bytes and its size travels in 16 bits.
    if (data == nullptr || len == 0 || len >= UINT16_MAX) {
        return 0;
    }
    const unsigned int nSize = len + 1;
    unsigned char* pPayload = new unsigned char[nSize];
    pPayload[0] = data[0];

    unsigned char nDisplayID = 0;
    ITvInterface* pTv = TvControl::GetTv();
    if (pTv == nullptr || pTv->GetDisplayID(&nDisplayID) == 0) {
        delete[] pPayload;
        return 0;
    }
    pPayload[1] = nDisplayID;
    if (len > 1) {
        memcpy(pPayload + 2, data + 1, len - 1);
    }

    // Payload: cmd, ID, N, data... The corrections look only at data bytes actually present.
    if (pPayload[0] == kCmdSafetyScreen) {
        if (nSize >= 6 && pPayload[2] == 3 && pPayload[3] == 0) {
            pPayload[3] = 4;
            pPayload[4] = 0;
            pPayload[5] = 0;
        }
    } else if (pPayload[0] == kCmdInputSource) {
        if (nSize >= 4 && pPayload[3] == kInputSourceAutoRun) {
            VoSingletonSNMP<VoMessageSNMP>::GetInstance()->SendMessage(
                kMessageSourceApp, nsVoMessageDefSNMP::VO_APP_UI,
                nsVoMessageDefSNMP::VO_MSG_SET_AUTO_RUN, 0, nullptr, 0);
        }
    }

    PTEvent ev;
    ev.nEventType = kVoEventRIXCommand;
    ev.pData = pPayload;
    ev.nDataSize = static_cast<uint16_t>(nSize);
    ev.nSrcInstanceID = ORVALE0300::ORVALE::GetInstanceID(
        ORVALE0300::CString(kVoSnmpAppName, ORVALE0300::CString::ENCODING_UTF8));
    // The payload belongs to the framework from here on, whether or not the event is queued.
    if (ORVALE0300::ORVALE::SendEvent(ev, kVoProtocolAppName, false) == 0) {
        return 0;
    }
    return static_cast<int>(nSize);
}

int VoPlatformAppSNMP::ProcEvent(const PTEvent* pEvent)
{
    if (pEvent == nullptr ||
        (pEvent->nEventType != kVoEventRIXReply && pEvent->nEventType != kVoEventRIXReplyAlt)) {
        return 0;
    }
    unsigned char* pPayload = static_cast<unsigned char*>(pEvent->pData);
    if (pPayload == nullptr) {
        return 1;
    }
    const int16_t nSize = static_cast<int16_t>(pEvent->nDataSize);
    // An empty payload has no first byte to look at.
    if (nSize != 0 && pPayload[0] == kReplyMarker) {
        processAckRIX(pPayload, static_cast<unsigned int>(static_cast<int>(nSize)));
    }
    delete[] pPayload;
    return 1;
}

void VoPlatformAppSNMP::AddReceiver(VoPacketReceiverInterfaceSNMP* pReceiver)
{
    // Every reply is offered to each listed receiver, so a null one is never listed.
    if (pReceiver == nullptr) {
        return;
    }
    m_ReceiverList.push_back(pReceiver);
}

void VoPlatformAppSNMP::processAckRIX(unsigned char* pPayload, unsigned int nSize)
{
    if (pPayload == nullptr || nSize <= 3 || nSize > kMaxReplyPayload) {
        return;
    }
    // The payload's display ID (byte 1) is dropped; the last byte becomes the checksum.
    unsigned char frame[kWorkBufferSize] = {0};
    frame[0] = pPayload[0];
    memcpy(frame + 1, pPayload + 2, nSize - 2);

    const unsigned char nLen = frame[1];
    const unsigned char nAck = frame[2];
    const unsigned char nCmd = frame[3];
    if (nAck == kAckAccepted) {
        if (nCmd == kCmdClock && nLen == 9) {
            if (frame[5] == 0) {
                frame[5] = 0x0C;
            }
        } else if (nCmd == kCmdSafetyScreen && nLen == 5) {
            if (frame[5] == 0 || frame[6] == 0) {
                frame[4] = 0;
            }
        }
    }
    frame[nSize - 1] = VoRIXSNMP::GetCheckSum(frame, nSize - 1);

    memcpy(bufferSource, frame, nSize);
    unsigned int nFrameLen = nSize;
    ProcReceiver(frame, nFrameLen);
}

int VoPlatformAppSNMP::ProcReceiver(unsigned char* pFrame, unsigned int& nLen)
{
    for (VoPacketReceiverInterfaceSNMP* pReceiver : m_ReceiverList) {
        const int nResult = pReceiver->CheckReceiveData(pFrame, nLen);
        if (nResult == 0 || nResult == 1) {
            return 1;
        }
        if (nResult == 2) {
            return 0;
        }
    }
    return 0;
}
