#pragma once
// Growable byte FIFO in which a command's data bytes are assembled.
#include <vector>

class VoPackSNMP {
public:
    VoPackSNMP();
    virtual ~VoPackSNMP();

    // Appends nLen bytes; nothing for a null pointer or a zero length.
    void PushData(const void* pData, unsigned int nLen);
    // Takes nLen bytes off the front into pDest. 0 and no change for null, 0 or too many.
    int PopData(const void* pDest, unsigned int nLen);
    // A new array (array new) holding a copy of every byte; the caller frees it. Never null.
    unsigned char* GetData();

    std::vector<unsigned char> m_vecData;
};
