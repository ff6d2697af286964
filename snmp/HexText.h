#pragma once
// The display's values travel as hex text: "01 0A FF" or "010AFF", either case.
#include <cstdint>
#include <optional>
#include <string_view>
#include <vector>

namespace kw::snmp {

// Bytes of `text`: pairs of hex digits, either all separated by single blanks or all joined.
// Empty text gives no bytes. Anything else (odd digit count, other characters, mixed or
// doubled separators, leading or trailing blanks) gives nullopt.
std::optional<std::vector<uint8_t>> parseHexText(std::string_view text);

}  // namespace kw::snmp
