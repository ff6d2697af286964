#pragma once
// The packet sender the module uses: engine command frames travel to the panel's protocol
// service as platform events, and its reply events come back as engine reply frames.
#include <list>

#include "link/VoAppInterfaceSNMP.h"
#include "link/VoPacketInterfaceSNMP.h"

// Event types exchanged with the protocol service.
constexpr int kVoEventRIXCommand = 0x2807;
constexpr int kVoEventRIXReply = 0x2808;
constexpr int kVoEventRIXReplyAlt = 0x2809;
// Application ids of this module and of the protocol service.
constexpr const char* kVoSnmpAppName = "vantrel.native.lumistavesnmp";
constexpr const char* kVoProtocolAppName = "vantrel.native.ozkprotocol";

class VoPlatformAppSNMP : public VoAppInterfaceSNMP, public VoPacketSenderInterfaceSNMP {
public:
    // Creates the command API if needed, registers it as the only receiver and attaches
    // itself as its sender.
    VoPlatformAppSNMP();
    // Detaches itself from the command API (under its transaction lock) when still attached.
    ~VoPlatformAppSNMP() override;

    int GetVoAppID() override;  // 1007
    void Release() override;    // deletes the transport
    // Takes a reply event (0x2808 / 0x2809): 1 when handled, 0 for any other event.
    int ProcEvent(const PTEvent* pEvent) override;

    // Posts the frame as event 0x2807 with the display ID inserted. len + 1 on success, 0 on
    // failure (nothing posted).
    int Send(const unsigned char* data, unsigned int len) override;

    // No duplicate check and no lock: filled during construction, read afterwards. A null
    // receiver is ignored.
    void AddReceiver(VoPacketReceiverInterfaceSNMP* pReceiver);
    // Rebuilds the engine reply frame from a reply payload, copies it into bufferSource and
    // offers it to the receivers.
    void processAckRIX(unsigned char* pPayload, unsigned int nSize);
    // Offers the frame to each receiver in order: 1 when one took it or rejected it as not a
    // frame, 0 when one found it incomplete or none answered.
    int ProcReceiver(unsigned char* pFrame, unsigned int& nLen);

    std::list<VoPacketReceiverInterfaceSNMP*> m_ReceiverList;
};
