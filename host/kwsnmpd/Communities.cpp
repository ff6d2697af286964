#include "host/kwsnmpd/Communities.h"

#include <arpa/inet.h>

#include <algorithm>
#include <cctype>
#include <cstring>

namespace kw::kwsnmpd {
namespace {

constexpr size_t kMaxCommunity = 64;
constexpr size_t kMaxSource = 255;

// Printable, no blanks, quotes, backslashes or comment marks; no comma (our own separator).
bool goodCommunity(const std::string& text)
{
    return !text.empty() && text.size() <= kMaxCommunity &&
           std::all_of(text.begin(), text.end(), [](char c) {
               return c > ' ' && c < 0x7F && std::strchr("\"'\\#,", c) == nullptr;
           });
}

// A host name or address, optionally /prefix or /mask.
bool goodSource(const std::string& text)
{
    return !text.empty() && text.size() <= kMaxSource && text.front() != '-' &&
           std::count(text.begin(), text.end(), '/') <= 1 && text.front() != '/' &&
           text.back() != '/' && std::all_of(text.begin(), text.end(), [](char c) {
               return std::isalnum(static_cast<unsigned char>(c)) || std::strchr(".:-_/", c);
           });
}

// The text as it may appear in a one-line message: control characters shown as '?'.
std::string shown(std::string text)
{
    for (char& c : text)
        if (static_cast<unsigned char>(c) < ' ' || c == 0x7F) c = '?';
    return text;
}

bool isIpv6Source(const std::string& source)
{
    return source.find(':') != std::string::npos;
}

// Splits "udp:HOST:PORT", "udp6:[HOST]:PORT", "HOST:PORT", "PORT" into its host part, if any.
std::string hostPart(std::string text)
{
    for (const char* prefix :
         {"udp:", "tcp:", "udp6:", "tcp6:", "udpv6:", "tcpv6:", "udpipv6:", "tcpipv6:"}) {
        if (text.rfind(prefix, 0) == 0) {
            text.erase(0, std::strlen(prefix));
            break;
        }
    }
    if (!text.empty() && text.front() == '[') {
        const size_t close = text.find(']');
        return close == std::string::npos ? std::string() : text.substr(1, close - 1);
    }
    const size_t colons = std::count(text.begin(), text.end(), ':');
    if (colons == 1) return text.substr(0, text.find(':'));
    if (colons > 1) return text;  // a bare IPv6 address
    // One word: a port number alone listens everywhere, anything else is a host.
    const bool number = !text.empty() && std::all_of(text.begin(), text.end(), [](char c) {
        return std::isdigit(static_cast<unsigned char>(c));
    });
    return number ? std::string() : text;
}

}  // namespace

std::optional<Community> parseCommunity(bool write, const std::string& text, std::string* error)
{
    Community community;
    community.write = write;
    const size_t comma = text.find(',');
    community.name = text.substr(0, comma);
    community.source =
        comma == std::string::npos ? (write ? "127.0.0.1" : "default") : text.substr(comma + 1);
    const std::string option = write ? "--rwcommunity" : "--rocommunity";
    if (!goodCommunity(community.name)) {
        *error = option +
                 ": expected COMMUNITY[,SOURCE] with a community of 1 to 64 printable "
                 "characters (no blanks, quotes, '\\', '#' or ','), got '" +
                 shown(text) + "'";
        return std::nullopt;
    }
    if (!goodSource(community.source)) {
        *error = option + ": expected a source host or network such as 10.0.0.0/8, got '" +
                 shown(community.source) + "'";
        return std::nullopt;
    }
    return community;
}

bool listensOnLoopbackOnly(const std::string& listen)
{
    if (listen.rfind("unix:", 0) == 0) return true;  // a local socket, not the network
    const std::string host = hostPart(listen);
    if (host == "localhost" || host == "ip6-localhost") return true;
    in_addr v4{};
    if (::inet_pton(AF_INET, host.c_str(), &v4) == 1) return (ntohl(v4.s_addr) >> 24) == 127;
    in6_addr v6{};
    return ::inet_pton(AF_INET6, host.c_str(), &v6) == 1 && IN6_IS_ADDR_LOOPBACK(&v6);
}

bool listensOnIpv6(const std::string& listen)
{
    for (const char* prefix : {"udp6:", "tcp6:", "udpv6:", "tcpv6:", "udpipv6:", "tcpipv6:"})
        if (listen.rfind(prefix, 0) == 0) return true;
    return listen.find('[') != std::string::npos;
}

std::optional<std::string> checkExposure(const std::string& listen, bool configGiven,
                                         const std::vector<Community>& communities)
{
    if (configGiven || !communities.empty() || listensOnLoopbackOnly(listen)) return std::nullopt;
    return "--listen " + listen +
           " reaches beyond loopback: name who may use it with --rocommunity COMMUNITY[,SOURCE]"
           " and/or --rwcommunity COMMUNITY[,SOURCE], or give --config DIR";
}

std::string communityLines(const std::vector<Community>& communities, const std::string& listen)
{
    std::vector<Community> granted = communities;
    if (granted.empty()) {
        granted.push_back({false, "public", "default"});
        granted.push_back({true, "private", "127.0.0.1"});
        if (listensOnIpv6(listen)) granted.push_back({true, "private", "::1"});
    }
    std::string lines;
    for (const Community& c : granted) {
        const std::string keyword = c.write ? "rwcommunity" : "rocommunity";
        // "default" means any source of either family; an address belongs to its own family.
        if (c.source == "default" || !isIpv6Source(c.source))
            lines += keyword + " " + c.name + " " + c.source + "\n";
        if (c.source == "default" || isIpv6Source(c.source))
            lines += keyword + "6 " + c.name + " " + c.source + "\n";
    }
    return lines;
}

}  // namespace kw::kwsnmpd
