// The string and holiday request callbacks against a recording panel: which command each
// request index sends, which bytes a set takes, what text a get leaves behind.
#include <gtest/gtest.h>

#include <climits>
#include <cstring>
#include <string>
#include <vector>

#include "agent/CSnmpAppBase.h"
#include "command/VoRIXSNMPApi.h"
#include "host/framework/Clock.h"
#include "tests/support/PanelDouble.h"

namespace {

using Bytes = std::vector<uint8_t>;

enum class Kind {
    None,     // no row
    TwoWay,   // 0 sets, 1 gets, anything else refused
    GetAny,   // reads whatever getset holds
    SetAny,   // writes whatever getset holds
    SetOnly,  // getset 0 only
    GetOnly,  // getset 1 only
    Text,     // reads whatever getset holds; the operation writes characters into buf
};

struct Row {
    int index;
    uint8_t cmd;
    Kind kind;
    int setBytes;  // bytes a set takes from buf
    int cells;     // value cells of a get (reply values the command takes)
    int printed;   // cells a get prints
};

// The request index table, written out by hand rather than derived from the module's own.
const Row kTable[] = {
    {0, 0x14, Kind::TwoWay, 1, 1, 1},     {1, 0x00, Kind::None, 0, 0, 0},
    {2, 0x00, Kind::None, 0, 0, 0},       {3, 0x11, Kind::TwoWay, 1, 1, 1},
    {4, 0x8A, Kind::Text, 0, 0, 0},       {5, 0x0E, Kind::Text, 0, 0, 0},
    {6, 0x10, Kind::GetAny, 0, 3, 3},     {7, 0x19, Kind::GetAny, 0, 1, 1},
    {8, 0x0B, Kind::Text, 0, 0, 0},       {9, 0x83, Kind::GetAny, 0, 2, 2},
    {10, 0x0D, Kind::GetAny, 0, 6, 6},    {11, 0x17, Kind::TwoWay, 8, 8, 8},
    {12, 0x61, Kind::SetAny, 1, 0, 0},    {13, 0x71, Kind::TwoWay, 1, 1, 1},
    {14, 0x15, Kind::TwoWay, 1, 1, 1},    {15, 0x58, Kind::TwoWay, 1, 1, 1},
    {16, 0x24, Kind::TwoWay, 1, 1, 1},    {17, 0x25, Kind::TwoWay, 1, 1, 1},
    {18, 0x26, Kind::TwoWay, 1, 1, 1},    {19, 0x27, Kind::TwoWay, 1, 1, 1},
    {20, 0x28, Kind::TwoWay, 1, 1, 1},    {21, 0x3E, Kind::TwoWay, 1, 1, 1},
    {22, 0x4B, Kind::SetAny, 2, 0, 0},    {23, 0x73, Kind::TwoWay, 1, 1, 1},
    {24, 0x79, Kind::TwoWay, 1, 1, 1},    {25, 0x9C, Kind::TwoWay, 1, 1, 1},
    {26, 0x9D, Kind::TwoWay, 1, 1, 1},    {27, 0x9E, Kind::TwoWay, 1, 1, 1},
    {28, 0x18, Kind::TwoWay, 1, 1, 1},    {29, 0x37, Kind::TwoWay, 1, 1, 1},
    {30, 0x38, Kind::TwoWay, 1, 1, 1},    {31, 0x75, Kind::TwoWay, 1, 1, 1},
    {32, 0x96, Kind::TwoWay, 1, 1, 1},    {33, 0x3D, Kind::SetAny, 1, 0, 0},
    {34, 0x76, Kind::TwoWay, 1, 1, 1},    {35, 0x3F, Kind::TwoWay, 1, 1, 1},
    {36, 0x87, Kind::TwoWay, 1, 1, 1},    {37, 0x94, Kind::TwoWay, 1, 1, 1},
    {38, 0x0F, Kind::TwoWay, 3, 3, 3},    {39, 0x12, Kind::TwoWay, 1, 1, 1},
    {40, 0x13, Kind::TwoWay, 1, 1, 1},    {41, 0x72, Kind::TwoWay, 1, 1, 1},
    {42, 0x78, Kind::TwoWay, 1, 1, 1},    {43, 0x51, Kind::TwoWay, 1, 1, 1},
    {44, 0x52, Kind::TwoWay, 1, 1, 1},    {45, 0x53, Kind::TwoWay, 1, 1, 1},
    {46, 0x54, Kind::TwoWay, 1, 1, 1},    {47, 0x55, Kind::TwoWay, 1, 1, 1},
    {48, 0x48, Kind::TwoWay, 1, 1, 1},    {49, 0x47, Kind::TwoWay, 1, 1, 1},
    {50, 0xA7, Kind::TwoWay, 7, 7, 7},    {51, 0xA4, Kind::TwoWay, 15, 15, 15},
    {52, 0xA5, Kind::TwoWay, 15, 15, 15}, {53, 0xA6, Kind::TwoWay, 15, 15, 15},
    {54, 0xAB, Kind::TwoWay, 15, 15, 15}, {55, 0xAC, Kind::TwoWay, 15, 15, 15},
    {56, 0xAD, Kind::TwoWay, 15, 15, 15}, {57, 0xAE, Kind::TwoWay, 15, 15, 15},
    {58, 0xA8, Kind::SetOnly, 5, 0, 0},   {59, 0xA9, Kind::GetOnly, 0, 5, 1},
    {60, 0x00, Kind::None, 0, 0, 0},      {61, 0x92, Kind::TwoWay, 1, 1, 1},
    {62, 0x86, Kind::TwoWay, 1, 1, 1},    {63, 0xA1, Kind::TwoWay, 3, 3, 2},
    {64, 0x5D, Kind::TwoWay, 1, 1, 1},    {65, 0x5F, Kind::TwoWay, 1, 1, 1},
    {66, 0x36, Kind::TwoWay, 1, 1, 1},    {67, 0x77, Kind::TwoWay, 1, 1, 1},
    {68, 0x3C, Kind::TwoWay, 1, 1, 1},    {69, 0x40, Kind::TwoWay, 1, 1, 1},
    {70, 0x42, Kind::TwoWay, 1, 1, 1},    {71, 0x43, Kind::TwoWay, 1, 1, 1},
    {72, 0x4C, Kind::TwoWay, 4, 4, 4},    {73, 0x5B, Kind::TwoWay, 7, 7, 7},
    {74, 0x59, Kind::TwoWay, 1, 1, 1},    {75, 0x84, Kind::TwoWay, 1, 1, 1},
    {76, 0x5C, Kind::TwoWay, 1, 1, 1},    {77, 0x89, Kind::TwoWay, 2, 2, 2},
    {78, 0x33, Kind::TwoWay, 1, 1, 1},    {79, 0x4A, Kind::TwoWay, 1, 1, 1},
    {80, 0x57, Kind::TwoWay, 8, 8, 8},    {81, 0x85, Kind::TwoWay, 1, 1, 1},
    {82, 0x8F, Kind::TwoWay, 1, 1, 1},    {83, 0x44, Kind::TwoWay, 1, 1, 1},
    {84, 0x70, Kind::TwoWay, 1, 1, 1},    {85, 0xA3, Kind::TwoWay, 2, 2, 1},
    {86, 0xF9, Kind::TwoWay, 1, 1, 1},    {87, 0x9F, Kind::SetOnly, 1, 0, 0},
};

// Index 73 reads its set length from extra; 20 picks the seven-value form.
constexpr int kExtraSevenValues = 20;

bool Sets(Kind k)
{
    return k == Kind::TwoWay || k == Kind::SetAny || k == Kind::SetOnly;
}
bool Gets(Kind k)
{
    return k == Kind::TwoWay || k == Kind::GetAny || k == Kind::GetOnly;
}

// Reply values with digits and letters in both nibbles: 0A 1B 2C 3D ...
Bytes Values(int n)
{
    Bytes v;
    for (int k = 0; k < n; ++k) v.push_back(static_cast<uint8_t>(0x0A + 0x11 * k));
    return v;
}

// The expected text: two upper-case digits per byte, single blanks between.
std::string HexText(const Bytes& cells, int printed)
{
    static const char kDigits[] = "0123456789ABCDEF";
    std::string text;
    for (int k = 0; k < printed; ++k) {
        if (k > 0) text += ' ';
        const uint8_t b = k < static_cast<int>(cells.size()) ? cells[k] : 0;
        text += kDigits[b >> 4];
        text += kDigits[b & 0x0F];
    }
    return text;
}

Bytes Frame(uint8_t cmd, const Bytes& data)
{
    Bytes f;
    f.push_back(cmd);
    f.push_back(static_cast<uint8_t>(data.size()));
    for (uint8_t b : data) f.push_back(b);
    return f;
}

struct Buffer {
    unsigned char b[256];
    explicit Buffer(unsigned char fill = 0xEE) { memset(b, fill, sizeof b); }
    // A set value: distinct raw bytes from byte 0 on.
    static Buffer SetValue()
    {
        Buffer buf;
        for (int k = 0; k < 256; ++k) buf.b[k] = static_cast<unsigned char>(0x31 + 7 * k);
        return buf;
    }
    Bytes Head(int n) const { return Bytes(b, b + n); }
    std::string Text() const
    {
        return std::string(reinterpret_cast<const char*>(b), strnlen((const char*)b, sizeof b));
    }
    bool operator==(const Buffer& o) const { return memcmp(b, o.b, sizeof b) == 0; }
};

int Str(Buffer& buf, int getset, int index, int extra = 0)
{
    return CSnmpAppBase::RIX_Func_Call_Str(buf.b, getset, static_cast<eFuncType>(index), extra);
}

int Holiday(Buffer& buf, int getset, int index, int extra = 0)
{
    return CSnmpAppBase::RIX_Func_Call_Holiday(buf.b, getset, static_cast<eFuncType>(index), extra);
}

class RequestTableTest : public ::testing::Test {
protected:
    std::vector<Bytes> Sent() const
    {
        std::vector<Bytes> out;
        for (const auto& f : panel.frames()) out.push_back(f.bytes);
        return out;
    }

