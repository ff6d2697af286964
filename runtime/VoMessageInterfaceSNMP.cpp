#include "runtime/VoMessageInterfaceSNMP.h"

VoMessageInterfaceSNMP::~VoMessageInterfaceSNMP() {}

int VoMessageInterfaceSNMP::PreProcMessage(const nsVoMessageDefSNMP::_stVoMessage*)
{
    return 0;
}

int VoMessageInterfaceSNMP::ProcMessage(const nsVoMessageDefSNMP::_stVoMessage* pMsg)
{
    if (pMsg == nullptr) {
        return 0;
    }
    if (PreProcMessage(pMsg) != 0) {
        return 1;
    }
    return DoProcMessage(pMsg);
}
