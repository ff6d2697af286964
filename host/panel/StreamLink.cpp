#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <stdexcept>

#include "host/panel/PanelLink.h"

namespace kw::panel {

StreamLink::StreamLink(std::string name, Connector connector, LinkOptions options, UniqueFd initial)
    : m_name(std::move(name)),
      m_connector(std::move(connector)),
      m_options(options),
      m_retry(options.retryMin),
      m_reader(ReplyReader::Options{options.dialect, std::nullopt, options.interByteTimeout})
{
    if (initial) {
        m_fd = std::move(initial);
        m_up = true;
        ++m_generation;
        ++m_stats.connects;
    }
    m_thread = std::thread([this] { run(); });
}

StreamLink::~StreamLink()
{
    shutdown();
}

void StreamLink::shutdown()
{
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_stop = true;
        m_changed.notify_all();
    }
    m_wake.notify();
    // std::thread::join must not run twice at once.
    std::lock_guard<std::mutex> join(m_joinMutex);
    if (m_thread.joinable() && m_thread.get_id() != std::this_thread::get_id()) m_thread.join();
}

bool StreamLink::connected() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_up && !m_stop;
}

bool StreamLink::waitConnected(std::chrono::milliseconds timeout) const
{
    std::unique_lock<std::mutex> lock(m_mutex);
    return m_changed.wait_for(lock, timeout, [&] { return m_stop || m_up; }) && !m_stop;
}

LinkStats StreamLink::stats() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    LinkStats stats = m_stats;
    stats.reader = m_reader.stats();
    return stats;
}

std::string StreamLink::lastError() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_lastError;
}

std::optional<Reply> StreamLink::transact(uint8_t cmd, uint8_t displayId,
                                          const std::vector<uint8_t>& data,
                                          std::chrono::milliseconds timeout)
{
    std::lock_guard<std::mutex> transaction(m_transactionMutex);
    std::vector<uint8_t> frame;
    try {
        frame = encodeCommand(m_options.dialect, Command{cmd, displayId, data});
    } catch (const std::length_error&) {
        return std::nullopt;
    }
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    uint64_t generation;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        ++m_stats.transactions;
        if (m_stop || !m_up) {
            ++m_stats.failedFast;
            return std::nullopt;
        }
        // A late reply to an earlier command must not answer this one.
        m_reply.reset();
        m_awaiting = cmd;
        m_lastDisplayId = displayId;
        if (m_options.dialect == Dialect::Line) m_reader.setDisplayId(displayId);
        generation = m_generation;
    }

    bool written = false;
    {
        std::lock_guard<std::mutex> writing(m_writeMutex);
        int fd = -1;
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            if (m_up && !m_stop && m_generation == generation) fd = m_fd.get();
        }
        written = fd >= 0 && writeAll(fd, frame.data(), frame.size(), deadline);
    }

    std::unique_lock<std::mutex> lock(m_mutex);
    if (!written) {
        m_awaiting.reset();
        ++m_stats.failedFast;
        if (m_up && m_generation == generation && m_closeRequest.empty()) {
            m_closeRequest = "write failed";
            m_wake.notify();
        }
        return std::nullopt;
    }
    m_changed.wait_until(lock, deadline,
                         [&] { return m_reply || m_stop || !m_up || m_generation != generation; });
    std::optional<Reply> reply = std::move(m_reply);
    m_reply.reset();
    m_awaiting.reset();
    if (reply)
        ++m_stats.replies;
    else if (m_stop || !m_up || m_generation != generation)
        ++m_stats.failedFast;
    else
        onSilence();
    return reply;
}

void StreamLink::onSilence()
{
    ++m_stats.timeouts;
    if (m_options.silentLimit == 0 || ++m_silent < m_options.silentLimit) return;
    // Down from now on, so that the next command is refused at once; the I/O thread closes
    // the descriptor (a writer may hold it) and reconnects.
    m_lastError = "no reply to " + std::to_string(m_silent) + " commands in a row";
    m_closeRequest = m_lastError;
    m_suspect = true;
    m_up = false;
    ++m_stats.drops;
    ++m_stats.silentDrops;
    m_changed.notify_all();
    m_wake.notify();
}

