#pragma once
// Runs a call on its own thread; blocked() polls the thread's scheduler state (bounded) until it
// is 'S', asleep in a wait, while the call has not finished.
#include <sys/syscall.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <fstream>
#include <functional>
#include <thread>

namespace kw::test {

class Contender {
public:
    explicit Contender(std::function<void()> fn)
        : m_thread([this, fn = std::move(fn)] {
              m_tid = static_cast<pid_t>(syscall(SYS_gettid));
              fn();
              m_done = true;
          })
    {
    }
    ~Contender() { finish(); }
    bool blocked()
    {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
        while (std::chrono::steady_clock::now() < deadline && !m_done) {
            std::string stat;
            std::getline(std::ifstream("/proc/self/task/" + std::to_string(m_tid) + "/stat"), stat);
            const auto state = stat.rfind(')') + 2;  // the field after the command name
            if (m_tid != 0 && state < stat.size() && stat[state] == 'S') return !m_done;
            std::this_thread::yield();
        }
        return false;
    }
    // Joins; true when the call ran to its end.
    bool finish()
    {
        if (m_thread.joinable()) m_thread.join();
        return m_done;
    }

private:
    std::atomic<pid_t> m_tid{0};
    std::atomic<bool> m_done{false};
    std::thread m_thread;
};

}  // namespace kw::test
