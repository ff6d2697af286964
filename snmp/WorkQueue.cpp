#include "snmp/WorkQueue.h"

namespace kw::snmp {
namespace {

// Finished results kept for retransmissions, at most; the oldest go first.
constexpr size_t kMaxRemembered = 512;

}  // namespace

WorkQueue::WorkQueue(size_t capacity, std::chrono::milliseconds retention, Clock clock)
    : m_capacity(capacity),
      m_retention(retention),
      m_clock(clock ? std::move(clock) : Clock([] { return std::chrono::steady_clock::now(); }))
{
}

void WorkQueue::forgetExpired(std::chrono::steady_clock::time_point now)
{
    while (!m_doneOrder.empty()) {
        auto it = m_entries.find(m_doneOrder.front());
        const bool expired = it == m_entries.end() || !it->second.done ||
                             now - it->second.finishedAt > m_retention ||
                             m_doneOrder.size() > kMaxRemembered;
        if (!expired) {
            break;
        }
        if (it != m_entries.end() && it->second.done) {
            m_entries.erase(it);
        }
        m_doneOrder.pop_front();
    }
}

WorkQueue::Admission WorkQueue::submit(const std::string& key, WorkJob job, Token waiter,
                                       JobResult* answer)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    forgetExpired(m_clock());
    auto it = m_entries.find(key);
    if (it != m_entries.end()) {
        ++m_stats.resendsAbsorbed;
        if (!it->second.done) {
            it->second.waiters.push_back(waiter);
            return Admission::Joined;
        }
        if (answer != nullptr) {
            *answer = it->second.result;
        }
        return Admission::Answered;
    }
    if (m_queue.size() >= m_capacity) {
        ++m_stats.refused;
        return Admission::Full;
    }
    const uint64_t ticket = m_nextTicket++;
    Entry& entry = m_entries[key];
    entry.ticket = ticket;
    entry.waiters.push_back(waiter);
    m_keyOfTicket[ticket] = key;
    m_queue.emplace_back(ticket, std::move(job));
    return Admission::Queued;
}

bool WorkQueue::wouldAdmit(const std::string& key)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    forgetExpired(m_clock());
    const bool admit = m_entries.count(key) != 0 || m_queue.size() < m_capacity;
    m_stats.refused += admit ? 0 : 1;
    return admit;
}

std::vector<std::pair<WorkQueue::Token, JobResult>> WorkQueue::takeFinished()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    std::vector<std::pair<Token, JobResult>> finished;
    finished.swap(m_finished);
    return finished;
}

std::vector<WorkQueue::Token> WorkQueue::abandon()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    std::vector<Token> tokens;
    for (auto& [token, result] : m_finished) {
        tokens.push_back(token);
    }
    m_finished.clear();
    for (auto& [key, entry] : m_entries) {
        tokens.insert(tokens.end(), entry.waiters.begin(), entry.waiters.end());
    }
    m_entries.clear();
    m_keyOfTicket.clear();
    m_queue.clear();
    m_doneOrder.clear();
    return tokens;
}

bool WorkQueue::take(WorkJob& job, uint64_t& ticket)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_queue.empty()) {
        return false;
    }
    ticket = m_queue.front().first;
    job = std::move(m_queue.front().second);
    m_queue.pop_front();
    return true;
}

void WorkQueue::finish(uint64_t ticket, JobResult result)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    auto keyIt = m_keyOfTicket.find(ticket);
    if (keyIt == m_keyOfTicket.end()) {
        return;  // abandoned meanwhile
    }
    const std::string key = keyIt->second;
    m_keyOfTicket.erase(keyIt);
    ++m_stats.served;
    Entry& entry = m_entries[key];
    for (Token waiter : entry.waiters) {
        m_finished.emplace_back(waiter, result);
    }
    entry.waiters.clear();
    entry.done = true;
    entry.finishedAt = m_clock();
    entry.result = std::move(result);
    m_doneOrder.push_back(key);
    forgetExpired(entry.finishedAt);
}

size_t WorkQueue::queued()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_queue.size();
}

QueueStats WorkQueue::stats()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    QueueStats stats = m_stats;
    stats.depth = m_keyOfTicket.size();  // waiting and in service
    return stats;
}

}  // namespace kw::snmp