    kw::host::VirtualClockScope clock;
    kw::test::PanelDouble panel{VoRIXSNMPApi::GetInstance()};
};

TEST_F(RequestTableTest, TableCoversEveryIndexInOrder)
{
    ASSERT_EQ(sizeof kTable / sizeof kTable[0], 88u);
    for (int i = 0; i < 88; ++i) EXPECT_EQ(kTable[i].index, i);
}

TEST_F(RequestTableTest, EverySetSendsItsCommandWithTheBytesFromBuf)
{
    panel.setDefaultEcho();
    for (const Row& row : kTable) {
        if (!Sets(row.kind)) continue;
        SCOPED_TRACE("index " + std::to_string(row.index));
        panel.clearFrames();
        Buffer buf = Buffer::SetValue();
        const Buffer before = buf;
        const int extra = row.index == 73 ? kExtraSevenValues : 0;

        EXPECT_EQ(Str(buf, 0, row.index, extra), 1);
        EXPECT_EQ(Sent(), std::vector<Bytes>{Frame(row.cmd, before.Head(row.setBytes))});
        EXPECT_TRUE(buf == before) << "a set writes nothing into buf";
    }
}

TEST_F(RequestTableTest, EveryGetSendsItsCommandBareAndPrintsTheReply)
{
    for (const Row& row : kTable) {
        if (!Gets(row.kind)) continue;
        SCOPED_TRACE("index " + std::to_string(row.index));
        panel.clearFrames();
        const Bytes values = Values(row.cells);
        panel.answer(row.cmd, values);
        Buffer buf;

        EXPECT_EQ(Str(buf, 1, row.index), 1);
        EXPECT_EQ(Sent(), std::vector<Bytes>{Frame(row.cmd, {})});
        EXPECT_EQ(buf.Text(), HexText(values, row.printed));
    }
}

TEST_F(RequestTableTest, TextIsUpperCaseHexWithSingleBlanks)
{
    panel.answer(0x10, {0x01, 0x0A, 0xFF});
    Buffer buf;
    EXPECT_EQ(Str(buf, 1, 6), 1);
    EXPECT_EQ(buf.Text(), "01 0A FF");

    // Fifteen bytes of a timer fill 44 characters, terminated.
    for (int index = 51; index <= 57; ++index) {
        panel.setDefaultValues(Values(15));
        Buffer timer;
        EXPECT_EQ(Str(timer, 1, index), 1);
        EXPECT_EQ(strlen(reinterpret_cast<char*>(timer.b)), 44u) << "index " << index;
    }
}

TEST_F(RequestTableTest, UnevenGetsPrintOnlyTheirLeadingCells)
{
    panel.answer(0xA1, {0x11, 0x22, 0x33});
    panel.answer(0xA3, {0x44, 0x55});
    panel.answer(0xA9, {0x06, 0x01, 0x02, 0x03, 0x04});
    Buffer a, b, c;
    EXPECT_EQ(Str(a, 1, 63), 1);
    EXPECT_EQ(Str(b, 1, 85), 1);
    EXPECT_EQ(Str(c, 1, 59), 1);
    EXPECT_EQ(a.Text(), "11 22");
    EXPECT_EQ(b.Text(), "44");
    EXPECT_EQ(c.Text(), "06");
}

TEST_F(RequestTableTest, TextRowsCopyTheReplyCharactersAndLeaveTheRest)
{
    const std::string name = "KW-55 DISPLAY";
    panel.answer(0x8A, Bytes(name.begin(), name.end()));
    Buffer buf('z');
    EXPECT_EQ(Str(buf, 1, 4), 1);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(buf.b), name.size()), name);
    EXPECT_EQ(buf.b[name.size()], 'z') << "no terminator of its own";

    panel.answer(0x0E, {'1', '.', '0', '2'});
    Buffer version(0);
    EXPECT_EQ(Str(version, 1, 5), 1);
    EXPECT_EQ(version.Text(), "1.02");

    // The serial number is capped at 18 characters.
    const std::string serial = "ABCDEFGHIJKLMNOPQRST";
    panel.answer(0x0B, Bytes(serial.begin(), serial.end()));
    Buffer sn(0);
    EXPECT_EQ(Str(sn, 1, 8), 1);
    EXPECT_EQ(sn.Text(), serial.substr(0, 18));

    EXPECT_EQ(Sent(), (std::vector<Bytes>{Frame(0x8A, {}), Frame(0x0E, {}), Frame(0x0B, {})}));
}

