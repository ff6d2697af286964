// The agent's Net-SNMP-free parts: the object table's walk and the display-side
// server. The table's rows are checked against the MIB by gen-mib-reference.py --check.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <map>

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
    const std::pair<Oid, K> cases[] = {{scalar(3), K::Scalar},
                                       {deeper, K::NoInstance},
                                       {bare, K::NoInstance},
                                       {none, K::NoObject},
                                       {controlOid(), K::NoObject},
                                       {rootOid(), K::NoObject},
                                       {holidayValueInstance(0), K::HolidayEntry},
                                       {holidayValueInstance(256), K::NoInstance},
                                       {indexColumn, K::NoObject}};
    for (const auto& [oid, kind] : cases)
        EXPECT_EQ(resolve(oid).kind, kind) << ::testing::PrintToString(oid);
    EXPECT_EQ(resolve(scalar(3)).object->index, 3);
    EXPECT_EQ(resolve(holidayValueInstance(255)).entry, 255u);

    // The walk skips set-only rows and places the holiday table after its count.
    EXPECT_EQ(nextStep(rootOid()).object->index, 0);
    EXPECT_EQ(nextStep(scalar(11)).object->index, 13);
    const WalkStep holiday = nextStep(scalar(59));
    EXPECT_EQ(holiday.kind, WalkStep::Kind::Holiday);
    EXPECT_EQ(holiday.firstEntry, 1u);
    EXPECT_EQ(nextStep(holidayValueInstance(4)).firstEntry, 5u);
    EXPECT_EQ(stepAfterSlot(holiday.slot).object->index, 61);
}

// Callbacks that answer from `values` and record what they were asked.
std::vector<std::string> g_calls;
std::map<int, std::string> g_values;
std::map<int, bool> g_failing;  // holiday callbacks at 100 + index

int record(char kind, unsigned char* buf, int getset, int index, int extra)
{
    g_calls.push_back(kind + std::to_string(index) + "/" + std::to_string(getset) + "/" +
                      std::to_string(extra) + (kind == 's' ? "/" + std::to_string(buf[0]) : ""));
    if (g_failing[(kind == 'h' ? 100 : 0) + index]) return 0;
    char* text = reinterpret_cast<char*>(buf);
    if (kind == 'h')
        std::snprintf(text, 256, index == kHolidayCountIndex ? "02" : "%02X 00 00 00 00", extra);
    else if (getset == 1)
        std::snprintf(text, 256, "%s", g_values[index].c_str());
    return 1;
}

class ServeJobTest : public ::testing::Test {
protected:
    void SetUp() override { g_calls.clear(), g_values.clear(), g_failing.clear(); }
    const Callbacks callbacks{
        [](unsigned char* b, int g, eFuncType i, int e) { return record('s', b, g, i, e); },
        [](unsigned char* b, int g, eFuncType i, int e) { return record('h', b, g, i, e); }};
};

TEST_F(ServeJobTest, GetReturnsTheTextAndSetStopsAtTheFirstFailure)
{
    g_values[3] = "0A";
    const JobResult get = serveJob({JobKind::Get, {{scalar(3), {}, 0}}}, callbacks);
    EXPECT_EQ(std::tie(get.at(0).status, get.at(0).text),
              std::make_tuple(ItemResult::Status::Value, "0A"));
    // Missing callbacks fail rather than crash.
    EXPECT_EQ(serveJob({JobKind::Get, {{scalar(3), {}, 0}}}, Callbacks{})[0].status,
              ItemResult::Status::Failed);

    // A SET hands the raw bytes and the text's length.
    g_failing[14] = true;
    const JobResult set = serveJob(
        {JobKind::Set, {{scalar(13), {0x7F}, 2}, {scalar(14), {0x01}, 2}, {scalar(15), {0x02}, 2}}},
        callbacks);
    ASSERT_EQ(set.size(), 3u);
    EXPECT_EQ(set[1].status, ItemResult::Status::Failed);
    EXPECT_EQ(set[2].status, ItemResult::Status::NotRun);
    EXPECT_EQ(g_calls, (std::vector<std::string>{"s3/1/0/0", "s13/0/2/127", "s14/0/2/1"}));
}

TEST_F(ServeJobTest, GetNextWalksIntoTheHolidayTableOnlyAsFarAsTheCount)
{
    g_values[59] = "02";
    JobResult result = serveJob({JobKind::GetNext, {{scalar(59), {}, 0}}}, callbacks);
    EXPECT_EQ(result[0].oid, holidayValueInstance(1));
    EXPECT_EQ(result[0].text, "01 00 00 00 00");
    EXPECT_EQ(g_calls, (std::vector<std::string>{"h59/1/0", "h60/1/1"}));

    g_calls.clear();
    result = serveJob({JobKind::GetNext, {{holidayValueInstance(2), {}, 0}}}, callbacks);
    EXPECT_EQ(result[0].oid, scalar(61));
    EXPECT_EQ(g_calls, (std::vector<std::string>{"h59/1/0", "s61/1/0/0"}));

    result = serveJob({JobKind::GetNext, {{scalar(86), {}, 0}}}, callbacks);  // 87 is set-only
    EXPECT_EQ(result[0].status, ItemResult::Status::EndOfSubtree);

    g_failing[100 + kHolidayCountIndex] = true;
    result = serveJob({JobKind::GetNext, {{scalar(59), {}, 0}}}, callbacks);
    EXPECT_EQ(result[0].status, ItemResult::Status::Failed);
}

}  // namespace
}  // namespace kw::snmp
