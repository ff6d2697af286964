#pragma once
// The hand-over between Net-SNMP's loop thread and the thread that serves the display.
//
// The loop thread submits a job under a key that names the request it came from (source,
// request id, varbinds, pass). A job whose key is already queued or running gets the caller
// added as one more waiter; one finished within the retention time is answered from its
// result at once. Only new jobs take a place in the bounded queue. The serving thread takes
// jobs in arrival order and finishes them; the loop thread then collects each waiter with the
// job's result.
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <list>
#include <mutex>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

#include "snmp/QueueStats.h"
#include "snmp/RequestServer.h"

namespace kw::snmp {

class WorkQueue {
public:
    using Clock = std::function<std::chrono::steady_clock::time_point()>;
    using Token = void*;  // the loop thread's record of one waiting request

    enum class Admission {
        Queued,    // a new job; wake the serving thread
        Joined,    // the same request is queued or running; the waiter shares its result
        Answered,  // the same request finished recently; *answer holds its result
        Full,      // no room: answer with an error now
    };

    WorkQueue(size_t capacity, std::chrono::milliseconds retention, Clock clock = {});

    // Loop thread.
    Admission submit(const std::string& key, WorkJob job, Token waiter, JobResult* answer);
    // Whether submit(key, ...) would do anything but Full.
    bool wouldAdmit(const std::string& key);
    // Waiters whose job has finished, with its result.
    std::vector<std::pair<Token, JobResult>> takeFinished();
    // Every waiter not yet collected, finished or not; the queue forgets them and its jobs.
    std::vector<Token> abandon();

    // Serving thread: the oldest queued job, if any. `ticket` names it for finish().
    bool take(WorkJob& job, uint64_t& ticket);
    void finish(uint64_t ticket, JobResult result);

    size_t queued();
    QueueStats stats();

private:
    struct Entry {
        uint64_t ticket = 0;
        bool done = false;
        std::chrono::steady_clock::time_point finishedAt;
        JobResult result;
        std::vector<Token> waiters;
    };

    void forgetExpired(std::chrono::steady_clock::time_point now);

    const size_t m_capacity;
    const std::chrono::milliseconds m_retention;
    const Clock m_clock;

    std::mutex m_mutex;
    uint64_t m_nextTicket = 1;
    std::unordered_map<std::string, Entry> m_entries;
    std::unordered_map<uint64_t, std::string> m_keyOfTicket;  // queued and running jobs
    std::deque<std::pair<uint64_t, WorkJob>> m_queue;
    std::list<std::string> m_doneOrder;  // finished keys, oldest first
    std::vector<std::pair<Token, JobResult>> m_finished;
    QueueStats m_stats;  // depth is filled in by stats()
};

}  // namespace kw::snmp
