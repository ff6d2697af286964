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
constexpr Kind NO = Kind::None, TW = Kind::TwoWay, GA = Kind::GetAny, SA = Kind::SetAny,
               SO = Kind::SetOnly, GO = Kind::GetOnly, TX = Kind::Text;
// clang-format off
const Row kTable[] = {
    {0, 0x14, TW, 1, 1, 1}, {1, 0x00, NO, 0, 0, 0}, {2, 0x00, NO, 0, 0, 0}, {3, 0x11, TW, 1, 1, 1},
    {4, 0x8A, TX, 0, 0, 0}, {5, 0x0E, TX, 0, 0, 0}, {6, 0x10, GA, 0, 3, 3}, {7, 0x19, GA, 0, 1, 1},
    {8, 0x0B, TX, 0, 0, 0}, {9, 0x83, GA, 0, 2, 2}, {10, 0x0D, GA, 0, 6, 6}, {11, 0x17, TW, 8, 8, 8},
    {12, 0x61, SA, 1, 0, 0}, {13, 0x71, TW, 1, 1, 1}, {14, 0x15, TW, 1, 1, 1}, {15, 0x58, TW, 1, 1, 1},
    {16, 0x24, TW, 1, 1, 1}, {17, 0x25, TW, 1, 1, 1}, {18, 0x26, TW, 1, 1, 1}, {19, 0x27, TW, 1, 1, 1},
    {20, 0x28, TW, 1, 1, 1}, {21, 0x3E, TW, 1, 1, 1}, {22, 0x4B, SA, 2, 0, 0}, {23, 0x73, TW, 1, 1, 1},
    {24, 0x79, TW, 1, 1, 1}, {25, 0x9C, TW, 1, 1, 1}, {26, 0x9D, TW, 1, 1, 1}, {27, 0x9E, TW, 1, 1, 1},
    {28, 0x18, TW, 1, 1, 1}, {29, 0x37, TW, 1, 1, 1}, {30, 0x38, TW, 1, 1, 1}, {31, 0x75, TW, 1, 1, 1},
    {32, 0x96, TW, 1, 1, 1}, {33, 0x3D, SA, 1, 0, 0}, {34, 0x76, TW, 1, 1, 1}, {35, 0x3F, TW, 1, 1, 1},
    {36, 0x87, TW, 1, 1, 1}, {37, 0x94, TW, 1, 1, 1}, {38, 0x0F, TW, 3, 3, 3}, {39, 0x12, TW, 1, 1, 1},
    {40, 0x13, TW, 1, 1, 1}, {41, 0x72, TW, 1, 1, 1}, {42, 0x78, TW, 1, 1, 1}, {43, 0x51, TW, 1, 1, 1},
    {44, 0x52, TW, 1, 1, 1}, {45, 0x53, TW, 1, 1, 1}, {46, 0x54, TW, 1, 1, 1}, {47, 0x55, TW, 1, 1, 1},
    {48, 0x48, TW, 1, 1, 1}, {49, 0x47, TW, 1, 1, 1}, {50, 0xA7, TW, 7, 7, 7}, {51, 0xA4, TW, 15, 15, 15},
    {52, 0xA5, TW, 15, 15, 15}, {53, 0xA6, TW, 15, 15, 15}, {54, 0xAB, TW, 15, 15, 15}, {55, 0xAC, TW, 15, 15, 15},
    {56, 0xAD, TW, 15, 15, 15}, {57, 0xAE, TW, 15, 15, 15}, {58, 0xA8, SO, 5, 0, 0}, {59, 0xA9, GO, 0, 5, 1},
    {60, 0x00, NO, 0, 0, 0}, {61, 0x92, TW, 1, 1, 1}, {62, 0x86, TW, 1, 1, 1}, {63, 0xA1, TW, 3, 3, 2},
    {64, 0x5D, TW, 1, 1, 1}, {65, 0x5F, TW, 1, 1, 1}, {66, 0x36, TW, 1, 1, 1}, {67, 0x77, TW, 1, 1, 1},
    {68, 0x3C, TW, 1, 1, 1}, {69, 0x40, TW, 1, 1, 1}, {70, 0x42, TW, 1, 1, 1}, {71, 0x43, TW, 1, 1, 1},
    {72, 0x4C, TW, 4, 4, 4}, {73, 0x5B, TW, 7, 7, 7}, {74, 0x59, TW, 1, 1, 1}, {75, 0x84, TW, 1, 1, 1},
    {76, 0x5C, TW, 1, 1, 1}, {77, 0x89, TW, 2, 2, 2}, {78, 0x33, TW, 1, 1, 1}, {79, 0x4A, TW, 1, 1, 1},
    {80, 0x57, TW, 8, 8, 8}, {81, 0x85, TW, 1, 1, 1}, {82, 0x8F, TW, 1, 1, 1}, {83, 0x44, TW, 1, 1, 1},
    {84, 0x70, TW, 1, 1, 1}, {85, 0xA3, TW, 2, 2, 1}, {86, 0xF9, TW, 1, 1, 1}, {87, 0x9F, SO, 1, 0, 0},
};
// clang-format on

