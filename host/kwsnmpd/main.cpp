// kwsnmpd: the display's SNMP management module on a Linux host. It runs the module as the
// display's host process does, behind it the panel's protocol service and a panel (simulated,
// on TCP, on a serial line, or on the module's own serial route), until SIGINT or SIGTERM.
// SIGHUP has the agent re-read its configuration.
#include <signal.h>
#include <unistd.h>

#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <mutex>
#include <string>
#include <thread>

#include "host/kwsnmpd/Daemon.h"
#include "host/kwsnmpd/Options.h"
#include "host/kwsnmpd/ServiceNotify.h"

namespace {

using namespace std::chrono_literals;

// How long an orderly stop may take before the process gives up on it. Stopping normally takes
// a fraction of a second; only a part that hangs reaches this.
constexpr auto kStopDeadline = 5s;
// How often the main loop looks at the panel line between signals.
constexpr long kPollMs = 250;

// Ends the process if the orderly stop does not finish in time, removing the runtime directory
// that the orderly stop would have removed.
class StopWatchdog {
public:
    explicit StopWatchdog(std::string runtimeDir = {})
        : m_thread([this, runtimeDir] {
              std::unique_lock<std::mutex> lock(m_mutex);
              if (!m_done.wait_for(lock, kStopDeadline, [this] { return m_finished; })) {
                  static const char message[] = "kwsnmpd: shutdown did not finish in time\n";
                  (void)!::write(STDERR_FILENO, message, sizeof message - 1);
                  std::error_code ignored;
                  if (!runtimeDir.empty()) std::filesystem::remove_all(runtimeDir, ignored);
                  std::_Exit(1);
              }
          })
    {
    }
    ~StopWatchdog()
    {
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_finished = true;
        }
        m_done.notify_all();
        m_thread.join();
    }

private:
    std::mutex m_mutex;
    std::condition_variable m_done;
    bool m_finished = false;
    std::thread m_thread;
};

}  // namespace

int main(int argc, char** argv)
{
    using kw::kwsnmpd::ParseResult;
    const ParseResult parsed = kw::kwsnmpd::parseOptions(argc, argv);
    switch (parsed.action) {
        case ParseResult::Action::Help:
            std::fputs(kw::kwsnmpd::kUsage, stdout);
            return 0;
        case ParseResult::Action::Version:
            std::printf("kwsnmpd %s\n", KW_VERSION);
            return 0;
        case ParseResult::Action::Error:
            if (!parsed.error.empty()) std::fprintf(stderr, "kwsnmpd: %s\n", parsed.error.c_str());
            return 2;
        case ParseResult::Action::Run:
            break;
    }

    // A shell starts a background job with SIGINT ignored, and an ignored signal never reaches
    // sigtimedwait: take both stop signals back first.
    signal(SIGINT, SIG_DFL);
    signal(SIGTERM, SIG_DFL);
    // Every thread inherits this mask, so only the main loop below sees these signals.
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGINT);
    sigaddset(&stopSignals, SIGTERM);
    sigaddset(&stopSignals, SIGHUP);
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);
    // SIGIO belongs to the serial receive thread alone (it unblocks it): anywhere else it would
    // interrupt blocking waits that do not retry.
    sigset_t ioSignal;
    sigemptyset(&ioSignal);
    sigaddset(&ioSignal, SIGIO);
    pthread_sigmask(SIG_BLOCK, &ioSignal, nullptr);
    signal(SIGPIPE, SIG_IGN);

    kw::kwsnmpd::service::enableWatchdog();
    kw::kwsnmpd::Daemon daemon(parsed.options);
    std::string error;
    if (!daemon.start(&error)) {
        std::fprintf(stderr, "kwsnmpd: %s\n", error.c_str());
        StopWatchdog watchdog;
        daemon.stop();
        return 1;
    }
    std::fprintf(stderr, "kwsnmpd: %s\n", daemon.describe().c_str());
    kw::kwsnmpd::service::ready(daemon.describe());

    const timespec pollInterval{0, kPollMs * 1000000L};
    for (;;) {
        const int signal = sigtimedwait(&stopSignals, nullptr, &pollInterval);
        if (signal == SIGINT || signal == SIGTERM) break;
        if (signal == SIGHUP) daemon.reload();
        daemon.poll();
    }

    kw::kwsnmpd::service::stopping();
    StopWatchdog watchdog(daemon.runtimeDir());
    daemon.stop();
    return 0;
}
