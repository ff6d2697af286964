// The string and holiday request callbacks against a scripted panel: which command each
// request index sends in each direction, with which bytes and pause, and the text a get leaves.
#include <gtest/gtest.h>

#include <climits>
#include <cstring>
#include <set>
#include <string>

#include "agent/CSnmpAppBase.h"
#include "command/VoRIXSNMPApi.h"
#include "tests/support/PanelDouble.h"

namespace {

using kw::test::Bytes;

// Kinds of row. TW: 0 sets, 1 gets, anything else refused. GA / SA: reads / writes whatever
// getset holds. SO / GO: getset 0 / 1 only. TX: like GA, the reply's characters go into buf.
enum Kind { NO, TW, GA, SA, SO, GO, TX };
// setBytes: bytes a set takes from buf; cells: reply values a get takes; printed: cells printed.
struct Row {
    int index;
    uint8_t cmd;
    Kind kind;
    int setBytes, cells, printed;
};

// The request index table and the catalogue's slow commands, typed by hand.
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
const std::set<uint8_t> kSlow = {0x01, 0x02, 0x03, 0x3E, 0x71, 0x72, 0x75, 0x78, 0x7A, 0xA8, 0xA9};

// A get's reply values and the text they print as, typed out: n cells print 3n - 1 characters.
const Bytes kValues = {0x0A, 0x1B, 0x2C, 0x3D, 0x4E, 0x5F, 0x60, 0x71,
                       0x82, 0x93, 0xA4, 0xB5, 0xC6, 0xD7, 0xE8};
const std::string kText = "0A 1B 2C 3D 4E 5F 60 71 82 93 A4 B5 C6 D7 E8";

struct Buffer {
    unsigned char b[256];
    explicit Buffer(int fill = -1)  // -1: distinct raw bytes, as a set value
    {
        for (int k = 0; k < 256; ++k)
            b[k] = static_cast<unsigned char>(fill < 0 ? 0x31 + 7 * k : fill);
    }
    std::string Text() const
    {
        return std::string(reinterpret_cast<const char*>(b), strnlen((const char*)b, 256));
    }
    bool operator==(const Buffer& o) const { return memcmp(b, o.b, sizeof b) == 0; }
};

const auto Str = [](Buffer& buf, int getset, int index, int extra = 0) {
    return CSnmpAppBase::RIX_Func_Call_Str(buf.b, getset, static_cast<eFuncType>(index), extra);
};
const auto Holiday = [](Buffer& buf, int getset, int index, int extra = 0) {
    return CSnmpAppBase::RIX_Func_Call_Holiday(buf.b, getset, static_cast<eFuncType>(index), extra);
};

class RequestTableTest : public ::testing::Test {
protected:
    kw::host::VirtualClockScope clock;
    kw::test::PanelDouble panel{VoRIXSNMPApi::GetInstance()};
};

// Every index in every direction: a set sends its bytes from buf and writes nothing, a get
// sends its command bare and prints the reply, a refusal sends nothing and leaves buf.
TEST_F(RequestTableTest, EveryIndexInEveryDirection)
{
    ASSERT_EQ(sizeof kTable / sizeof kTable[0], 88u);
    panel.m_echo = true;
    for (const Row& row : kTable) {
        ASSERT_EQ(row.index, &row - kTable);
        for (int getset : {0, 1, 2, -1}) {
            SCOPED_TRACE(std::to_string(row.index) + "/" + std::to_string(getset));
            const Kind k = row.kind;
            const bool set = k == SA || ((k == TW || k == SO) && getset == 0);
            const bool get = k == GA || k == TX || ((k == TW || k == GO) && getset == 1);
            const Bytes values =
                k == TX ? Bytes{'7', 'A'} : Bytes(kValues.begin(), kValues.begin() + row.cells);
            if (get) panel.answer(row.cmd, values);
            panel.reset();
            Buffer buf = set ? Buffer() : Buffer(0);
            const Buffer before = buf;
            // Index 73 reads its set length from extra; 20 picks the seven-value form.
            EXPECT_EQ(set || get ? 1 : 0, Str(buf, getset, row.index, 20));
            const auto sent = panel.frames();
            if (!set && !get) {
                EXPECT_TRUE(sent.empty());
                EXPECT_TRUE(buf == before);
                continue;
            }
            ASSERT_EQ(1u, sent.size());
            Bytes frame{row.cmd, uint8_t(set ? row.setBytes : 0)};
            if (set) frame.insert(frame.end(), before.b, before.b + row.setBytes);
            EXPECT_EQ(frame, sent[0]);
            const uint32_t pause = !set ? 100u : kSlow.count(row.cmd) ? 400u : 200u;
            EXPECT_EQ(pause, panel.sinceLastSend());
            const std::string text = k == TX ? "7A" : kText.substr(0, 3 * row.printed - 1);
            EXPECT_EQ(set ? before.Text() : text, buf.Text());  // a set writes nothing into buf
        }
    }
}

TEST_F(RequestTableTest, RefusalsOutsideTheTableSendNothingAndLeaveBuf)
{
    panel.m_echo = true;
    for (int index : {88, 89, 255, 1000, INT_MAX, -88, INT_MIN}) {
        Buffer buf;
        EXPECT_EQ(0, Str(buf, 0, index, 8) + Str(buf, 1, index, 8)) << index;
        EXPECT_TRUE(buf == Buffer());
    }
    for (auto [index, getset] :
         {std::pair{61, 1}, {0, 1}, {58, 1}, {-1, 1}, {59, 0}, {59, 2}, {60, 0}, {60, -1}}) {
        Buffer buf;
        EXPECT_EQ(0, Holiday(buf, getset, index, 3)) << index << "/" << getset;
        EXPECT_TRUE(buf == Buffer());
    }
    EXPECT_EQ(0, CSnmpAppBase::RIX_Func_Call_Str(nullptr, 1, static_cast<eFuncType>(3), 0));
    EXPECT_EQ(0, CSnmpAppBase::RIX_Func_Call_Holiday(nullptr, 1, FUNC_HOLIDAY_ENTRY, 3));
    // The safety screen's set form follows the length of the manager's text.
    for (int extra : {6, 8, 14, 20, 7, 0, -6, 3, 13, 21, 256 + 6}) {
        Buffer buf;
        const bool ok = extra == 6 || extra == 8 || extra == 14 || extra == 20;
        EXPECT_EQ(ok ? 1 : 0, Str(buf, 0, 73, extra)) << extra;
        EXPECT_TRUE(buf == Buffer());
        EXPECT_TRUE(!ok || panel.frames().back()[1] == (extra < 14 ? 3 : 7)) << extra;
    }
    EXPECT_EQ(4u, panel.frames().size());
}

// A failed get still prints its zeroes; a short reply leaves the rest zero and succeeds.
TEST_F(RequestTableTest, FailuresPrintZeroesAndReturnZero)
{
    panel.answer(0x0F, {0x01, 0x02, 0x03}, 'N');  // index 38 is refused
    for (auto [index, text] : {std::pair<int, std::string>{13, "00"},
                               {54, "00 00 00 00 00 00 00 00 00 00 00 00 00 00 00"},
                               {38, "00 00 00"}}) {
        Buffer buf(0xEE);
        EXPECT_EQ(0, Str(buf, 1, index)) << index;
        EXPECT_EQ(text, buf.Text());
    }
    panel.answer(0x17, {0x0A, 0x1B, 0x2C});
    Buffer shorter;
    EXPECT_EQ(1, Str(shorter, 1, 11));
    EXPECT_EQ("0A 1B 2C 00 00 00 00 00", shorter.Text());
    panel.m_sendResult = 0;  // a failed send
    for (int index : {3, 59}) {
        Buffer unsent(0xEE);
        EXPECT_EQ(0, Str(unsent, 1, index));
        EXPECT_EQ("00", unsent.Text());
    }
}

TEST_F(RequestTableTest, HolidayCountAndEntries)
{
    panel.answer(0xA9, {0x0C, 0x01, 0x02, 0x03, 0x04});
    panel.answer(0xA9, {0x03, 0x0C, 0x19, 0xA0, 0xFF});
    panel.answer(0xA9, {0x07, 0x21});
    Buffer count(0), entry(0), shorter(0), missing(0), noCount(0);
    EXPECT_EQ(1, Holiday(count, 1, 59));
    EXPECT_EQ("0C", count.Text());
    EXPECT_EQ(1, Holiday(entry, 1, 60, 0x103));  // the entry number is extra's low byte
    EXPECT_EQ("03 0C 19 A0 FF", entry.Text());
    EXPECT_EQ(1, Holiday(shorter, 1, 60, 7));
    EXPECT_EQ("07 21 00 00 00", shorter.Text());
    EXPECT_EQ((std::vector<Bytes>{{0xA9, 0}, {0xA9, 1, 0x03}, {0xA9, 1, 0x07}}), panel.frames());
    EXPECT_EQ(400u, panel.sinceLastSend());
    // Without a reply the entry number still shows.
    EXPECT_EQ(0, Holiday(missing, 1, 60, 3));
    EXPECT_EQ("03 00 00 00 00", missing.Text());
    EXPECT_EQ(0, Holiday(noCount, 1, 59));
    EXPECT_EQ("00", noCount.Text());
}

}  // namespace
