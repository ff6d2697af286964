#pragma once
// The module's own serial route: its serial transport writes engine command frames straight
// to the port, and its receive loop feeds the engine's reply frames back. Wired as the
// transport expects: the command API's engine is the receiver, the transport is the engine's
// sender, and the receive loop runs on a thread of its own.
#include <atomic>
#include <memory>
#include <string>
#include <thread>

#include "host/panel/Io.h"
#include "link/VoSerialLinuxSNMP.h"

class VoRIXSNMPApi;

namespace kw::kwsnmpd {

class DirectSerialRoute {
public:
    // Opens the port. Null and a one-line `error` when the device cannot be opened or the
    // speed has no termios value.
    static std::unique_ptr<DirectSerialRoute> open(const kw::panel::SerialSpec& spec,
                                                   std::string* error);
    ~DirectSerialRoute();
    DirectSerialRoute(const DirectSerialRoute&) = delete;
    DirectSerialRoute& operator=(const DirectSerialRoute&) = delete;

    // Makes the port the engine's sender and its receiver list's only entry, and starts the
    // receive loop. Call before any command transaction can run.
    void attach(VoRIXSNMPApi* api);
    // For shutdown, once the agent takes no new requests: answers the command last sent with
    // a refusal, so a transaction still waiting for a silent panel ends at its next poll.
    void refuseInFlight();
    // Detaches the port from the engine (under the transaction lock), stops and joins the
    // receive loop and closes the port. Idempotent.
    void detach();

private:
    // The module's transport, noting the command byte of each frame it sends.
    class Port : public VoSerialLinuxSNMP {
    public:
        using VoSerialLinuxSNMP::VoSerialLinuxSNMP;
        int OnSend(const char* bytes, unsigned int count) override;
        std::atomic<int> m_nLastCommand{-1};
    };

    DirectSerialRoute() = default;

    std::unique_ptr<Port> m_port;
    VoRIXSNMPApi* m_api = nullptr;
    std::thread m_receiver;
};

}  // namespace kw::kwsnmpd
