#pragma once
// Shared by the fuzz targets: a failed check aborts; each reads its input as its own format.
#include <cctype>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string_view>

namespace kw::fuzz {

inline constexpr auto check = [](bool ok) { return ok ? void() : std::abort(); };

struct Input {
    std::string_view rest;
    size_t size() const { return rest.size(); }
    const uint8_t* bytes() const { return reinterpret_cast<const uint8_t*>(rest.data()); }
    uint8_t byte() { return take(1).empty() ? 0 : bytes()[-1]; }
    std::string_view take(size_t count)  // up to count bytes
    {
        const std::string_view out = rest.substr(0, count);
        rest.remove_prefix(out.size());
        return out;
    }
};

}  // namespace kw::fuzz

using kw::fuzz::check;

// Defines the fuzz entry point over inputs of at most maxSize bytes; the body reads `in`.
#define KW_FUZZ_TARGET(maxSize)                                             \
    static void fuzzOne(kw::fuzz::Input& in);                               \
    extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) \
    {                                                                       \
        kw::fuzz::Input in{{reinterpret_cast<const char*>(data), size}};    \
        if (size <= (maxSize)) fuzzOne(in);                                 \
        return 0;                                                           \
    }                                                                       \
    static void fuzzOne(kw::fuzz::Input& in)
