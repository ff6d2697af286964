// The command transaction, the per-command pacing table and the marshalling of command data.
#include "command/VoRIXSNMPApi.h"

#include "runtime/VoUtilSNMP.h"

namespace {

// Pause after a get, whatever the table says.
constexpr long kGetPauseMs = 100;
// Pause after a set for a command the table does not list.
constexpr long kDefaultPauseMs = 200;
// Pause after a set for the commands the panel needs longer to apply.
constexpr long kSlowPauseMs = 400;
constexpr long kReplyTimeoutMs = 10000;
constexpr unsigned char kAckAccepted = 0x41;  // 'A'

void FreeReply(nsVoRIXSNMP::_stVoRIXData* reply)
{
    delete[] reply->pData;
    delete reply;
}

}  // namespace

VoRIXSNMPApi::VoRIXSNMPApi()
{
    SetCmdDealyTimeMap();
}

VoRIXSNMPApi::~VoRIXSNMPApi()
{
    m_mapCmdDelay.clear();
}

void VoRIXSNMPApi::SetCmdDealyTimeMap()
{
    static const unsigned char kSlowCommands[] = {0x78, 0x01, 0x02, 0x03, 0x71, 0x3E,
                                                  0x75, 0x72, 0x7A, 0xA8, 0xA9};
    for (unsigned char cmd : kSlowCommands) {
        m_mapCmdDelay[static_cast<char>(cmd)] = kSlowPauseMs;
    }
}

long VoRIXSNMPApi::GetCmdDelay(char cmd)
{
    auto it = m_mapCmdDelay.find(cmd);
    return it == m_mapCmdDelay.end() ? kDefaultPauseMs : it->second;
}

nsVoRIXSNMP::_stVoRIXData* VoRIXSNMPApi::SendRIXData(eRIXType eMode, unsigned char cmd,
                                                     long delayMs, VoPackSNMP* pPack)
{
    // Held across send, pause and wait: at most one command is outstanding at the panel.
    VoAutoLockSNMP guard(&m_Lock);

    int sent = 0;
    long pauseMs = 0;
    switch (eMode) {
        case RIX_SET:
            if (pPack == nullptr) return nullptr;
            {
                unsigned char* data = pPack->GetData();
                sent = VoRIXSNMP::SendRIXData(cmd, data,
                                              static_cast<unsigned int>(pPack->m_vecData.size()));
                delete[] data;
            }
            pauseMs = delayMs;
            break;
        case RIX_GET:
            sent = VoRIXSNMP::SendRIXData(cmd, nullptr, 0);
            pauseMs = kGetPauseMs;
            break;
        case RIX_GET_PARAM:
            // The parameter byte is the pack's first; without one there is nothing to ask.
            if (pPack == nullptr || pPack->m_vecData.empty()) return nullptr;
            {
                unsigned char* data = pPack->GetData();
                sent = VoRIXSNMP::SendRIXData(cmd, data, 1);
                delete[] data;
            }
            pauseMs = delayMs;
            break;
        default:
            return nullptr;
    }
    if (sent <= 0) return nullptr;

    VoSleepSNMP(pauseMs);

    nsVoRIXSNMP::_stVoRIXData* reply = PopRIXData(cmd, kReplyTimeoutMs);
    if (reply == nullptr) return nullptr;
    if (reply->nAck != kAckAccepted) {
        FreeReply(reply);
        return nullptr;
    }
    return reply;
}

int VoRIXSNMPApi::SendParam(eRIXType eMode, unsigned char cmd, unsigned char* pValue)
{
    VoPackSNMP pack;
    if (pValue != nullptr) {
        pack.PushData(pValue, 1);
    } else if (eMode == RIX_SET || eMode == RIX_GET_PARAM) {
        return 0;
    }

    const bool carriesData = eMode == RIX_SET || eMode == RIX_GET_PARAM;
    nsVoRIXSNMP::_stVoRIXData* reply =
        SendRIXData(eMode, cmd, GetCmdDelay(static_cast<char>(cmd)), carriesData ? &pack : nullptr);
    if (reply == nullptr) return 0;
    if (reply->nSize == 0) {
        FreeReply(reply);
        return 0;
    }
    // The panel's answer is the value now in force, after a set as after a get.
    if (pValue != nullptr) *pValue = reply->pData[0];
    FreeReply(reply);
    return 1;
}

int VoRIXSNMPApi::SendParam(eRIXType eMode, unsigned char cmd, std::vector<unsigned char*>* pFields)
{
    if (pFields == nullptr) return 0;

    VoPackSNMP pack;
    for (unsigned char* field : *pFields) {
        const unsigned char byte = field != nullptr ? *field : 0;
        pack.PushData(&byte, 1);
    }

    nsVoRIXSNMP::_stVoRIXData* reply =
        SendRIXData(eMode, cmd, GetCmdDelay(static_cast<char>(cmd)), &pack);
    if (reply == nullptr) return 0;

    // A short reply fills only the leading fields; the rest keep their values.
    for (size_t i = 0; i < reply->nSize && i < pFields->size(); ++i) {
        if ((*pFields)[i] != nullptr) *(*pFields)[i] = reply->pData[i];
    }
    FreeReply(reply);
    return 1;
}
