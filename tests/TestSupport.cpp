// SPDX-License-Identifier: MIT
#include "TestSupport.h"

#include <algorithm>
#include <random>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <string_view>

std::uint16_t TTableLayout::ComputedHeaderLength() const
{
    return static_cast<std::uint16_t>(32 + 32 * fields.size() + 1 + tail.size());
}

std::uint16_t TTableLayout::ComputedRecordLength() const
{
    unsigned length = 1;
    for (const auto& f : fields) length += f.length;
    return static_cast<std::uint16_t>(length);
}

TBytes TTableLayout::Build() const
{
    const std::uint16_t hl = headerLength ? headerLength : ComputedHeaderLength();
    const std::uint16_t rl = recordLength ? recordLength : ComputedRecordLength();
    TBytes out(32, junk);
    out[0] = version;
    out[1] = lastUpdate[0];
    out[2] = lastUpdate[1];
    out[3] = lastUpdate[2];
    for (int i = 0; i < 4; ++i) out[4 + i] = static_cast<std::uint8_t>(recordCount >> (8 * i));
    out[8] = static_cast<std::uint8_t>(hl);
    out[9] = static_cast<std::uint8_t>(hl >> 8);
    out[10] = static_cast<std::uint8_t>(rl);
    out[11] = static_cast<std::uint8_t>(rl >> 8);
    out[28] = mdxFlag;
    out[29] = languageDriver;
    for (const auto& f : fields) {
        TBytes d(32, f.reservedFill);
        std::fill(d.begin(), d.begin() + 11, 0);
        for (std::size_t i = 0; i < f.name.size() && i < 11; ++i) d[i] = static_cast<std::uint8_t>(f.name[i]);
        d[11] = static_cast<std::uint8_t>(f.type);
        for (int i = 0; i < 4; ++i) d[12 + i] = static_cast<std::uint8_t>(f.displacement >> (8 * i));
        d[16] = f.length;
        d[17] = f.decimals;
        std::copy_n(f.reserved.begin(), std::min<std::size_t>(f.reserved.size(), 14), d.begin() + 18);
        out.insert(out.end(), d.begin(), d.end());
    }
    out.push_back(kHeaderTerminator);
    out.insert(out.end(), tail.begin(), tail.end());
    out.resize(std::max<std::size_t>(out.size(), hl), 0);
    const std::size_t records = actualRecords == SIZE_MAX ? recordCount : actualRecords;
    for (std::size_t r = 0; r < records + (partialRecordBytes > 0 ? 1 : 0); ++r) {
        TBytes record{' '};
        if (rows.empty()) {
            for (std::size_t i = 1; i < rl; ++i) record.push_back(static_cast<std::uint8_t>('A' + (r + i) % 26));
        } else {
            const auto& row = rows[r % rows.size()];
            for (std::size_t f = 0; f < fields.size(); ++f) {
                const std::string value = f < row.size() ? row[f] : std::string();
                for (std::size_t i = 0; i < fields[f].length; ++i) {
                    record.push_back(i < value.size() ? static_cast<std::uint8_t>(value[i]) : ' ');
                }
            }
        }
        record.resize(rl, ' ');
        if (r == records) record.resize(partialRecordBytes);
        out.insert(out.end(), record.begin(), record.end());
    }
    if (endOfFileMark) out.push_back(0x1A);
    return out;
}

