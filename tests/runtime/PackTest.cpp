#include <gtest/gtest.h>

#include <memory>
#include <vector>

#include "runtime/VoPackSNMP.h"

namespace {

using Bytes = std::vector<unsigned char>;

Bytes takeArray(VoPackSNMP& pack)
{
    std::unique_ptr<unsigned char[]> data(pack.GetData());
    EXPECT_NE(data, nullptr);
    return Bytes(data.get(), data.get() + pack.m_vecData.size());
}

TEST(VoPackSNMP, GetDataCopiesAndLeavesPack)
{
    VoPackSNMP pack;
    const unsigned char in[] = {0x11, 0x22, 0x33};
    pack.PushData(in, 3);
    std::unique_ptr<unsigned char[]> copy(pack.GetData());
    ASSERT_NE(copy, nullptr);
    EXPECT_EQ(Bytes(copy.get(), copy.get() + 3), Bytes(in, in + 3));
    copy[0] = 0xEE;  // the copy is the caller's own
    EXPECT_EQ(pack.m_vecData, Bytes(in, in + 3));
}

TEST(VoPackSNMP, NullOrEmptyPushIsIgnored)
{
    VoPackSNMP pack;
    const unsigned char in[] = {1};
    pack.PushData(nullptr, 5);
    pack.PushData(in, 0);
    EXPECT_TRUE(pack.m_vecData.empty());
}

TEST(VoPackSNMP, PopIsFifoAndRefusesTooMuch)
{
    VoPackSNMP pack;
    const unsigned char a[] = {1, 2};
    const unsigned char b[] = {3, 4};
    pack.PushData(a, 2);
    pack.PushData(b, 2);

    unsigned char dest[4] = {};
    EXPECT_EQ(pack.PopData(dest, 2), 1);
    EXPECT_EQ(dest[0], 1);
    EXPECT_EQ(dest[1], 2);
    EXPECT_EQ(pack.m_vecData, (Bytes{3, 4}));

    unsigned char untouched[3] = {0xAA, 0xAA, 0xAA};
    EXPECT_EQ(pack.PopData(untouched, 3), 0);
    EXPECT_EQ(untouched[0], 0xAA);
    EXPECT_EQ(pack.m_vecData, (Bytes{3, 4}));

    EXPECT_EQ(pack.PopData(nullptr, 1), 0);
    EXPECT_EQ(pack.PopData(dest, 0), 0);
    EXPECT_EQ(pack.m_vecData, (Bytes{3, 4}));

    EXPECT_EQ(pack.PopData(dest, 2), 1);
    EXPECT_EQ(dest[0], 3);
    EXPECT_EQ(dest[1], 4);
    EXPECT_TRUE(pack.m_vecData.empty());
    EXPECT_EQ(pack.PopData(dest, 1), 0);
}

TEST(VoPackSNMP, EmptyPackGivesZeroLengthArray)
{
    VoPackSNMP pack;
    EXPECT_TRUE(takeArray(pack).empty());
}

TEST(VoPackSNMP, HoldsAFullCommand)
{
    VoPackSNMP pack;
    Bytes in(255);
    for (size_t i = 0; i < in.size(); ++i) in[i] = static_cast<unsigned char>(i);
    for (unsigned char byte : in) pack.PushData(&byte, 1);
    EXPECT_EQ(takeArray(pack), in);
}

}  // namespace