void StreamLink::onBytes(const uint8_t* bytes, size_t count)
{
    m_reader.feed(bytes, count, std::chrono::steady_clock::now());
    while (auto reply = m_reader.next()) {
        m_silent = 0;
        if (m_probeDeadline) {
            lineUp();  // the probe's answer, or anything else: the panel is alive
        } else if (m_awaiting && reply->rcmd == *m_awaiting && !m_reply) {
            m_reply = std::move(reply);
            m_changed.notify_all();
        } else {
            ++m_stats.staleReplies;
        }
    }
}

void StreamLink::closeLine(const std::string& why)
{
    std::lock_guard<std::mutex> writing(m_writeMutex);
    std::lock_guard<std::mutex> lock(m_mutex);
    m_closeRequest.clear();
    m_probeDeadline.reset();
    if (!m_fd) return;
    m_fd.reset();
    if (m_up) ++m_stats.drops;
    m_up = false;
    m_lastError = why;
    m_reader.reset();
    m_changed.notify_all();
}

// Under m_mutex.
void StreamLink::lineUp()
{
    m_up = true;
    m_suspect = false;
    m_probeDeadline.reset();
    ++m_stats.connects;
    m_lastError.clear();
    m_retry = m_options.retryMin;
    m_changed.notify_all();
}

void StreamLink::sendProbe(int fd)
{
    std::vector<uint8_t> frame;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (m_options.dialect == Dialect::Line) m_reader.setDisplayId(m_lastDisplayId);
        frame =
            encodeCommand(m_options.dialect, Command{m_options.probeCommand, m_lastDisplayId, {}});
    }
    // Nobody else writes while the line is not up; a failed write ends as an unanswered probe.
    std::lock_guard<std::mutex> writing(m_writeMutex);
    writeAll(fd, frame.data(), frame.size(),
             std::chrono::steady_clock::now() + m_options.probeTimeout);
}

// The I/O thread: connects, reads, and after a drop connects again, with a growing pause.
void StreamLink::run()
{
    const int pollMs =
        static_cast<int>(std::clamp<long long>(m_options.interByteTimeout.count(), 10, 1000));
    uint8_t buffer[512];
    for (;;) {
        int fd;
        std::string closeRequest;
        bool probeUnanswered;
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            if (m_stop) break;
            fd = m_fd.get();
            closeRequest = m_closeRequest;
            probeUnanswered =
                m_probeDeadline && std::chrono::steady_clock::now() >= *m_probeDeadline;
        }
        if (!closeRequest.empty()) {
            closeLine(closeRequest);
            continue;
        }
        if (probeUnanswered) {
            closeLine("the panel does not answer");
            continue;
        }
        if (fd < 0) {
            bool suspect;
            {
                std::lock_guard<std::mutex> lock(m_mutex);
                suspect = m_suspect;
            }
            // A hung panel gets a probe every few seconds, however its connections end.
            if (suspect) pauseBeforeRetry();
            std::string error;
            UniqueFd opened = m_connector(&error);
            std::unique_lock<std::mutex> lock(m_mutex);
            if (m_stop) break;
            if (!opened) {
                m_lastError = error;
                lock.unlock();
                if (!suspect) pauseBeforeRetry();
                continue;
            }
            m_fd = std::move(opened);
            ++m_generation;
            m_reader.reset();
            if (!m_suspect) {
                lineUp();
                continue;
            }
            m_probeDeadline = std::chrono::steady_clock::now() + m_options.probeTimeout;
            fd = m_fd.get();
            lock.unlock();
            sendProbe(fd);
            continue;
        }

        pollfd fds[2] = {{fd, POLLIN, 0}, {m_wake.fd(), POLLIN, 0}};
        const int rc = ::poll(fds, 2, pollMs);
        if (rc < 0 && errno != EINTR) {
            closeLine("poll: " + errnoText(errno));
            continue;
        }
        if (fds[1].revents) m_wake.clear();
        if (fds[0].revents & (POLLIN | POLLHUP | POLLERR)) {
            const ssize_t n = ::read(fd, buffer, sizeof buffer);
            if (n > 0) {
                std::lock_guard<std::mutex> lock(m_mutex);
                onBytes(buffer, static_cast<size_t>(n));
            } else if (n == 0) {
                closeLine("closed by the panel");
                continue;
            } else if (errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR) {
                closeLine(errnoText(errno));
                continue;
            }
        }
        std::lock_guard<std::mutex> lock(m_mutex);
        m_reader.expire(std::chrono::steady_clock::now());
    }
    // A writer may still hold the descriptor; close it only once that write is over.
    std::lock_guard<std::mutex> writing(m_writeMutex);
    std::lock_guard<std::mutex> lock(m_mutex);
    m_fd.reset();
    m_up = false;
    m_changed.notify_all();
}

