#pragma once
// The display-control command API: one operation per RIX command, all through one paced
// transaction. It is also the frame engine, so it holds the reply list its replies land in.
#include <map>
#include <vector>

#include "link/VoRIXSNMP.h"
#include "runtime/VoLockSNMP.h"
#include "runtime/VoPackSNMP.h"
#include "runtime/VoSingletonSNMP.h"

// The command mode. Fixed underlying type: any int a caller passes is a value, and modes other
// than these three are refused.
enum eRIXType : int {
    RIX_SET = 0,        // sends all data bytes; pauses the command's table delay
    RIX_GET = 1,        // sends no data; pauses 100 ms
    RIX_GET_PARAM = 2,  // sends only the first data byte; pauses the command's table delay
};

class VoRIXSNMPApi : public VoSingletonSNMP<VoRIXSNMPApi>, public VoRIXSNMP {
public:
    VoRIXSNMPApi();
    ~VoRIXSNMPApi() override;

    long GetCmdDelay(char cmd);
    void SetCmdDealyTimeMap();

    // The transaction: send, pause, await the acknowledged reply. The record belongs to the
    // caller; null on any failure.
    nsVoRIXSNMP::_stVoRIXData* SendRIXData(eRIXType eMode, unsigned char cmd, long delayMs,
                                           VoPackSNMP* pPack);
    int SendParam(eRIXType eMode, unsigned char cmd, unsigned char* pValue);
    int SendParam(eRIXType eMode, unsigned char cmd, std::vector<unsigned char*>* pFields);

