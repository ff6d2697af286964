#include "host/protocol/ProtocolService.h"

#include <algorithm>
#include <cstring>
#include <utility>

#include "host/framework/Framework.h"
#include "platform/ORVALE.h"

namespace kw::protocol {
namespace {

constexpr size_t kCommandHeader = 3;  // cmd, display ID, N
constexpr size_t kReplyHeader = 3;    // 0xFF, display ID, L

std::string describeCommand(const CommandPayload& command)
{
    std::string text =
        "cmd " + kw::panel::hexBytes(&command.cmd, 1) + " id " + std::to_string(command.displayId);
    if (!command.data.empty()) text += " data " + kw::panel::hexBytes(command.data);
    return text;
}

}  // namespace

std::optional<CommandPayload> parseCommandPayload(const uint8_t* bytes, size_t size)
{
    if (bytes == nullptr || size < kCommandHeader) return std::nullopt;
    if (bytes[2] != size - kCommandHeader) return std::nullopt;
    CommandPayload command;
    command.cmd = bytes[0];
    command.displayId = bytes[1];
    command.data.assign(bytes + kCommandHeader, bytes + size);
    return command;
}

std::vector<uint8_t> buildReplyPayload(uint8_t displayId, const kw::panel::Reply& reply)
{
    // L covers ack, rcmd and the values, and is one byte; the panel codec never yields more.
    const size_t values = std::min(reply.values.size(), kw::panel::kMaxReplyValues);
    std::vector<uint8_t> payload;
    payload.reserve(kReplyHeader + 2 + values);
    payload.push_back(kw::panel::kReplyMarker);
    payload.push_back(displayId);
    payload.push_back(static_cast<uint8_t>(values + 2));
    payload.push_back(reply.ack);
    payload.push_back(reply.rcmd);
    payload.insert(payload.end(), reply.values.begin(), reply.values.begin() + values);
    return payload;
}

ProtocolService::ProtocolService(std::shared_ptr<kw::panel::PanelLink> link, Options options)
    : m_link(std::move(link)), m_options(std::move(options))
{
}

ProtocolService::~ProtocolService()
{
    stop();
}

bool ProtocolService::start()
{
    std::lock_guard<std::mutex> lock(m_registrationMutex);
    if (m_registered) return true;
    m_registered = kw::host::Framework::instance().registerApp(kServiceAppId, this);
    return m_registered;
}

void ProtocolService::shutdownLink()
{
    std::optional<CommandPayload> unanswered;
    {
        std::lock_guard<std::mutex> lock(m_shutMutex);
        if (m_linkShut.exchange(true)) return;
        unanswered = std::move(m_unanswered);
        m_unanswered.reset();
    }
    if (m_link) m_link->shutdown();
    if (unanswered) refuse(*unanswered, "stopping, no reply came");
}

void ProtocolService::stop()
{
    shutdownLink();
    std::lock_guard<std::mutex> lock(m_registrationMutex);
    if (!m_registered) return;
    kw::host::Framework::instance().unregisterApp(kServiceAppId);
    m_registered = false;
}

int ProtocolService::t_OnUserMessage(const PTEvent* ev)
{
    if (ev == nullptr || ev->nEventType != kCommandEvent) return 0;

    // The payload is ours from here on, whatever it holds.
    auto* bytes = static_cast<uint8_t*>(ev->pData);
    const std::optional<CommandPayload> command = parseCommandPayload(bytes, ev->nDataSize);
    delete[] bytes;

    if (!command) {
        {
            std::lock_guard<std::mutex> lock(m_statsMutex);
            ++m_stats.malformed;
        }
        trace("dropped a malformed command event of " + std::to_string(ev->nDataSize) + " bytes");
        return 1;
    }
    {
        std::lock_guard<std::mutex> lock(m_statsMutex);
        ++m_stats.commands;
    }
    serve(*command);
    return 1;
}

void ProtocolService::serve(const CommandPayload& command)
{
    {
        std::lock_guard<std::mutex> lock(m_shutMutex);
        m_unanswered.reset();  // the module has moved on to this command
    }
    if (m_linkShut.load()) {
        refuse(command, "stopping");
        return;
    }
    if (!m_link || !m_link->connected()) {
        refuse(command, "panel line down");
        return;
    }

    const auto started = std::chrono::steady_clock::now();
    const std::optional<kw::panel::Reply> reply =
        m_link->transact(command.cmd, command.displayId, command.data, m_options.replyTimeout);
    const auto ended = std::chrono::steady_clock::now();
    if (reply) {
        {
            std::lock_guard<std::mutex> lock(m_statsMutex);
            ++m_stats.replies;
            if (!reply->acked()) ++m_stats.naks;
            m_stats.lastReply = ended;
        }
        trace(describeCommand(command) + ": " + (reply->acked() ? "A" : "N") +
              (reply->values.empty() ? std::string() : " " + kw::panel::hexBytes(reply->values)));
        postReply(command.displayId, *reply);
        return;
    }

    // No reply. When the line went away during the wait (or we are stopping) nothing will
    // ever come, so say so now; a panel that is there but silent gets nothing posted. Neither
    // does a line given up at the end of a full wait: the module no longer waits.
    const bool waitedOut = ended - started >= m_options.replyTimeout;
    if (!waitedOut && !m_link->connected() && !m_linkShut.load()) {
        refuse(command, "line lost while waiting");
        return;
    }
    bool stopping = false;
    {
        std::lock_guard<std::mutex> lock(m_shutMutex);
        stopping = m_linkShut.load();
        if (!stopping) m_unanswered = command;  // shutdownLink() refuses it if need be
    }
    if (stopping) {
        refuse(command, "stopping");
        return;
    }
    {
        std::lock_guard<std::mutex> lock(m_statsMutex);
        ++m_stats.silent;
    }
    trace(describeCommand(command) + ": no reply");
}

void ProtocolService::refuse(const CommandPayload& command, const std::string& why)
{
    {
        std::lock_guard<std::mutex> lock(m_statsMutex);
        ++m_stats.refused;
    }
    trace(describeCommand(command) + ": refused, " + why);
    postReply(command.displayId,
              kw::panel::Reply{kw::panel::kNak, command.cmd, {kUnreachableReason}});
}

void ProtocolService::postReply(uint8_t displayId, const kw::panel::Reply& reply)
{
    const std::vector<uint8_t> payload = buildReplyPayload(displayId, reply);
    auto* data = new uint8_t[payload.size()];
    std::memcpy(data, payload.data(), payload.size());

    PTEvent ev;
    ev.nEventType = kReplyEvent;
    ev.pData = data;
    ev.nDataSize = static_cast<uint16_t>(payload.size());
    ev.nSrcInstanceID = ORVALE0300::ORVALE::GetInstanceID(
        ORVALE0300::CString(kServiceAppId, ORVALE0300::CString::ENCODING_UTF8));
    // The payload passes to the receiver (or is freed by the framework) whatever happens.
    if (ORVALE0300::ORVALE::SendEvent(ev, m_options.replyTo.c_str(), false) == 0) {
        {
            std::lock_guard<std::mutex> lock(m_statsMutex);
            ++m_stats.postFailures;
        }
        trace("could not post the reply to " + m_options.replyTo);
    }
}

ServiceStats ProtocolService::stats() const
{
    std::lock_guard<std::mutex> lock(m_statsMutex);
    return m_stats;
}

void ProtocolService::trace(const std::string& line) const
{
    if (m_options.trace) m_options.trace(line);
}

}  // namespace kw::protocol