// The module's own behaviour: rows 4-10 read and rows 12, 22, 33 write, whatever was asked.
TEST_F(RequestTableTest, ReadOnlyAndWriteOnlyRowsIgnoreTheDirection)
{
    for (const Row& row : kTable) {
        if (row.kind != Kind::GetAny && row.kind != Kind::SetAny && row.kind != Kind::Text) {
            continue;
        }
        for (int getset : {0, 1, 2, -1}) {
            SCOPED_TRACE("index " + std::to_string(row.index) + " getset " +
                         std::to_string(getset));
            panel.clearFrames();
            if (row.kind == Kind::SetAny) {
                panel.setDefaultEcho();
                Buffer buf = Buffer::SetValue();
                const Buffer before = buf;
                EXPECT_EQ(Str(buf, getset, row.index), 1);
                EXPECT_EQ(Sent(), std::vector<Bytes>{Frame(row.cmd, before.Head(row.setBytes))});
                EXPECT_TRUE(buf == before);
            } else {
                panel.setDefaultValues({'7', 'A'});
                Buffer buf(0);
                EXPECT_EQ(Str(buf, getset, row.index), 1);
                EXPECT_EQ(Sent(), std::vector<Bytes>{Frame(row.cmd, {})});
                const std::string expected =
                    row.kind == Kind::Text ? "7A" : HexText({'7', 'A'}, row.printed);
                EXPECT_EQ(buf.Text(), expected) << "buf is overwritten";
            }
        }
    }
}