// clang-format off
bool Sets(Kind k) { return k == TW || k == SA || k == SO; }
bool Gets(Kind k) { return k == TW || k == GA || k == GO; }
// clang-format on

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
    Bytes f{cmd, static_cast<uint8_t>(data.size())};
    f.insert(f.end(), data.begin(), data.end());
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
    // A set of index: the frame it sends carries the first setBytes of buf; buf is unchanged.
    void ExpectSet(const Row& row, int getset, int extra = 0)
    {
        panel.clearFrames();
        Buffer buf = Buffer::SetValue();
        const Buffer before = buf;
        EXPECT_EQ(Str(buf, getset, row.index, extra), 1);
        EXPECT_EQ(Sent(), std::vector<Bytes>{Frame(row.cmd, before.Head(row.setBytes))});
        EXPECT_TRUE(buf == before) << "a set writes nothing into buf";
    }

    kw::host::VirtualClockScope clock;
    kw::test::PanelDouble panel{VoRIXSNMPApi::GetInstance()};
};

TEST_F(RequestTableTest, EverySetSendsItsCommandWithTheBytesFromBuf)
{
    ASSERT_EQ(sizeof kTable / sizeof kTable[0], 88u);
    panel.setDefaultEcho();
    for (const Row& row : kTable) {
        ASSERT_EQ(row.index, &row - kTable);
        SCOPED_TRACE("index " + std::to_string(row.index));
        // Index 73 reads its set length from extra; 20 picks the seven-value form.
        if (Sets(row.kind)) ExpectSet(row, 0, row.index == 73 ? 20 : 0);
    }
}

// Also the uneven gets: 63 prints two of three cells, 59 and 85 one.
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
        if (row.cells == 15) {
            EXPECT_EQ(buf.Text().size(), 44u) << "a timer row";
        }
    }
}

TEST_F(RequestTableTest, TextRowsCopyTheReplyCharactersAndLeaveTheRest)
{
    const std::string name = "KW-55 DISPLAY", serial = "ABCDEFGHIJKLMNOPQRST";
    panel.answer(0x8A, Bytes(name.begin(), name.end()));
    panel.answer(0x0E, {'1', '.', '0', '2'});
    panel.answer(0x0B, Bytes(serial.begin(), serial.end()));
    Buffer model('z'), version(0), sn(0);
    EXPECT_EQ(Str(model, 1, 4), 1);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(model.b), name.size()), name);
    EXPECT_EQ(model.b[name.size()], 'z') << "no terminator of its own";
    EXPECT_EQ(Str(version, 1, 5), 1);
    EXPECT_EQ(version.Text(), "1.02");
    EXPECT_EQ(Str(sn, 1, 8), 1);
    EXPECT_EQ(sn.Text(), serial.substr(0, 18)) << "capped at 18 characters";
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
            if (row.kind == Kind::SetAny) {
                panel.setDefaultEcho();
                ExpectSet(row, getset);
                continue;
            }
            panel.clearFrames();
            panel.setDefaultValues({'7', 'A'});
            Buffer buf(0);
            EXPECT_EQ(Str(buf, getset, row.index), 1);
            EXPECT_EQ(Sent(), std::vector<Bytes>{Frame(row.cmd, {})});
            EXPECT_EQ(buf.Text(), row.kind == Kind::Text ? "7A" : HexText({'7', 'A'}, row.printed));
        }
    }
}

// Refusals send nothing, leave buf alone and return 0.
TEST_F(RequestTableTest, RefusalsSendNothingAndLeaveBuf)
{
    panel.setDefaultEcho();
    struct Case {
        bool holiday;
        int index;
        int getset;
    };
    std::vector<Case> cases;
    for (int index : {88, 89, 255, 1000, INT_MAX, -1, -88, INT_MIN, 1, 2, 60}) {
        cases.push_back({false, index, 0});
        cases.push_back({false, index, 1});
    }
    for (Case c : {Case{false, 58, 1},
                   {false, 58, 2},
                   {false, 58, -1},
                   {false, 59, 0},
                   {false, 59, 2},
                   {false, 87, 1},
                   {false, 87, 2},
                   {false, 87, -1},
                   {false, 73, 2},
                   {true, 61, 1},
                   {true, 0, 1},
                   {true, 58, 1},
                   {true, -1, 1},
                   {true, 59, 0},
                   {true, 59, 2},
                   {true, 60, 0},
                   {true, 60, -1}}) {
        cases.push_back(c);
    }
    for (const Row& row : kTable) {
        if (row.kind != Kind::TwoWay) continue;
        cases.push_back({false, row.index, 2});
        cases.push_back({false, row.index, -1});
    }
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.index) + "/" + std::to_string(c.getset) +
                     (c.holiday ? " holiday" : ""));
        Buffer buf = Buffer::SetValue();
        const Buffer before = buf;
        EXPECT_EQ(c.holiday ? Holiday(buf, c.getset, c.index, 3) : Str(buf, c.getset, c.index, 8),
                  0);
        EXPECT_TRUE(buf == before);
    }
    EXPECT_EQ(CSnmpAppBase::RIX_Func_Call_Str(nullptr, 1, static_cast<eFuncType>(3), 0), 0);
    EXPECT_EQ(CSnmpAppBase::RIX_Func_Call_Holiday(nullptr, 1, FUNC_HOLIDAY_ENTRY, 3), 0);
    EXPECT_TRUE(Sent().empty());
}

