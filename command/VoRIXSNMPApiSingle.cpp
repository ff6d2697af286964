// The single-value commands: one data byte out in a set, the current value back in every mode.
#include "command/VoRIXSNMPApi.h"

int VoRIXSNMPApi::InputSourceControl(eRIXType eMode, unsigned char* pValue)
{
    return SendParam(eMode, 0x14, pValue);
}

int VoRIXSNMPApi::KeyLock(eRIXType eMode, unsigned char* pValue)
{
    return SendParam(eMode, 0x5F, pValue);
}

int VoRIXSNMPApi::PowerControl(eRIXType eMode, unsigned char* pValue)
{
    return SendParam(eMode, 0x11, pValue);
}

int VoRIXSNMPApi::Get_ScreenSizeControl(unsigned char* pValue)
{
    return SendParam(RIX_GET, 0x19, pValue);
}

int VoRIXSNMPApi::ChannelUpDown(eRIXType eMode, unsigned char* pValue)
{
    return SendParam(eMode, 0x61, pValue);
}

int VoRIXSNMPApi::PModeControl(eRIXType eMode, unsigned char* pValue)
{
    return SendParam(eMode, 0x71, pValue);
}

int VoRIXSNMPApi::PictureSizeControl(eRIXType eMode, unsigned char* pValue)
{
    return SendParam(eMode, 0x15, pValue);
}

int VoRIXSNMPApi::ManualLampControl(eRIXType eMode, unsigned char* pValue)
{
    return SendParam(eMode, 0x58, pValue);
}

int VoRIXSNMPApi::ContrastControl(eRIXType eMode, unsigned char* pValue)
{
    return SendParam(eMode, 0x24, pValue);
}

int VoRIXSNMPApi::BrightnessControl(eRIXType eMode, unsigned char* pValue)
{
    return SendParam(eMode, 0x25, pValue);
}

int VoRIXSNMPApi::SharpnessControl(eRIXType eMode, unsigned char* pValue)
{
    return SendParam(eMode, 0x26, pValue);
}

int VoRIXSNMPApi::ColorControl(eRIXType eMode, unsigned char* pValue)
{
    return SendParam(eMode, 0x27, pValue);
}

int VoRIXSNMPApi::TintControl(eRIXType eMode, unsigned char* pValue)
{
    return SendParam(eMode, 0x28, pValue);
}

int VoRIXSNMPApi::ColorToneControl(eRIXType eMode, unsigned char* pValue)
{
    return SendParam(eMode, 0x3E, pValue);
}

int VoRIXSNMPApi::NRModeSet(eRIXType eMode, unsigned char* pValue)
{
    return SendParam(eMode, 0x73, pValue);
}

int VoRIXSNMPApi::FilmModeControl(eRIXType eMode, unsigned char* pValue)
{
    return SendParam(eMode, 0x79, pValue);
}

int VoRIXSNMPApi::EdgeEnhancement(eRIXType eMode, unsigned char* pValue)
{
    return SendParam(eMode, 0x9C, pValue);
}

int VoRIXSNMPApi::ColorSpaceControl(eRIXType eMode, unsigned char* pValue)
{
    return SendParam(eMode, 0x9D, pValue);
}

int VoRIXSNMPApi::xvYCCControl(eRIXType eMode, unsigned char* pValue)
{
    return SendParam(eMode, 0x9E, pValue);
}

int VoRIXSNMPApi::ScreenModeControl(eRIXType eMode, unsigned char* pValue)
{
    return SendParam(eMode, 0x18, pValue);
}

int VoRIXSNMPApi::RGBContrastControl(eRIXType eMode, unsigned char* pValue)
{
    return SendParam(eMode, 0x37, pValue);
}

int VoRIXSNMPApi::RGBBrightnessControl(eRIXType eMode, unsigned char* pValue)
{
    return SendParam(eMode, 0x38, pValue);
}

int VoRIXSNMPApi::PCColorToneControl(eRIXType eMode, unsigned char* pValue)
{
    return SendParam(eMode, 0x75, pValue);
}

int VoRIXSNMPApi::GammaControl(eRIXType eMode, unsigned char* pValue)
{
    return SendParam(eMode, 0x96, pValue);
}

int VoRIXSNMPApi::Set_AutoAdjustmentControl(unsigned char* pValue)
{
    return SendParam(RIX_SET, 0x3D, pValue);
}

int VoRIXSNMPApi::AutoAdjustment(eRIXType eMode, unsigned char* pValue)
{
    return SendParam(eMode, 0x76, pValue);
}

int VoRIXSNMPApi::ColorTemperatureControl(eRIXType eMode, unsigned char* pValue)
{
    return SendParam(eMode, 0x3F, pValue);
}

int VoRIXSNMPApi::DynamicContrast(eRIXType eMode, unsigned char* pValue)
{
    return SendParam(eMode, 0x87, pValue);
}

int VoRIXSNMPApi::HDMIBlackLevelControl(eRIXType eMode, unsigned char* pValue)
{
    return SendParam(eMode, 0x94, pValue);
}

int VoRIXSNMPApi::VolumeControl(eRIXType eMode, unsigned char* pValue)
{
    return SendParam(eMode, 0x12, pValue);
}