TBytes BuildDBase7Table(std::uint8_t version, const std::vector<TDBase7FieldLayout>& fields,
                        const TBytes& properties, std::uint32_t records)
{
    const std::size_t headerLength = 68 + 48 * fields.size() + 1 + properties.size();
    std::size_t recordLength = 1;
    for (const auto& f : fields) recordLength += f.length;
    TBytes out(68, 0);
    out[0] = version;
    out[1] = 124;
    out[2] = 6;
    out[3] = 30;
    for (int i = 0; i < 4; ++i) out[4 + i] = static_cast<std::uint8_t>(records >> (8 * i));
    out[8] = static_cast<std::uint8_t>(headerLength);
    out[9] = static_cast<std::uint8_t>(headerLength >> 8);
    out[10] = static_cast<std::uint8_t>(recordLength);
    out[11] = static_cast<std::uint8_t>(recordLength >> 8);
    out[29] = 0x57;
    const std::string driver = "DBWINRUS0";  // the language driver's name, at 32
    std::copy(driver.begin(), driver.end(), out.begin() + 32);
    for (const auto& f : fields) {
        TBytes d(48, 0);
        std::copy_n(f.name.begin(), std::min<std::size_t>(f.name.size(), 32), d.begin());
        d[32] = static_cast<std::uint8_t>(f.type);
        d[33] = f.length;
        d[34] = f.decimals;
        for (int i = 0; i < 4; ++i) d[40 + i] = static_cast<std::uint8_t>(f.nextAutoIncrement >> (8 * i));
        out.insert(out.end(), d.begin(), d.end());
    }
    out.push_back(kHeaderTerminator);
    out.insert(out.end(), properties.begin(), properties.end());
    for (std::uint32_t r = 0; r < records; ++r) {
        out.push_back(' ');
        for (std::size_t i = 1; i < recordLength; ++i) out.push_back(static_cast<std::uint8_t>('0' + (r + i) % 10));
    }
    out.push_back(0x1A);
    return out;
}

TBytes BuildDBase2Table(const std::vector<TDBase2FieldLayout>& fields, std::uint16_t records, std::uint8_t filler)
{
    constexpr std::size_t kDescriptorsAt = 8;
    constexpr std::size_t kRecordsAt = kDescriptorsAt + 32 * 16 + 1;
    std::size_t recordLength = 1;
    for (const auto& f : fields) recordLength += f.length;
    TBytes out(kRecordsAt, filler);
    out[0] = 0x02;
    out[1] = static_cast<std::uint8_t>(records);
    out[2] = static_cast<std::uint8_t>(records >> 8);
    out[3] = 6;   // month
    out[4] = 30;  // day
    out[5] = 84;  // year - 1900
    out[6] = static_cast<std::uint8_t>(recordLength);
    out[7] = static_cast<std::uint8_t>(recordLength >> 8);
    std::size_t at = kDescriptorsAt;
    std::uint16_t address = 1;  // the field's place in dBase II's record buffer
    for (const auto& f : fields) {
        std::fill_n(out.begin() + static_cast<std::ptrdiff_t>(at), 11, 0);
        std::copy_n(f.name.begin(), std::min<std::size_t>(f.name.size(), 11), out.begin() + static_cast<std::ptrdiff_t>(at));
        out[at + 11] = static_cast<std::uint8_t>(f.type);
        out[at + 12] = f.length;
        out[at + 13] = static_cast<std::uint8_t>(address);
        out[at + 14] = static_cast<std::uint8_t>(address >> 8);
        out[at + 15] = f.decimals;
        address = static_cast<std::uint16_t>(address + f.length);
        at += 16;
    }
    out[at] = kHeaderTerminator;
    for (std::uint16_t r = 0; r < records; ++r) {
        out.push_back(r % 3 == 2 ? '*' : ' ');
        for (std::size_t i = 1; i < recordLength; ++i) out.push_back(static_cast<std::uint8_t>('A' + (r + i) % 26));
    }
    out.push_back(0x1A);
    return out;
}

TTableLayout HarbourAutoIncrementTable()
{
    TTableLayout layout;
    layout.fields = {{"ID", '+', 4, 0, 1, 0, {0x08, 0x2A, 0x01, 0x00, 0x00, 0x01}},       // next 298, step 1
                     {"NAME ", 'C', 20, 0, 5, 0xCD},                                      // junk to clear
                     {"SEQ", 'I', 4, 0, 25, 0, {0x08, 0x10, 0x27, 0x00, 0x00, 0x05}},      // next 10000, step 5
                     {"qty", 'n', 6, 2, 29, 0x11}};
    layout.recordCount = 3;
    layout.languageDriver = 0x26;
    return layout;
}

