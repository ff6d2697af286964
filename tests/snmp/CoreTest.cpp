// The agent's Net-SNMP-free parts: the object table's walk, the display-side server, numeric
// twins read with their hex twin's command, and which panel health changes call for which
// notification. The table's rows are checked against the MIB by gen-mib-reference.py --check.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <set>

#include "snmp/Notify.h"
#include "snmp/ObjectTable.h"
#include "snmp/RequestServer.h"

namespace kw::snmp {
namespace {

using namespace std::chrono_literals;

Oid scalar(int index)
{
    return scalarInstance(*objectForIndex(index));
}

TEST(ObjectTableTest, ResolvesInstancesExactlyAndWalksInOrder)
{
    using K = Target::Kind;
    Oid bare = scalar(3);
    bare.pop_back();
    Oid indexColumn = holidayValueInstance(1);
    indexColumn[indexColumn.size() - 2] = kHolidayIndexColumn;
    const std::pair<Oid, K> cases[] = {{scalar(3), K::Scalar},
                                       {bare, K::NoInstance},
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

// Serves one job over those callbacks, recording afresh.
JobResult serve(JobKind kind, std::vector<WorkItem> items)
{
    g_calls.clear();
    return serveJob(
        {kind, std::move(items)},
        {[](unsigned char* b, int g, eFuncType i, int e) { return record('s', b, g, i, e); },
         [](unsigned char* b, int g, eFuncType i, int e) { return record('h', b, g, i, e); }});
}

TEST(ServeJobTest, GetSetAndGetNextAskTheDisplayOnlyWhatTheyNeed)
{
    using S = ItemResult::Status;
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

TEST(NumericTwinTest, TwinsAnswerFromTheSameReadAndWalkAfterTheControls)
{
    const auto twin = [](int index) { return numericInstance(*numericForIndex(index)); };
    Oid bare = twin(39);
    bare.pop_back();
    EXPECT_EQ(resolve(bare).kind, Target::Kind::NoInstance);
    EXPECT_EQ(numberFromText("1E"), 30u);
    EXPECT_FALSE(numberFromText(""));
    EXPECT_FALSE(numberFromText("1E "));

    // An object, its twin and the object again in one PDU: the panel is read once.
    JobResult result =
        serve(JobKind::Get, {{scalar(39), {}, 0}, {twin(39), {}, 0}, {scalar(39), {}, 0}});
    ASSERT_EQ(result.size(), 3u);
    for (const ItemResult& item : result) EXPECT_EQ(item.text, "0A");
    EXPECT_EQ(g_calls, std::vector<std::string>{"s39/1/0/0"});

    // A walk handed over past kwdControl (from kwdHealth, say) starts at the first twin and
    // ends after the last.
    Oid inHealth = controlOid();
    inHealth.back() = 2;
    inHealth.push_back(99);
    result = serve(JobKind::GetNext, {{inHealth, {}, 0}, {twin(86), {}, 0}});
    EXPECT_EQ(result[0].oid, twin(0));
    EXPECT_EQ(result[1].status, ItemResult::Status::EndOfSubtree);
}

// One look at the panel's health and what it must send.
struct Look {
    int link;
    uint64_t replies, naks, timeouts, refused, drops;
    int atSeconds;
    std::vector<Notification> expected;
};

TEST(NotifyPolicyTest, LinkChangesAndFailureRunsAreToldOnceEach)
{
    constexpr int Up = SNMP_AGENT_LINK_UP, Down = SNMP_AGENT_LINK_DOWN;
    using N = Notification;
    const std::vector<std::vector<Look>> scenarios = {
        // Down from the start; back; lost and back between two looks.
        {{Down, 0, 0, 0, 0, 0, 0, {N::LinkDown}},
         {Down, 0, 0, 0, 3, 0, 1, {N::CommandsFailing}},
         {Up, 0, 0, 0, 3, 0, 2, {N::LinkUp}},
         {Up, 0, 0, 0, 3, 0, 3, {}},
         {Up, 0, 0, 0, 3, 1, 4, {N::LinkDown, N::LinkUp}},
         {Down, 0, 0, 0, 3, 2, 5, {N::LinkDown}},
         {Down, 0, 0, 0, 3, 2, 6, {}}},
        // History before the first look is not news; NAKs are failures, not answers.
        {{Up, 9, 0, 9, 9, 9, 0, {}},
         {Up, 11, 2, 9, 9, 9, 1, {}},
         {Up, 12, 3, 9, 9, 9, 2, {N::CommandsFailing}},
         {Up, 12, 3, 12, 9, 9, 30, {}},  // quiet for a minute
         {Up, 12, 3, 13, 9, 9, 62, {N::CommandsFailing}}},
        // An acknowledged reply ends the run.
        {{Up, 0, 0, 0, 0, 0, 0, {}},
         {Up, 0, 0, 2, 0, 0, 1, {}},
         {Up, 1, 0, 2, 0, 0, 2, {}},
         {Up, 1, 0, 4, 0, 0, 3, {}},
         {Up, 1, 0, 5, 0, 0, 4, {N::CommandsFailing}}},
    };
    const auto origin = NotifyPolicy::Clock::time_point() + 1h;
    for (size_t s = 0; s < scenarios.size(); ++s) {
        NotifyPolicy policy;
        for (size_t i = 0; i < scenarios[s].size(); ++i) {
            const Look& look = scenarios[s][i];
            const snmp_agent_panel_health health{look.link,    0,          0,
                                                 look.replies, look.naks,  look.timeouts,
                                                 look.refused, look.drops, 0};
            EXPECT_EQ(policy.observe(health, origin + std::chrono::seconds(look.atSeconds)),
                      look.expected)
                << "scenario " << s << ", look " << i;
        }
    }
}

}  // namespace
}  // namespace kw::snmp
