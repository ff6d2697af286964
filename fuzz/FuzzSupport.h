#pragma once
// What the fuzz targets share: a failed expectation aborts (libFuzzer reports it with the
// input), and the input is read front to back as each target's own little format.
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <string_view>

namespace kw::fuzz {

inline void check(bool ok)
{
    if (!ok) std::abort();
}

struct Input {
    std::string_view rest;
    bool empty() const { return rest.empty(); }
    uint8_t byte() { return take(1).empty() ? 0 : static_cast<uint8_t>(rest.data()[-1]); }
    std::string_view take(size_t count)  // up to count bytes
    {
        const std::string_view out = rest.substr(0, count);
        rest.remove_prefix(out.size());
        return out;
    }
};

}  // namespace kw::fuzz
