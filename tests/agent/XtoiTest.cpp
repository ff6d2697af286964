#include <gtest/gtest.h>

#include "agent/xtoi.h"

namespace {

TEST(XtoiTest, ResultCodesAndValues)
{
    constexpr unsigned int kUntouched = 0x5A5A5A5Au;
    const struct {
        const char* text;
        int code;
        unsigned int value;
    } cases[] = {
        {"1F", 1, 0x1F}, {"ffffffff", 1, 0xFFFFFFFFu}, {"aBcD0123", 1, 0xABCD0123u},
        {"00000009", 1, 9}, {"", 1, kUntouched},  // empty: success without writing
        // More than eight characters: refused without writing.
        {"123456789", 2, kUntouched}, {"0x1234567", 2, kUntouched}, {"1 2 3 4 5 6", 2, kUntouched},
        // Any other character: all ones.
        {"0x10", 4, ~0u}, {" 1", 4, ~0u}, {"1 ", 4, ~0u}, {"-1", 4, ~0u}, {"G", 4, ~0u},
        {"12g4", 4, ~0u}, {"1F\n", 4, ~0u}, {nullptr, 0, kUntouched},
    };
    for (const auto& c : cases) {
        unsigned int value = kUntouched;
        EXPECT_EQ(c.code, xtoi(c.text, &value)) << (c.text ? c.text : "null");
        EXPECT_EQ(c.value, value) << (c.text ? c.text : "null");
    }
    EXPECT_EQ(0, xtoi("1F", nullptr));
}

}  // namespace
