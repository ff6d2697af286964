// The agent's two request callbacks: each request index maps onto one command of the RIX
// command API. A set takes raw value bytes from the agent's buffer; a get prints the reply's
// bytes back into it as upper-case hex text.
#include <cstdio>
#include <cstring>

#include "agent/CSnmpAppBase.h"
#include "command/VoRIXSNMPApi.h"

namespace {

// The agent's value buffer holds at least this much.
constexpr unsigned int kValueBufferSize = 256;
// The widest command takes fifteen value bytes (the timers).
constexpr int kMaxCells = 15;
constexpr unsigned int kLastIndex = 87;

// One byte per value argument of the command; cleared before every request.
struct Cells {
    unsigned char c[kMaxCells] = {};
};

// A get's text holds exactly as many "%02X" as the row prints.
const char* const kHexFormat[kMaxCells + 1] = {
    "",
    "%02X",
    "%02X %02X",
    "%02X %02X %02X",
    "%02X %02X %02X %02X",
    "%02X %02X %02X %02X %02X",
    "%02X %02X %02X %02X %02X %02X",
    "%02X %02X %02X %02X %02X %02X %02X",
    "%02X %02X %02X %02X %02X %02X %02X %02X",
    "%02X %02X %02X %02X %02X %02X %02X %02X %02X",
    "%02X %02X %02X %02X %02X %02X %02X %02X %02X %02X",
    "%02X %02X %02X %02X %02X %02X %02X %02X %02X %02X %02X",
    "%02X %02X %02X %02X %02X %02X %02X %02X %02X %02X %02X %02X",
    "%02X %02X %02X %02X %02X %02X %02X %02X %02X %02X %02X %02X %02X",
    "%02X %02X %02X %02X %02X %02X %02X %02X %02X %02X %02X %02X %02X %02X",
    "%02X %02X %02X %02X %02X %02X %02X %02X %02X %02X %02X %02X %02X %02X %02X",
};

// Prints the first n cells. Every cell is passed; the format consumes only the first n.
void PrintCells(unsigned char* buf, const Cells& v, int n)
{
    const unsigned char* c = v.c;
    snprintf(reinterpret_cast<char*>(buf), kValueBufferSize, kHexFormat[n], c[0], c[1], c[2], c[3],
             c[4], c[5], c[6], c[7], c[8], c[9], c[10], c[11], c[12], c[13], c[14]);
}

// A row that serves both directions: getset 0 sends nSet bytes from buf, getset 1 reads into
// cleared cells and prints nPrint of them (also when the command failed), anything else is
// refused. op(mode, cells) runs the command.
template <class Op>
int RunTwoWay(unsigned char* buf, int getset, int nSet, int nPrint, Op op)
{
    Cells v;
    if (getset == 0) {
        memcpy(v.c, buf, static_cast<size_t>(nSet));
        return op(RIX_SET, v.c);
    }
    if (getset != 1) return 0;
    const int result = op(RIX_GET, v.c);
    PrintCells(buf, v, nPrint);
    return result;
}

// A read that runs whatever the request asked for.
template <class Op>
int RunGet(unsigned char* buf, int nPrint, Op op)
{
    Cells v;
    const int result = op(v.c);
    PrintCells(buf, v, nPrint);
    return result;
}

// A write of nSet bytes from buf.
template <class Op>
int RunSet(unsigned char* buf, int nSet, Op op)
{
    Cells v;
    memcpy(v.c, buf, static_cast<size_t>(nSet));
    return op(v.c);
}

using SingleOp = int (VoRIXSNMPApi::*)(eRIXType, unsigned char*);
using TimerOp = int (VoRIXSNMPApi::*)(eRIXType, unsigned char*, unsigned char*, unsigned char*,
                                      unsigned char*, unsigned char*, unsigned char*,
                                      unsigned char*, unsigned char*, unsigned char*,
                                      unsigned char*, unsigned char*, unsigned char*,
                                      unsigned char*, unsigned char*, unsigned char*);

int RunSingle(VoRIXSNMPApi* api, SingleOp op, unsigned char* buf, int getset)
{
    return RunTwoWay(buf, getset, 1, 1,
                     [api, op](eRIXType mode, unsigned char* c) { return (api->*op)(mode, c); });
}

int RunTimer(VoRIXSNMPApi* api, TimerOp op, unsigned char* buf, int getset)
{
    return RunTwoWay(buf, getset, 15, 15, [api, op](eRIXType mode, unsigned char* c) {
        return (api->*op)(mode, c, c + 1, c + 2, c + 3, c + 4, c + 5, c + 6, c + 7, c + 8, c + 9,
                          c + 10, c + 11, c + 12, c + 13, c + 14);
    });
}

// Index 73: a get reads all seven values; a set picks the three- or seven-value form by the
// length of the text the manager wrote (hex digits without or with blanks between bytes).
int RunSafetyScreen(VoRIXSNMPApi* api, unsigned char* buf, int getset, int extra)
{
    auto seven = [api](eRIXType mode, unsigned char* c) {
        return api->SafetyScreenControl(mode, c, c + 1, c + 2, c + 3, c + 4, c + 5, c + 6);
    };
    if (getset == 0) {
        if (extra == 6 || extra == 8) {
            return RunSet(buf, 3, [api](unsigned char* c) {
                return api->SafetyScreenControl(RIX_SET, c, c + 1, c + 2);
            });
        }
        if (extra == 14 || extra == 20) {
            return RunSet(buf, 7, [&seven](unsigned char* c) { return seven(RIX_SET, c); });
        }
        return 0;
    }
    return RunTwoWay(buf, getset, 7, 7, seven);
}

}  // namespace

