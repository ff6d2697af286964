#include "snmp/Scheduler.h"

#include <gtest/gtest.h>

#include <map>

namespace kw::snmp {
namespace {

using namespace std::chrono_literals;
using Admission = Scheduler::Admission;
using Status = ItemResult::Status;
using Arcs = std::vector<uint32_t>;
using ByWaiter = std::map<Scheduler::Token, std::vector<Status>>;

// Items are told apart by their OID's one arc; a GET of items {1, 2} is job({1, 2}).
WorkJob job(Arcs arcs, JobKind kind = JobKind::Get)
{
    WorkJob work{kind, {}};
    for (uint32_t arc : arcs) work.items.push_back({Oid{arc}, {}, 0});
    return work;
}

int g_tokens[8];
const auto token = [](int i) -> Scheduler::Token { return &g_tokens[i]; };

Admission submit(Scheduler& sched, const std::string& source, const std::string& key, WorkJob work,
                 int waiter = 0)
{
    JobResult unused;
    return sched.submit(source, key, std::move(work), token(waiter), &unused);
}

// Serves up to `steps` varbinds, the ones in `failing` with a failure; the arcs served.
Arcs serve(Scheduler& sched, size_t steps = 100, Arcs failing = {})
{
    Arcs served;
    Scheduler::Step step;
    while (served.size() < steps && sched.next(step)) {
        served.push_back(step.item.oid.at(0));
        const bool fails = std::count(failing.begin(), failing.end(), served.back()) > 0;
        sched.complete(step.ticket, {fails ? Status::Failed : Status::Value, step.item.oid, ""});
    }
    return served;
}

// Each finished waiter with the statuses of its varbinds, in the order they finished.
using Finished = std::vector<std::pair<Scheduler::Token, std::vector<Status>>>;
Finished statuses(std::vector<std::pair<Scheduler::Token, JobResult>> finished)
{
    Finished out;
    for (auto& [waiter, result] : finished) {
        out.push_back({waiter, {}});
        for (const ItemResult& item : result) out.back().second.push_back(item.status);
    }
    return out;
}

constexpr Status V = Status::Value, F = Status::Failed, N = Status::NotRun;

TEST(SchedulerTest, SourcesTakeTurnsEachKeepsItsOrderAndASetStopsAtItsFirstFailure)
{
    // Roomy default limits. Manager a: a big GET with a failure, then a small one; b: a SET of
    // three that fails at its second; c comes after a's first turn and joins at the end.
    Scheduler sched;
    submit(sched, "a", "a1", job({11, 12, 13, 14}), 0);
    submit(sched, "a", "a2", job({21}), 1);
    submit(sched, "b", "b1", job({31, 32, 33}, JobKind::Set), 2);
    EXPECT_EQ(serve(sched, 1), Arcs{11});
    submit(sched, "c", "c1", job({41}), 3);
    EXPECT_EQ(serve(sched, 100, {12, 32}), (Arcs{31, 12, 41, 32, 13, 14, 21}));
    // Jobs are answered as they finish: c's single varbind before a's big request.
    const Finished expected = {
        {token(3), {V}}, {token(2), {V, F, N}}, {token(0), {V, F, V, V}}, {token(1), {V}}};
    EXPECT_EQ(statuses(sched.takeFinished()), expected);
    EXPECT_EQ(sched.stats().served, 4u);
    EXPECT_EQ(sched.stats().depth, 0u);
}

// One job per source, two in all, two waiters a job, one answer remembered for a second.
TEST(SchedulerTest, ResendsJoinUpToTheBoundAreAnsweredWhileRememberedAndRoomIsBounded)
{
    std::chrono::steady_clock::time_point now{};
    Scheduler sched({1, 2, 2, 1, 1000ms}, [&] { return now; });
    EXPECT_EQ(submit(sched, "a", "k", job({1, 2}), 0), Admission::Queued);
    EXPECT_EQ(submit(sched, "a", "k", job({1, 2}), 1), Admission::Joined);
    EXPECT_EQ(submit(sched, "a", "k", job({1, 2}), 2), Admission::Dropped);
    EXPECT_EQ(serve(sched), (Arcs{1, 2}));  // the panel sees each varbind once
    EXPECT_EQ(statuses(sched.takeFinished()), (Finished{{token(0), {V, V}}, {token(1), {V, V}}}));

    now += 900ms;
    JobResult answer;
    EXPECT_EQ(sched.submit("a", "k", job({1, 2}), token(3), &answer), Admission::Answered);
    EXPECT_EQ(answer.size(), 2u);
    now += 200ms;
    EXPECT_EQ(submit(sched, "a", "k", job({1, 2}), 4), Admission::Queued);
    sched.countAbsorbed();  // the agent's own count of retransmissions it dropped
    EXPECT_EQ(sched.stats().resendsAbsorbed, 4u);
    EXPECT_EQ(serve(sched), (Arcs{1, 2}));  // the source is served again

    const std::tuple<const char*, const char*, Admission> steps[] = {
        {"a", "a1", Admission::Queued},
        {"a", "a2", Admission::Full},
        {"b", "b1", Admission::Queued},
        {"c", "c1", Admission::Full},
        {"a", "a1", Admission::Joined}};
    for (const auto& [source, key, expected] : steps) {
        SCOPED_TRACE(key);
        EXPECT_EQ(sched.wouldAdmit(source, key), expected != Admission::Full);
        EXPECT_EQ(submit(sched, source, key, job({1})), expected);
    }
    sched.countRefused();  // one over the varbind limit
    EXPECT_EQ(sched.stats().refused, 3u);
    serve(sched, 1);  // a1 done: room for c, and then none for a
    EXPECT_EQ(submit(sched, "c", "c1", job({1})), Admission::Queued);
    EXPECT_EQ(submit(sched, "a", "a2", job({1})), Admission::Full);
    EXPECT_EQ(sched.stats().depth, 2u);
}

TEST(SchedulerTest, StopHandsBackEveryWaiterWithWhatWasDone)
{
    Scheduler sched;
    submit(sched, "d", "done", job({9}), 5);  // finished, not yet collected
    submit(sched, "a", "set", job({1, 2, 3}, JobKind::Set), 0);
    submit(sched, "a", "set", job({1, 2, 3}, JobKind::Set), 1);
    submit(sched, "b", "get", job({4, 5}), 2);
    submit(sched, "c", "unstarted", job({6, 7}, JobKind::Set), 3);
    serve(sched, 2);
    Scheduler::Step step;
    ASSERT_TRUE(sched.next(step));  // b's 4 is at the panel while the stop comes

    // What reached the panel stays done; the first varbind not served fails, and in a SET the
    // ones after it never ran.
    const auto left = statuses(sched.abandon());
    EXPECT_EQ((ByWaiter(left.begin(), left.end())), (ByWaiter{{token(0), {V, F, N}},
                                                              {token(1), {V, F, N}},
                                                              {token(2), {F, F}},
                                                              {token(3), {F, N}},
                                                              {token(5), {V}}}));
    EXPECT_FALSE(sched.complete(step.ticket, {Status::Value, {}, "late"}));
    EXPECT_FALSE(sched.next(step));
    EXPECT_TRUE(sched.takeFinished().empty());
    EXPECT_EQ(sched.stats().depth, 0u);

    // A later run starts afresh, even for the same request.
    EXPECT_EQ(submit(sched, "b", "get", job({8}), 4), Admission::Queued);
    EXPECT_EQ(serve(sched), Arcs{8});
}

}  // namespace
}  // namespace kw::snmp
