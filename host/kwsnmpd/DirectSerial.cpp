#include "host/kwsnmpd/DirectSerial.h"

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <optional>

#include "command/VoRIXSNMPApi.h"
#include "runtime/VoLockSNMP.h"

namespace kw::kwsnmpd {
namespace {

std::optional<nsVoSerialSNMP::eVoBaudRate> baudValue(int baud)
{
    using namespace nsVoSerialSNMP;
    switch (baud) {
        case 1200:
            return eVoBaud1200;
        case 2400:
            return eVoBaud2400;
        case 4800:
            return eVoBaud4800;
        case 9600:
            return eVoBaud9600;
        case 19200:
            return eVoBaud19200;
        case 38400:
            return eVoBaud38400;
        case 57600:
            return eVoBaud57600;
        case 115200:
            return eVoBaud115200;
        case 230400:
            return eVoBaud230400;
        default:
            return std::nullopt;
    }
}

constexpr unsigned char kReplyMarker = 0xFF;
constexpr unsigned char kRefused = 0x4E;
constexpr unsigned char kUnreachable = 0x20;  // the protocol service's reason, for the same case

}  // namespace

int DirectSerialRoute::Port::OnSend(const char* bytes, unsigned int count)
{
    if (bytes != nullptr && count != 0) {
        m_nLastCommand.store(static_cast<unsigned char>(bytes[0]));
    }
    return VoSerialLinuxSNMP::OnSend(bytes, count);
}

std::unique_ptr<DirectSerialRoute> DirectSerialRoute::open(const kw::panel::SerialSpec& spec,
                                                           std::string* error)
{
    const auto baud = baudValue(spec.baud);
    if (!baud) {
        *error = spec.device + ": unsupported baud rate " + std::to_string(spec.baud);
        return nullptr;
    }
    // The transport reports a failed open with perror; try the device first so the host can
    // say it in its own one line.
    const int probe = ::open(spec.device.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    if (probe < 0) {
        *error = spec.device + ": " + std::strerror(errno);
        return nullptr;
    }
    ::close(probe);

    std::unique_ptr<DirectSerialRoute> route(new DirectSerialRoute());
    route->m_port =
        std::make_unique<Port>(spec.device.c_str(), *baud, nsVoSerialSNMP::eVoDataBit8, false);
    if (!route->m_port->IsOpen()) {
        *error = spec.device + ": cannot be opened";
        return nullptr;
    }
    return route;
}

DirectSerialRoute::~DirectSerialRoute()
{
    detach();
}

void DirectSerialRoute::attach(VoRIXSNMPApi* api)
{
    m_api = api;
    m_port->AddReceiver(api);
    {
        VoAutoLockSNMP lock(&api->m_Lock);
        api->m_pSender = m_port.get();
    }
    m_receiver = std::thread([port = m_port.get()] {
        // The daemon blocks SIGIO everywhere else, so the port's signal lands here.
        sigset_t ioSignal;
        sigemptyset(&ioSignal);
        sigaddset(&ioSignal, SIGIO);
        pthread_sigmask(SIG_UNBLOCK, &ioSignal, nullptr);
        port->ReceiveThread();
    });
}

void DirectSerialRoute::refuseInFlight()
{
    if (m_api == nullptr || !m_port) return;
    const int cmd = m_port->m_nLastCommand.load();
    if (cmd < 0) return;
    unsigned char frame[5] = {kReplyMarker, 0x03, kRefused, static_cast<unsigned char>(cmd),
                              kUnreachable};
    unsigned char full[6];
    std::memcpy(full, frame, sizeof frame);
    full[5] = VoRIXSNMP::GetCheckSum(frame, sizeof frame);
    unsigned int length = sizeof full;
    m_api->CheckReceiveData(full, length);
}

void DirectSerialRoute::detach()
{
    if (!m_port) return;
    if (m_api != nullptr) {
        VoAutoLockSNMP lock(&m_api->m_Lock);
        if (m_api->m_pSender == m_port.get()) m_api->m_pSender = nullptr;
    }
    m_port->StopReceiveThread();
    if (m_receiver.joinable()) m_receiver.join();
    m_port->Close();
    m_port.reset();
    m_api = nullptr;
}

}  // namespace kw::kwsnmpd