TEST_F(RequestTableTest, IndexesWithoutARowAreRefusedUntouched)
{
    panel.setDefaultEcho();
    for (int index : {88, 89, 255, 1000, INT_MAX, -1, -88, INT_MIN, 1, 2, 60}) {
        for (int getset : {0, 1}) {
            Buffer buf = Buffer::SetValue();
            const Buffer before = buf;
            EXPECT_EQ(Str(buf, getset, index, 8), 0) << "index " << index;
            EXPECT_TRUE(buf == before) << "index " << index;
        }
    }
    EXPECT_TRUE(Sent().empty());
}

TEST_F(RequestTableTest, RefusedDirectionsSendNothingAndLeaveBuf)
{
    panel.setDefaultEcho();
    struct Case {
        int index;
        int getset;
    };
    std::vector<Case> cases{{58, 1}, {58, 2}, {58, -1}, {59, 0}, {59, 2},
                            {87, 1}, {87, 2}, {87, -1}, {73, 2}};
    for (const Row& row : kTable) {
        if (row.kind == Kind::TwoWay) {
            cases.push_back({row.index, 2});
            cases.push_back({row.index, -1});
        }
    }
    for (const Case& c : cases) {
        Buffer buf = Buffer::SetValue();
        const Buffer before = buf;
        EXPECT_EQ(Str(buf, c.getset, c.index, 8), 0) << c.index << "/" << c.getset;
        EXPECT_TRUE(buf == before) << c.index << "/" << c.getset;
    }
    EXPECT_TRUE(Sent().empty());
}

