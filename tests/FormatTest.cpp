// SPDX-License-Identifier: MIT
// The byte layout of the header and the descriptors, and the derived numbers.
#include "CreateDBF3.h"

#include <gtest/gtest.h>

TEST(Format, DescriptorCountFromHeaderLength)
{
    const struct { std::uint16_t headerLength; int descriptors; } cases[] = {
        {33, 0}, {97, 2}, {129, 3}, {392, 11}, {0, 255}, {31, 255}, {32, 0}, {63, 0}, {64, 1},
        {3264, 101}, {3296, 102}, {65535, 254},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(DescriptorCount(c.headerLength), c.descriptors) << "HeaderLength " << c.headerLength;
    }
}

TEST(Format, StoredYearKeepsLowEightBits)
{
    EXPECT_EQ(StoredYear(2024), 124);
    EXPECT_EQ(StoredYear(1999), 99);
    EXPECT_EQ(StoredYear(2156), 0);
    EXPECT_EQ(StoredYear(1900), 0);
    EXPECT_EQ(StoredYear(1899), 255);
}

TEST(Format, RecordPositionIsHeaderPlusWholeRecords)
{
    EXPECT_EQ(RecordPosition(129, 20, 1), 129);
    EXPECT_EQ(RecordPosition(129, 20, 3), 169);
    EXPECT_EQ(RecordPosition(65535, 65535, 2), 131070);
}

TEST(Format, LittleEndianOnAnyHost)
{
    TDBFHeader header{};
    PutLE32(header.RecordCount, 0x01020304);
    PutLE16(header.HeaderLength, 0x0A0B);
    const auto* bytes = reinterpret_cast<const TByte*>(&header);
    EXPECT_EQ(bytes[4], 0x04);
    EXPECT_EQ(bytes[7], 0x01);
    EXPECT_EQ(bytes[8], 0x0B);
    EXPECT_EQ(bytes[9], 0x0A);
    EXPECT_EQ(GetLE32(header.RecordCount), 0x01020304U);
    EXPECT_EQ(GetLE16(header.HeaderLength), 0x0A0B);
}

TEST(Format, EmptyDescriptorByNameOrWidth)
{
    const auto make = [](std::initializer_list<TByte> name, TByte width) {
        TDBFFieldDescriptor d{};
        std::copy(name.begin(), name.end(), d.FieldName.begin());
        d.FieldLength = width;
        return d;
    };
    EXPECT_FALSE(IsEmptyDescriptor(make({'A'}, 1)));
    EXPECT_TRUE(IsEmptyDescriptor(make({'A'}, 0)));
    EXPECT_TRUE(IsEmptyDescriptor(make({0, 'A'}, 5)));
    EXPECT_FALSE(IsEmptyDescriptor(make({' '}, 5)));  // a blank name is still a name
    EXPECT_EQ(FieldNameLength(make({'A', 'B', 'C', 'D', 'E', 'F', 'G', 'H', 'I', 'J', 'K'}, 1)), 11U);
}
