#pragma once
// What the fuzz targets share: a failed expectation aborts (libFuzzer reports it with the
// input), and the input is read front to back as the target's own little format.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

namespace kw::fuzz {

inline void check(bool ok)
{
    if (!ok) std::abort();
}

class Input {
public:
    Input(const uint8_t* data, size_t size) : m_data(data), m_size(size) {}
    bool empty() const { return m_at >= m_size; }
    uint8_t byte() { return empty() ? 0 : m_data[m_at++]; }
    // Up to `count` bytes (fewer at the end).
    std::string_view bytes(size_t count)
    {
        count = std::min(count, m_size - std::min(m_at, m_size));
        std::string_view out(reinterpret_cast<const char*>(m_data + m_at), count);
        m_at += count;
        return out;
    }

private:
    const uint8_t* m_data;
    size_t m_size;
    size_t m_at = 0;
};

}  // namespace kw::fuzz
