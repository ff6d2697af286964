// What the agent adds for monitoring, Net-SNMP aside: numeric twins read with their hex twin's
// command, and which panel health changes call for which notification.
#include <gtest/gtest.h>

#include <cstring>
#include <map>

#include "snmp/Notify.h"
#include "snmp/ObjectTable.h"
#include "snmp/RequestServer.h"

namespace kw::snmp {
namespace {

using namespace std::chrono_literals;

std::map<int, int> g_reads;  // panel reads by request index

int readVolume(unsigned char* buf, int getset, eFuncType index, int)
{
    ++g_reads[index];
    std::memcpy(buf, getset == 1 ? "1E" : "", getset == 1 ? 2 : 0);
    return 1;
}

TEST(NumericTwinTest, TwinsAnswerFromTheSameReadAndWalkAfterTheControls)
{
    const auto twin = [](int index) { return numericInstance(*numericForIndex(index)); };
    for (int none : {4, 6, 12}) EXPECT_EQ(numericForIndex(none), nullptr);  // text, 3 bytes, set
    EXPECT_EQ(numericForIndex(86)->kind, NumberKind::OnOff);
    Oid bare = twin(39);
    bare.pop_back();
    EXPECT_EQ(resolve(bare).kind, Target::Kind::NoInstance);
    EXPECT_EQ(numberFromText("1E"), 30u);
    EXPECT_FALSE(numberFromText(""));
    EXPECT_FALSE(numberFromText("1E "));

    // An object, its twin and the object again in one PDU: the panel is read once.
    const Callbacks callbacks{&readVolume, nullptr};
    const Oid object = scalarInstance(*objectForIndex(39));
    JobResult result =
        serveJob({JobKind::Get, {{object, {}, 0}, {twin(39), {}, 0}, {object, {}, 0}}}, callbacks);
    ASSERT_EQ(result.size(), 3u);
    for (const ItemResult& item : result) EXPECT_EQ(item.text, "1E");
    EXPECT_EQ((std::map<int, int>{{39, 1}}), g_reads);

    // A walk handed over past kwdControl (from kwdHealth, say) starts at the first twin and
    // ends after the last.
    Oid inHealth = controlOid();
    inHealth.back() = 2;
    inHealth.push_back(99);
    result = serveJob({JobKind::GetNext, {{inHealth, {}, 0}, {twin(86), {}, 0}}}, callbacks);
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
