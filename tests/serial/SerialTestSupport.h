#pragma once
// Helpers shared by the serial tests: an event log a test can wait on, a receiver that
// forwards to the frame engine and logs each offer, and an owner for the receive loop.
#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <future>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "link/VoRIXSNMP.h"
#include "link/VoSerialInterfaceSNMP.h"
#include "runtime/VoLockSNMP.h"

namespace kw::serialtest {

// Upper bound for waiting on another thread; only reached when something is broken.
constexpr auto kWaitLimit = std::chrono::seconds(10);

class EventLog {
public:
    void add(std::string entry)
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_entries.push_back(std::move(entry));
        m_changed.notify_all();
    }

    std::vector<std::string> entries()
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_entries;
    }

    // Entries that start with prefix, in order.
    std::vector<std::string> entries(const std::string& prefix)
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        return matchingLocked(prefix);
    }

    // Waits until n entries start with prefix.
    bool waitFor(const std::string& prefix, size_t n)
    {
        std::unique_lock<std::mutex> lock(m_mutex);
        return m_changed.wait_for(lock, kWaitLimit,
                                  [&] { return matchingLocked(prefix).size() >= n; });
    }

private:
    std::vector<std::string> matchingLocked(const std::string& prefix) const
    {
        std::vector<std::string> out;
        for (const auto& e : m_entries) {
            if (e.compare(0, prefix.size(), prefix) == 0) out.push_back(e);
        }
        return out;
    }

    std::mutex m_mutex;
    std::condition_variable m_changed;
    std::vector<std::string> m_entries;
};

// Forwards to the engine and logs "offer <len>: <result> <len after>".
class EngineTap : public VoPacketReceiverInterfaceSNMP {
public:
    EngineTap(VoRIXSNMP& engine, EventLog& log) : m_engine(engine), m_log(log) {}

    int CheckReceiveData(const unsigned char* data, unsigned int& len) override
    {
        const unsigned int offered = len;
        const int result = m_engine.CheckReceiveData(data, len);
        m_log.add("offer " + std::to_string(offered) + ": " + std::to_string(result) + " " +
                  std::to_string(len));
        return result;
    }

private:
    VoRIXSNMP& m_engine;
    EventLog& m_log;
};

// The engine's stored replies as "<cmd> <ack> <values...>" in hex, oldest first.
inline std::vector<std::string> replies(VoRIXSNMP& engine)
{
    VoAutoLockSNMP guard(&engine.m_ReplyLock);
    std::vector<std::string> out;
    for (const auto* r : engine.m_ReplyList) {
        char text[8];
        std::snprintf(text, sizeof(text), "%02X %c", r->nCmd, r->nAck);
        std::string line = text;
        for (unsigned int i = 0; i < r->nSize; ++i) {
            std::snprintf(text, sizeof(text), " %02X", r->pData[i]);
            line += text;
        }
        out.push_back(line);
    }
    return out;
}

// Runs a port's ReceiveThread on a thread of its own and stops it at the end of the scope.
class LoopRunner {
public:
    explicit LoopRunner(VoSerialInterfaceSNMP& port) : m_port(port)
    {
        std::packaged_task<int()> task([&port] { return port.ReceiveThread(); });
        m_result = task.get_future();
        m_thread = std::thread(std::move(task));
    }

    ~LoopRunner() { stop(); }

    // Asks the loop to stop; the loop's result, or -1 when it did not return in time.
    int stop()
    {
        if (!m_thread.joinable()) return m_stopResult;
        m_port.StopReceiveThread();
        if (m_result.wait_for(kWaitLimit) != std::future_status::ready) {
            ADD_FAILURE() << "the receive loop did not stop";
            // Keep waking it so the test can end rather than hang.
            while (m_result.wait_for(std::chrono::milliseconds(50)) != std::future_status::ready) {
                m_port.WakeReceive();
            }
            m_thread.join();
            m_stopResult = -1;
            return m_stopResult;
        }
        m_thread.join();
        m_stopResult = m_result.get();
        return m_stopResult;
    }

private:
    VoSerialInterfaceSNMP& m_port;
    std::future<int> m_result;
    std::thread m_thread;
    int m_stopResult = -1;
};

}  // namespace kw::serialtest
