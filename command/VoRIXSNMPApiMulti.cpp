// The multi-field commands and the string reads: field i is data byte i of a set and reply
// byte i of every mode.
#include <algorithm>

#include "command/VoRIXSNMPApi.h"

namespace {

// The serial number is at most 18 characters; anything the panel sends beyond is dropped.
constexpr unsigned int kSerialNumberMax = 18;
// A reply frame's length byte leaves room for at most 253 values, so a longer field list could
// never be filled; capping it only spares the allocation.
constexpr unsigned int kReplyValuesMax = 253;

// A string read: buffer byte k is field k+1. No terminator is written, so the caller passes a
// cleared buffer when it wants a terminated string.
int ReadString(VoRIXSNMPApi* api, unsigned char cmd, unsigned char* pBuffer, unsigned int nFields)
{
    std::vector<unsigned char*> fields;
    if (pBuffer != nullptr) {
        fields.reserve(nFields);
        for (unsigned int k = 0; k < nFields; ++k) fields.push_back(pBuffer + k);
    }
    return api->SendParam(RIX_GET, cmd, &fields);
}

}  // namespace

int VoRIXSNMPApi::Get_SerialNumberControl(unsigned char* pBuffer, unsigned int nSize)
{
    return ReadString(this, 0x0B, pBuffer, std::min(nSize, kSerialNumberMax));
}

int VoRIXSNMPApi::Get_SWVersionControl(unsigned char* pBuffer, unsigned int nSize)
{
    return ReadString(this, 0x0E, pBuffer, std::min(nSize, kReplyValuesMax));
}

int VoRIXSNMPApi::Get_ModelNameControl(unsigned char* pBuffer, unsigned int nSize)
{
    return ReadString(this, 0x8A, pBuffer, std::min(nSize, kReplyValuesMax));
}

int VoRIXSNMPApi::Get_PanelOnTime(unsigned char* p1, unsigned char* p2)
{
    std::vector<unsigned char*> fields{p1, p2};
    return SendParam(RIX_GET, 0x83, &fields);
}

int VoRIXSNMPApi::AutoMotionPlus(eRIXType eMode, unsigned char* p1, unsigned char* p2,
                                 unsigned char* p3)
{
    std::vector<unsigned char*> fields{p1, p2, p3};
    return SendParam(eMode, 0x0F, &fields);
}

int VoRIXSNMPApi::Set_VideoPicturePositionSize(unsigned char* p1, unsigned char* p2)
{
    std::vector<unsigned char*> fields{p1, p2};
    return SendParam(RIX_SET, 0x4B, &fields);
}

int VoRIXSNMPApi::DirectChannelControl(eRIXType eMode, unsigned char* p1, unsigned char* p2,
                                       unsigned char* p3, unsigned char* p4, unsigned char* p5,
                                       unsigned char* p6, unsigned char* p7, unsigned char* p8)
{
    std::vector<unsigned char*> fields{p1, p2, p3, p4, p5, p6, p7, p8};
    return SendParam(eMode, 0x17, &fields);
}

int VoRIXSNMPApi::Get_DisplayStatusControl(unsigned char* p1, unsigned char* p2, unsigned char* p3,
                                           unsigned char* p4, unsigned char* p5, unsigned char* p6)
{
    std::vector<unsigned char*> fields{p1, p2, p3, p4, p5, p6};
    return SendParam(RIX_GET, 0x0D, &fields);
}

int VoRIXSNMPApi::Timer1Control(eRIXType eMode, unsigned char* p1, unsigned char* p2,
                                unsigned char* p3, unsigned char* p4, unsigned char* p5,
                                unsigned char* p6, unsigned char* p7, unsigned char* p8,
                                unsigned char* p9, unsigned char* p10, unsigned char* p11,
                                unsigned char* p12, unsigned char* p13, unsigned char* p14,
                                unsigned char* p15)
{
    std::vector<unsigned char*> fields{p1, p2,  p3,  p4,  p5,  p6,  p7, p8,
                                       p9, p10, p11, p12, p13, p14, p15};
    return SendParam(eMode, 0xA4, &fields);
}