    // Single-value commands.
    int InputSourceControl(eRIXType eMode, unsigned char* pValue);       // 0x14
    int KeyLock(eRIXType eMode, unsigned char* pValue);                  // 0x5F
    int PowerControl(eRIXType eMode, unsigned char* pValue);             // 0x11
    int Get_ScreenSizeControl(unsigned char* pValue);                    // 0x19, fixed get
    int ChannelUpDown(eRIXType eMode, unsigned char* pValue);            // 0x61
    int PModeControl(eRIXType eMode, unsigned char* pValue);             // 0x71
    int PictureSizeControl(eRIXType eMode, unsigned char* pValue);       // 0x15
    int ManualLampControl(eRIXType eMode, unsigned char* pValue);        // 0x58
    int ContrastControl(eRIXType eMode, unsigned char* pValue);          // 0x24
    int BrightnessControl(eRIXType eMode, unsigned char* pValue);        // 0x25
    int SharpnessControl(eRIXType eMode, unsigned char* pValue);         // 0x26
    int ColorControl(eRIXType eMode, unsigned char* pValue);             // 0x27
    int TintControl(eRIXType eMode, unsigned char* pValue);              // 0x28
    int ColorToneControl(eRIXType eMode, unsigned char* pValue);         // 0x3E
    int NRModeSet(eRIXType eMode, unsigned char* pValue);                // 0x73
    int FilmModeControl(eRIXType eMode, unsigned char* pValue);          // 0x79
    int EdgeEnhancement(eRIXType eMode, unsigned char* pValue);          // 0x9C
    int ColorSpaceControl(eRIXType eMode, unsigned char* pValue);        // 0x9D
    int xvYCCControl(eRIXType eMode, unsigned char* pValue);             // 0x9E
    int ScreenModeControl(eRIXType eMode, unsigned char* pValue);        // 0x18
    int RGBContrastControl(eRIXType eMode, unsigned char* pValue);       // 0x37
    int RGBBrightnessControl(eRIXType eMode, unsigned char* pValue);     // 0x38
    int PCColorToneControl(eRIXType eMode, unsigned char* pValue);       // 0x75
    int GammaControl(eRIXType eMode, unsigned char* pValue);             // 0x96
    int Set_AutoAdjustmentControl(unsigned char* pValue);                // 0x3D, fixed set
    int AutoAdjustment(eRIXType eMode, unsigned char* pValue);           // 0x76
    int ColorTemperatureControl(eRIXType eMode, unsigned char* pValue);  // 0x3F
    int DynamicContrast(eRIXType eMode, unsigned char* pValue);          // 0x87
    int HDMIBlackLevelControl(eRIXType eMode, unsigned char* pValue);    // 0x94
    int VolumeControl(eRIXType eMode, unsigned char* pValue);            // 0x12
    int MuteControl(eRIXType eMode, unsigned char* pValue);              // 0x13
    int SModeControl(eRIXType eMode, unsigned char* pValue);             // 0x72
    int SRSTSXTControl(eRIXType eMode, unsigned char* pValue);           // 0x78
    int EQ_100Hz(eRIXType eMode, unsigned char* pValue);                 // 0x51
    int EQ_300Hz(eRIXType eMode, unsigned char* pValue);                 // 0x52
    int EQ_1KHz(eRIXType eMode, unsigned char* pValue);                  // 0x53
    int EQ_3KHz(eRIXType eMode, unsigned char* pValue);                  // 0x54
    int EQ_10KHz(eRIXType eMode, unsigned char* pValue);                 // 0x55
    int AutoVolume(eRIXType eMode, unsigned char* pValue);               // 0x48
    int SoundSelectControl(eRIXType eMode, unsigned char* pValue);       // 0x47
    int EnergySaving(eRIXType eMode, unsigned char* pValue);             // 0x92
    int BrightnessSensor(eRIXType eMode, unsigned char* pValue);         // 0x86
    int SafetyLock(eRIXType eMode, unsigned char* pValue);               // 0x5D
    int PanelLock(eRIXType eMode, unsigned char* pValue);                // 0x5F
    int RemoteControl(eRIXType eMode, unsigned char* pValue);            // 0x36
    int AllKeysLock(eRIXType eMode, unsigned char* pValue);              // 0x77
    int PIPOnOffControll(eRIXType eMode, unsigned char* pValue);         // 0x3C
    int PIPSourceControl(eRIXType eMode, unsigned char* pValue);         // 0x40
    int PIPSizeControl(eRIXType eMode, unsigned char* pValue);           // 0x42
    int PIPLocateControl(eRIXType eMode, unsigned char* pValue);         // 0x43
    int SafetyScreenRunControl(eRIXType eMode, unsigned char* pValue);   // 0x59
    int VideoWallOn(eRIXType eMode, unsigned char* pValue);              // 0x84
    int VideoWallModeControl(eRIXType eMode, unsigned char* pValue);     // 0x5C
    int AutoPowerControl(eRIXType eMode, unsigned char* pValue);         // 0x33
    int StandbyControl(eRIXType eMode, unsigned char* pValue);           // 0x4A
    int TemperatureControl(eRIXType eMode, unsigned char* pValue);       // 0x85
    int FanControl(eRIXType eMode, unsigned char* pValue);               // 0x8F
    int FanSpeedSetting(eRIXType eMode, unsigned char* pValue);          // 0x44
    int OSDOnOff(eRIXType eMode, unsigned char* pValue);                 // 0x70
    int PanelOnOff(eRIXType eMode, unsigned char* pValue);               // 0xF9
    int ResetControl(eRIXType eMode, unsigned char* pValue);             // 0x9F
    int Set_VirtualRemoteControl(unsigned char* pValue);                 // 0xB0, fixed set
    // Multi-field commands and string reads.
    int Get_SerialNumberControl(unsigned char* pBuffer,
                                unsigned int nSize);  // 0x0B, string, at most 18 bytes
    int Get_SWVersionControl(unsigned char* pBuffer,
                             unsigned int nSize);  // 0x0E, string, up to the size passed in
    int Get_ModelNameControl(unsigned char* pBuffer,
                             unsigned int nSize);  // 0x8A, string, up to the size passed in
    int Get_PanelOnTime(unsigned char* p1, unsigned char* p2);  // 0x83, fixed get, 2 fields
    int AutoMotionPlus(eRIXType eMode, unsigned char* p1, unsigned char* p2,
                       unsigned char* p3);  // 0x0F, 3 fields
    int Set_VideoPicturePositionSize(unsigned char* p1,
                                     unsigned char* p2);  // 0x4B, fixed set, 2 fields
    int DirectChannelControl(eRIXType eMode, unsigned char* p1, unsigned char* p2,
                             unsigned char* p3, unsigned char* p4, unsigned char* p5,
                             unsigned char* p6, unsigned char* p7,
                             unsigned char* p8);  // 0x17, 8 fields
    int Get_DisplayStatusControl(unsigned char* p1, unsigned char* p2, unsigned char* p3,
                                 unsigned char* p4, unsigned char* p5,
                                 unsigned char* p6);  // 0x0D, fixed get, 6 fields
    int Timer1Control(eRIXType eMode, unsigned char* p1, unsigned char* p2, unsigned char* p3,
                      unsigned char* p4, unsigned char* p5, unsigned char* p6, unsigned char* p7,
                      unsigned char* p8, unsigned char* p9, unsigned char* p10, unsigned char* p11,
                      unsigned char* p12, unsigned char* p13, unsigned char* p14,
                      unsigned char* p15);  // 0xA4, 15 fields
    int ClockControl(eRIXType eMode, unsigned char* p1, unsigned char* p2, unsigned char* p3,
                     unsigned char* p4, unsigned char* p5, unsigned char* p6,
                     unsigned char* p7);  // 0xA7, 7 fields
    int Timer5Control(eRIXType eMode, unsigned char* p1, unsigned char* p2, unsigned char* p3,
                      unsigned char* p4, unsigned char* p5, unsigned char* p6, unsigned char* p7,
                      unsigned char* p8, unsigned char* p9, unsigned char* p10, unsigned char* p11,
                      unsigned char* p12, unsigned char* p13, unsigned char* p14,
                      unsigned char* p15);  // 0xAC, 15 fields
    int Timer4Control(eRIXType eMode, unsigned char* p1, unsigned char* p2, unsigned char* p3,
                      unsigned char* p4, unsigned char* p5, unsigned char* p6, unsigned char* p7,
                      unsigned char* p8, unsigned char* p9, unsigned char* p10, unsigned char* p11,
                      unsigned char* p12, unsigned char* p13, unsigned char* p14,
                      unsigned char* p15);  // 0xAB, 15 fields
    int Timer3Control(eRIXType eMode, unsigned char* p1, unsigned char* p2, unsigned char* p3,
                      unsigned char* p4, unsigned char* p5, unsigned char* p6, unsigned char* p7,
                      unsigned char* p8, unsigned char* p9, unsigned char* p10, unsigned char* p11,
                      unsigned char* p12, unsigned char* p13, unsigned char* p14,
                      unsigned char* p15);  // 0xA6, 15 fields
    int Timer2Control(eRIXType eMode, unsigned char* p1, unsigned char* p2, unsigned char* p3,
                      unsigned char* p4, unsigned char* p5, unsigned char* p6, unsigned char* p7,
                      unsigned char* p8, unsigned char* p9, unsigned char* p10, unsigned char* p11,
                      unsigned char* p12, unsigned char* p13, unsigned char* p14,
                      unsigned char* p15);  // 0xA5, 15 fields
    int Get_ModelNumberControl(unsigned char* p1, unsigned char* p2,
                               unsigned char* p3);  // 0x10, fixed get, 3 fields
    int AmbientBrightnessSensor(eRIXType eMode, unsigned char* p1, unsigned char* p2,
                                unsigned char* p3);  // 0xA1, 3 fields
    int Get_HolidayGetControl(eRIXType eMode, unsigned char* p1, unsigned char* p2,
                              unsigned char* p3, unsigned char* p4,
                              unsigned char* p5);  // 0xA9, 5 fields
    int Set_HolidayAddDeleteControl(unsigned char* p1, unsigned char* p2, unsigned char* p3,
                                    unsigned char* p4,
                                    unsigned char* p5);  // 0xA8, fixed set, 5 fields
    int Timer7Control(eRIXType eMode, unsigned char* p1, unsigned char* p2, unsigned char* p3,
                      unsigned char* p4, unsigned char* p5, unsigned char* p6, unsigned char* p7,
                      unsigned char* p8, unsigned char* p9, unsigned char* p10, unsigned char* p11,
                      unsigned char* p12, unsigned char* p13, unsigned char* p14,
                      unsigned char* p15);  // 0xAE, 15 fields
    int Timer6Control(eRIXType eMode, unsigned char* p1, unsigned char* p2, unsigned char* p3,
                      unsigned char* p4, unsigned char* p5, unsigned char* p6, unsigned char* p7,
                      unsigned char* p8, unsigned char* p9, unsigned char* p10, unsigned char* p11,
                      unsigned char* p12, unsigned char* p13, unsigned char* p14,
                      unsigned char* p15);  // 0xAD, 15 fields
    int AutoLampControl(eRIXType eMode, unsigned char* p1, unsigned char* p2, unsigned char* p3,
                        unsigned char* p4, unsigned char* p5, unsigned char* p6, unsigned char* p7,
                        unsigned char* p8);  // 0x57, 8 fields
    int VideoWallUserControl(eRIXType eMode, unsigned char* p1,
                             unsigned char* p2);  // 0x89, 2 fields
    int SafetyScreenControl(eRIXType eMode, unsigned char* p1, unsigned char* p2, unsigned char* p3,
                            unsigned char* p4, unsigned char* p5, unsigned char* p6,
                            unsigned char* p7);  // 0x5B, 7 fields
    int SafetyScreenControl(eRIXType eMode, unsigned char* p1, unsigned char* p2,
                            unsigned char* p3);  // 0x5B, 3 fields
    int PixelShift(eRIXType eMode, unsigned char* p1, unsigned char* p2, unsigned char* p3,
                   unsigned char* p4);  // 0x4C, 4 fields
    int OSDDisplayTypeOnOff(eRIXType eMode, unsigned char* p1,
                            unsigned char* p2);  // 0xA3, 2 fields
    VoLockSNMP m_Lock;
    std::map<char, long> m_mapCmdDelay;
};
