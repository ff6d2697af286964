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
    if (n < 0x80) {
        out += static_cast<char>(n);
    } else if (n < 0x100) {
        out += static_cast<char>(0x81);
        out += static_cast<char>(n);
    } else {
        out += static_cast<char>(0x82);
        out += static_cast<char>(n >> 8);
        out += static_cast<char>(n & 0xFF);
    }
    return out + content;
}

std::string integerContent(int64_t value)
{
    std::string bytes;
    for (int shift = 56; shift >= 0; shift -= 8) {
        bytes += static_cast<char>((value >> shift) & 0xFF);
    }
    // Minimal two's-complement form.
    while (bytes.size() > 1 &&
           ((bytes[0] == 0 && (bytes[1] & 0x80) == 0) ||
            (static_cast<uint8_t>(bytes[0]) == 0xFF && (bytes[1] & 0x80) != 0))) {
        bytes.erase(0, 1);
    }
    return bytes;
}

std::string oidContent(const Oid& oid)
{
    std::string out;
    out += static_cast<char>(oid[0] * 40 + oid[1]);
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

struct Reader {
    const std::string& data;
    size_t pos;
    size_t end;

    bool next(uint8_t& tag, std::string& content)
    {
        if (pos + 2 > end) {
            return false;
        }
        tag = static_cast<uint8_t>(data[pos++]);
        size_t len = static_cast<uint8_t>(data[pos++]);
        if (len & 0x80) {
            const size_t count = len & 0x7F;
            len = 0;
            for (size_t i = 0; i < count && pos < end; ++i) {
                len = len << 8 | static_cast<uint8_t>(data[pos++]);
            }
        }
        if (pos + len > end) {
            return false;
        }
        content = data.substr(pos, len);
        pos += len;
        return true;
    }
};

int64_t decodeInteger(const std::string& c, bool isSigned)
{
    int64_t v = (isSigned && !c.empty() && (c[0] & 0x80)) ? -1 : 0;
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
    oid.push_back(static_cast<uint8_t>(c[0]) / 40);
    oid.push_back(static_cast<uint8_t>(c[0]) % 40);
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
    Reader top{packet, 0, packet.size()};
    uint8_t tag;
    std::string message;
    if (!top.next(tag, message) || tag != 0x30) {
        return std::nullopt;
    }
    Reader msg{message, 0, message.size()};
    std::string version, community, pdu;
    if (!msg.next(tag, version) || !msg.next(tag, community) || !msg.next(tag, pdu) ||
        tag != kPduResponse) {
        return std::nullopt;
    }
    Reader p{pdu, 0, pdu.size()};
    std::string id, status, index, list;
    if (!p.next(tag, id) || !p.next(tag, status) || !p.next(tag, index) || !p.next(tag, list)) {
        return std::nullopt;
    }
    Response response;
    response.requestId = static_cast<int32_t>(decodeInteger(id, true));
    response.errorStatus = static_cast<int>(decodeInteger(status, true));
    response.errorIndex = static_cast<int>(decodeInteger(index, true));
    Reader l{list, 0, list.size()};
    std::string vb;
    while (l.next(tag, vb)) {
        Reader v{vb, 0, vb.size()};
        std::string name, value;
        uint8_t valueTag;
        if (!v.next(tag, name) || !v.next(valueTag, value)) {
            return std::nullopt;
        }
        Varbind out;
        out.oid = decodeOid(name);
        out.type = valueTag;
        out.bytes = value;
        if (valueTag == kTagInteger) {
            out.number = decodeInteger(value, true);
        } else if (valueTag == kTagTimeticks) {
            out.number = decodeInteger(value, false);
        }
        response.varbinds.push_back(out);
    }
    return response;
}

}  // namespace

Varbind nullVarbind(const Oid& oid)
{
    return {oid, kTagNull, {}, 0};
}

Varbind stringVarbind(const Oid& oid, const std::string& text)
{
    return {oid, kTagOctetString, text, 0};
}

Varbind integerVarbind(const Oid& oid, int64_t value)
{
    return {oid, kTagInteger, integerContent(value), value};
}

MiniSnmp::MiniSnmp(int port, std::string community, int version)
    : m_port(port), m_community(std::move(community)), m_version(version)
{
    m_fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(static_cast<uint16_t>(m_port));
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (m_fd < 0 || ::connect(m_fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
        throw std::runtime_error("MiniSnmp: cannot open socket");
    }
}

MiniSnmp::~MiniSnmp()
{
    if (m_fd >= 0) {
        ::close(m_fd);
    }
}

std::string MiniSnmp::encode(uint8_t pduType, int32_t requestId,
                             const std::vector<Varbind>& varbinds, int nonRepeaters,
                             int maxRepetitions) const
{
    std::string list;
    for (const Varbind& vb : varbinds) {
        list += tlv(0x30, tlv(kTagOid, oidContent(vb.oid)) + tlv(vb.type, vb.bytes));
    }
    const std::string pdu = tlv(kTagInteger, integerContent(requestId)) +
                            tlv(kTagInteger, integerContent(nonRepeaters)) +
                            tlv(kTagInteger, integerContent(maxRepetitions)) + tlv(0x30, list);
    return tlv(0x30, tlv(kTagInteger, integerContent(m_version)) +
                         tlv(kTagOctetString, m_community) + tlv(pduType, pdu));
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
                                          int timeoutMs, int nonRepeaters, int maxRepetitions)
{
    send(encode(pduType, nextRequestId(), varbinds, nonRepeaters, maxRepetitions));
    return receive(timeoutMs);
}

std::optional<Response> MiniSnmp::get(const Oid& oid, int timeoutMs)
{
    return request(kPduGet, {nullVarbind(oid)}, timeoutMs);
}

std::optional<Response> MiniSnmp::getNext(const Oid& oid, int timeoutMs)
{
    return request(kPduGetNext, {nullVarbind(oid)}, timeoutMs);
}

std::optional<Response> MiniSnmp::set(const Oid& oid, const std::string& text, int timeoutMs)
{
    return request(kPduSet, {stringVarbind(oid, text)}, timeoutMs);
}

}  // namespace kw::snmptest