int CSnmpAppBase::RIX_Func_Call_Str(unsigned char* buf, int getset, eFuncType index, int extra)
{
    const unsigned int idx = static_cast<unsigned int>(index);
    if (idx > kLastIndex) return 0;
    if (idx == 1 || idx == 2 || idx == 60) return 0;
    if (buf == nullptr) return 0;

    VoRIXSNMPApi* api = VoSingletonSNMP<VoRIXSNMPApi>::GetInstance();
    using A = VoRIXSNMPApi;

    switch (idx) {
        case 0:
            return RunSingle(api, &A::InputSourceControl, buf, getset);
        case 3:
            return RunSingle(api, &A::PowerControl, buf, getset);
        // Read-only rows: they read whatever the request asked for.
        case 4:
            return api->Get_ModelNameControl(buf, kValueBufferSize);
        case 5:
            return api->Get_SWVersionControl(buf, kValueBufferSize);
        case 6:
            return RunGet(buf, 3, [api](unsigned char* c) {
                return api->Get_ModelNumberControl(c, c + 1, c + 2);
            });
        case 7:
            return RunGet(buf, 1,
                          [api](unsigned char* c) { return api->Get_ScreenSizeControl(c); });
        case 8:
            return api->Get_SerialNumberControl(buf, kValueBufferSize);
        case 9:
            return RunGet(buf, 2,
                          [api](unsigned char* c) { return api->Get_PanelOnTime(c, c + 1); });
        case 10:
            return RunGet(buf, 6, [api](unsigned char* c) {
                return api->Get_DisplayStatusControl(c, c + 1, c + 2, c + 3, c + 4, c + 5);
            });
        case 11:
            return RunTwoWay(buf, getset, 8, 8, [api](eRIXType mode, unsigned char* c) {
                return api->DirectChannelControl(mode, c, c + 1, c + 2, c + 3, c + 4, c + 5, c + 6,
                                                 c + 7);
            });
        // Write-only rows: they write whatever the request asked for.
        case 12:
            return RunSet(buf, 1,
                          [api](unsigned char* c) { return api->ChannelUpDown(RIX_SET, c); });
        case 13:
            return RunSingle(api, &A::PModeControl, buf, getset);
        case 14:
            return RunSingle(api, &A::PictureSizeControl, buf, getset);
        case 15:
            return RunSingle(api, &A::ManualLampControl, buf, getset);
        case 16:
            return RunSingle(api, &A::ContrastControl, buf, getset);
        case 17:
            return RunSingle(api, &A::BrightnessControl, buf, getset);
        case 18:
            return RunSingle(api, &A::SharpnessControl, buf, getset);
        case 19:
            return RunSingle(api, &A::ColorControl, buf, getset);
        case 20:
            return RunSingle(api, &A::TintControl, buf, getset);
        case 21:
            return RunSingle(api, &A::ColorToneControl, buf, getset);
        case 22:
            return RunSet(buf, 2, [api](unsigned char* c) {
                return api->Set_VideoPicturePositionSize(c, c + 1);
            });
        case 23:
            return RunSingle(api, &A::NRModeSet, buf, getset);
        case 24:
            return RunSingle(api, &A::FilmModeControl, buf, getset);
        case 25:
            return RunSingle(api, &A::EdgeEnhancement, buf, getset);
        case 26:
            return RunSingle(api, &A::ColorSpaceControl, buf, getset);
        case 27:
            return RunSingle(api, &A::xvYCCControl, buf, getset);
        case 28:
            return RunSingle(api, &A::ScreenModeControl, buf, getset);
        case 29:
            return RunSingle(api, &A::RGBContrastControl, buf, getset);
        case 30:
            return RunSingle(api, &A::RGBBrightnessControl, buf, getset);
        case 31:
            return RunSingle(api, &A::PCColorToneControl, buf, getset);
        case 32:
            return RunSingle(api, &A::GammaControl, buf, getset);
        case 33:
            return RunSet(buf, 1,
                          [api](unsigned char* c) { return api->Set_AutoAdjustmentControl(c); });
        case 34:
            return RunSingle(api, &A::AutoAdjustment, buf, getset);
        case 35:
            return RunSingle(api, &A::ColorTemperatureControl, buf, getset);
        case 36:
            return RunSingle(api, &A::DynamicContrast, buf, getset);
        case 37:
            return RunSingle(api, &A::HDMIBlackLevelControl, buf, getset);
        case 38:
            return RunTwoWay(buf, getset, 3, 3, [api](eRIXType mode, unsigned char* c) {
                return api->AutoMotionPlus(mode, c, c + 1, c + 2);
            });
        case 39:
            return RunSingle(api, &A::VolumeControl, buf, getset);
        case 40:
            return RunSingle(api, &A::MuteControl, buf, getset);
        case 41:
            return RunSingle(api, &A::SModeControl, buf, getset);
        case 42:
            return RunSingle(api, &A::SRSTSXTControl, buf, getset);
        case 43:
            return RunSingle(api, &A::EQ_100Hz, buf, getset);
        case 44:
            return RunSingle(api, &A::EQ_300Hz, buf, getset);
        case 45:
            return RunSingle(api, &A::EQ_1KHz, buf, getset);
        case 46:
            return RunSingle(api, &A::EQ_3KHz, buf, getset);
        case 47:
            return RunSingle(api, &A::EQ_10KHz, buf, getset);
        case 48:
            return RunSingle(api, &A::AutoVolume, buf, getset);
        case 49:
            return RunSingle(api, &A::SoundSelectControl, buf, getset);
        case 50:
            return RunTwoWay(buf, getset, 7, 7, [api](eRIXType mode, unsigned char* c) {
                return api->ClockControl(mode, c, c + 1, c + 2, c + 3, c + 4, c + 5, c + 6);
            });
        case 51:
            return RunTimer(api, &A::Timer1Control, buf, getset);
        case 52:
            return RunTimer(api, &A::Timer2Control, buf, getset);
        case 53:
            return RunTimer(api, &A::Timer3Control, buf, getset);
        case 54:
            return RunTimer(api, &A::Timer4Control, buf, getset);
        case 55:
            return RunTimer(api, &A::Timer5Control, buf, getset);
        case 56:
            return RunTimer(api, &A::Timer6Control, buf, getset);
        case 57:
            return RunTimer(api, &A::Timer7Control, buf, getset);
        case 58:
            if (getset != 0) return 0;
            return RunSet(buf, 5, [api](unsigned char* c) {
                return api->Set_HolidayAddDeleteControl(c, c + 1, c + 2, c + 3, c + 4);
            });
        case 59:
            // The holiday count: the first value of the holiday reply.
            if (getset != 1) return 0;
            return RunGet(buf, 1, [api](unsigned char* c) {
                return api->Get_HolidayGetControl(RIX_GET, c, c + 1, c + 2, c + 3, c + 4);
            });
        case 61:
            return RunSingle(api, &A::EnergySaving, buf, getset);
        case 62:
            return RunSingle(api, &A::BrightnessSensor, buf, getset);
        case 63:
            return RunTwoWay(buf, getset, 3, 2, [api](eRIXType mode, unsigned char* c) {
                return api->AmbientBrightnessSensor(mode, c, c + 1, c + 2);
            });
        case 64:
            return RunSingle(api, &A::SafetyLock, buf, getset);
        case 65:
            return RunSingle(api, &A::PanelLock, buf, getset);
        case 66:
            return RunSingle(api, &A::RemoteControl, buf, getset);
        case 67:
            return RunSingle(api, &A::AllKeysLock, buf, getset);
        case 68:
            return RunSingle(api, &A::PIPOnOffControll, buf, getset);
        case 69:
            return RunSingle(api, &A::PIPSourceControl, buf, getset);
        case 70:
            return RunSingle(api, &A::PIPSizeControl, buf, getset);
        case 71:
            return RunSingle(api, &A::PIPLocateControl, buf, getset);
        case 72:
            return RunTwoWay(buf, getset, 4, 4, [api](eRIXType mode, unsigned char* c) {
                return api->PixelShift(mode, c, c + 1, c + 2, c + 3);
            });
        case 73:
            return RunSafetyScreen(api, buf, getset, extra);
        case 74:
            return RunSingle(api, &A::SafetyScreenRunControl, buf, getset);
        case 75:
            return RunSingle(api, &A::VideoWallOn, buf, getset);
        case 76:
            return RunSingle(api, &A::VideoWallModeControl, buf, getset);
        case 77:
            return RunTwoWay(buf, getset, 2, 2, [api](eRIXType mode, unsigned char* c) {
                return api->VideoWallUserControl(mode, c, c + 1);
            });
        case 78:
            return RunSingle(api, &A::AutoPowerControl, buf, getset);
        case 79:
            return RunSingle(api, &A::StandbyControl, buf, getset);
        case 80:
            return RunTwoWay(buf, getset, 8, 8, [api](eRIXType mode, unsigned char* c) {
                return api->AutoLampControl(mode, c, c + 1, c + 2, c + 3, c + 4, c + 5, c + 6,
                                            c + 7);
            });
        case 81:
            return RunSingle(api, &A::TemperatureControl, buf, getset);
        case 82:
            return RunSingle(api, &A::FanControl, buf, getset);
        case 83:
            return RunSingle(api, &A::FanSpeedSetting, buf, getset);
        case 84:
            return RunSingle(api, &A::OSDOnOff, buf, getset);
        case 85:
            return RunTwoWay(buf, getset, 2, 1, [api](eRIXType mode, unsigned char* c) {
                return api->OSDDisplayTypeOnOff(mode, c, c + 1);
            });
        case 86:
            return RunSingle(api, &A::PanelOnOff, buf, getset);
        case 87:
            if (getset != 0) return 0;
            return RunSet(buf, 1,
                          [api](unsigned char* c) { return api->ResetControl(RIX_SET, c); });
        default:
            return 0;
    }
}

int CSnmpAppBase::RIX_Func_Call_Holiday(unsigned char* buf, int getset, eFuncType index, int extra)
{
    if (buf == nullptr) return 0;
    Cells v;
    unsigned char* c = v.c;

    switch (static_cast<unsigned int>(index)) {
        case 59: {
            if (getset != 1) return 0;
            VoRIXSNMPApi* api = VoSingletonSNMP<VoRIXSNMPApi>::GetInstance();
            const int result = api->Get_HolidayGetControl(RIX_GET, c, c + 1, c + 2, c + 3, c + 4);
            PrintCells(buf, v, 1);
            return result;
        }
        case 60: {
            // The entry number goes out as the command's one parameter byte.
            c[0] = static_cast<unsigned char>(extra & 0xFF);
            if (getset != 1) return 0;
            VoRIXSNMPApi* api = VoSingletonSNMP<VoRIXSNMPApi>::GetInstance();
            const int result =
                api->Get_HolidayGetControl(RIX_GET_PARAM, c, c + 1, c + 2, c + 3, c + 4);
            PrintCells(buf, v, 5);
            return result;
        }
        default:
            return 0;
    }
}