int VoRIXSNMPApi::ClockControl(eRIXType eMode, unsigned char* p1, unsigned char* p2,
                               unsigned char* p3, unsigned char* p4, unsigned char* p5,
                               unsigned char* p6, unsigned char* p7)
{
    std::vector<unsigned char*> fields{p1, p2, p3, p4, p5, p6, p7};
    return SendParam(eMode, 0xA7, &fields);
}

int VoRIXSNMPApi::Timer5Control(eRIXType eMode, unsigned char* p1, unsigned char* p2,
                                unsigned char* p3, unsigned char* p4, unsigned char* p5,
                                unsigned char* p6, unsigned char* p7, unsigned char* p8,
                                unsigned char* p9, unsigned char* p10, unsigned char* p11,
                                unsigned char* p12, unsigned char* p13, unsigned char* p14,
                                unsigned char* p15)
{
    std::vector<unsigned char*> fields{p1, p2,  p3,  p4,  p5,  p6,  p7, p8,
                                       p9, p10, p11, p12, p13, p14, p15};
    return SendParam(eMode, 0xAC, &fields);
}

int VoRIXSNMPApi::Timer4Control(eRIXType eMode, unsigned char* p1, unsigned char* p2,
                                unsigned char* p3, unsigned char* p4, unsigned char* p5,
                                unsigned char* p6, unsigned char* p7, unsigned char* p8,
                                unsigned char* p9, unsigned char* p10, unsigned char* p11,
                                unsigned char* p12, unsigned char* p13, unsigned char* p14,
                                unsigned char* p15)
{
    std::vector<unsigned char*> fields{p1, p2,  p3,  p4,  p5,  p6,  p7, p8,
                                       p9, p10, p11, p12, p13, p14, p15};
    return SendParam(eMode, 0xAB, &fields);
}

int VoRIXSNMPApi::Timer3Control(eRIXType eMode, unsigned char* p1, unsigned char* p2,
                                unsigned char* p3, unsigned char* p4, unsigned char* p5,
                                unsigned char* p6, unsigned char* p7, unsigned char* p8,
                                unsigned char* p9, unsigned char* p10, unsigned char* p11,
                                unsigned char* p12, unsigned char* p13, unsigned char* p14,
                                unsigned char* p15)
{
    std::vector<unsigned char*> fields{p1, p2,  p3,  p4,  p5,  p6,  p7, p8,
                                       p9, p10, p11, p12, p13, p14, p15};
    return SendParam(eMode, 0xA6, &fields);
}

int VoRIXSNMPApi::Timer2Control(eRIXType eMode, unsigned char* p1, unsigned char* p2,
                                unsigned char* p3, unsigned char* p4, unsigned char* p5,
                                unsigned char* p6, unsigned char* p7, unsigned char* p8,
                                unsigned char* p9, unsigned char* p10, unsigned char* p11,
                                unsigned char* p12, unsigned char* p13, unsigned char* p14,
                                unsigned char* p15)
{
    std::vector<unsigned char*> fields{p1, p2,  p3,  p4,  p5,  p6,  p7, p8,
                                       p9, p10, p11, p12, p13, p14, p15};
    return SendParam(eMode, 0xA5, &fields);
}

int VoRIXSNMPApi::Get_ModelNumberControl(unsigned char* p1, unsigned char* p2, unsigned char* p3)
{
    std::vector<unsigned char*> fields{p1, p2, p3};
    return SendParam(RIX_GET, 0x10, &fields);
}

int VoRIXSNMPApi::AmbientBrightnessSensor(eRIXType eMode, unsigned char* p1, unsigned char* p2,
                                          unsigned char* p3)
{
    std::vector<unsigned char*> fields{p1, p2, p3};
    return SendParam(eMode, 0xA1, &fields);
}

