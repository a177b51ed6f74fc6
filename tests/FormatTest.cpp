// SPDX-License-Identifier: MIT
// The byte layout of the header and the descriptors, and the derived numbers.
#include "CreateDBF3.h"
#include "DbfFormat.h"

#include <set>

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

// The tables of what the bytes mean: each byte once; each choice writes one
// byte and that byte leads back to it; the bytes the tool writes name what the
// window's choices say.
TEST(Format, ByteMeaningsAreOneTableEachWayRound)
{
    std::set<TByte> seen;
    for (const auto& entry : KnownCodePages()) {
        EXPECT_TRUE(seen.insert(entry.Byte).second) << "code page " << int(entry.Byte) << " twice";
        EXPECT_EQ(FindCodePage(entry.Byte), &entry);
        if (entry.Choice != cpLeave) {
            EXPECT_EQ(CodePageOfChoice(entry.Choice), entry.Byte);
        }
    }
    const struct {
        int Choice;
        std::optional<TByte> Byte;
        const char* Encoding;
    } choices[] = {{cpZero, 0, ""}, {cpDos866, 38, "IBM866"}, {cpWin1251, 87, "WINDOWS-1251"},
                   {cpLeave, std::nullopt, ""}, {7, std::nullopt, ""}, {-1, std::nullopt, ""}};
    for (const auto& c : choices) {
        EXPECT_EQ(CodePageOfChoice(c.Choice), c.Byte) << c.Choice;
        if (c.Byte) {
            EXPECT_EQ(ChoiceOfCodePage(*c.Byte), c.Choice);
            EXPECT_EQ(CodePageEncoding(*c.Byte), c.Encoding);
            if (*c.Encoding) {
                EXPECT_EQ(WrittenCodePageOf(c.Encoding), c.Byte);
            }
        }
    }
    // Bytes that name an encoding the tool writes another byte for are left
    // by the choices: 101 is IBM866 and 201 Windows-1251 all the same.
    for (const TByte kept : {TByte{101}, TByte{201}, TByte{0x96}, TByte{0xFF}}) {
        EXPECT_EQ(ChoiceOfCodePage(kept), cpLeave) << int(kept);
    }
    EXPECT_EQ(CodePageEncoding(101), "IBM866");
    EXPECT_EQ(CodePageEncoding(201), "WINDOWS-1251");
    EXPECT_EQ(CodePageName(0xFF), "неизвестная");
    EXPECT_FALSE(WrittenCodePageOf(""));
    EXPECT_FALSE(WrittenCodePageOf("KOI8-R"));

    seen.clear();
    for (const auto& entry : KnownVersions()) {
        EXPECT_TRUE(seen.insert(entry.Byte).second) << "version " << int(entry.Byte) << " twice";
        EXPECT_EQ(VersionFamily(entry.Byte), entry.Family);
        EXPECT_EQ(VersionWriters(entry.Byte), entry.Writers);
    }
    // Bytes of no known writer: dBase 7 by its low bits, dBase III's layout otherwise.
    const struct {
        TByte Version;
        TLayoutFamily Family;
    } families[] = {{0x30, TLayoutFamily::VisualFoxPro}, {0x32, TLayoutFamily::VisualFoxPro},
                    {0x04, TLayoutFamily::DBase7},       {0x44, TLayoutFamily::DBase7},
                    {0xF4, TLayoutFamily::DBase7},       {0x83, TLayoutFamily::DBase3},
                    {0x00, TLayoutFamily::DBase3},       {0x33, TLayoutFamily::DBase3}};
    for (const auto& f : families) EXPECT_EQ(VersionFamily(f.Version), f.Family) << int(f.Version);
    EXPECT_EQ(VersionWriters(0x44), "dBase 7 (не обрабатывается)");
    EXPECT_EQ(VersionWriters(0x33), "неизвестная версия");
}