TEST_F(RequestTableTest, SafetyScreenSetPicksItsFormByTheTextLength)
{
    panel.setDefaultEcho();
    const Buffer value = Buffer::SetValue();
    for (int extra : {6, 8, 14, 20}) {
        panel.clearFrames();
        Buffer buf = value;
        EXPECT_EQ(Str(buf, 0, 73, extra), 1);
        EXPECT_EQ(Sent(), std::vector<Bytes>{Frame(0x5B, value.Head(extra < 14 ? 3 : 7))}) << extra;
    }
    panel.clearFrames();
    for (int extra : {7, 0, -6, 3, 13, 21, 256 + 6}) {
        Buffer buf = value;
        EXPECT_EQ(Str(buf, 0, 73, extra), 0) << extra;
        EXPECT_TRUE(buf == value);
    }
    EXPECT_TRUE(Sent().empty());
}

// A failed get still prints its zeroes; a short reply leaves the rest zero and succeeds.
TEST_F(RequestTableTest, FailuresPrintZeroesAndReturnZero)
{
    struct Case {
        int index;
        std::string text;
    };
    panel.answer(0x0F, {0x01, 0x02, 0x03}, 'N');  // index 38 is refused
    for (const Case& c : {Case{13, "00"}, Case{54, HexText({}, 15)}, Case{38, "00 00 00"}}) {
        Buffer buf;
        EXPECT_EQ(Str(buf, 1, c.index), 0) << c.index;
        EXPECT_EQ(buf.Text(), c.text);
    }
    panel.answer(0x17, {0x0A, 0x1B, 0x2C});
    Buffer shorter;
    EXPECT_EQ(Str(shorter, 1, 11), 1);
    EXPECT_EQ(shorter.Text(), "0A 1B 2C 00 00 00 00 00");

    // A failed set leaves buf.
    Buffer buf = Buffer::SetValue();
    const Buffer before = buf;
    EXPECT_EQ(Str(buf, 0, 51), 0);  // no reply
    panel.answer(0x11, {0x01}, 'N');
    EXPECT_EQ(Str(buf, 0, 3), 0);
    EXPECT_TRUE(buf == before);

    // A failed send.
    panel.setSendResult(0);
    for (int index : {3, 59}) {
        Buffer unsent;
        EXPECT_EQ(Str(unsent, 1, index), 0);
        EXPECT_EQ(unsent.Text(), "00");
    }
}

TEST_F(RequestTableTest, HolidayCountAndEntries)
{
    panel.answer(0xA9, {0x0C, 0x01, 0x02, 0x03, 0x04});
    panel.answer(0xA9, {0x03, 0x0C, 0x19, 0xA0, 0xFF});
    panel.answer(0xA9, {0x07, 0x21});
    Buffer count, entry, shorter, missing, noCount;
    EXPECT_EQ(Holiday(count, 1, 59), 1);
    EXPECT_EQ(count.Text(), "0C");
    EXPECT_EQ(Holiday(entry, 1, 60, 0x103), 1);  // the entry number is extra's low byte
    EXPECT_EQ(entry.Text(), "03 0C 19 A0 FF");
    EXPECT_EQ(Holiday(shorter, 1, 60, 7), 1);
    EXPECT_EQ(shorter.Text(), "07 21 00 00 00");
    EXPECT_EQ(Sent(),
              (std::vector<Bytes>{Frame(0xA9, {}), Frame(0xA9, {0x03}), Frame(0xA9, {0x07})}));

    // Without a reply the entry number still shows.
    EXPECT_EQ(Holiday(missing, 1, 60, 3), 0);
    EXPECT_EQ(missing.Text(), "03 00 00 00 00");
    EXPECT_EQ(Holiday(noCount, 1, 59), 0);
    EXPECT_EQ(noCount.Text(), "00");
}

}  // namespace
