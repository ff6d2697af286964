// A SET's value as a manager sends it: hex text, then the byte count the object takes.
// parseHexText is held against an independent reading of the two accepted forms, accepted
// text must come back from both encodings, and no count is accepted that a read-only object
// or a one-byte length field could not carry.
//
// Input: byte 0 picks the object; the rest is the text.
#include <cctype>
#include <string>

#include "fuzz/FuzzSupport.h"
#include "snmp/HexText.h"
#include "snmp/ObjectTable.h"

using namespace kw::snmp;
using kw::fuzz::check;

namespace {

bool isHex(char c)
{
    return std::isxdigit(static_cast<unsigned char>(c)) != 0;
}

// Pairs of hex digits, all joined or all separated by exactly one blank.
bool wellFormed(std::string_view text)
{
    const bool spaced = text.find(' ') != std::string_view::npos;
    for (size_t i = 0; i < text.size();) {
        if (i + 2 > text.size() || !isHex(text[i]) || !isHex(text[i + 1])) return false;
        i += 2;
        if (spaced && i < text.size() && (text[i++] != ' ' || i == text.size())) return false;
    }
    return true;
}

std::string encode(const std::vector<uint8_t>& bytes, bool spaced)
{
    static const char kDigits[] = "0123456789abcdef";
    std::string text;
    for (uint8_t b : bytes) {
        if (spaced && !text.empty()) text += ' ';
        text += kDigits[b >> 4];
        text += kDigits[b & 0xF];
    }
    return text;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size > 1024) return 0;
    kw::fuzz::Input in{{reinterpret_cast<const char*>(data), size}};
    const DisplayObject& object = displayObjects()[in.byte() % displayObjects().size()];
    const std::string_view text = in.rest;

    const auto bytes = parseHexText(text);
    check(bytes.has_value() == wellFormed(text));
    if (!bytes) return 0;
    std::string lower(text);
    for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    check(lower == encode(*bytes, text.size() > 2 && text[2] == ' '));
    check(parseHexText(encode(*bytes, true)) == bytes);
    check(parseHexText(encode(*bytes, false)) == bytes);

    if (acceptsByteCount(object, bytes->size()))
        check(object.access != Access::ReadOnly && !bytes->empty() && bytes->size() <= 255);
    return 0;
}
