#pragma once
// The frame engine: builds engine command frames, parses reply frames into the reply list and
// hands replies out by command byte.
#include <list>

#include "link/VoPacketInterfaceSNMP.h"
#include "runtime/VoLockSNMP.h"

namespace nsVoRIXSNMP {

struct _stVoRIXData {
    unsigned char nCmd;    // the command the reply answers
    unsigned char nAck;    // 'A' (0x41) acknowledged, 'N' (0x4E) refused
    unsigned char* pData;  // value bytes (array), owned by the record
    unsigned int nSize;    // number of value bytes
    unsigned int nTick;    // arrival tick
};

}  // namespace nsVoRIXSNMP

class VoRIXSNMP : public VoPacketReceiverInterfaceSNMP {
public:
    VoRIXSNMP();
    ~VoRIXSNMP() override;

    int CheckReceiveData(const unsigned char* data, unsigned int& len) override;

    // Frames cmd, len, data and hands the frame to m_pSender. 0 when no sender is attached.
    int SendRIXData(unsigned char cmd, const unsigned char* data, unsigned int len);
    // The oldest reply for cmd, waiting up to timeoutMs; null on timeout. The caller owns it.
    nsVoRIXSNMP::_stVoRIXData* PopRIXData(unsigned char cmd, long timeoutMs);
    static unsigned char GetCheckSum(const unsigned char* data, unsigned int n);
    // Drops replies older than 30000 ms; called with m_ReplyLock held.
    void CheckAliveData();

    std::list<nsVoRIXSNMP::_stVoRIXData*> m_ReplyList;
    // Written directly by the transport that attaches itself; not owned.
    VoPacketSenderInterfaceSNMP* m_pSender;
    VoLockSNMP m_ReplyLock;
    unsigned char* m_pSendFrame;
};
