#include "tests/snmp/MiniSnmp.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <stdexcept>

namespace kw::snmptest {
namespace {

std::string tlv(uint8_t tag, const std::string& content)
{
    std::string out(1, static_cast<char>(tag));
    const size_t n = content.size();
    if (n >= 0x100) {
        out += {static_cast<char>(0x82), static_cast<char>(n >> 8)};
    } else if (n >= 0x80) {
        out += static_cast<char>(0x81);
    }
    return out + static_cast<char>(n & 0xFF) + content;
}

// Non-negative integers only, in their minimal form.
std::string integer(int64_t value)
{
    std::string bytes(1, static_cast<char>(value & 0xFF));
    for (value >>= 8; value != 0; value >>= 8) {
        bytes.insert(bytes.begin(), static_cast<char>(value & 0xFF));
    }
    if (bytes[0] & 0x80) {
        bytes.insert(bytes.begin(), '\0');
    }
    return tlv(kTagInteger, bytes);
}

std::string oidContent(const Oid& oid)
{
    std::string out(1, static_cast<char>(oid[0] * 40 + oid[1]));
    for (size_t i = 2; i < oid.size(); ++i) {
        uint32_t v = oid[i];
        std::string arc(1, static_cast<char>(v & 0x7F));
        for (v >>= 7; v != 0; v >>= 7) {
            arc.insert(arc.begin(), static_cast<char>(0x80 | (v & 0x7F)));
        }
        out += arc;
    }
    return out;
}

// Reads one TLV from data[pos..end); false when it does not fit.
bool next(const std::string& data, size_t& pos, uint8_t& tag, std::string& content)
{
    if (pos + 2 > data.size()) {
        return false;
    }
    tag = static_cast<uint8_t>(data[pos++]);
    size_t len = static_cast<uint8_t>(data[pos++]);
    if (len & 0x80) {
        const size_t count = len & 0x7F;
        len = 0;
        for (size_t i = 0; i < count && pos < data.size(); ++i) {
            len = len << 8 | static_cast<uint8_t>(data[pos++]);
        }
    }
    if (pos + len > data.size()) {
        return false;
    }
    content = data.substr(pos, len);
    pos += len;
    return true;
}

int64_t decodeInteger(const std::string& c)
{
    int64_t v = (!c.empty() && (c[0] & 0x80)) ? -1 : 0;
    for (char ch : c) {
        v = (v << 8) | static_cast<uint8_t>(ch);
    }
    return v;
}

Oid decodeOid(const std::string& c)
{
    Oid oid;
    if (c.empty()) {
        return oid;
    }
    oid = {static_cast<uint8_t>(c[0]) / 40u, static_cast<uint8_t>(c[0]) % 40u};
    uint32_t v = 0;
    for (size_t i = 1; i < c.size(); ++i) {
        v = v << 7 | (static_cast<uint8_t>(c[i]) & 0x7F);
        if ((c[i] & 0x80) == 0) {
            oid.push_back(v);
            v = 0;
        }
    }
    return oid;
}

std::optional<Response> decode(const std::string& packet)
{
    uint8_t tag;
    size_t pos = 0, mpos = 0, ppos = 0, lpos = 0;
    std::string message, version, community, pdu, id, status, index, list, vb;
    if (!next(packet, pos, tag, message) || tag != 0x30 || !next(message, mpos, tag, version) ||
        !next(message, mpos, tag, community) || !next(message, mpos, tag, pdu) ||
        tag != kPduResponse || !next(pdu, ppos, tag, id) || !next(pdu, ppos, tag, status) ||
        !next(pdu, ppos, tag, index) || !next(pdu, ppos, tag, list)) {
        return std::nullopt;
    }
    Response response;
    response.requestId = static_cast<int32_t>(decodeInteger(id));
    response.errorStatus = static_cast<int>(decodeInteger(status));
    response.errorIndex = static_cast<int>(decodeInteger(index));
    while (next(list, lpos, tag, vb)) {
        size_t vpos = 0;
        std::string name;
        Varbind out;
        if (!next(vb, vpos, tag, name) || !next(vb, vpos, out.type, out.bytes)) {
            return std::nullopt;
        }
        out.oid = decodeOid(name);
        response.varbinds.push_back(out);
    }
    return response;
}

}  // namespace

MiniSnmp::MiniSnmp(int port, std::string community, int version)
    : m_community(std::move(community)), m_version(version)
{
    m_fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(static_cast<uint16_t>(port));
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (m_fd < 0 || ::connect(m_fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
        throw std::runtime_error("MiniSnmp: cannot open socket");
    }
}

MiniSnmp::~MiniSnmp()
{
    ::close(m_fd);
}

std::string MiniSnmp::encode(uint8_t pduType, int32_t requestId,
                             const std::vector<Varbind>& varbinds, int maxRepetitions) const
{
    std::string list;
    for (const Varbind& vb : varbinds) {
        list += tlv(0x30, tlv(kTagOid, oidContent(vb.oid)) + tlv(vb.type, vb.bytes));
    }
    // For GETBULK the two zeros-or-counts are non-repeaters and max-repetitions.
    const std::string pdu =
        integer(requestId) + integer(0) + integer(maxRepetitions) + tlv(0x30, list);
    return tlv(0x30, integer(m_version) + tlv(kTagOctetString, m_community) + tlv(pduType, pdu));
}

void MiniSnmp::send(const std::string& packet)
{
    if (::send(m_fd, packet.data(), packet.size(), 0) != static_cast<ssize_t>(packet.size())) {
        throw std::runtime_error("MiniSnmp: send failed");
    }
}

std::optional<Response> MiniSnmp::receive(int timeoutMs)
{
    pollfd pfd{m_fd, POLLIN, 0};
    if (::poll(&pfd, 1, timeoutMs) <= 0) {
        return std::nullopt;
    }
    std::string buffer(65536, '\0');
    const ssize_t n = ::recv(m_fd, &buffer[0], buffer.size(), 0);
    if (n <= 0) {
        return std::nullopt;
    }
    buffer.resize(static_cast<size_t>(n));
    return decode(buffer);
}

std::optional<Response> MiniSnmp::request(uint8_t pduType, const std::vector<Varbind>& varbinds,
                                          int timeoutMs, int maxRepetitions)
{
    send(encode(pduType, ++m_requestId, varbinds, maxRepetitions));
    return receive(timeoutMs);
}

}  // namespace kw::snmptest
