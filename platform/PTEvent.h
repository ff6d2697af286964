#pragma once
// Host framework: one event as it travels between applications.
#include <cstdint>

struct PTEvent {
    int nEventType = 0;          // event type, e.g. 0x2807
    void* pData = nullptr;       // payload; owned by the receiving application once posted
    uint16_t nDataSize = 0;      // payload size in bytes
    int nSrcInstanceID = 0;      // instance id of the sending application, 0 when none
    int nDstInstanceID = 0;      // filled in by the framework on delivery
};