TEST_F(RequestTableTest, SafetyScreenSetPicksItsFormByTheTextLength)
{
    panel.setDefaultEcho();
    const Buffer value = Buffer::SetValue();
    for (int extra : {6, 8}) {
        panel.clearFrames();
        Buffer buf = value;
        EXPECT_EQ(Str(buf, 0, 73, extra), 1);
        EXPECT_EQ(Sent(), std::vector<Bytes>{Frame(0x5B, value.Head(3))}) << extra;
    }
    for (int extra : {14, 20}) {
        panel.clearFrames();
        Buffer buf = value;
        EXPECT_EQ(Str(buf, 0, 73, extra), 1);
        EXPECT_EQ(Sent(), std::vector<Bytes>{Frame(0x5B, value.Head(7))}) << extra;
    }
    panel.clearFrames();
    for (int extra : {7, 0, -6, 3, 13, 21, 256 + 6}) {
        Buffer buf = value;
        EXPECT_EQ(Str(buf, 0, 73, extra), 0) << extra;
        EXPECT_TRUE(buf == value);
    }
    EXPECT_TRUE(Sent().empty());
}

TEST_F(RequestTableTest, FailedGetsStillPrintZeroesAndReturnZero)
{
    // No reply within the wait.
    Buffer buf;
    EXPECT_EQ(Str(buf, 1, 13), 0);
    EXPECT_EQ(buf.Text(), "00");

    Buffer timer;
    EXPECT_EQ(Str(timer, 1, 54), 0);
    EXPECT_EQ(timer.Text(), HexText({}, 15));

    // A refused reply.
    panel.answer(0x0F, {0x01, 0x02, 0x03}, 'N');
    Buffer refused;
    EXPECT_EQ(Str(refused, 1, 38), 0);
    EXPECT_EQ(refused.Text(), "00 00 00");

    // A failed send.
    panel.setSendResult(0);
    Buffer unsent;
    EXPECT_EQ(Str(unsent, 1, 3), 0);
    EXPECT_EQ(unsent.Text(), "00");
    Buffer holiday;
    EXPECT_EQ(Str(holiday, 1, 59), 0);
    EXPECT_EQ(holiday.Text(), "00");
}

