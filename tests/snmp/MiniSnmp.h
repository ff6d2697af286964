#pragma once
// A small SNMPv1/v2c client written from the BER rules, independent of Net-SNMP, for tests
// that need exact control: the same packet twice, many requests at once, precise timing.
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "snmp/ObjectTable.h"

namespace kw::snmptest {

using kw::snmp::Oid;

enum : uint8_t {
    kTagInteger = 0x02,
    kTagOctetString = 0x04,
    kTagNull = 0x05,
    kTagOid = 0x06,
    kTagTimeticks = 0x43,
    kNoSuchObject = 0x80,
    kNoSuchInstance = 0x81,
    kEndOfMibView = 0x82,
    kPduGet = 0xA0,
    kPduGetNext = 0xA1,
    kPduResponse = 0xA2,
    kPduSet = 0xA3,
    kPduGetBulk = 0xA5,
};

enum ErrorStatus {
    kNoError = 0,
    kNoSuchName = 2,
    kBadValue = 3,
    kGenErr = 5,
    kWrongType = 7,
    kWrongLength = 8,
    kWrongValue = 10,
    kNoCreation = 11,
    kResourceUnavailable = 13,
    kCommitFailed = 14,
    kUndoFailed = 15,
    kNotWritable = 17,
};

struct Varbind {
    Oid oid;
    uint8_t type = kTagNull;
    std::string bytes;  // the value's contents
};

struct Response {
    int32_t requestId = 0;
    int errorStatus = 0;
    int errorIndex = 0;
    std::vector<Varbind> varbinds;
};

inline Varbind nullVarbind(const Oid& oid)
{
    return {oid, kTagNull, {}};
}
inline Varbind stringVarbind(const Oid& oid, const std::string& text)
{
    return {oid, kTagOctetString, text};
}

class MiniSnmp {
public:
    // version 0: SNMPv1, 1: SNMPv2c.
    MiniSnmp(int port, std::string community, int version = 1);
    ~MiniSnmp();
    MiniSnmp(const MiniSnmp&) = delete;
    MiniSnmp& operator=(const MiniSnmp&) = delete;

    std::string encode(uint8_t pduType, int32_t requestId, const std::vector<Varbind>& varbinds,
                       int maxRepetitions = 0) const;
    void send(const std::string& packet);
    // The next response on this socket, or nullopt after timeoutMs.
    std::optional<Response> receive(int timeoutMs);

    // One request and its answer (any request id); nullopt on timeout.
    std::optional<Response> request(uint8_t pduType, const std::vector<Varbind>& varbinds,
                                    int timeoutMs = 5000, int maxRepetitions = 0);
    std::optional<Response> get(const Oid& oid, int timeoutMs = 5000)
    {
        return request(kPduGet, {nullVarbind(oid)}, timeoutMs);
    }
    std::optional<Response> getNext(const Oid& oid)
    {
        return request(kPduGetNext, {nullVarbind(oid)});
    }
    std::optional<Response> set(const Oid& oid, const std::string& text, int timeoutMs = 5000)
    {
        return request(kPduSet, {stringVarbind(oid, text)}, timeoutMs);
    }
    // Sends one request without waiting for its answer.
    void post(uint8_t pduType, const Varbind& varbind)
    {
        send(encode(pduType, ++m_requestId, {varbind}));
    }

private:
    int m_fd = -1;
    std::string m_community;
    int m_version;
    int32_t m_requestId = 1000;
};

}  // namespace kw::snmptest
