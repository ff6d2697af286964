// The agent's Net-SNMP-free parts: the object table's walk, hex text and the display-side
// server. The table's rows are checked against the MIB (MibTest).
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <map>

#include "snmp/HexText.h"
#include "snmp/ObjectTable.h"
#include "snmp/RequestServer.h"

namespace kw::snmp {
namespace {

Oid scalar(int index)
{
    return scalarInstance(*objectForIndex(index));
}

TEST(ObjectTableTest, ResolvesInstancesExactlyAndWalksInOrder)
{
    using K = Target::Kind;
    Oid deeper = scalar(3), bare = scalar(3), none = controlOid();
    deeper.push_back(0);
    bare.pop_back();
    none.insert(none.end(), {2, 0});
    Oid indexColumn = holidayValueInstance(1);
    indexColumn[indexColumn.size() - 2] = kHolidayIndexColumn;
    const std::pair<Oid, K> cases[] = {
        {scalar(3), K::Scalar},
        {deeper, K::NoInstance},
        {bare, K::NoInstance},
        {none, K::NoObject},
        {controlOid(), K::NoObject},
        {rootOid(), K::NoObject},
        {holidayValueInstance(0), K::HolidayEntry},
        {holidayValueInstance(256), K::NoInstance},
        {indexColumn, K::NoObject},
    };
    for (const auto& [oid, kind] : cases) {
        EXPECT_EQ(resolve(oid).kind, kind) << ::testing::PrintToString(oid);
    }
    EXPECT_EQ(resolve(scalar(3)).object->index, 3);
    EXPECT_EQ(resolve(holidayValueInstance(255)).entry, 255u);

    // The walk skips set-only rows and places the holiday table after its count.
    EXPECT_EQ(nextStep(rootOid()).object->index, 0);
    EXPECT_EQ(nextStep(scalar(11)).object->index, 13);
    const WalkStep holiday = nextStep(scalar(59));
    EXPECT_EQ(holiday.kind, WalkStep::Kind::Holiday);
    EXPECT_EQ(holiday.firstEntry, 1u);
    Oid inside = holidayValueInstance(4);
    EXPECT_EQ(nextStep(inside).firstEntry, 5u);
    inside.push_back(9);
    EXPECT_EQ(nextStep(inside).firstEntry, 5u);
    EXPECT_EQ(nextStep(holidayValueInstance(255)).object->index, 61);
    EXPECT_EQ(stepAfterSlot(holiday.slot).object->index, 61);
    EXPECT_EQ(nextStep(scalar(86)).kind, WalkStep::Kind::End);  // 87 is set-only
}

TEST(HexTextTest, AcceptsPairsJoinedOrSpacedInEitherCase)
{
    EXPECT_EQ(parseHexText("01 0A FF"), (std::vector<uint8_t>{0x01, 0x0A, 0xFF}));
    EXPECT_EQ(parseHexText("010aff"), (std::vector<uint8_t>{0x01, 0x0A, 0xFF}));
    EXPECT_EQ(parseHexText("fF"), (std::vector<uint8_t>{0xFF}));
    EXPECT_EQ(parseHexText(""), std::vector<uint8_t>{});
    for (const char* bad : {"1", "0", "01 ", " 01", "01  02", "01 0203", "0102 03", "0x01", "G1",
                            "01-02", "01\t02", "01 02 0"}) {
        EXPECT_FALSE(parseHexText(bad)) << bad;
    }
}

// Callbacks that answer from a map and record what they were asked.
struct Recorder {
    static inline std::vector<std::string> calls;
    static inline std::map<int, std::string> values;
    static inline std::map<int, bool> failing;  // holiday callbacks at 100 + index

