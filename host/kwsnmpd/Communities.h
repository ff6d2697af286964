#pragma once
// Who may read and write through the generated configuration. The operator names communities
// with the sources they may come from, as Net-SNMP's rocommunity/rwcommunity lines do; without
// any, the defaults are public (read, any source) and private (read-write, loopback only).
// Listening beyond loopback with nothing named is refused: the defaults would give strangers
// read access and an operator who opens the port should say who is meant to use it.
#include <optional>
#include <string>
#include <vector>

namespace kw::kwsnmpd {

struct Community {
    bool write = false;
    std::string name;
    std::string source;  // a host or network (10.0.0.0/8, fd00::/8) or "default" (any)
};

// "COMMUNITY[,SOURCE]" as given to --rocommunity/--rwcommunity. Both parts end up in a
// configuration file, so only characters that cannot break its syntax are taken. Without a
// source, read access is from anywhere and write access from loopback only. Empty and a
// one-line `error` when the text is not acceptable.
std::optional<Community> parseCommunity(bool write, const std::string& text, std::string* error);

// True when a Net-SNMP transport address serves loopback only. Anything it cannot tell
// (host names other than localhost, a bare port, which means every interface) counts as beyond.
bool listensOnLoopbackOnly(const std::string& listen);
// True when the address is an IPv6 one (udp6:, tcp6:, [addr]:port).
bool listensOnIpv6(const std::string& listen);

// The refusal for listening beyond loopback with no community named; empty when acceptable.
std::optional<std::string> checkExposure(const std::string& listen, bool configGiven,
                                         const std::vector<Community>& communities);

// The configuration lines granting `communities`, or the defaults when there are none.
std::string communityLines(const std::vector<Community>& communities, const std::string& listen);

}  // namespace kw::kwsnmpd
