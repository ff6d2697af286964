#include "agent/xtoi.h"

namespace {

constexpr unsigned int kMaxDigits = 8;

// The digit's value, or -1 when c is not a hexadecimal digit.
int HexDigit(char c)
{
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
}

}  // namespace

int xtoi(const char* text, unsigned int* result)
{
    if (text == nullptr || result == nullptr) return 0;

    // Count no further than one past the limit: a longer text is refused either way.
    unsigned int n = 0;
    while (n <= kMaxDigits && text[n] != '\0') ++n;
    if (n == 0) return 1;
    if (n > kMaxDigits) return 2;

    *result = 0;
    for (unsigned int i = 0; i < n; ++i) {
        const int digit = HexDigit(text[i]);
        if (digit < 0) {
            *result = 0xFFFFFFFFu;
            return 4;
        }
        *result = *result * 16u + static_cast<unsigned int>(digit);
    }
    return 1;
}
