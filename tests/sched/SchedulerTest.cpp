#include "snmp/Scheduler.h"

#include <gtest/gtest.h>

#include <map>

namespace kw::snmp {
namespace {

using namespace std::chrono_literals;
using Admission = Scheduler::Admission;
using Status = ItemResult::Status;

// Items are told apart by their OID's one arc; a GET of items {1, 2} is job({1, 2}).
WorkJob job(std::vector<uint32_t> arcs, JobKind kind = JobKind::Get)
{
    WorkJob work{kind, {}};
    for (uint32_t arc : arcs) {
        work.items.push_back({Oid{arc}, {}, 0});
    }
    return work;
}

class SchedulerTest : public ::testing::Test {
protected:
    std::chrono::steady_clock::time_point m_now{};
    // One job per source, two in all, two waiters per job, one answer remembered for 1 s.
    SchedulerLimits m_limits{1, 2, 2, 1, 1000ms};
    Scheduler m_sched{m_limits, [this] { return m_now; }};
    int m_tokens[16] = {};
    Scheduler::Token token(int i) { return &m_tokens[i]; }

    Admission submit(const std::string& source, const std::string& key, WorkJob work, int waiter)
    {
        JobResult unused;
        return m_sched.submit(source, key, std::move(work), token(waiter), &unused);
    }
    // Serves up to `steps` varbinds, the ones in `failing` with a failure; the arcs served.
    std::vector<uint32_t> serve(size_t steps = 100, std::vector<uint32_t> failing = {})
    {
        std::vector<uint32_t> served;
        Scheduler::Step step;
        while (served.size() < steps && m_sched.next(step)) {
            const uint32_t arc = step.item.oid.at(0);
            served.push_back(arc);
            const bool fails = std::find(failing.begin(), failing.end(), arc) != failing.end();
            m_sched.complete(step.ticket, {fails ? Status::Failed : Status::Value, step.item.oid,
                                           std::to_string(arc)});
        }
        return served;
    }
};

TEST_F(SchedulerTest, SourcesTakeTurnsOneVarbindEachAndEachSourceKeepsItsOrder)
{
    Scheduler sched;  // roomy default limits
    JobResult unused;
    // Manager a: a big GET, then a small one; b: a SET of two; c comes after a's first turn
    // and joins the rotation at its end.
    sched.submit("a", "a1", job({11, 12, 13, 14}), token(0), &unused);
    sched.submit("a", "a2", job({21}), token(1), &unused);
    sched.submit("b", "b1", job({31, 32}, JobKind::Set), token(2), &unused);
    Scheduler::Step step;
    std::vector<uint32_t> served;
    auto serveOne = [&] {
        if (!sched.next(step)) return false;
        served.push_back(step.item.oid[0]);
        sched.complete(step.ticket, {Status::Value, step.item.oid, "x"});
        return true;
    };
    serveOne();
    sched.submit("c", "c1", job({41}), token(3), &unused);
    while (serveOne()) {
    }
    EXPECT_EQ(served, (std::vector<uint32_t>{11, 31, 12, 41, 32, 13, 14, 21}));
    EXPECT_EQ(step.kind, JobKind::Get);

    // Jobs are answered as they finish: c's single varbind before a's big request.
    std::vector<Scheduler::Token> order;
    for (auto& [waiter, result] : sched.takeFinished()) {
        order.push_back(waiter);
    }
    EXPECT_EQ(order, (std::vector<Scheduler::Token>{token(3), token(2), token(0), token(1)}));
    EXPECT_EQ(sched.stats().served, 4u);
    EXPECT_EQ(sched.stats().depth, 0u);
}

TEST_F(SchedulerTest, ASetStopsAtItsFirstFailureAndAGetGoesOn)
{
    submit("a", "set", job({1, 2, 3}, JobKind::Set), 0);
    submit("b", "get", job({4, 5, 6}), 1);
    EXPECT_EQ(serve(100, {2, 5}), (std::vector<uint32_t>{1, 4, 2, 5, 6}));
    auto finished = m_sched.takeFinished();
    ASSERT_EQ(finished.size(), 2u);
    auto statuses = [](const JobResult& result) {
        std::vector<Status> out;
        for (const ItemResult& item : result) out.push_back(item.status);
        return out;
    };
    EXPECT_EQ(statuses(finished[0].second),
              (std::vector<Status>{Status::Value, Status::Failed, Status::NotRun}));
    EXPECT_EQ(statuses(finished[1].second),
              (std::vector<Status>{Status::Value, Status::Failed, Status::Value}));
    EXPECT_EQ(finished[1].second[2].text, "6");
}

TEST_F(SchedulerTest, RetransmissionsJoinUpToTheBoundAndAreAnsweredWhileRemembered)
{
    EXPECT_EQ(submit("a", "k", job({1, 2}), 0), Admission::Queued);
    EXPECT_EQ(submit("a", "k", job({1, 2}), 1), Admission::Joined);
    EXPECT_EQ(submit("a", "k", job({1, 2}), 2), Admission::Dropped);
    EXPECT_FALSE(m_sched.wouldAdmit("a", "k"));
    EXPECT_EQ(serve(), (std::vector<uint32_t>{1, 2}));  // the panel sees each varbind once
    auto finished = m_sched.takeFinished();
    ASSERT_EQ(finished.size(), 2u);
    EXPECT_EQ(finished[1].first, token(1));
    EXPECT_EQ(finished[1].second[1].text, "2");

    m_now += 900ms;
    JobResult answer;
    EXPECT_EQ(m_sched.submit("a", "k", job({1, 2}), token(3), &answer), Admission::Answered);
    EXPECT_EQ(answer.size(), 2u);
    m_now += 200ms;
    EXPECT_EQ(submit("a", "k", job({1, 2}), 4), Admission::Queued);
    m_sched.countAbsorbed();  // the agent's own count of retransmissions it dropped
    const QueueStats stats = m_sched.stats();
    EXPECT_EQ(stats.resendsAbsorbed, 4u);
    EXPECT_EQ(stats.served, 1u);
    EXPECT_EQ(stats.depth, 1u);
    EXPECT_EQ(serve(), (std::vector<uint32_t>{1, 2}));  // the source is served again
}

TEST_F(SchedulerTest, EachSourceAndAllTogetherHaveBoundedRoom)
{
    const struct {
        const char* source;
        const char* key;
        Admission expected;
    } steps[] = {
        {"a", "a1", Admission::Queued}, {"a", "a2", Admission::Full},
        {"b", "b1", Admission::Queued}, {"c", "c1", Admission::Full},
        {"a", "a1", Admission::Joined},
    };
    for (const auto& step : steps) {
        SCOPED_TRACE(step.key);
        EXPECT_EQ(m_sched.wouldAdmit(step.source, step.key), step.expected != Admission::Full);
        EXPECT_EQ(submit(step.source, step.key, job({1}), 0), step.expected);
    }
    m_sched.countRefused();  // one over the varbind limit
    EXPECT_EQ(m_sched.stats().refused, 3u);
    serve(1);  // a1 done: room for c, and then none for a
    EXPECT_EQ(submit("c", "c1", job({1}), 0), Admission::Queued);
    EXPECT_EQ(submit("a", "a2", job({1}), 0), Admission::Full);
    EXPECT_EQ(m_sched.stats().depth, 2u);
}

TEST_F(SchedulerTest, StopHandsBackEveryWaiterWithWhatWasDone)
{
    Scheduler sched;
    JobResult unused;
    sched.submit("d", "done", job({9}), token(5), &unused);  // finished, not yet collected
    sched.submit("a", "set", job({1, 2, 3}, JobKind::Set), token(0), &unused);
    sched.submit("a", "set", job({1, 2, 3}, JobKind::Set), token(1), &unused);
    sched.submit("b", "get", job({4, 5}), token(2), &unused);
    sched.submit("c", "unstarted", job({6, 7}, JobKind::Set), token(3), &unused);
    Scheduler::Step step;
    for (int i = 0; i < 2; ++i) {
        ASSERT_TRUE(sched.next(step));
        sched.complete(step.ticket, {Status::Value, step.item.oid, {}});
    }
    ASSERT_TRUE(sched.next(step));  // b's 4 is at the panel while the stop comes

    // What reached the panel stays done; the first varbind not served fails, and in a SET the
    // ones after it never ran.
    const std::map<Scheduler::Token, std::vector<Status>> expected = {
        {token(0), {Status::Value, Status::Failed, Status::NotRun}},
        {token(1), {Status::Value, Status::Failed, Status::NotRun}},
        {token(2), {Status::Failed, Status::Failed}},
        {token(3), {Status::Failed, Status::NotRun}},
        {token(5), {Status::Value}},
    };
    std::map<Scheduler::Token, std::vector<Status>> left;
    for (auto& [waiter, result] : sched.abandon()) {
        for (const ItemResult& item : result) left[waiter].push_back(item.status);
    }
    EXPECT_EQ(left, expected);
    EXPECT_FALSE(sched.complete(step.ticket, {Status::Value, {}, "late"}));
    EXPECT_FALSE(sched.next(step));
    EXPECT_TRUE(sched.takeFinished().empty());
    EXPECT_EQ(sched.stats().depth, 0u);

    // A later run starts afresh, even for the same request.
    EXPECT_EQ(sched.submit("b", "get", job({8}), token(4), &unused), Admission::Queued);
    ASSERT_TRUE(sched.next(step));
    EXPECT_EQ(step.item.oid[0], 8u);
}

}  // namespace
}  // namespace kw::snmp
