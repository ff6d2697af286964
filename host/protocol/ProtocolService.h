#pragma once
// The panel's protocol service: the framework application registered as
// "vantrel.native.ozkprotocol". The module posts it one command event (0x2807) per RIX command;
// the service puts the command on a panel link, waits a bounded time for the panel's reply and
// posts the reply to the module as event 0x2808.
//
//   command payload   cmd, display ID, N, data[N]                      (N + 3 bytes)
//   reply payload     0xFF, display ID, L, ack, rcmd, values[L - 2]    (L + 3 bytes)
//
// Both payloads are array-new'd byte arrays owned by the application that receives the event.
// Commands are served one at a time, in arrival order, on the service's application thread.
//
// A panel that stays silent gets nothing posted: the module's own reply wait runs out. A
// command that cannot reach the panel at all (the line is down, or the service is stopping)
// is refused at once with an 'N' reply, so the module's transaction fails at its next poll
// instead of waiting out its full reply wait.
#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "host/panel/PanelLink.h"
#include "platform/CApplication.h"
#include "platform/PTEvent.h"

namespace kw::protocol {

// The application ids and event types shared with the module.
constexpr const char* kServiceAppId = "vantrel.native.ozkprotocol";
constexpr const char* kModuleAppId = "vantrel.native.lumistavesnmp";
constexpr int kCommandEvent = 0x2807;
constexpr int kReplyEvent = 0x2808;

// The value of the 'N' reply the service makes up itself when the panel cannot be reached.
constexpr uint8_t kUnreachableReason = 0x20;

struct CommandPayload {
    uint8_t cmd = 0;
    uint8_t displayId = 0;
    std::vector<uint8_t> data;
};

// A command payload as the module posts it; empty when it is malformed (null, shorter than
// three bytes, or N not matching the size).
std::optional<CommandPayload> parseCommandPayload(const uint8_t* bytes, size_t size);
// The reply payload for the module: 0xFF, displayId, L, ack, rcmd, values.
std::vector<uint8_t> buildReplyPayload(uint8_t displayId, const kw::panel::Reply& reply);

class ProtocolService : public ORVALE0300::CApplication {
public:
    struct Options {
        // How long one command waits for the panel's reply.
        std::chrono::milliseconds replyTimeout{3000};
        // Where replies go.
        std::string replyTo = kModuleAppId;
        // One line per command, for tracing; not called when empty.
        std::function<void(const std::string&)> trace;
    };

    ProtocolService(std::shared_ptr<kw::panel::PanelLink> link, Options options);
    // Unregisters (stop()) when still registered.
    ~ProtocolService() override;
    ProtocolService(const ProtocolService&) = delete;
    ProtocolService& operator=(const ProtocolService&) = delete;

    // Registers the service with the framework under kServiceAppId. False when that id is
    // taken.
    bool start();
    // Ends the panel wait in progress and shuts the link down; from then on every command is
    // refused at once. A command the panel left unanswered, for which the module may still be
    // waiting, is refused too. The service stays registered, so the module's transaction in
    // flight gets its refusal. Safe from any thread, idempotent.
    void shutdownLink();
    // shutdownLink(), then unregisters; commands still queued are dropped (and freed).
    void stop();

    // Takes every 0x2807 event (and its payload); 0 for any other event.
    int t_OnUserMessage(const PTEvent* ev) override;

private:
    void serve(const CommandPayload& command);
    void postReply(uint8_t displayId, const kw::panel::Reply& reply);
    void trace(const std::string& line) const;

    void refuse(const CommandPayload& command, const std::string& why);

    const std::shared_ptr<kw::panel::PanelLink> m_link;
    const Options m_options;
    std::atomic<bool> m_linkShut{false};
    // The last command that got no reply, while no later one has come; under m_shutMutex with
    // the m_linkShut change, so that shutdownLink() and serve() never both miss it.
    std::mutex m_shutMutex;
    std::optional<CommandPayload> m_unanswered;
    std::mutex m_registrationMutex;
    bool m_registered = false;
};

}  // namespace kw::protocol