    static int serve(char kind, unsigned char* buf, int getset, int index, int extra)
    {
        calls.push_back(kind + std::to_string(index) + "/" + std::to_string(getset) + "/" +
                        std::to_string(extra) + (kind == 's' ? "/" + std::to_string(buf[0]) : ""));
        if (failing[(kind == 'h' ? 100 : 0) + index]) return 0;
        char* text = reinterpret_cast<char*>(buf);
        if (kind == 'h' && index == kHolidayCountIndex)
            std::snprintf(text, 256, "02");
        else if (kind == 'h')
            std::snprintf(text, 256, "%02X 00 00 00 00", extra);
        else if (getset == 1)
            std::snprintf(text, 256, "%s", values[index].c_str());
        return 1;
    }
    static int str(unsigned char* b, int g, eFuncType i, int e) { return serve('s', b, g, i, e); }
    static int holiday(unsigned char* b, int g, eFuncType i, int e)
    {
        return serve('h', b, g, i, e);
    }
};

class ServeJobTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        Recorder::calls.clear();
        Recorder::values.clear();
        Recorder::failing.clear();
    }
    Callbacks callbacks{&Recorder::str, &Recorder::holiday};
};

TEST_F(ServeJobTest, GetHandsAZeroedBufferAndReturnsTheText)
{
    Recorder::values[3] = "0A";
    const JobResult result = serveJob({JobKind::Get, {{scalar(3), {}, 0}}}, callbacks);
    ASSERT_EQ(result.size(), 1u);
    EXPECT_EQ(result[0].status, ItemResult::Status::Value);
    EXPECT_EQ(result[0].text, "0A");
    EXPECT_EQ(Recorder::calls, std::vector<std::string>{"s3/1/0/0"});
    // Missing callbacks fail rather than crash.
    EXPECT_EQ(serveJob({JobKind::Get, {{scalar(3), {}, 0}}}, Callbacks{})[0].status,
              ItemResult::Status::Failed);
}

TEST_F(ServeJobTest, SetHandsRawBytesAndTheTextLengthAndStopsAtTheFirstFailure)
{
    Recorder::failing[14] = true;
    const JobResult result = serveJob(
        {JobKind::Set, {{scalar(13), {0x7F}, 2}, {scalar(14), {0x01}, 2}, {scalar(15), {0x02}, 2}}},
        callbacks);
    ASSERT_EQ(result.size(), 3u);
    EXPECT_EQ(result[0].status, ItemResult::Status::Value);
    EXPECT_EQ(result[1].status, ItemResult::Status::Failed);
    EXPECT_EQ(result[2].status, ItemResult::Status::NotRun);
    EXPECT_EQ(Recorder::calls, (std::vector<std::string>{"s13/0/2/127", "s14/0/2/1"}));
}

TEST_F(ServeJobTest, GetNextWalksIntoTheHolidayTableOnlyAsFarAsTheCount)
{
    Recorder::values[59] = "02";
    JobResult result = serveJob({JobKind::GetNext, {{scalar(59), {}, 0}}}, callbacks);
    EXPECT_EQ(result[0].oid, holidayValueInstance(1));
    EXPECT_EQ(result[0].text, "01 00 00 00 00");
    EXPECT_EQ(Recorder::calls, (std::vector<std::string>{"h59/1/0", "h60/1/1"}));

    Recorder::calls.clear();
    result = serveJob({JobKind::GetNext, {{holidayValueInstance(2), {}, 0}}}, callbacks);
    EXPECT_EQ(result[0].oid, scalar(61));
    EXPECT_EQ(Recorder::calls, (std::vector<std::string>{"h59/1/0", "s61/1/0/0"}));

    result = serveJob({JobKind::GetNext, {{scalar(86), {}, 0}}}, callbacks);
    EXPECT_EQ(result[0].status, ItemResult::Status::EndOfSubtree);

    Recorder::failing[100 + kHolidayCountIndex] = true;
    result = serveJob({JobKind::GetNext, {{scalar(59), {}, 0}}}, callbacks);
    EXPECT_EQ(result[0].status, ItemResult::Status::Failed);
}

}  // namespace
}  // namespace kw::snmp
