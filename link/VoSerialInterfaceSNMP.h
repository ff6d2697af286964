#pragma once
// The port-independent half of the serial route: the receiver list, the receive loop and the
// forwarding of Send and Receive to the port's OnSend and OnReceive.
//
// Wiring: construct the port, AddReceiver the engine, store the port in the engine's
// m_pSender, run ReceiveThread on a thread of its own; to shut down, StopReceiveThread, join
// that thread, then Close or destroy the port.
#include <termios.h>

#include <atomic>
#include <list>

#include "link/VoPacketInterfaceSNMP.h"

namespace nsVoSerialSNMP {

// The termios speed constants themselves, or-ed into the control flags untranslated.
enum eVoBaudRate : tcflag_t {
    eVoBaud1200 = B1200,
    eVoBaud2400 = B2400,
    eVoBaud4800 = B4800,
    eVoBaud9600 = B9600,
    eVoBaud19200 = B19200,
    eVoBaud38400 = B38400,
    eVoBaud57600 = B57600,
    eVoBaud115200 = B115200,
    eVoBaud230400 = B230400,
};

// The termios character-size constants themselves.
enum eVoDataBit : tcflag_t {
    eVoDataBit5 = CS5,
    eVoDataBit6 = CS6,
    eVoDataBit7 = CS7,
    eVoDataBit8 = CS8,
};

}  // namespace nsVoSerialSNMP

class VoSerialInterfaceSNMP : public VoPacketSenderInterfaceSNMP {
public:
    VoSerialInterfaceSNMP();
    // Drops the receiver list without touching the receivers.
    ~VoSerialInterfaceSNMP() override;

    // Forwards to OnSend.
    int Send(const unsigned char* data, unsigned int len) override;
    virtual bool Create(const char* device, nsVoSerialSNMP::eVoBaudRate baud,
                        nsVoSerialSNMP::eVoDataBit dataBits, bool bReserved) = 0;
    // Forwards to OnReceive.
    virtual int Receive(unsigned char* buffer, unsigned int capacity);
    virtual void Close() = 0;
    virtual bool IsOpen() = 0;
    // Bytes written, or -1 (nothing to send, port closed, write failed).
    virtual int OnSend(const char* bytes, unsigned int count) = 0;
    // Waits for input and returns the bytes read (0 or more), or -1 when it cannot receive.
    virtual int OnReceive(char* buffer, unsigned int capacity) = 0;
    // Releases a ReceiveThread blocked in OnReceive; called by StopReceiveThread after
    // m_bStop is raised. A port whose OnReceive never blocks needs nothing here.
    virtual void WakeReceive();

    // Appends at the tail; no duplicate check, no lock: register before the loop starts.
    void AddReceiver(VoPacketReceiverInterfaceSNMP* receiver);
    // Offers the bytes to each receiver in turn. 1 when one took them (0) or rejected them
    // (1), len then holding the bytes consumed; 0 when every receiver found them incomplete.
    int ProcReceiver(unsigned char* buffer, unsigned int& len);
    // The receive loop. Returns 1 once stopped.
    int ReceiveThread();
    // Asks ReceiveThread to return and wakes it; it returns promptly even when blocked in
    // OnReceive. Safe from any thread. A stopped loop stays stopped.
    void StopReceiveThread();

    std::list<VoPacketReceiverInterfaceSNMP*> m_ReceiverList;
    std::atomic<bool> m_bStop;
};
