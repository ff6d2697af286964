#include "host/framework/Clock.h"

#include <chrono>
#include <condition_variable>
#include <map>
#include <mutex>
#include <thread>

#include "platform/PCTime.h"

namespace kw::host {
namespace {

uint64_t realNowMs()
{
    using namespace std::chrono;
    return static_cast<uint64_t>(
        duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count());
}

// One process-wide clock. Leaked on purpose: its timer thread may still wait at exit.
class ClockState {
public:
    // Due tick to timer; timers due at the same tick run in the order they were scheduled.
    using Timers = std::multimap<uint64_t, std::function<void()>>;

    uint64_t now()
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        return nowLocked();
    }

    void sleep(long ms)
    {
        if (ms < 0) ms = 0;
        std::unique_lock<std::mutex> lock(m_mutex);
        if (!m_virtual) {
            lock.unlock();
            std::this_thread::sleep_for(std::chrono::milliseconds(ms));
            return;
        }
        advanceLocked(lock, static_cast<uint64_t>(ms));
    }

    // Virtual time only; on real time there is nothing to move.
    void advance(uint64_t ms)
    {
        std::unique_lock<std::mutex> lock(m_mutex);
        if (m_virtual) advanceLocked(lock, ms);
    }

    void useVirtual(uint32_t start)
    {
        Timers dropped;  // destroyed after the lock is released: a capture may use the clock
        std::unique_lock<std::mutex> lock(m_mutex);
        m_idle.wait(lock, [&] { return m_running == 0; });
        dropped.swap(m_timers);
        m_virtual = true;
        m_virtualNow = start;
        m_wake.notify_all();
        // Sleepers waiting for dropped timers must see that none is due any more.
        m_idle.notify_all();
    }

    void useReal()
    {
        Timers dropped;
        std::unique_lock<std::mutex> lock(m_mutex);
        m_idle.wait(lock, [&] { return m_running == 0; });
        dropped.swap(m_timers);
        m_virtual = false;
        m_wake.notify_all();
        m_idle.notify_all();
    }

    bool isVirtual()
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_virtual;
    }

    void schedule(uint32_t delayMs, std::function<void()> fn)
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (!m_workerStarted) {
            m_workerStarted = true;
            std::thread worker([this] { run(); });
            m_workerId = worker.get_id();
            worker.detach();
        }
        m_timers.emplace(nowLocked() + delayMs, std::move(fn));
        m_wake.notify_all();
    }

    void drain()
    {
        std::unique_lock<std::mutex> lock(m_mutex);
        if (std::this_thread::get_id() == m_workerId) return;
        m_idle.wait(
            lock, [&] { return m_virtual ? !dueLocked() : (m_timers.empty() && m_running == 0); });
    }

private:
    uint64_t nowLocked() const { return m_virtual ? m_virtualNow : realNowMs(); }

    void advanceLocked(std::unique_lock<std::mutex>& lock, uint64_t ms)
    {
        m_virtualNow += ms;
        m_wake.notify_all();
        // A timer that sleeps must not wait for itself; the worker runs what is due next.
        if (std::this_thread::get_id() == m_workerId) return;
        m_idle.wait(lock, [&] { return !dueLocked(); });
    }

    bool dueLocked() const
    {
        return m_running != 0 || (!m_timers.empty() && m_timers.begin()->first <= nowLocked());
    }

    void run()
    {
        std::unique_lock<std::mutex> lock(m_mutex);
        for (;;) {
            if (m_timers.empty()) {
                m_wake.wait(lock);
                continue;
            }
            auto first = m_timers.begin();
            const uint64_t now = nowLocked();
            if (first->first > now) {
                if (m_virtual) {
                    m_wake.wait(lock);
                } else {
                    m_wake.wait_for(lock, std::chrono::milliseconds(first->first - now));
                }
                continue;
            }
            std::function<void()> fn = std::move(first->second);
            m_timers.erase(first);
            ++m_running;
            lock.unlock();
            fn();
            fn = nullptr;  // its captures go before the timer counts as done
            lock.lock();
            --m_running;
            m_idle.notify_all();
        }
    }

    std::mutex m_mutex;
    std::condition_variable m_wake;
    std::condition_variable m_idle;
    Timers m_timers;
    bool m_virtual = false;
    uint64_t m_virtualNow = 0;
    int m_running = 0;
    bool m_workerStarted = false;
    std::thread::id m_workerId;
};

ClockState& state()
{
    static ClockState* s = new ClockState();
    return *s;
}

}  // namespace

uint32_t Clock::now()
{
    return static_cast<uint32_t>(state().now());
}
void Clock::sleep(long ms)
{
    state().sleep(ms);
}
void Clock::useVirtual(uint32_t startTick)
{
    state().useVirtual(startTick);
}
void Clock::useReal()
{
    state().useReal();
}
bool Clock::isVirtual()
{
    return state().isVirtual();
}
void Clock::advance(uint32_t ms)
{
    state().advance(ms);
}
void Clock::schedule(uint32_t delayMs, std::function<void()> fn)
{
    state().schedule(delayMs, std::move(fn));
}
void Clock::drain()
{
    state().drain();
}

}  // namespace kw::host

unsigned int PCTime::Tick()
{
    return kw::host::Clock::now();
}

void PCTime::Sleep(long ms, int /*reserved*/)
{
    kw::host::Clock::sleep(ms);
}
