// Every command operation against the panel's command catalogue: command byte, data length,
// data order and the pause each mode gets. The expected table is the catalogue itself, kept
// here by hand, so a mistyped command byte in an operation shows up as a mismatch.
#include <functional>
#include <string>

#include "tests/command/ApiFixture.h"

namespace kw::command::test {
namespace {

enum class Shape { Passed, FixedGet, FixedSet, String };

struct Args {
    unsigned char field[15];
    unsigned char* f[15];
    unsigned char text[256];
};

using Call = std::function<int(VoRIXSNMPApi*, eRIXType, Args&)>;

struct Op {
    const char* name;
    uint8_t cmd;
    Shape shape;
    unsigned fields;    // data bytes of the set form
    uint32_t setPause;  // pause after sending with data
    Call call;
};

// clang-format off
#define F1 a.f[0]
#define F2 F1, a.f[1]
#define F3 F2, a.f[2]
#define F4 F3, a.f[3]
#define F5 F4, a.f[4]
#define F6 F5, a.f[5]
#define F7 F6, a.f[6]
#define F8 F7, a.f[7]
#define F15 F8, a.f[8], a.f[9], a.f[10], a.f[11], a.f[12], a.f[13], a.f[14]
#define PASSED(op, FS) [](VoRIXSNMPApi* api, eRIXType m, Args& a) { return api->op(m, FS); }
#define FIXED(op, FS) [](VoRIXSNMPApi* api, eRIXType, Args& a) { return api->op(FS); }
#define TEXT(op) [](VoRIXSNMPApi* api, eRIXType, Args& a) { return api->op(a.text, sizeof a.text); }

#define P1(op, cmd, pause) {#op, cmd, Shape::Passed, 1, pause, PASSED(op, F1)}
#define G1(op, cmd) {#op, cmd, Shape::FixedGet, 0, 0, FIXED(op, F1)}
#define S1(op, cmd, pause) {#op, cmd, Shape::FixedSet, 1, pause, FIXED(op, F1)}

const std::vector<Op> kSingleValue = {
    P1(InputSourceControl, 0x14, 200), P1(KeyLock, 0x5F, 200), P1(PowerControl, 0x11, 200),
    G1(Get_ScreenSizeControl, 0x19), P1(ChannelUpDown, 0x61, 200), P1(PModeControl, 0x71, 400),
    P1(PictureSizeControl, 0x15, 200), P1(ManualLampControl, 0x58, 200),
    P1(ContrastControl, 0x24, 200), P1(BrightnessControl, 0x25, 200),
    P1(SharpnessControl, 0x26, 200), P1(ColorControl, 0x27, 200), P1(TintControl, 0x28, 200),
    P1(ColorToneControl, 0x3E, 400), P1(NRModeSet, 0x73, 200), P1(FilmModeControl, 0x79, 200),
    P1(EdgeEnhancement, 0x9C, 200), P1(ColorSpaceControl, 0x9D, 200), P1(xvYCCControl, 0x9E, 200),
    P1(ScreenModeControl, 0x18, 200), P1(RGBContrastControl, 0x37, 200),
    P1(RGBBrightnessControl, 0x38, 200), P1(PCColorToneControl, 0x75, 400),
    P1(GammaControl, 0x96, 200), S1(Set_AutoAdjustmentControl, 0x3D, 200),
    P1(AutoAdjustment, 0x76, 200), P1(ColorTemperatureControl, 0x3F, 200),
    P1(DynamicContrast, 0x87, 200), P1(HDMIBlackLevelControl, 0x94, 200),
    P1(VolumeControl, 0x12, 200), P1(MuteControl, 0x13, 200), P1(SModeControl, 0x72, 400),
    P1(SRSTSXTControl, 0x78, 400), P1(EQ_100Hz, 0x51, 200), P1(EQ_300Hz, 0x52, 200),
    P1(EQ_1KHz, 0x53, 200), P1(EQ_3KHz, 0x54, 200), P1(EQ_10KHz, 0x55, 200),
    P1(AutoVolume, 0x48, 200), P1(SoundSelectControl, 0x47, 200), P1(EnergySaving, 0x92, 200),
    P1(BrightnessSensor, 0x86, 200), P1(SafetyLock, 0x5D, 200), P1(PanelLock, 0x5F, 200),
    P1(RemoteControl, 0x36, 200), P1(AllKeysLock, 0x77, 200), P1(PIPOnOffControll, 0x3C, 200),
    P1(PIPSourceControl, 0x40, 200), P1(PIPSizeControl, 0x42, 200), P1(PIPLocateControl, 0x43, 200),
    P1(SafetyScreenRunControl, 0x59, 200), P1(VideoWallOn, 0x84, 200),
    P1(VideoWallModeControl, 0x5C, 200), P1(AutoPowerControl, 0x33, 200),
    P1(StandbyControl, 0x4A, 200), P1(TemperatureControl, 0x85, 200), P1(FanControl, 0x8F, 200),
    P1(FanSpeedSetting, 0x44, 200), P1(OSDOnOff, 0x70, 200), P1(PanelOnOff, 0xF9, 200),
    P1(ResetControl, 0x9F, 200), S1(Set_VirtualRemoteControl, 0xB0, 200),
};

const std::vector<Op> kMultiField = {
    {"Get_SerialNumberControl", 0x0B, Shape::String, 0, 0, TEXT(Get_SerialNumberControl)},
    {"Get_SWVersionControl", 0x0E, Shape::String, 0, 0, TEXT(Get_SWVersionControl)},
    {"Get_ModelNameControl", 0x8A, Shape::String, 0, 0, TEXT(Get_ModelNameControl)},
    {"Get_PanelOnTime", 0x83, Shape::FixedGet, 2, 0, FIXED(Get_PanelOnTime, F2)},
    {"AutoMotionPlus", 0x0F, Shape::Passed, 3, 200, PASSED(AutoMotionPlus, F3)},
    {"Set_VideoPicturePositionSize", 0x4B, Shape::FixedSet, 2, 200, FIXED(Set_VideoPicturePositionSize, F2)},
    {"DirectChannelControl", 0x17, Shape::Passed, 8, 200, PASSED(DirectChannelControl, F8)},
    {"Get_DisplayStatusControl", 0x0D, Shape::FixedGet, 6, 0, FIXED(Get_DisplayStatusControl, F6)},
    {"Timer1Control", 0xA4, Shape::Passed, 15, 200, PASSED(Timer1Control, F15)},
    {"ClockControl", 0xA7, Shape::Passed, 7, 200, PASSED(ClockControl, F7)},
    {"Timer5Control", 0xAC, Shape::Passed, 15, 200, PASSED(Timer5Control, F15)},
    {"Timer4Control", 0xAB, Shape::Passed, 15, 200, PASSED(Timer4Control, F15)},
    {"Timer3Control", 0xA6, Shape::Passed, 15, 200, PASSED(Timer3Control, F15)},
    {"Timer2Control", 0xA5, Shape::Passed, 15, 200, PASSED(Timer2Control, F15)},
    {"Get_ModelNumberControl", 0x10, Shape::FixedGet, 3, 0, FIXED(Get_ModelNumberControl, F3)},
    {"AmbientBrightnessSensor", 0xA1, Shape::Passed, 3, 200, PASSED(AmbientBrightnessSensor, F3)},
    {"Get_HolidayGetControl", 0xA9, Shape::Passed, 5, 400, PASSED(Get_HolidayGetControl, F5)},
    {"Set_HolidayAddDeleteControl", 0xA8, Shape::FixedSet, 5, 400, FIXED(Set_HolidayAddDeleteControl, F5)},
    {"Timer7Control", 0xAE, Shape::Passed, 15, 200, PASSED(Timer7Control, F15)},
    {"Timer6Control", 0xAD, Shape::Passed, 15, 200, PASSED(Timer6Control, F15)},
    {"AutoLampControl", 0x57, Shape::Passed, 8, 200, PASSED(AutoLampControl, F8)},
    {"VideoWallUserControl", 0x89, Shape::Passed, 2, 200, PASSED(VideoWallUserControl, F2)},
    {"SafetyScreenControl/7", 0x5B, Shape::Passed, 7, 200, PASSED(SafetyScreenControl, F7)},
    {"SafetyScreenControl/3", 0x5B, Shape::Passed, 3, 200, PASSED(SafetyScreenControl, F3)},
    {"PixelShift", 0x4C, Shape::Passed, 4, 200, PASSED(PixelShift, F4)},
    {"OSDDisplayTypeOnOff", 0xA3, Shape::Passed, 2, 200, PASSED(OSDDisplayTypeOnOff, F2)},
};
// clang-format on

class CatalogueTest : public ApiTest {
protected:
    // Runs op once in mode and checks the one frame it sends and the pause after it.
    void check(const Op& op, eRIXType mode)
    {
        SCOPED_TRACE(std::string(op.name) + " mode " + std::to_string(int(mode)));
        Args args;
        for (unsigned i = 0; i < 15; ++i) {
            args.field[i] = static_cast<unsigned char>(0x30 + i);
            args.f[i] = &args.field[i];
        }
        std::fill(std::begin(args.text), std::end(args.text), 0x7E);
        m_panel.clearFrames();

        ASSERT_EQ(1, op.call(m_api, mode, args));
        const auto frames = m_panel.frames();
        ASSERT_EQ(1u, frames.size());
        const std::vector<uint8_t>& frame = frames[0].bytes;
        ASSERT_GE(frame.size(), 2u);
        EXPECT_EQ(op.cmd, frame[0]);
        EXPECT_EQ(frame.size() - 2, frame[1]);

        unsigned sent = 0;
        uint32_t pause = 100;
        if (mode == RIX_SET) {
            sent = op.fields;
            pause = op.setPause;
        } else if (mode == RIX_GET_PARAM) {
            sent = 1;
            pause = op.setPause;
        }
        ASSERT_EQ(sent, frame[1]);
        for (unsigned i = 0; i < sent; ++i) EXPECT_EQ(0x30 + i, frame[2 + i]) << "byte " << i;
        EXPECT_EQ(pause, now() - frames[0].tick);

        // The panel's reply lands in the first field (a get is answered with 00).
        const unsigned char first = op.shape == Shape::String ? args.text[0] : args.field[0];
        EXPECT_EQ(mode == RIX_GET ? 0x00 : 0x30, first);
    }

    void checkAll(const std::vector<Op>& ops)
    {
        m_panel.setDefaultEcho();
        for (const Op& op : ops) {
            switch (op.shape) {
                case Shape::Passed:
                    check(op, RIX_SET);
                    check(op, RIX_GET);
                    check(op, RIX_GET_PARAM);
                    break;
                case Shape::FixedGet:
                case Shape::String:
                    check(op, RIX_GET);
                    break;
                case Shape::FixedSet:
                    check(op, RIX_SET);
                    break;
            }
        }
    }
};

TEST_F(CatalogueTest, SingleValueCommands)
{
    ASSERT_EQ(62u, kSingleValue.size());
    checkAll(kSingleValue);
}

TEST_F(CatalogueTest, MultiFieldCommands)
{
    ASSERT_EQ(26u, kMultiField.size());
    checkAll(kMultiField);
}

}  // namespace
}  // namespace kw::command::test
