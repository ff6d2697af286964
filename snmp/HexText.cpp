#include "snmp/HexText.h"

namespace kw::snmp {
namespace {

int digitValue(char c)
{
    if (c >= '0' && c <= '9') {
        return c - '0';
    }
    if (c >= 'A' && c <= 'F') {
        return c - 'A' + 10;
    }
    if (c >= 'a' && c <= 'f') {
        return c - 'a' + 10;
    }
    return -1;
}

}  // namespace

std::optional<std::vector<uint8_t>> parseHexText(std::string_view text)
{
    std::vector<uint8_t> bytes;
    if (text.empty()) {
        return bytes;
    }
    // The third character decides the form: a blank means every pair is followed by one.
    const bool blanks = text.size() > 2 && text[2] == ' ';
    const size_t stride = blanks ? 3 : 2;
    if (blanks ? (text.size() + 1) % 3 != 0 : text.size() % 2 != 0) {
        return std::nullopt;
    }
    bytes.reserve((text.size() + 1) / stride);
    for (size_t i = 0; i < text.size(); i += stride) {
        const int high = digitValue(text[i]);
        const int low = digitValue(text[i + 1]);
        if (high < 0 || low < 0) {
            return std::nullopt;
        }
        if (blanks && i + 2 < text.size() && text[i + 2] != ' ') {
            return std::nullopt;
        }
        bytes.push_back(static_cast<uint8_t>(high << 4 | low));
    }
    return bytes;
}

}  // namespace kw::snmp
