// A SET's value as a manager sends it: byte 0 picks the object, the rest is the hex text.
#include "fuzz/FuzzSupport.h"
#include "snmp/HexText.h"
#include "snmp/ObjectTable.h"

using namespace kw::snmp;

// The two accepted forms, read independently: hex pairs all joined or all one blank apart.
static std::optional<std::vector<uint8_t>> readHex(std::string_view text)
{
    const size_t step = text.find(' ') == std::string_view::npos ? 2 : 3;
    if ((text.size() + step - 2) % step != 0) return std::nullopt;
    for (size_t i = 0; i < text.size(); ++i)
        if (i % step == 2 ? text[i] != ' ' : !std::isxdigit(static_cast<unsigned char>(text[i])))
            return std::nullopt;
    std::vector<uint8_t> bytes;
    for (size_t i = 0; i < text.size(); i += step)
        bytes.push_back(static_cast<uint8_t>(std::stoul(std::string(text.substr(i, 2)), 0, 16)));
    return bytes;
}

KW_FUZZ_TARGET(1024)
{
    const DisplayObject& object = displayObjects()[in.byte() % displayObjects().size()];
    const auto bytes = parseHexText(in.rest);
    check(bytes == readHex(in.rest));
    // No count passes that a read-only object or a one-byte length field could not carry.
    if (bytes && acceptsByteCount(object, bytes->size()))
        check(object.access != Access::ReadOnly && !bytes->empty() && bytes->size() <= 255);
}