TTableLayout VisualFoxProUnderDBase3Table()
{
    TTableLayout layout;
    layout.fields = {{"NAME", 'C', 10, 0, 1, 0},
                     {"AMOUNT", 'N', 8, 2, 11, 0, {0x02}},              // may be null
                     {"_NullFlags", '0', 1, 0, 19, 0, {0x05}}};         // system and binary
    layout.tail = TBytes(263, 0);  // the backlink to a database container
    layout.recordCount = 2;
    layout.junk = 0;
    return layout;
}

std::vector<TBytes> DBase7Tables()
{
    // A field properties block: its counts and offsets, then a default value.
    const TBytes properties = {0x02, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x14, 0x00,
                               0x1A, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 'N', 'E', 'W'};
    return {
        BuildDBase7Table(0x04, {{"CUSTOMER_FULL_NAME", 'C', 40}, {"BALANCE_IN_ROUBLES", 'N', 12, 2}}, properties, 2),
        BuildDBase7Table(0x8C, {{"ID", '+', 4, 0, 17}, {"NOTES", 'M', 10}, {"SINCE", '@', 8}}, {}, 3),
    };
}

std::string HexText(const TBytes& bytes)
{
    static constexpr char kDigits[] = "0123456789abcdef";
    std::string text;
    for (const auto b : bytes) {
        text += kDigits[b >> 4U];
        text += kDigits[b & 0x0FU];
    }
    return text;
}

TBytes ReadAll(const std::filesystem::path& path)
{
    // In one read of the whole size: the fuzz target reads every table twice
    // per correction.
    std::ifstream in(path, std::ios::binary | std::ios::ate);
    if (!in) throw std::runtime_error("cannot read " + path.string());
    TBytes bytes(static_cast<std::size_t>(in.tellg()));
    in.seekg(0);
    in.read(reinterpret_cast<char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    if (!in) throw std::runtime_error("cannot read " + path.string());
    return bytes;
}

void WriteAll(const std::filesystem::path& path, const TBytes& bytes)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    if (!out) throw std::runtime_error("cannot write " + path.string());
}

TScratchDir::TScratchDir()
{
    std::random_device random;
    for (int attempt = 0; attempt < 100; ++attempt) {
        FPath = std::filesystem::temp_directory_path() / ("dbftest-" + std::to_string(random()));
        if (std::filesystem::create_directory(FPath)) return;
    }
    throw std::runtime_error("cannot make a scratch folder");
}

TScratchDir::~TScratchDir()
{
    std::error_code ignored;
    std::filesystem::remove_all(FPath, ignored);
}

TMessageRecorder::TMessageRecorder()
    : FPrevious(SetNotifyUserHandler([this](const std::string& text) { messages.push_back(text); }))
{
}

TMessageRecorder::~TMessageRecorder()
{
    SetNotifyUserHandler(std::move(FPrevious));
}

std::string FileUrl(const std::string& path)
{
    static constexpr char kHex[] = "0123456789ABCDEF";
    std::string url = path.empty() || (path.front() != '/' && path.front() != '\\') ? "file:///" : "file://";
    for (const char c : path) {
        const auto byte = static_cast<unsigned char>(c);
        if (c == '\\') {
            url += '/';
        } else if ((byte >= 'a' && byte <= 'z') || (byte >= 'A' && byte <= 'Z') || (byte >= '0' && byte <= '9') ||
                   std::string_view("/:._-").find(c) != std::string_view::npos) {
            url += c;
        } else {
            url += '%';
            url += kHex[byte >> 4];
            url += kHex[byte & 0x0F];
        }
    }
    return url;
}

std::string InUseMessage(const std::string& baseName)
{
    return "Файл " + baseName + " невозможно открыть в монопольном\nрежиме, т.к. он уже используется другой программой";
}