TEST_F(RequestTableTest, ShortReplyLeavesTheRestZeroAndSucceeds)
{
    panel.answer(0x17, {0x0A, 0x1B, 0x2C});
    Buffer buf;
    EXPECT_EQ(Str(buf, 1, 11), 1);
    EXPECT_EQ(buf.Text(), "0A 1B 2C 00 00 00 00 00");
}

TEST_F(RequestTableTest, FailedSetReturnsZeroAndLeavesBuf)
{
    Buffer buf = Buffer::SetValue();
    const Buffer before = buf;
    EXPECT_EQ(Str(buf, 0, 51), 0);  // no reply
    panel.answer(0x11, {0x01}, 'N');
    EXPECT_EQ(Str(buf, 0, 3), 0);
    EXPECT_TRUE(buf == before);
    EXPECT_EQ(Sent().size(), 2u);
}

TEST_F(RequestTableTest, HolidayCountReadsTheFirstValue)
{
    panel.answer(0xA9, {0x0C, 0x01, 0x02, 0x03, 0x04});
    Buffer buf;
    EXPECT_EQ(Holiday(buf, 1, 59), 1);
    EXPECT_EQ(buf.Text(), "0C");
    EXPECT_EQ(Sent(), std::vector<Bytes>{Frame(0xA9, {})});
}

TEST_F(RequestTableTest, HolidayEntrySendsTheLowByteOfExtra)
{
    panel.answer(0xA9, {0x03, 0x0C, 0x19, 0xA0, 0xFF});
    Buffer buf;
    EXPECT_EQ(Holiday(buf, 1, 60, 0x103), 1);
    EXPECT_EQ(Sent(), std::vector<Bytes>{Frame(0xA9, {0x03})});
    EXPECT_EQ(buf.Text(), "03 0C 19 A0 FF");
}

TEST_F(RequestTableTest, HolidayEntryWithoutReplyShowsTheEntryNumber)
{
    Buffer buf;
    EXPECT_EQ(Holiday(buf, 1, 60, 3), 0);
    EXPECT_EQ(buf.Text(), "03 00 00 00 00");

    // A short reply fills what it carries.
    panel.answer(0xA9, {0x07, 0x21});
    Buffer shorter;
    EXPECT_EQ(Holiday(shorter, 1, 60, 7), 1);
    EXPECT_EQ(shorter.Text(), "07 21 00 00 00");

    Buffer count;
    EXPECT_EQ(Holiday(count, 1, 59), 0);
    EXPECT_EQ(count.Text(), "00");
}

TEST_F(RequestTableTest, HolidayRefusesOtherIndexesAndSets)
{
    panel.setDefaultEcho();
    struct Case {
        int index;
        int getset;
    };
    for (const Case& c : {Case{61, 1}, Case{0, 1}, Case{58, 1}, Case{-1, 1}, Case{59, 0},
                          Case{59, 2}, Case{60, 0}, Case{60, -1}}) {
        Buffer buf = Buffer::SetValue();
        const Buffer before = buf;
        EXPECT_EQ(Holiday(buf, c.getset, c.index, 3), 0) << c.index << "/" << c.getset;
        EXPECT_TRUE(buf == before) << c.index << "/" << c.getset;
    }
    EXPECT_TRUE(Sent().empty());
}

TEST_F(RequestTableTest, NullBufferIsRefused)
{
    panel.setDefaultEcho();
    EXPECT_EQ(CSnmpAppBase::RIX_Func_Call_Str(nullptr, 1, static_cast<eFuncType>(3), 0), 0);
    EXPECT_EQ(CSnmpAppBase::RIX_Func_Call_Holiday(nullptr, 1, FUNC_HOLIDAY_ENTRY, 3), 0);
    EXPECT_TRUE(Sent().empty());
}

}  // namespace