void StreamLink::pauseBeforeRetry()
{
    std::unique_lock<std::mutex> lock(m_mutex);
    m_changed.wait_for(lock, m_retry, [&] { return m_stop; });
    m_retry = std::min(m_retry * 2, m_options.retryMax);
}

std::optional<LinkSpec> parseLinkSpec(std::string_view text, std::string* error)
{
    LinkSpec spec;
    if (text == "sim") return spec;
    if (text.substr(0, 4) == "tcp:") {
        auto where = parseHostPort(text.substr(4), false, error);
        if (!where) return std::nullopt;
        spec.kind = LinkSpec::Kind::Tcp;
        spec.tcp = *where;
        return spec;
    }
    if (text.substr(0, 7) == "serial:") {
        auto serial = parseSerialSpec(text.substr(7), error);
        if (!serial) return std::nullopt;
        spec.kind = LinkSpec::Kind::Serial;
        spec.serial = *serial;
        return spec;
    }
    if (error)
        *error = "unknown panel '" + std::string(text) +
                 "' (expected sim, tcp:HOST:PORT or serial:DEV[:BAUD])";
    return std::nullopt;
}

std::unique_ptr<StreamLink> openTcpLink(const HostPort& where, const LinkOptions& options)
{
    auto connector = [where, timeout = options.connectTimeout](std::string* error) {
        return connectTcp(where, timeout, error);
    };
    // One attempt now, so a panel that is up is usable at once; otherwise the link keeps
    // trying in the background.
    std::string ignored;
    UniqueFd initial = connector(&ignored);
    return std::make_unique<StreamLink>("tcp:" + formatHostPort(where), connector, options,
                                        std::move(initial));
}

std::unique_ptr<StreamLink> openSerialLink(const SerialSpec& spec, const LinkOptions& options,
                                           std::string* error)
{
    UniqueFd initial = openSerial(spec, error);
    if (!initial) return nullptr;
    auto connector = [spec](std::string* why) { return openSerial(spec, why); };
    return std::make_unique<StreamLink>("serial:" + spec.device, connector, options,
                                        std::move(initial));
}

std::unique_ptr<PanelLink> openLink(const LinkSpec& spec, const LinkOptions& options,
                                    std::string* error)
{
    switch (spec.kind) {
        case LinkSpec::Kind::Sim:
            return std::make_unique<SimLink>(SimLink::Options{options.simFaults, std::nullopt});
        case LinkSpec::Kind::Tcp:
            return openTcpLink(spec.tcp, options);
        case LinkSpec::Kind::Serial:
            return openSerialLink(spec.serial, options, error);
    }
    return nullptr;
}

}  // namespace kw::panel
