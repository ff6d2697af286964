#pragma once
// Serves the simulated panel on byte lines: TCP clients, a pseudo-terminal, a serial device.
// Every line has its own framing state and shares the model and the fault injector. Each
// endpoint runs on a thread of its own, and each TCP client too; stop() ends them all.
#include <atomic>
#include <chrono>
#include <cstdint>
#include <list>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

#include "host/panel/Codec.h"
#include "host/panel/Faults.h"
#include "host/panel/Io.h"
#include "host/panel/PanelModel.h"
#include "host/panel/PanelResponder.h"

namespace kw::panel {

class PanelServer {
public:
    struct Options {
        Dialect dialect = Dialect::Line;
        std::optional<uint8_t> displayId = 1;  // empty: answer every ID
        FaultConfig faults;
        std::chrono::milliseconds interByteTimeout{200};
        size_t maxClients = 8;  // further TCP connections are closed at once
    };

    PanelServer(std::shared_ptr<PanelModel> model, Options options);
    ~PanelServer();
    PanelServer(const PanelServer&) = delete;
    PanelServer& operator=(const PanelServer&) = delete;

    // Each starts serving at once. On failure: false (or empty) and a one-line `error`.
    bool listenTcp(const HostPort& where, std::string* error);
    // The pseudo-terminal's slave path, for the host to open as its serial device.
    std::optional<std::string> openPty(std::string* error);
    bool openSerial(const SerialSpec& spec, std::string* error);

    // The port the TCP listener is bound to (useful after listening on port 0).
    uint16_t tcpPort() const { return m_tcpPort; }
    void stop();

private:
    struct Client {
        UniqueFd fd;
        std::thread thread;
        std::atomic<bool> done{false};
    };

    void acceptLoop();
    void serve(int fd);
    bool waitDelay(std::chrono::milliseconds delay);
    void reapClients(bool all);
    bool stopping() const { return m_stop.load(); }

    std::shared_ptr<PanelModel> m_model;
    Options m_options;
    std::shared_ptr<FaultInjector> m_faults;
    WakeFd m_wake;  // notified once by stop() and never cleared: every poll sees it
    std::atomic<bool> m_stop{false};

    mutable std::mutex m_mutex;
    UniqueFd m_listener;
    uint16_t m_tcpPort = 0;
    std::list<std::unique_ptr<Client>> m_clients;
    std::list<UniqueFd> m_lines;  // pty master and slave, serial devices
    std::list<std::thread> m_threads;
};

}  // namespace kw::panel
