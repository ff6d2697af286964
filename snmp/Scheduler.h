#pragma once
// Shares the panel between the requests that wait for it, one varbind at a time.
//
// The loop thread submits a job (the display varbinds of one pass over a PDU) under a source
// (the manager's address with its community or user) and a key that names the request. The
// serving thread asks for one step at a time: the sources take turns, and each source's
// oldest unfinished job gives its next varbind. So no request waits behind more than one
// varbind of any other source's request, a source's own requests are served in arrival order,
// and a SET's varbinds reach the panel in PDU order.
//
// Memory stays bounded: a retransmission of a job in hand joins it as one more waiter, up to
// a small fixed number (the rest are dropped: the manager sends again); a finished job's
// answer is kept a while for late retransmissions; each source and all sources together may
// have only so many jobs unfinished.
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

struct SchedulerLimits {
    size_t perSource = 4;   // unfinished jobs of one source
    size_t total = 32;      // unfinished jobs of all sources
    // Waiters of one job: the request and one retransmission. Each keeps a Net-SNMP session
    // of its own (about 1.5 MB for 600 varbinds), and any one answer satisfies the manager.
    size_t waiters = 2;
    size_t remembered = 64; // finished answers kept for retransmissions
    std::chrono::milliseconds retention{10000};
};

class Scheduler {
public:
    using Clock = std::function<std::chrono::steady_clock::time_point()>;
    using Token = void*;  // the loop thread's record of one waiting request

    enum class Admission {
        Queued,    // a new job; wake the serving thread
        Joined,    // the same job is in hand; the waiter shares its result
        Answered,  // the same job finished recently; *answer holds its result
        Dropped,   // the job in hand has all the waiters it may have: ignore this one
        Full,      // no room for the source or at all: answer with an error now
    };

    // One varbind for the serving thread.
    struct Step {
        uint64_t ticket = 0;
        JobKind kind = JobKind::Get;
        WorkItem item;
    };

    explicit Scheduler(SchedulerLimits limits = {}, Clock clock = {});

    // Loop thread.
    Admission submit(const std::string& source, const std::string& key, WorkJob job,
                     Token waiter, JobResult* answer);
    // Whether submit(source, key, ...) would be anything but Full or Dropped.
    bool wouldAdmit(const std::string& source, const std::string& key);
    // Waiters whose job has finished, with its result.
    std::vector<std::pair<Token, JobResult>> takeFinished();
    // On stop: every waiter not yet collected, with what its job got done; varbinds that were
    // not served are Failed (a SET's first one not served) or NotRun (those after it).
    std::vector<std::pair<Token, JobResult>> abandon();
    // Refusals and dropped retransmissions decided before a job is formed.
    void countRefused();
    void countAbsorbed();

    // Serving thread: the next varbind to serve, if any; then complete() with its result,
    // which says whether that finished the job.
    bool next(Step& step);
    bool complete(uint64_t ticket, ItemResult result);

    QueueStats stats();
    const SchedulerLimits& limits() const { return m_limits; }

private:
    struct Job {
        std::string key;
        std::string source;
        WorkJob work;
        JobResult results;  // one per item served so far
        std::vector<Token> waiters;
    };
    struct Source {
        std::deque<uint64_t> jobs;  // unfinished, oldest first
        bool scheduled = false;     // in the turn order or being served
    };
    struct Done {
        JobResult result;
        std::chrono::steady_clock::time_point at;
    };

    Admission admit(const std::string& source, const std::string& key, JobResult* answer,
                    bool join, Token waiter);
    void forgetExpired();
    void finish(uint64_t ticket);

    const SchedulerLimits m_limits;
    const Clock m_clock;

    std::mutex m_mutex;
    uint64_t m_nextTicket = 1;
    std::unordered_map<uint64_t, Job> m_jobs;             // unfinished
    std::unordered_map<std::string, uint64_t> m_tickets;  // key of each unfinished job
    std::unordered_map<std::string, Source> m_sources;    // sources with unfinished jobs
    std::deque<std::string> m_turns;                      // sources waiting for their turn
    std::unordered_map<std::string, Done> m_done;
    std::list<std::string> m_doneOrder;  // finished keys, oldest first
    std::vector<std::pair<Token, JobResult>> m_finished;
    QueueStats m_stats;
};

}  // namespace kw::snmp
