#pragma once
// The handler interface of a component that receives messages from VoMessageSNMP.
#include "runtime/VoMessageDefSNMP.h"

class VoMessageInterfaceSNMP {
public:
    virtual ~VoMessageInterfaceSNMP();

    // Non-zero when it consumed the message, so DoProcMessage is not called.
    virtual int PreProcMessage(const nsVoMessageDefSNMP::_stVoMessage* pMsg);
    // The main handler; its result is passed back to the caller of ProcMessage.
    virtual int DoProcMessage(const nsVoMessageDefSNMP::_stVoMessage* pMsg) = 0;

    // 0 for a null message; 1 when PreProcMessage consumed it; else DoProcMessage's result.
    int ProcMessage(const nsVoMessageDefSNMP::_stVoMessage* pMsg);
};
