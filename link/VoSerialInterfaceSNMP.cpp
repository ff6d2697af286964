#include "link/VoSerialInterfaceSNMP.h"

#include <cstring>

#include "runtime/VoUtilSNMP.h"

namespace {
constexpr unsigned int kReceiveBufferSize = 1024;
constexpr long kClosedPollMs = 100;
constexpr long kPassPauseMs = 10;
}  // namespace

VoSerialInterfaceSNMP::VoSerialInterfaceSNMP() : m_bStop(false) {}

VoSerialInterfaceSNMP::~VoSerialInterfaceSNMP() = default;

int VoSerialInterfaceSNMP::Send(const unsigned char* data, unsigned int len)
{
    return OnSend(reinterpret_cast<const char*>(data), len);
}

int VoSerialInterfaceSNMP::Receive(unsigned char* buffer, unsigned int capacity)
{
    return OnReceive(reinterpret_cast<char*>(buffer), capacity);
}

void VoSerialInterfaceSNMP::WakeReceive() {}

void VoSerialInterfaceSNMP::AddReceiver(VoPacketReceiverInterfaceSNMP* receiver)
{
    // A null receiver would be called on the first burst.
    if (receiver == nullptr) return;
    m_ReceiverList.push_back(receiver);
}

int VoSerialInterfaceSNMP::ProcReceiver(unsigned char* buffer, unsigned int& len)
{
    for (VoPacketReceiverInterfaceSNMP* receiver : m_ReceiverList) {
        const int result = receiver->CheckReceiveData(buffer, len);
        // Incomplete (or an unknown answer) lets the next receiver try.
        if (result == 0 || result == 1) return 1;
    }
    return 0;
}

int VoSerialInterfaceSNMP::ReceiveThread()
{
    unsigned char buffer[kReceiveBufferSize] = {};
    unsigned int count = 0;

    while (!m_bStop.load()) {
        if (!IsOpen()) {
            VoSleepSNMP(kClosedPollMs);
            continue;
        }

        const int got = Receive(buffer + count, kReceiveBufferSize - count);
        // A stop wakes OnReceive early; whatever it brought is not wanted any more.
        if (m_bStop.load()) break;

        if (got == 0) {
            // A wake-up with nothing to read ends whatever was half received.
            count = 0;
            VoSleepSNMP(kPassPauseMs);
            continue;
        }

        // A negative result (closed under us, or no room left) keeps the buffered bytes and
        // only pauses, so the loop never spins.
        if (got > 0) {
            const unsigned int room = kReceiveBufferSize - count;
            count += static_cast<unsigned int>(got) < room ? static_cast<unsigned int>(got) : room;

            while (count != 0) {
                unsigned int len = count;
                if (ProcReceiver(buffer, len) == 0) break;  // keep it for the next read
                // A receiver that claims nothing or more than it was given would stall or
                // overrun the loop; treat it as having taken everything.
                const unsigned int used = (len == 0 || len > count) ? count : len;
                std::memmove(buffer, buffer + used, count - used);
                count -= used;
            }
        }
        VoSleepSNMP(kPassPauseMs);
    }
    return 1;
}

void VoSerialInterfaceSNMP::StopReceiveThread()
{
    // Raised before the wake-up, so whichever point of the loop the wake-up reaches sees it.
    m_bStop.store(true);
    WakeReceive();
}
