// Events as applications send them: the payload, if any, is array-new'd for the receiver.
#pragma once

#include <algorithm>
#include <cstdint>
#include <vector>

#include "platform/PTEvent.h"

inline PTEvent makeEvent(int type, std::vector<unsigned char> bytes = {})
{
    PTEvent ev;
    ev.nEventType = type;
    ev.nDataSize = static_cast<uint16_t>(bytes.size());
    if (bytes.empty()) return ev;
    ev.pData = new unsigned char[bytes.size()];
    std::copy(bytes.begin(), bytes.end(), static_cast<unsigned char*>(ev.pData));
    return ev;
}
