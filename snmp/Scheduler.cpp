#include "snmp/Scheduler.h"

#include <algorithm>

namespace kw::snmp {

Scheduler::Scheduler(SchedulerLimits limits, Clock clock)
    : m_limits(limits),
      m_clock(clock ? std::move(clock) : Clock([] { return std::chrono::steady_clock::now(); }))
{
}

void Scheduler::forgetExpired()
{
    const auto now = m_clock();
    while (!m_doneOrder.empty()) {
        auto it = m_done.find(m_doneOrder.front());
        if (it != m_done.end() && now - it->second.at <= m_limits.retention &&
            m_doneOrder.size() <= m_limits.remembered) {
            break;
        }
        if (it != m_done.end()) {
            m_done.erase(it);
        }
        m_doneOrder.pop_front();
    }
}

Scheduler::Admission Scheduler::admit(const std::string& source, const std::string& key,
                                      JobResult* answer, bool join, Token waiter)
{
    forgetExpired();
    if (auto it = m_tickets.find(key); it != m_tickets.end()) {
        std::vector<Token>& waiters = m_jobs[it->second].waiters;
        if (waiters.size() >= m_limits.waiters) {
            return Admission::Dropped;
        }
        if (join) {
            waiters.push_back(waiter);
        }
        return Admission::Joined;
    }
    if (auto it = m_done.find(key); it != m_done.end()) {
        if (answer != nullptr) {
            *answer = it->second.result;
        }
        return Admission::Answered;
    }
    auto src = m_sources.find(source);
    const size_t mine = src == m_sources.end() ? 0 : src->second.jobs.size();
    if (mine >= m_limits.perSource || m_jobs.size() >= m_limits.total) {
        return Admission::Full;
    }
    return Admission::Queued;
}

Scheduler::Admission Scheduler::submit(const std::string& source, const std::string& key,
                                       WorkJob job, Token waiter, JobResult* answer)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    if (job.items.empty()) {
        return Admission::Answered;  // nothing for the panel to do: *answer stays as it is
    }
    const Admission admission = admit(source, key, answer, true, waiter);
    if (admission == Admission::Full) {
        m_stats.refused++;
    } else if (admission != Admission::Queued) {
        m_stats.resendsAbsorbed++;
    }
    if (admission != Admission::Queued) {
        return admission;
    }
    const uint64_t ticket = m_nextTicket++;
    Job& entry = m_jobs[ticket];
    entry.key = key;
    entry.source = source;
    entry.work = std::move(job);
    entry.waiters.push_back(waiter);
    m_tickets[key] = ticket;
    Source& src = m_sources[source];
    src.jobs.push_back(ticket);
    if (!src.scheduled) {
        src.scheduled = true;
        m_turns.push_back(source);
    }
    return Admission::Queued;
}

bool Scheduler::wouldAdmit(const std::string& source, const std::string& key)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    const Admission admission = admit(source, key, nullptr, false, nullptr);
    return admission != Admission::Full && admission != Admission::Dropped;
}

std::vector<std::pair<Scheduler::Token, JobResult>> Scheduler::takeFinished()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    std::vector<std::pair<Token, JobResult>> finished;
    finished.swap(m_finished);
    return finished;
}

std::vector<std::pair<Scheduler::Token, JobResult>> Scheduler::abandon()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    std::vector<std::pair<Token, JobResult>> all;
    all.swap(m_finished);
    for (auto& [ticket, job] : m_jobs) {
        JobResult result = job.results;
        while (result.size() < job.work.items.size()) {
            const bool afterFailure =
                !result.empty() && result.back().status != ItemResult::Status::Value;
            result.push_back({job.work.kind == JobKind::Set && afterFailure
                                  ? ItemResult::Status::NotRun
                                  : ItemResult::Status::Failed,
                              {}, {}});
        }
        for (Token waiter : job.waiters) {
            all.emplace_back(waiter, result);
        }
    }
    m_jobs.clear();
    m_tickets.clear();
    m_sources.clear();
    m_turns.clear();
    return all;
}

void Scheduler::countRefused()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_stats.refused++;
}

void Scheduler::countAbsorbed()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_stats.resendsAbsorbed++;
}

bool Scheduler::next(Step& step)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_turns.empty()) {
        return false;
    }
    // A source in the turn order has a job; it takes its next turn when complete() puts it
    // back.
    const uint64_t ticket = m_sources[m_turns.front()].jobs.front();
    m_turns.pop_front();
    const Job& job = m_jobs[ticket];
    step.ticket = ticket;
    step.kind = job.work.kind;
    step.item = job.work.items[job.results.size()];
    return true;
}

bool Scheduler::complete(uint64_t ticket, ItemResult result)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    auto it = m_jobs.find(ticket);
    if (it == m_jobs.end()) {
        return false;  // abandoned meanwhile
    }
    Job& job = it->second;
    const bool setFailed =
        job.work.kind == JobKind::Set && result.status != ItemResult::Status::Value;
    job.results.push_back(std::move(result));
    // A SET stops at its first failure: the rest of its varbinds never reach the panel.
    while (setFailed && job.results.size() < job.work.items.size()) {
        job.results.push_back({ItemResult::Status::NotRun, {}, {}});
    }
    const std::string source = job.source;
    const bool finished = job.results.size() >= job.work.items.size();
    if (finished) {
        finish(ticket);
    }
    Source& src = m_sources[source];
    if (src.jobs.empty()) {
        m_sources.erase(source);
    } else {
        m_turns.push_back(source);
    }
    return finished;
}

void Scheduler::finish(uint64_t ticket)
{
    Job& job = m_jobs[ticket];
    for (Token waiter : job.waiters) {
        m_finished.emplace_back(waiter, job.results);
    }
    m_stats.served++;
    // Not among the finished ones, or submit() would have answered it from there.
    m_done[job.key] = Done{job.results, m_clock()};
    m_doneOrder.push_back(job.key);
    std::deque<uint64_t>& queue = m_sources[job.source].jobs;
    queue.erase(std::find(queue.begin(), queue.end(), ticket));
    m_tickets.erase(job.key);
    m_jobs.erase(ticket);  // the next submit() forgets what has expired
}

QueueStats Scheduler::stats()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    QueueStats stats = m_stats;
    stats.depth = m_jobs.size();
    return stats;
}

}  // namespace kw::snmp
