// The agent's Net-SNMP-free parts: the object table's walk and the display-side
// server. The table's rows are checked against the MIB by gen-mib-reference.py --check.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <set>

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

    // The walk skips set-only rows; the holiday table's place after its count is below.
    EXPECT_EQ(nextStep(rootOid()).object->index, 0);
    EXPECT_EQ(nextStep(scalar(11)).object->index, 13);
    EXPECT_EQ(nextStep(holidayValueInstance(4)).firstEntry, 5u);
}

// Callbacks that answer "0A" (holidays: count 2, entries by number) and record their calls.
std::vector<std::string> g_calls;
std::set<int> g_failing;  // holiday callbacks at 100 + index

int record(char kind, unsigned char* buf, int getset, int index, int extra)
{
    g_calls.push_back(kind + std::to_string(index) + "/" + std::to_string(getset) + "/" +
                      std::to_string(extra) + (kind == 's' ? "/" + std::to_string(buf[0]) : ""));
    if (g_failing.count((kind == 'h' ? 100 : 0) + index)) return 0;
    char* text = reinterpret_cast<char*>(buf);
    if (kind == 'h')
        std::snprintf(text, 256, index == kHolidayCountIndex ? "02" : "%02X 00 00 00 00", extra);
    else if (getset == 1)
        std::snprintf(text, 256, "0A");
    return 1;
}

TEST(ServeJobTest, GetSetAndGetNextAskTheDisplayOnlyWhatTheyNeed)
{
    using S = ItemResult::Status;
    const Callbacks callbacks{
        [](unsigned char* b, int g, eFuncType i, int e) { return record('s', b, g, i, e); },
        [](unsigned char* b, int g, eFuncType i, int e) { return record('h', b, g, i, e); }};
    const auto serve = [&](JobKind kind, std::vector<WorkItem> items) {
        g_calls.clear();
        return serveJob({kind, std::move(items)}, callbacks);
    };
    JobResult got = serve(JobKind::Get, {{scalar(3), {}, 0}});
    EXPECT_EQ(std::tie(got.at(0).status, got.at(0).text), std::make_tuple(S::Value, "0A"));
    EXPECT_EQ(g_calls, (std::vector<std::string>{"s3/1/0/0"}));
    // Missing callbacks fail rather than crash.
    EXPECT_EQ(serveJob({JobKind::Get, {{scalar(3), {}, 0}}}, Callbacks{})[0].status, S::Failed);

    // A SET hands the raw bytes and the text's length, and stops at its first failure.
    g_failing = {14};
    got = serve(JobKind::Set,
                {{scalar(13), {0x7F}, 2}, {scalar(14), {0x01}, 2}, {scalar(15), {0x02}, 2}});
    ASSERT_EQ(got.size(), 3u);
    EXPECT_EQ(std::tie(got[1].status, got[2].status), std::make_tuple(S::Failed, S::NotRun));
    EXPECT_EQ(g_calls, (std::vector<std::string>{"s13/0/2/127", "s14/0/2/1"}));

    // A walk enters the holiday table only as far as its count, and ends before set-only 87.
    got = serve(JobKind::GetNext, {{scalar(59), {}, 0}});
    EXPECT_EQ(std::tie(got[0].oid, got[0].text),
              std::make_tuple(holidayValueInstance(1), "01 00 00 00 00"));
    EXPECT_EQ(g_calls, (std::vector<std::string>{"h59/1/0", "h60/1/1"}));
    got = serve(JobKind::GetNext, {{holidayValueInstance(2), {}, 0}});
    EXPECT_EQ(got[0].oid, scalar(61));
    EXPECT_EQ(g_calls, (std::vector<std::string>{"h59/1/0", "s61/1/0/0"}));
    EXPECT_EQ(serve(JobKind::GetNext, {{scalar(86), {}, 0}})[0].status, S::EndOfSubtree);
    g_failing = {100 + kHolidayCountIndex};
    EXPECT_EQ(serve(JobKind::GetNext, {{scalar(59), {}, 0}})[0].status, S::Failed);
}

}  // namespace
}  // namespace kw::snmp
