#include <stdexcept>

#include "host/panel/PanelLink.h"

namespace kw::panel {
namespace {

std::shared_ptr<FaultInjector> injectorFor(const FaultConfig& config)
{
    return config.any() ? std::make_shared<FaultInjector>(config) : nullptr;
}

}  // namespace

SimLink::SimLink(Options options, std::shared_ptr<PanelModel> model)
    : m_model(model ? std::move(model) : std::make_shared<PanelModel>()),
      m_responder(
          m_model, injectorFor(options.faults),
          PanelResponder::Options{Dialect::Line, options.displayId, std::chrono::milliseconds(200)})
{
}

SimLink::~SimLink()
{
    shutdown();
}

void SimLink::shutdown()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_shutdown = true;
    m_wake.notify_all();
}

LinkStats SimLink::stats() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_stats;
}

// The command goes through the same bytes as on a real line, so corruption and garbage are
// caught by the reply reader just as they would be there.
std::optional<Reply> SimLink::transact(uint8_t cmd, uint8_t displayId,
                                       const std::vector<uint8_t>& data,
                                       std::chrono::milliseconds timeout)
{
    std::lock_guard<std::mutex> transaction(m_transactionMutex);
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        ++m_stats.transactions;
        if (m_shutdown) {
            ++m_stats.failedFast;
            return std::nullopt;
        }
    }
    std::vector<uint8_t> frame;
    try {
        frame = encodeCommand(Dialect::Line, Command{cmd, displayId, data});
    } catch (const std::length_error&) {
        return std::nullopt;
    }
    const auto outputs =
        m_responder.receive(frame.data(), frame.size(), std::chrono::steady_clock::now());

    std::unique_lock<std::mutex> lock(m_mutex);
    if (outputs.empty()) {  // silent, or another display's ID
        ++m_stats.timeouts;
        return std::nullopt;
    }
    const PanelResponder::Output& out = outputs.front();
    const bool late = out.delay > timeout;
    if (m_wake.wait_for(lock, late ? timeout : out.delay, [&] { return m_shutdown.load(); })) {
        ++m_stats.failedFast;
        return std::nullopt;
    }
    if (late) {
        ++m_stats.timeouts;
        return std::nullopt;
    }
    ReplyReader reader(
        ReplyReader::Options{Dialect::Line, displayId, std::chrono::milliseconds(200)});
    reader.feed(out.bytes.data(), out.bytes.size(), std::chrono::steady_clock::now());
    while (auto reply = reader.next()) {
        if (reply->rcmd != cmd) continue;
        ++m_stats.replies;
        return reply;
    }
    ++m_stats.timeouts;
    return std::nullopt;
}

}  // namespace kw::panel
