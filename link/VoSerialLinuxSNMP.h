#pragma once
// A serial port over POSIX termios with signal-driven input: the port raises SIGIO when bytes
// arrive, the process-wide handler posts m_Event, and OnReceive sleeps on it. Because the
// event and the handler are shared, one port per process can be served at a time.
#include <termios.h>

#include <atomic>

#include "link/VoSerialInterfaceSNMP.h"
#include "runtime/VoEventSNMP.h"

class VoSerialLinuxSNMP : public VoSerialInterfaceSNMP {
public:
    // Opens and configures the port; IsOpen tells whether that worked.
    VoSerialLinuxSNMP(const char* device, nsVoSerialSNMP::eVoBaudRate baud,
                      nsVoSerialSNMP::eVoDataBit dataBits, bool bReserved);
    // Closes a port still open, without putting its old attributes back.
    ~VoSerialLinuxSNMP() override;

    // Raw 8-bit line at the given speed and size, no parity, one stop bit, no flow control.
    // The flag is not used. False (after perror with the device path) when it cannot open.
    bool Create(const char* device, nsVoSerialSNMP::eVoBaudRate baud,
                nsVoSerialSNMP::eVoDataBit dataBits, bool bReserved) override;
    // Puts the attributes found by Create back and closes the port.
    void Close() override;
    bool IsOpen() override;
    int OnSend(const char* bytes, unsigned int count) override;
    // Blocks until SIGIO (or StopReceiveThread), lets the burst complete for 100 ms and
    // drains the port.
    int OnReceive(char* buffer, unsigned int capacity) override;
    // Posts m_Event, as a SIGIO would.
    void WakeReceive() override;

    // Installed for SIGIO; posts m_Event and nothing else.
    static void signal_handler_IO(int status);

    // Atomic so that Close on one thread and the receive loop on another do not race.
    std::atomic<int> m_nFd;
    struct termios m_OldTio;
    struct termios m_NewTio;

    static VoEventSNMP m_Event;
};
