#include "host/panel/PanelServer.h"

#include <poll.h>
#include <pty.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

namespace kw::panel {
namespace {

constexpr auto kWriteTimeout = std::chrono::seconds(2);

}  // namespace

PanelServer::PanelServer(std::shared_ptr<PanelModel> model, Options options)
    : m_model(std::move(model)),
      m_options(options),
      m_faults(options.faults.any() ? std::make_shared<FaultInjector>(options.faults) : nullptr)
{
}

PanelServer::~PanelServer()
{
    stop();
}

void PanelServer::stop()
{
    m_stop = true;
    m_wake.notify();
    std::list<std::thread> threads;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        threads.swap(m_threads);
    }
    for (std::thread& t : threads)
        if (t.joinable()) t.join();
    reapClients(true);
    std::lock_guard<std::mutex> lock(m_mutex);
    m_listener.reset();
    m_lines.clear();
}

bool PanelServer::listenTcp(const HostPort& where, std::string* error)
{
    uint16_t port = 0;
    UniqueFd listener = kw::panel::listenTcp(where, error, &port);
    if (!listener) return false;
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_listener) {
        if (error) *error = "already listening";
        return false;
    }
    m_listener = std::move(listener);
    m_tcpPort = port;
    m_threads.emplace_back([this] { acceptLoop(); });
    return true;
}

std::optional<std::string> PanelServer::openPty(std::string* error)
{
    int master = -1, slave = -1;
    char name[256] = {};
    if (::openpty(&master, &slave, name, nullptr, nullptr) != 0) {
        if (error) *error = "openpty: " + errnoText(errno);
        return std::nullopt;
    }
    UniqueFd masterFd(master), slaveFd(slave);
    // Raw before any byte flows, or the terminal would echo commands back as replies. The
    // slave stays open here so the master never reads EIO while no host has it open.
    std::string why;
    if (!makeRaw(slave, 0, &why) || !makeRaw(master, 0, &why) || !setNonBlocking(master)) {
        if (error) *error = "pty: " + (why.empty() ? errnoText(errno) : why);
        return std::nullopt;
    }
    std::lock_guard<std::mutex> lock(m_mutex);
    m_threads.emplace_back([this, master] { serve(master); });
    m_lines.push_back(std::move(masterFd));
    m_lines.push_back(std::move(slaveFd));
    return std::string(name);
}

bool PanelServer::openSerial(const SerialSpec& spec, std::string* error)
{
    UniqueFd fd = kw::panel::openSerial(spec, error);
    if (!fd) return false;
    const int raw = fd.get();
    std::lock_guard<std::mutex> lock(m_mutex);
    m_threads.emplace_back([this, raw] { serve(raw); });
    m_lines.push_back(std::move(fd));
    return true;
}

void PanelServer::reapClients(bool all)
{
    std::list<std::unique_ptr<Client>> finished;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        for (auto it = m_clients.begin(); it != m_clients.end();) {
            if (all || (*it)->done) {
                finished.push_back(std::move(*it));
                it = m_clients.erase(it);
            } else {
                ++it;
            }
        }
    }
    for (auto& client : finished)
        if (client->thread.joinable()) client->thread.join();
}

void PanelServer::acceptLoop()
{
    int listener;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        listener = m_listener.get();
    }
    while (!stopping()) {
        pollfd fds[2] = {{listener, POLLIN, 0}, {m_wake.fd(), POLLIN, 0}};
        if (::poll(fds, 2, 500) < 0 && errno != EINTR) break;
        reapClients(false);
        if (stopping()) break;
        if (!(fds[0].revents & POLLIN)) continue;
        UniqueFd fd(::accept4(listener, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC));
        if (!fd) continue;
        std::lock_guard<std::mutex> lock(m_mutex);
        if (m_clients.size() >= m_options.maxClients) continue;  // closed on scope exit
        auto client = std::make_unique<Client>();
        client->fd = std::move(fd);
        Client* raw = client.get();
        client->thread = std::thread([this, raw] {
            serve(raw->fd.get());
            raw->done = true;
        });
        m_clients.push_back(std::move(client));
    }
}

// Waits out a reply delay; false when the server stops meanwhile.
bool PanelServer::waitDelay(std::chrono::milliseconds delay)
{
    if (delay.count() <= 0) return !stopping();
    pollfd p{m_wake.fd(), POLLIN, 0};
    const auto deadline = std::chrono::steady_clock::now() + delay;
    for (;;) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (stopping()) return false;
        if (left.count() <= 0) return true;
        ::poll(&p, 1, static_cast<int>(std::min<long long>(left.count(), 1000)));
    }
}

void PanelServer::serve(int fd)
{
    PanelResponder responder(m_model, m_faults,
                             PanelResponder::Options{m_options.dialect, m_options.displayId,
                                                     m_options.interByteTimeout});
    uint8_t buffer[512];
    while (!stopping()) {
        pollfd fds[2] = {{fd, POLLIN, 0}, {m_wake.fd(), POLLIN, 0}};
        if (::poll(fds, 2, 100) < 0 && errno != EINTR) return;
        if (stopping()) return;
        const auto now = std::chrono::steady_clock::now();
        if (!(fds[0].revents & (POLLIN | POLLHUP | POLLERR))) {
            responder.expire(now);
            continue;
        }
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n == 0) return;
        if (n < 0) {
            if (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR) continue;
            return;
        }
        const auto outputs = responder.receive(buffer, static_cast<size_t>(n), now);
        for (const auto& out : outputs) {
            if (!waitDelay(out.delay)) return;
            if (!writeAll(fd, out.bytes.data(), out.bytes.size(),
                          std::chrono::steady_clock::now() + kWriteTimeout))
                return;
        }
    }
}

}  // namespace kw::panel
