#include "runtime/VoPackSNMP.h"

#include <cstring>

VoPackSNMP::VoPackSNMP() = default;

VoPackSNMP::~VoPackSNMP() = default;

void VoPackSNMP::PushData(const void* pData, unsigned int nLen)
{
    if (pData == nullptr || nLen == 0) return;
    const auto* p = static_cast<const unsigned char*>(pData);
    m_vecData.insert(m_vecData.end(), p, p + nLen);
}

int VoPackSNMP::PopData(const void* pDest, unsigned int nLen)
{
    if (pDest == nullptr || nLen == 0 || nLen > m_vecData.size()) return 0;
    // The destination is declared const by the interface, yet it receives the bytes.
    std::memcpy(const_cast<void*>(pDest), m_vecData.data(), nLen);
    m_vecData.erase(m_vecData.begin(), m_vecData.begin() + nLen);
    return 1;
}

unsigned char* VoPackSNMP::GetData()
{
    auto* out = new unsigned char[m_vecData.size()];
    if (!m_vecData.empty()) std::memcpy(out, m_vecData.data(), m_vecData.size());
    return out;
}
