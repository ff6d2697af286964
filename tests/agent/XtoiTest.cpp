#include <gtest/gtest.h>

#include "agent/xtoi.h"

namespace {

constexpr unsigned int kUntouched = 0x5A5A5A5Au;

TEST(XtoiTest, ResultCodesAndValues)
{
    struct Case {
        const char* text;
        int code;
        unsigned int value;
    };
    // clang-format off
    const Case cases[] = {
        {"1F", 1, 0x1F}, {"ffffffff", 1, 0xFFFFFFFFu}, {"0", 1, 0}, {"aBcD0123", 1, 0xABCD0123u},
        {"00000009", 1, 9}, {"", 1, kUntouched},  // empty: success without writing
        // More than eight characters: refused without writing.
        {"123456789", 2, kUntouched}, {"fffffffff", 2, kUntouched}, {"0x1234567", 2, kUntouched},
        {"1 2 3 4 5 6", 2, kUntouched},
        // Any other character: all ones.
        {"0x10", 4, ~0u}, {"1 2", 4, ~0u}, {" 1", 4, ~0u}, {"1 ", 4, ~0u}, {"-1", 4, ~0u},
        {"+1", 4, ~0u}, {"G", 4, ~0u}, {"12g4", 4, ~0u}, {"1F\n", 4, ~0u},
    };
    // clang-format on
    for (const Case& c : cases) {
        unsigned int value = kUntouched;
        EXPECT_EQ(xtoi(c.text, &value), c.code) << '"' << c.text << '"';
        EXPECT_EQ(value, c.value) << '"' << c.text << '"';
    }
    unsigned int value = kUntouched;
    EXPECT_EQ(xtoi(nullptr, &value), 0);
    EXPECT_EQ(value, kUntouched);
    EXPECT_EQ(xtoi("1F", nullptr), 0);
}

}  // namespace