int VoRIXSNMPApi::MuteControl(eRIXType eMode, unsigned char* pValue)
{
    return SendParam(eMode, 0x13, pValue);
}

int VoRIXSNMPApi::SModeControl(eRIXType eMode, unsigned char* pValue)
{
    return SendParam(eMode, 0x72, pValue);
}

int VoRIXSNMPApi::SRSTSXTControl(eRIXType eMode, unsigned char* pValue)
{
    return SendParam(eMode, 0x78, pValue);
}

int VoRIXSNMPApi::EQ_100Hz(eRIXType eMode, unsigned char* pValue)
{
    return SendParam(eMode, 0x51, pValue);
}

int VoRIXSNMPApi::EQ_300Hz(eRIXType eMode, unsigned char* pValue)
{
    return SendParam(eMode, 0x52, pValue);
}

int VoRIXSNMPApi::EQ_1KHz(eRIXType eMode, unsigned char* pValue)
{
    return SendParam(eMode, 0x53, pValue);
}

int VoRIXSNMPApi::EQ_3KHz(eRIXType eMode, unsigned char* pValue)
{
    return SendParam(eMode, 0x54, pValue);
}

int VoRIXSNMPApi::EQ_10KHz(eRIXType eMode, unsigned char* pValue)
{
    return SendParam(eMode, 0x55, pValue);
}

int VoRIXSNMPApi::AutoVolume(eRIXType eMode, unsigned char* pValue)
{
    return SendParam(eMode, 0x48, pValue);
}

int VoRIXSNMPApi::SoundSelectControl(eRIXType eMode, unsigned char* pValue)
{
    return SendParam(eMode, 0x47, pValue);
}

int VoRIXSNMPApi::EnergySaving(eRIXType eMode, unsigned char* pValue)
{
    return SendParam(eMode, 0x92, pValue);
}

int VoRIXSNMPApi::BrightnessSensor(eRIXType eMode, unsigned char* pValue)
{
    return SendParam(eMode, 0x86, pValue);
}

int VoRIXSNMPApi::SafetyLock(eRIXType eMode, unsigned char* pValue)
{
    return SendParam(eMode, 0x5D, pValue);
}

int VoRIXSNMPApi::PanelLock(eRIXType eMode, unsigned char* pValue)
{
    return SendParam(eMode, 0x5F, pValue);
}

int VoRIXSNMPApi::RemoteControl(eRIXType eMode, unsigned char* pValue)
{
    return SendParam(eMode, 0x36, pValue);
}

int VoRIXSNMPApi::AllKeysLock(eRIXType eMode, unsigned char* pValue)
{
    return SendParam(eMode, 0x77, pValue);
}

int VoRIXSNMPApi::PIPOnOffControll(eRIXType eMode, unsigned char* pValue)
{
    return SendParam(eMode, 0x3C, pValue);
}

int VoRIXSNMPApi::PIPSourceControl(eRIXType eMode, unsigned char* pValue)
{
    return SendParam(eMode, 0x40, pValue);
}

int VoRIXSNMPApi::PIPSizeControl(eRIXType eMode, unsigned char* pValue)
{
    return SendParam(eMode, 0x42, pValue);
}

int VoRIXSNMPApi::PIPLocateControl(eRIXType eMode, unsigned char* pValue)
{
    return SendParam(eMode, 0x43, pValue);
}

int VoRIXSNMPApi::SafetyScreenRunControl(eRIXType eMode, unsigned char* pValue)
{
    return SendParam(eMode, 0x59, pValue);
}

int VoRIXSNMPApi::VideoWallOn(eRIXType eMode, unsigned char* pValue)
{
    return SendParam(eMode, 0x84, pValue);
}

int VoRIXSNMPApi::VideoWallModeControl(eRIXType eMode, unsigned char* pValue)
{
    return SendParam(eMode, 0x5C, pValue);
}

int VoRIXSNMPApi::AutoPowerControl(eRIXType eMode, unsigned char* pValue)
{
    return SendParam(eMode, 0x33, pValue);
}

int VoRIXSNMPApi::StandbyControl(eRIXType eMode, unsigned char* pValue)
{
    return SendParam(eMode, 0x4A, pValue);
}

int VoRIXSNMPApi::TemperatureControl(eRIXType eMode, unsigned char* pValue)
{
    return SendParam(eMode, 0x85, pValue);
}

int VoRIXSNMPApi::FanControl(eRIXType eMode, unsigned char* pValue)
{
    return SendParam(eMode, 0x8F, pValue);
}

int VoRIXSNMPApi::FanSpeedSetting(eRIXType eMode, unsigned char* pValue)
{
    return SendParam(eMode, 0x44, pValue);
}

int VoRIXSNMPApi::OSDOnOff(eRIXType eMode, unsigned char* pValue)
{
    return SendParam(eMode, 0x70, pValue);
}

int VoRIXSNMPApi::PanelOnOff(eRIXType eMode, unsigned char* pValue)
{
    return SendParam(eMode, 0xF9, pValue);
}

int VoRIXSNMPApi::ResetControl(eRIXType eMode, unsigned char* pValue)
{
    return SendParam(eMode, 0x9F, pValue);
}

int VoRIXSNMPApi::Set_VirtualRemoteControl(unsigned char* pValue)
{
    return SendParam(RIX_SET, 0xB0, pValue);
}
