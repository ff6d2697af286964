#pragma once
// The link abstractions: a route towards the panel, and a consumer of received bytes.

class VoPacketSenderInterfaceSNMP {
public:
    virtual ~VoPacketSenderInterfaceSNMP() {}
    // Hands one engine command frame to the route. Above 0 on success (bytes taken on).
    virtual int Send(const unsigned char* data, unsigned int len) = 0;
};

class VoPacketReceiverInterfaceSNMP {
public:
    virtual ~VoPacketReceiverInterfaceSNMP() {}
    // Offers received bytes. 0: one frame taken, len set to the bytes consumed; 1: not a
    // frame; 2: incomplete.
    virtual int CheckReceiveData(const unsigned char* data, unsigned int& len) = 0;
};
