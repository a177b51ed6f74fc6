// SPDX-License-Identifier: MIT
#include "HostileTables.h"

#include <string>

namespace hostile {

TTableLayout People(std::uint32_t records)
{
    TTableLayout layout;
    layout.fields = {{"NAME", 'C', 10, 0, 0, 0x11}, {"AGE", 'N', 3, 0, 0, 0}, {"BORN", 'D', 8, 0, 0, 0},
                   {"OK", 'L', 1, 0, 0, 0}};
    layout.recordCount = records;
    return layout;
}

namespace {

TBytes WithLE16(TBytes image, std::size_t at, std::uint16_t v)
{
    image[at] = static_cast<std::uint8_t>(v);
    image[at + 1] = static_cast<std::uint8_t>(v >> 8);
    return image;
}

TBytes WithLE32(TBytes image, std::size_t at, std::uint32_t v)
{
    for (std::size_t i = 0; i < 4; ++i) image[at + i] = static_cast<std::uint8_t>(v >> (8 * i));
    return image;
}

}  // namespace

TBytes Cut(TBytes image, std::size_t size)
{
    image.resize(size);
    return image;
}

// The tables a damaged world hands the tool.
std::vector<THostileTable> HostileTables()
{
    std::vector<THostileTable> tables;
    const auto add = [&](const std::string& label, TBytes image) { tables.push_back({label, std::move(image)}); };
    const TBytes people = People().Build();

    add("a sound table", people);
    add("no records", People(0).Build());
    add("an empty file", {});
    add("one byte", Cut(people, 1));
    add("twenty bytes", Cut(people, 20));
    add("31 bytes", Cut(people, 31));
    add("the header alone", Cut(people, 32));
    add("ends inside the descriptors", Cut(people, 32 + 32 + 7));
    add("ends before the first record", Cut(people, 32 + 4 * 32 + 1));
    add("ends inside the first record", Cut(people, 32 + 4 * 32 + 1 + 5));
    for (const std::uint16_t headerLength : {0, 1, 31, 32, 33, 63, 64, 97, 3264, 3265, 3296, 40000, 65535}) {
        add("HeaderLength " + std::to_string(headerLength), WithLE16(people, 8, headerLength));
    }
    for (const std::uint16_t recordLength : {0, 1, 23, 3999, 4000, 4001, 65535}) {
        add("RecordLength " + std::to_string(recordLength), WithLE16(people, 10, recordLength));
    }
    for (const std::uint32_t recordCount : {0U, 1U, 6U, 0x7FFFFFFFU, 0x80000000U, 0xFFFFFFFFU}) {
        add("RecordCount " + std::to_string(recordCount), WithLE32(people, 4, recordCount));
    }
    {
        TTableLayout layout = People();
        layout.fields.insert(layout.fields.begin() + 1, TFieldLayout{"", 'C', 0});
        layout.fields.push_back({"EMPTYWIDTH", 'C', 0});
        add("empty descriptors among the fields", layout.Build());
    }
    {
        TTableLayout layout = People();
        layout.fields = {{"  AB\0xyz", 'c', 2, 2}, {std::string(11, ' '), 'd', 8, 3}, {"\xC8NAME", 'l', 1, 1},
                       {"CITY", 'n', 20, 2}, {"NOZEROBYTES", 'C', 5, 9}, {"\t\r\x01X\x1F", '?', 3, 7},
                       {"\x0DNOTFIRST", 'C', 1}};
        add("names, types and decimals to correct", layout.Build());
    }
    {
        TTableLayout layout = People();
        layout.tail = TBytes(263, 0);
        add("a 263-byte tail of zeros", layout.Build());
        layout.tail.assign(200, 'T');
        add("a text tail", layout.Build());
        layout.tail = {'T', 'A', 'I', 'L', 0, 0, 0, 0, 0, 0, 0, 'C', 1, 2, 3, 4, 9, 0};
        layout.tail.resize(80, 'x');
        add("a tail that reads like descriptors", layout.Build());
    }
    {
        TTableLayout layout = People();
        layout.fields.clear();
        for (int i = 0; i < 255; ++i) {
            layout.fields.push_back({"F" + std::to_string(i), i % 3 ? 'c' : 'I', 1, 1, 0, 0x5A});
            if (i == 100 || i == 101 || i == 144 || i == 254) {
                add(std::to_string(i + 1) + " descriptors", layout.Build());
            }
        }
    }
    add("Harbour autoincrement fields", HarbourAutoIncrementTable().Build());
    add("Visual FoxPro under a dBase III version byte", VisualFoxProUnderDBase3Table().Build());
    for (const auto& table : DBase7Tables()) add("dBase 7 (version " + std::to_string(table[0]) + ")", table);
    // Read as dBase III, the first name's letters are a header length of 16718
    // ("NA") that announces nine chunks of descriptors and records.
    add("dBase II", BuildDBase2Table({{"NAME", 'C', 20}, {"AMOUNT", 'N', 8, 2}, {"PAID", 'L', 1}}, 4));
    add("dBase II, 32 fields and 0xFF filler",
        BuildDBase2Table(std::vector<TDBase2FieldLayout>(32, {"F", 'N', 3}), 1, 0xFF));
    add("dBase II cut inside its header", Cut(BuildDBase2Table({{"NAME", 'C', 20}}, 1), 40));
    for (const std::uint8_t version : {0x04, 0x8C, 0x44}) {
        TTableLayout layout = People();
        layout.version = version;
        add("a dBase III layout under dBase 7 version " + std::to_string(version), layout.Build());
    }
    {
        TTableLayout layout = People();
        layout.fields[0] = {"LONG", 'C', 300 & 0xFF, 300 >> 8};
        layout.recordLength = 1 + 300 + 3 + 8 + 1;
        add("a Clipper long character field", layout.Build());
        layout.fields[0].type = 'c';
        add("a Clipper long character field typed c", layout.Build());
        layout.recordLength = 1 + 44 + 3 + 8 + 1 + 1;
        add("decimals on C that add up to nothing", layout.Build());
    }
    for (const std::uint8_t version : {0x30, 0x31, 0x32, 0x83, 0xF5, 0x8B, 0x00, 0xFF}) {
        TTableLayout layout = People();
        layout.version = version;
        layout.tail = TBytes(263, 0);
        add("version byte " + std::to_string(version), layout.Build());
    }
    // Found by the fuzz target: a long character field, and a field whose name
    // is one blank byte, emptied by the first correction.
    add("fuzz finding: Clipper layout and a blank name",
        {0x03, 0x7c, 0x01, 0x0f, 0x01, 0x00, 0x00, 0x00, 0x61, 0x00, 0x19, 0x02, 0xab, 0xab, 0xab, 0xab, 0xab,
         0xab, 0xab, 0xab, 0xab, 0xab, 0xab, 0xab, 0x01, 0xab, 0xa9, 0xab, 0x65, 0xab, 0xab, 0xab, 0x4c, 0x4f,
         0x4e, 0x47, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x63, 0x00, 0x00, 0x00, 0x00, 0x10, 0x02, 0x00,
         0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x01, 0x00, 0x60, 0x80,
         0x00, 0x03, 0x7f, 0xa0, 0x00, 0x00, 0x00, 0x64, 0x00, 0x00, 0x00, 0x20, 0x08, 0x01, 0x00, 0x00, 0x76,
         0x76, 0x76, 0xfa, 0x76, 0x76, 0xab, 0xab, 0x76, 0x76, 0x76, 0x76, 0x76});
    add("all 0xFF", TBytes(400, 0xFF));
    add("all zero", TBytes(400, 0));
    add("all 13", TBytes(400, 13));
    add("all spaces", TBytes(400, ' '));
    return tables;
}

}  // namespace hostile
