// The agent's Net-SNMP-free parts: the object table, hex text, and the display-side server.
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

TEST(ObjectTableTest, RowsFollowTheRequestIndexTable)
{
    // Indexes without a scalar: 1, 2 and the holiday table's 60.
    for (int index : {1, 2, 60, 88, -1}) {
        EXPECT_EQ(objectForIndex(index), nullptr) << index;
    }
    EXPECT_EQ(displayObjects().size(), 85u);
    struct Row {
        int index;
        Access access;
        std::vector<size_t> setCounts;
        int getBytes;
    };
    const Row rows[] = {
        {0, Access::ReadWrite, {1}, 1},    {4, Access::ReadOnly, {}, 0},
        {6, Access::ReadOnly, {}, 3},      {10, Access::ReadOnly, {}, 6},
        {11, Access::ReadWrite, {8}, 8},   {12, Access::WriteOnly, {1}, 0},
        {22, Access::WriteOnly, {2}, 0},   {33, Access::WriteOnly, {1}, 0},
        {38, Access::ReadWrite, {3}, 3},   {50, Access::ReadWrite, {7}, 7},
        {57, Access::ReadWrite, {15}, 15}, {58, Access::WriteOnly, {5}, 0},
        {59, Access::ReadOnly, {}, 1},     {63, Access::ReadWrite, {3}, 2},
        {72, Access::ReadWrite, {4}, 4},   {73, Access::ReadWrite, {3, 7}, 7},
        {77, Access::ReadWrite, {2}, 2},   {80, Access::ReadWrite, {8}, 8},
        {85, Access::ReadWrite, {2}, 1},   {87, Access::WriteOnly, {1}, 0},
    };
    for (const Row& row : rows) {
        const DisplayObject* object = objectForIndex(row.index);
        ASSERT_NE(object, nullptr) << row.index;
        EXPECT_EQ(object->access, row.access) << row.index;
        EXPECT_EQ(object->getBytes, row.getBytes) << row.index;
        for (size_t n = 0; n <= 16; ++n) {
            const bool expected =
                std::find(row.setCounts.begin(), row.setCounts.end(), n) != row.setCounts.end();
            EXPECT_EQ(acceptsByteCount(*object, n), expected) << row.index << " " << n;
        }
    }
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
    static inline std::map<int, bool> failing;

    static int str(unsigned char* buf, int getset, eFuncType index, int extra)
    {
        calls.push_back("s" + std::to_string(index) + "/" + std::to_string(getset) + "/" +
                        std::to_string(extra) + "/" + std::to_string(buf[0]));
        if (failing[index]) {
            return 0;
        }
        if (getset == 1) {
            std::snprintf(reinterpret_cast<char*>(buf), 256, "%s", values[index].c_str());
        }
        return 1;
    }
    static int holiday(unsigned char* buf, int getset, eFuncType index, int extra)
    {
        calls.push_back("h" + std::to_string(index) + "/" + std::to_string(getset) + "/" +
                        std::to_string(extra));
        if (failing[100 + index]) {
            return 0;
        }
        if (index == kHolidayCountIndex) {
            std::snprintf(reinterpret_cast<char*>(buf), 256, "%02X", 2);
        } else {
            std::snprintf(reinterpret_cast<char*>(buf), 256, "%02X 00 00 00 00", extra);
        }
        return 1;
    }
    static void reset()
    {
        calls.clear();
        values.clear();
        failing.clear();
    }
};

class ServeJobTest : public ::testing::Test {
protected:
    void SetUp() override { Recorder::reset(); }
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