int VoRIXSNMPApi::Get_HolidayGetControl(eRIXType eMode, unsigned char* p1, unsigned char* p2,
                                        unsigned char* p3, unsigned char* p4, unsigned char* p5)
{
    std::vector<unsigned char*> fields{p1, p2, p3, p4, p5};
    return SendParam(eMode, 0xA9, &fields);
}

int VoRIXSNMPApi::Set_HolidayAddDeleteControl(unsigned char* p1, unsigned char* p2,
                                              unsigned char* p3, unsigned char* p4,
                                              unsigned char* p5)
{
    std::vector<unsigned char*> fields{p1, p2, p3, p4, p5};
    return SendParam(RIX_SET, 0xA8, &fields);
}

int VoRIXSNMPApi::Timer7Control(eRIXType eMode, unsigned char* p1, unsigned char* p2,
                                unsigned char* p3, unsigned char* p4, unsigned char* p5,
                                unsigned char* p6, unsigned char* p7, unsigned char* p8,
                                unsigned char* p9, unsigned char* p10, unsigned char* p11,
                                unsigned char* p12, unsigned char* p13, unsigned char* p14,
                                unsigned char* p15)
{
    std::vector<unsigned char*> fields{p1, p2,  p3,  p4,  p5,  p6,  p7, p8,
                                       p9, p10, p11, p12, p13, p14, p15};
    return SendParam(eMode, 0xAE, &fields);
}

int VoRIXSNMPApi::Timer6Control(eRIXType eMode, unsigned char* p1, unsigned char* p2,
                                unsigned char* p3, unsigned char* p4, unsigned char* p5,
                                unsigned char* p6, unsigned char* p7, unsigned char* p8,
                                unsigned char* p9, unsigned char* p10, unsigned char* p11,
                                unsigned char* p12, unsigned char* p13, unsigned char* p14,
                                unsigned char* p15)
{
    std::vector<unsigned char*> fields{p1, p2,  p3,  p4,  p5,  p6,  p7, p8,
                                       p9, p10, p11, p12, p13, p14, p15};
    return SendParam(eMode, 0xAD, &fields);
}

int VoRIXSNMPApi::AutoLampControl(eRIXType eMode, unsigned char* p1, unsigned char* p2,
                                  unsigned char* p3, unsigned char* p4, unsigned char* p5,
                                  unsigned char* p6, unsigned char* p7, unsigned char* p8)
{
    std::vector<unsigned char*> fields{p1, p2, p3, p4, p5, p6, p7, p8};
    return SendParam(eMode, 0x57, &fields);
}

int VoRIXSNMPApi::VideoWallUserControl(eRIXType eMode, unsigned char* p1, unsigned char* p2)
{
    std::vector<unsigned char*> fields{p1, p2};
    return SendParam(eMode, 0x89, &fields);
}

int VoRIXSNMPApi::SafetyScreenControl(eRIXType eMode, unsigned char* p1, unsigned char* p2,
                                      unsigned char* p3, unsigned char* p4, unsigned char* p5,
                                      unsigned char* p6, unsigned char* p7)
{
    std::vector<unsigned char*> fields{p1, p2, p3, p4, p5, p6, p7};
    return SendParam(eMode, 0x5B, &fields);
}

int VoRIXSNMPApi::SafetyScreenControl(eRIXType eMode, unsigned char* p1, unsigned char* p2,
                                      unsigned char* p3)
{
    std::vector<unsigned char*> fields{p1, p2, p3};
    return SendParam(eMode, 0x5B, &fields);
}

int VoRIXSNMPApi::PixelShift(eRIXType eMode, unsigned char* p1, unsigned char* p2,
                             unsigned char* p3, unsigned char* p4)
{
    std::vector<unsigned char*> fields{p1, p2, p3, p4};
    return SendParam(eMode, 0x4C, &fields);
}

int VoRIXSNMPApi::OSDDisplayTypeOnOff(eRIXType eMode, unsigned char* p1, unsigned char* p2)
{
    std::vector<unsigned char*> fields{p1, p2};
    return SendParam(eMode, 0xA3, &fields);
}
