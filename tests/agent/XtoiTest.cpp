#include <gtest/gtest.h>

#include "agent/xtoi.h"

namespace {

constexpr unsigned int kUntouched = 0x5A5A5A5Au;

struct Converted {
    int code;
    unsigned int value;
};

Converted Convert(const char* text)
{
    unsigned int value = kUntouched;
    const int code = xtoi(text, &value);
    return {code, value};
}

TEST(XtoiTest, ConvertsUpToEightDigitsInEitherCase)
{
    EXPECT_EQ(Convert("1F").code, 1);
    EXPECT_EQ(Convert("1F").value, 0x1Fu);
    EXPECT_EQ(Convert("ffffffff").value, 0xFFFFFFFFu);
    EXPECT_EQ(Convert("ffffffff").code, 1);
    EXPECT_EQ(Convert("0").value, 0u);
    EXPECT_EQ(Convert("aBcD0123").value, 0xABCD0123u);
    EXPECT_EQ(Convert("00000009").value, 9u);
}

TEST(XtoiTest, EmptyTextSucceedsWithoutWriting)
{
    const Converted c = Convert("");
    EXPECT_EQ(c.code, 1);
    EXPECT_EQ(c.value, kUntouched);
}

TEST(XtoiTest, MoreThanEightCharactersAreRefusedWithoutWriting)
{
    for (const char* text : {"123456789", "fffffffff", "0x1234567", "1 2 3 4 5 6"}) {
        const Converted c = Convert(text);
        EXPECT_EQ(c.code, 2) << text;
        EXPECT_EQ(c.value, kUntouched) << text;
    }
}

TEST(XtoiTest, AnyOtherCharacterYieldsAllOnes)
{
    for (const char* text : {"0x10", "1 2", " 1", "1 ", "-1", "+1", "G", "12g4", "1F\n"}) {
        const Converted c = Convert(text);
        EXPECT_EQ(c.code, 4) << text;
        EXPECT_EQ(c.value, 0xFFFFFFFFu) << text;
    }
}

TEST(XtoiTest, NullPointersAreRefused)
{
    unsigned int value = kUntouched;
    EXPECT_EQ(xtoi(nullptr, &value), 0);
    EXPECT_EQ(value, kUntouched);
    EXPECT_EQ(xtoi("1F", nullptr), 0);
}

}  // namespace
