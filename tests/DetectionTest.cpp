// SPDX-License-Identifier: MIT
// What dbffix finds beyond the header: the record count against the file's
// length, and the encoding of the character fields' texts, on tables built
// here with Russian names, addresses and cities in the encodings Russian
// tables are kept in.
#include "CliTestSupport.h"
#include "DbfFormat.h"
#include "Detection.h"
#include "System.h"
#include "TableReport.h"
#include "TestSupport.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <array>
#include <cstring>
#include <functional>
#include <iostream>

namespace {

enum class TText { Ascii, Utf8, Dos866, Win1251, Koi8r, Iso88595, MacCyrillic };

// KOI8-R's bytes for а..я (upper case: 0x20 more), in the order of the Latin
// letters they sound like.
constexpr std::array<std::uint8_t, 32> kKoi8 = {0xC1, 0xC2, 0xD7, 0xC7, 0xC4, 0xC5, 0xD6, 0xDA, 0xC9, 0xCA, 0xCB,
                                               0xCC, 0xCD, 0xCE, 0xCF, 0xD0, 0xD2, 0xD3, 0xD4, 0xD5, 0xC6, 0xC8,
                                               0xC3, 0xDE, 0xDB, 0xDD, 0xDF, 0xD9, 0xD8, 0xDC, 0xC0, 0xD1};

// The byte of one Cyrillic letter (А..я, Ё, ё) in the encoding.
std::uint8_t CyrillicByte(char32_t letter, TText text)
{
    const bool io = letter == U'Ё' || letter == U'ё';
    const bool upper = letter == U'Ё' || (letter >= U'А' && letter <= U'Я');
    const unsigned i = io ? 0 : static_cast<unsigned>(letter - (upper ? U'А' : U'а'));  // а = 0 .. я = 31
    if (text == TText::Dos866) {
        if (io) return upper ? 0xF0 : 0xF1;
        return static_cast<std::uint8_t>(upper ? 0x80 + i : i < 16 ? 0xA0 + i : 0xE0 + i - 16);
    }
    if (text == TText::Win1251) return io ? (upper ? 0xA8 : 0xB8) : static_cast<std::uint8_t>((upper ? 0xC0 : 0xE0) + i);
    if (text == TText::Iso88595) return io ? (upper ? 0xA1 : 0xF1) : static_cast<std::uint8_t>((upper ? 0xB0 : 0xD0) + i);
    if (text == TText::MacCyrillic) {
        if (io) return upper ? 0xDD : 0xDE;
        return static_cast<std::uint8_t>(upper ? 0x80 + i : i == 31 ? 0xDF : 0xE0 + i);
    }
    return io ? (upper ? 0xB3 : 0xA3) : static_cast<std::uint8_t>(kKoi8[i] + (upper ? 0x20 : 0));
}

// Russian text written in UTF-8 here, stored in the table's encoding.
std::string Encode(std::string_view utf8, TText text)
{
    if (text == TText::Utf8 || text == TText::Ascii) return std::string(utf8);
    std::string out;
    for (std::size_t i = 0; i < utf8.size(); ++i) {
        const auto lead = static_cast<unsigned char>(utf8[i]);
        if (lead < 0x80) {
            out.push_back(static_cast<char>(lead));
            continue;
        }
        const char32_t letter = ((lead & 0x1F) << 6) | (static_cast<unsigned char>(utf8[++i]) & 0x3F);
        out.push_back(static_cast<char>(CyrillicByte(letter, text)));
    }
    return out;
}

struct TPerson {
    const char* Name;
    const char* Address;
    const char* City;
};

constexpr std::array<TPerson, 12> kPeople{{
    {"Иванов Иван Петрович", "ул. Ленина, д. 12, кв. 5", "Москва"},
    {"Петрова Мария Сергеевна", "пр. Мира, д. 101, кв. 44", "Санкт-Петербург"},
    {"Сидоров Алексей Николаевич", "ул. Садовая, д. 7", "Новосибирск"},
    {"Кузнецова Ольга Викторовна", "ул. Пушкина, д. 3, кв. 18", "Екатеринбург"},
    {"Смирнов Дмитрий Андреевич", "Тверской бульвар, д. 25", "Казань"},
    {"Попова Елена Игоревна", "ул. Гагарина, д. 56, кв. 9", "Нижний Новгород"},
    {"Васильев Сергей Юрьевич", "наб. реки Фонтанки, д. 14", "Самара"},
    {"Соколова Анна Дмитриевна", "ул. Советская, д. 8, кв. 31", "Омск"},
    {"Михайлов Павел Олегович", "пер. Кривоколенный, д. 2", "Ростов-на-Дону"},
    {"Новикова Татьяна Ивановна", "ул. Зелёная, д. 19, кв. 77", "Уфа"},
    {"Фёдоров Николай Васильевич", "ш. Энтузиастов, д. 40", "Красноярск"},
    {"Морозова Юлия Александровна", "ул. Школьная, д. 5, кв. 2", "Воронеж"},
}};

constexpr std::array<TPerson, 3> kAsciiPeople{{
    {"Ivanov Ivan", "Lenina st. 12-5", "Moscow"},
    {"Petrova Maria", "Mira av. 101-44", "St. Petersburg"},
    {"Sidorov Aleksei", "Sadovaya st. 7", "Novosibirsk"},
}};

// A table of people: three character fields around a date and an amount.
TTableLayout PeopleTable(TText text, std::uint8_t codePage, std::uint32_t records)
{
    TTableLayout layout;
    layout.fields = {{"NAME", 'C', 60}, {"BORN", 'D', 8}, {"ADDRESS", 'C', 60}, {"SUM", 'N', 10, 2}, {"CITY", 'C', 30}};
    layout.recordCount = records;
    layout.languageDriver = codePage;
    for (const auto& person : text == TText::Ascii ? std::span<const TPerson>(kAsciiPeople) : std::span(kPeople)) {
        layout.rows.push_back({Encode(person.Name, text), "19800229", Encode(person.Address, text), "   1234.50",
                               Encode(person.City, text)});
    }
    return layout;
}

TTableFindings Inspect(const TScratchDir& dir, const TBytes& image)
{
    const std::string name = dir.File("people.dbf");
    WriteAll(name, image);
    TDBF table;
    table.SetTableName(name);
    table.Open();
    EXPECT_TRUE(table.HeaderRead());
    auto findings = InspectTable(table);
    table.Stream().Close();
    return findings;
}

struct TEncodingCase {
    const char* Label;
    TText Text;
    std::uint8_t HeaderByte;
    TEncodingVerdict Verdict;
    const char* Charset;
    std::optional<TByte> CodePage;
    THeaderByteAgreement Agreement;
    friend void PrintTo(const TEncodingCase& c, std::ostream* out) { *out << c.Label; }
};

// What the detector said of each table, as the report tells it.
using V = TEncodingVerdict;
using A = THeaderByteAgreement;
const TEncodingCase kEncodingCases[] = {
    {"dos866_marked_101", TText::Dos866, 0x65, V::AlreadyNamed, "IBM866", std::nullopt, A::Agrees},
    {"dos866_marked_87", TText::Dos866, 0x57, V::Named, "IBM866", 38, A::Disagrees},
    {"win1251_marked_87", TText::Win1251, 0x57, V::AlreadyNamed, "WINDOWS-1251", std::nullopt, A::Agrees},
    {"win1251_marked_201", TText::Win1251, 0xC9, V::AlreadyNamed, "WINDOWS-1251", std::nullopt, A::Agrees},
    {"win1251_marked_38", TText::Win1251, 0x26, V::Named, "WINDOWS-1251", 87, A::Disagrees},
    {"koi8r_unmarked", TText::Koi8r, 0x00, V::Unnamed, "KOI8-R", std::nullopt, A::NotStated},
    {"utf8_marked_38", TText::Utf8, 0x26, V::Unnamed, "UTF-8", std::nullopt, A::Disagrees},
    {"ascii_marked_38", TText::Ascii, 0x26, V::NoHighBytes, "", std::nullopt, A::Unknown},
};

class EncodingDetection : public ::testing::TestWithParam<TEncodingCase> {};

TEST_P(EncodingDetection, NamesTheRecordsEncodingAndItsCodePageByte)
{
    const auto& c = GetParam();
    TScratchDir dir;
    const auto findings = Inspect(dir, PeopleTable(c.Text, c.HeaderByte, 40).Build());
    const auto& found = findings.Encoding;
    EXPECT_EQ(found.Verdict, c.Verdict);
    EXPECT_EQ(found.Charset, c.Charset);
    EXPECT_EQ(found.CodePage, c.CodePage);
    EXPECT_EQ(found.Agreement, c.Agreement);
    EXPECT_EQ(found.HeaderByte, c.HeaderByte);
    EXPECT_EQ(found.SampledRecords, 40U);
    EXPECT_EQ(found.SampledBytes, 40U * (60 + 60 + 30));
    EXPECT_LE(found.DetectorBytes, kDetectorBudget);
    // Every table whose byte is left as it is says why; one that gets a byte
    // needs no excuse.
    EXPECT_EQ(found.Reason.empty(), found.CodePage.has_value()) << found.Reason;
    const std::string line = Describe(found);
    EXPECT_NE(line.find(found.CodePage ? c.Charset : "оставлен как есть"), std::string::npos) << line;
    const nlohmann::json json = JsonOf(found);
    EXPECT_EQ(json["charset"], found.Charset);
    EXPECT_EQ(json["codepage"].is_null(), !found.CodePage.has_value());
    std::cout << c.Label << ": " << line << "\n";
}

INSTANTIATE_TEST_SUITE_P(RussianTables, EncodingDetection, ::testing::ValuesIn(kEncodingCases),
                         [](const auto& info) { return std::string(info.param.Label); });

TEST(EncodingDetectionFields, PlacesCharacterFieldsByTheirWidths)
{
    TTableLayout layout;
    // Positions stored in the descriptors are junk; a long Clipper-style
    // character field keeps its width's high byte (1: 256 more) in the decimal count.
    layout.fields = {{"ID", 'N', 5, 0, 99}, {"NOTE", 'C', 4, 1, 7}, {"", 'C', 3}, {"CITY", 'C', 6, 0, 1}};
    layout.recordLength = 1 + 5 + 260 + 3 + 6;
    const TBytes image = layout.Build();
    const std::span descriptors(reinterpret_cast<const TDBFFieldDescriptor*>(image.data() + 32), 4);
    const auto texts = TextFields(descriptors, layout.recordLength);
    ASSERT_EQ(texts.size(), 2U);  // the nameless field is not looked at
    EXPECT_EQ(texts[0].Offset, 6U);
    EXPECT_EQ(texts[0].Width, 260U);
    EXPECT_EQ(texts[1].Offset, 269U);
    EXPECT_EQ(texts[1].Width, 6U);
    // A record shorter than its fields: the texts end with it.
    const auto clipped = TextFields(descriptors, 10);
    ASSERT_EQ(clipped.size(), 1U);
    EXPECT_EQ(clipped[0].Width, 4U);
}

// Where nothing can be detected, the verdict says why; the sample's read
// failing is told rather than taken for a table of ASCII.
TEST(EncodingDetectionFields, SaysWhyNothingWasDetected)
{
    struct TCase {
        const char* Label;
        TTableLayout Layout;
        bool FailRecordReads;
        TEncodingVerdict Verdict;
        const char* Reason;
    };
    auto numbersOnly = PeopleTable(TText::Win1251, 0x57, 5);
    for (auto& field : numbersOnly.fields) field.type = 'N';
    // High bytes outside the character fields (a binary field of a later
    // xBase program) are not texts.
    TTableLayout binary;
    binary.fields = {{"NAME", 'C', 12}, {"BLOB", 'B', 10}, {"CITY", 'c', 8}};
    binary.recordCount = 30;
    binary.rows = {{"Ivanov", Encode("ЖЖЖЖЯЯЯЯЁЁ", TText::Win1251), "Moscow"}};
    const TCase cases[] = {
        {"high bytes only in a binary field", binary, false, TEncodingVerdict::NoHighBytes,
         "в текстах выборки нет байтов больше 127, по ASCII кодировку не узнать: байт оставлен как есть"},
        {"no records", PeopleTable(TText::Win1251, 0x57, 0), false, TEncodingVerdict::NoText,
         "в файле нет записей: байт оставлен как есть"},
        {"no character fields", numbersOnly, false, TEncodingVerdict::NoText,
         "в таблице нет символьных полей: байт оставлен как есть"},
        {"records unreadable", PeopleTable(TText::Win1251, 0x57, 5), true, TEncodingVerdict::ReadFailed,
         "записи не прочитаны: байт оставлен как есть"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Label);
        const std::uint16_t headerLength = c.Layout.ComputedHeaderLength();
        const TFileFaultHook previous = SetFileFaultHook([&](TFileOp op, std::uint64_t position, std::size_t size) {
            const bool sample = op == TFileOp::Read && position >= headerLength && size > 1;
            return c.FailRecordReads && sample ? TFileFault::Fail : TFileFault::None;
        });
        TScratchDir dir;
        const TMessageRecorder recorder;  // the first record's read fails on opening too
        const auto found = Inspect(dir, c.Layout.Build()).Encoding;
        SetFileFaultHook(previous);
        EXPECT_EQ(found.Verdict, c.Verdict);
        EXPECT_EQ(found.Reason, c.Reason);
        EXPECT_FALSE(found.CodePage);
        EXPECT_EQ(Describe(found), std::string("Кодировка текстов: ") + c.Reason);
    }
}

// A large table whose Russian texts are one record in fifty among ASCII ones:
// the sample finds them through the table, and the detector gets no more than
// its share.
TEST(EncodingDetectionFields, FindsTheFewRussianTextsOfALargeTable)
{
    for (const TText text : {TText::Dos866, TText::Win1251, TText::Koi8r}) {
        auto layout = PeopleTable(TText::Ascii, 0, 4 * kSampleBudget / 169);
        const auto russian = PeopleTable(text, 0, 1).rows;
        layout.rows.resize(50, layout.rows.front());
        layout.rows.back() = russian[3];
        TScratchDir dir;
        const auto found = Inspect(dir, layout.Build()).Encoding;
        EXPECT_EQ(found.Charset, text == TText::Dos866 ? "IBM866" : text == TText::Win1251 ? "WINDOWS-1251" : "KOI8-R");
        EXPECT_LE(found.SampledRecords * 169, kSampleBudget);
        EXPECT_GT(found.DetectorBytes, 1000U);
        EXPECT_LE(found.DetectorBytes, kDetectorBudget);
    }
}

TEST(SampleRuns, StayWithinTheBudgetWhateverTheTableSize)
{
    struct TCase {
        std::uint64_t Records;
        std::uint16_t RecordLength;
    };
    for (const auto& c : {TCase{0, 10}, TCase{1, 10}, TCase{1000, 100}, TCase{kSampleBudget / 100, 100},
                          TCase{kSampleBudget / 100 + 1, 100},
                          TCase{200'000'000, 21}, TCase{65'000, 65535}, TCase{UINT32_MAX, 1}}) {
        SCOPED_TRACE(std::to_string(c.Records) + " records of " + std::to_string(c.RecordLength));
        const auto runs = SampleRuns(c.Records, c.RecordLength);
        std::uint64_t sampled = 0;
        std::uint64_t end = 0;
        for (const auto& run : runs) {
            EXPECT_GE(run.First, end);  // in order, none read twice
            EXPECT_GT(run.Count, 0U);
            end = run.First + run.Count;
            sampled += run.Count;
        }
        EXPECT_LE(end, c.Records);
        EXPECT_LE(sampled * c.RecordLength, kSampleBudget);
        if (c.Records * c.RecordLength <= kSampleBudget) {
            EXPECT_EQ(sampled, c.Records);  // a small table is read whole
        } else {
            // The first records, the last ones, and some between.
            EXPECT_EQ(runs.front().First, 0U);
            EXPECT_EQ(end, c.Records);
            EXPECT_GE(runs.size(), 3U);
            EXPECT_GT(sampled * c.RecordLength, kSampleBudget / 2);
        }
    }
}

// Changes to a built table image, given where the records begin and how long
// each is: what a writer or a crash leaves.
using TEdit = void (*)(TBytes& image, std::size_t records, std::size_t length);

struct TCountCase {
    const char* Label;
    std::uint32_t HeaderCount;
    std::size_t Records;
    std::size_t PartialBytes;
    bool EndOfFileMark;
    TRecordCountVerdict Verdict;
    std::optional<std::uint32_t> FromLength;
    const char* Words;  // in the Russian line
    TEdit Edit = nullptr;
    std::size_t InFile = SIZE_MAX;  // the records the check finds; default Records
    friend void PrintTo(const TCountCase& c, std::ostream* out) { *out << c.Label; }
};

// dBase's PACK: the end mark over the flag of the first record not kept; the
// old records stay behind it.
void PackAfterOne(TBytes& image, std::size_t records, std::size_t length)
{
    image[records + length] = 0x1A;
}
// A crash after the file was grown: the last record's bytes are zeros.
void LastRecordZeros(TBytes& image, std::size_t, std::size_t length)
{
    std::fill(image.end() - static_cast<std::ptrdiff_t>(length), image.end(), 0);
}
// An end mark after three records, zeros to the file's end.
void MarkAfterThreeThenZeros(TBytes& image, std::size_t records, std::size_t length)
{
    image[records + 3 * length] = 0x1A;
    std::fill(image.begin() + static_cast<std::ptrdiff_t>(records + 3 * length + 1), image.end(), 0);
}
// The last record's last byte (a data byte) happens to be 0x1A.
void LastDataByteIsMarkByte(TBytes& image, std::size_t, std::size_t)
{
    image.back() = 0x1A;
}
// The fourth record begins with a byte that is no deletion flag.
void FourthNotARecord(TBytes& image, std::size_t records, std::size_t length)
{
    image[records + 3 * length] = 'X';
}
// A mark after two records, then stale records of which the second is not one.
void PackThenGarbage(TBytes& image, std::size_t records, std::size_t length)
{
    image[records + 2 * length] = 0x1A;
    image[records + 3 * length] = 0x00;
}

const TCountCase kCountCases[] = {
    {"agrees", 5, 5, 0, true, TRecordCountVerdict::Agrees, 5, "совпадает"},
    {"agrees_without_end_mark", 4, 4, 0, false, TRecordCountVerdict::Agrees, 4, "совпадает"},
    {"empty", 0, 0, 0, true, TRecordCountVerdict::Agrees, 0, "совпадает"},
    {"short_by_3", 7, 10, 0, true, TRecordCountVerdict::CountLow, 10, "на 3 меньше; по длине файла 10"},
    {"long_by_2", 12, 10, 0, true, TRecordCountVerdict::CountHigh, 10, "на 2 больше; по длине файла 10"},
    {"partial_last_record", 10, 9, 57, true, TRecordCountVerdict::PartialRecord, std::nullopt,
     "неполная (57 байт из 169): число записей оставлено как есть"},
    {"partial_without_end_mark", 9, 9, 1, false, TRecordCountVerdict::PartialRecord, std::nullopt, "неполная (1 байт"},
    // Counting what lies after a mark written in place would propose 3.
    {"pack_left_stale_records", 1, 3, 0, true, TRecordCountVerdict::Agrees, 1,
     "совпадает; после метки конца (0x1A) 338 байт старых записей", PackAfterOne, 1},
    // Counting the zeros as a record would propose 4.
    {"crash_tail_of_zeros", 3, 4, 0, false, TRecordCountVerdict::Agrees, 3,
     "совпадает; после записей 169 нулевых байт без метки конца", LastRecordZeros, 3},
    {"zeros_after_a_mark_in_place", 3, 6, 0, false, TRecordCountVerdict::Agrees, 3,
     "совпадает; после метки конца (0x1A) 506 нулевых байт", MarkAfterThreeThenZeros, 3},
    // Taking the last byte for a mark would call the last record partial.
    {"last_data_byte_0x1A_without_mark", 4, 4, 0, false, TRecordCountVerdict::Agrees, 4, "совпадает",
     LastDataByteIsMarkByte},
    {"a_record_that_is_not_one", 3, 5, 0, true, TRecordCountVerdict::Unexplained, std::nullopt,
     "запись 4 начинается с байта 88 (0x58), а не с пробела или «*»: это не запись", FourthNotARecord, 5},
    {"mark_then_not_records", 2, 5, 0, true, TRecordCountVerdict::Unexplained, std::nullopt,
     "запись 3 начинается с байта 26 (0x1A)", PackThenGarbage, 5},
};

class RecordCount : public ::testing::TestWithParam<TCountCase> {};

TEST_P(RecordCount, ComparesTheHeaderWithTheFilesLength)
{
    const auto& c = GetParam();
    auto layout = PeopleTable(TText::Dos866, 0x26, c.HeaderCount);
    layout.actualRecords = c.Records;
    layout.partialRecordBytes = c.PartialBytes;
    layout.endOfFileMark = c.EndOfFileMark;
    TBytes image = layout.Build();
    if (c.Edit) c.Edit(image, layout.ComputedHeaderLength(), layout.ComputedRecordLength());
    TScratchDir dir;
    const auto check = Inspect(dir, image).RecordCount;
    const std::size_t inFile = c.InFile == SIZE_MAX ? c.Records : c.InFile;
    EXPECT_EQ(check.Verdict, c.Verdict);
    EXPECT_EQ(check.FileLength, image.size());
    EXPECT_EQ(check.WholeRecords, inFile);
    EXPECT_EQ(check.PartialBytes, c.PartialBytes);
    EXPECT_EQ(check.CountFromLength, c.FromLength);
    EXPECT_EQ(check.Reason.empty(), c.FromLength.has_value());
    if (!c.Edit) {
        EXPECT_EQ(check.EndOfFileMark, c.EndOfFileMark);
    }
    const std::string line = Describe(check);
    EXPECT_NE(line.find(c.Words), std::string::npos) << line;
    const nlohmann::json json = JsonOf(check);
    EXPECT_EQ(json["records_in_file"], inFile);
    EXPECT_EQ(json["count_from_length"].is_null(), !c.FromLength);
    std::cout << c.Label << ": " << line << "\n";
}

INSTANTIATE_TEST_SUITE_P(Tables, RecordCount, ::testing::ValuesIn(kCountCases),
                         [](const auto& info) { return std::string(info.param.Label); });

// A file that exists only as a rule for its bytes, counting what is read.
struct TVirtualFile {
    std::uint64_t Length;
    std::function<TByte(std::uint64_t)> ByteAt;
    std::uint64_t BytesRead = 0;
    TReadAt Reader()
    {
        return [this](std::uint64_t at, std::span<TByte> into) {
            if (at > Length || into.size() > Length - at) return false;
            BytesRead += into.size();
            for (std::size_t i = 0; i < into.size(); ++i) into[i] = ByteAt(at + i);
            return true;
        };
    }
};

TDBFHeader HeaderOf(std::uint32_t count, std::uint16_t headerLength, std::uint16_t recordLength)
{
    TDBFHeader header{};
    PutLE32(header.RecordCount, count);
    PutLE16(header.HeaderLength, headerLength);
    PutLE16(header.RecordLength, recordLength);
    return header;
}

// Lengths no file can have: nothing is counted and no count is offered.
TEST(RecordCountNonsense, OffersNoCountForImpossibleLengths)
{
    TVirtualFile blanks{1000, [](std::uint64_t) { return TByte{' '}; }};
    EXPECT_EQ(CheckRecordCount(HeaderOf(3, 97, 0), 1000, blanks.Reader()).Reason,
              "длина записи в заголовке 0: число записей оставлено как есть");
    EXPECT_EQ(CheckRecordCount(HeaderOf(3, 2000, 10), 1000, blanks.Reader()).Reason,
              "заголовок (2000 байт) длиннее файла (1000 байт): число записей оставлено как есть");
    EXPECT_EQ(CheckRecordCount(HeaderOf(3, 16, 10), 1000, blanks.Reader()).Verdict, TRecordCountVerdict::Unknowable);
    // More one-byte records than 32 bits can count: the mismatch is told, no count offered.
    blanks.Length = 33 + (1ULL << 32);
    const auto huge = CheckRecordCount(HeaderOf(3, 33, 1), blanks.Length, blanks.Reader());
    EXPECT_EQ(huge.Verdict, TRecordCountVerdict::CountLow);
    EXPECT_FALSE(huge.CountFromLength);
    EXPECT_NE(Describe(huge).find("оставлено как есть"), std::string::npos);
    // A header that fills the file: no records, whatever the count says.
    const auto bare = CheckRecordCount(HeaderOf(3, 33, 10), 33, blanks.Reader());
    EXPECT_EQ(bare.Verdict, TRecordCountVerdict::CountHigh);
    EXPECT_EQ(bare.CountFromLength, 0U);
    // A file that cannot be read is not counted.
    const auto failed = CheckRecordCount(HeaderOf(3, 100, 10), 1000, [](std::uint64_t, std::span<TByte>) { return false; });
    EXPECT_FALSE(failed.CountFromLength);
    EXPECT_FALSE(failed.Reason.empty());
}

// A table of 40 GiB is judged by a bounded part of it, whichever reading
// holds: the reads must not grow with the file.
TEST(RecordCountBounds, ReadsABoundedPartOfAHugeTable)
{
    constexpr std::uint16_t kHeader = 97;
    constexpr std::uint16_t kLength = 100;
    constexpr std::uint64_t kRecords = 400'000'000;
    constexpr std::uint64_t kBound = 2 * kSampleBudget + 4 * (64 << 10) + 64 * kLength;
    const struct {
        const char* Label;
        std::uint32_t HeaderCount;
        std::uint64_t PackedAt;  // where a mark stands over a record's flag; none: UINT64_MAX
        std::uint8_t Flag;       // every record's first byte
        std::optional<std::uint32_t> FromLength;
    } cases[] = {
        {"records fill it", 7, UINT64_MAX, ' ', static_cast<std::uint32_t>(kRecords)},
        {"packed to a third, stale records behind", kRecords / 3, kRecords / 3, '*', kRecords / 3},
        {"not records at all", 7, UINT64_MAX, 0, std::nullopt},
    };
    for (const auto& c : cases) {
        const std::uint64_t mark = c.PackedAt == UINT64_MAX ? UINT64_MAX : kHeader + c.PackedAt * kLength;
        TVirtualFile file{kHeader + kRecords * kLength, [&](std::uint64_t at) {
                              if (at == mark) return TByte{0x1A};
                              return (at - kHeader) % kLength == 0 ? c.Flag : TByte{'x'};
                          }};
        const auto check = CheckRecordCount(HeaderOf(c.HeaderCount, kHeader, kLength), file.Length, file.Reader());
        EXPECT_EQ(check.CountFromLength, c.FromLength) << c.Label << ": " << Describe(check);
        EXPECT_LE(file.BytesRead, kBound) << c.Label;
        EXPECT_GT(file.BytesRead, 0U) << c.Label;
    }
}

// The detector's rules on texts built here: a byte that already names the
// encoding is kept, thin evidence leaves the byte with the figures told, and
// encodings that read the sample alike are not rivals.
struct TRuleCase {
    const char* Label;
    std::string Text;  // as the table stores it
    TByte HeaderByte;
    TEncodingVerdict Verdict;
    const char* Charset;
    std::optional<TByte> CodePage;
    std::vector<std::string> ReadAlike;
    const char* Told;  // in the Russian line
};

const char* const kNames = "Иванов Иван Петрович, Петрова Мария Сергеевна; Сидоров Алексей Николаевич";
const char* const kUpperNames = "ИВАНОВ ИВАН ПЕТРОВИЧ, ПЕТРОВА МАРИЯ СЕРГЕЕВНА; СИДОРОВ АЛЕКСЕЙ НИКОЛАЕВИЧ";

}  // namespace

TEST(EncodingDetectionRules, DecidesOnlyOnProofAndKeepsARightByte)
{
    const std::string upperWithIo = Encode(std::string(kUpperNames) + " ВСЁ ЕЩЁ ЖДЁТ ЁЛКУ", TText::Dos866);
    // German in Windows-1252: its ü, ö, ä and ß read as Cyrillic letters inside Latin words.
    std::string german;
    for (int i = 0; i < 3; ++i) german += "M\xFC" "ller Stra\xDF" "e, K\xF6" "ln; J\xFC" "rgen Gr\xF6\xDF" "e, B\xE4" "rbel Sch\xE4" "fer ";
    const TRuleCase cases[] = {
        {"a one-word table in cp866", Encode("шт", TText::Dos866), 0, V::Unsure, "", std::nullopt, {},
         "не уверен: букв кириллицы 2 (нужно не меньше 12)"},
        {"a one-word table in cp1251", Encode("Ёж", TText::Win1251), 0, V::Unsure, "", std::nullopt, {},
         "букв кириллицы 2 (нужно не меньше 12)"},
        {"a short UTF-8 text", "Да", 0, V::Unsure, "", std::nullopt, {}, "букв кириллицы 2"},
        // е in Windows-1251 and MacCyrillic, Е in KOI8-R: a tie, told with the bits.
        {"no reading ahead of the others", std::string(20, static_cast<char>(0xE5)), 0, V::Unsure, "", std::nullopt, {},
         "WINDOWS-1251 — 71 бит, KOI8-R — 71 бит (разница 0, нужно не меньше 12)"},
        // Upper-case cp866 reads letter for letter the same in MacCyrillic:
        // writing 38 shows the same letters, and a byte naming either is kept.
        {"upper case cp866, unlabelled", Encode(kUpperNames, TText::Dos866), 0, V::Named, "IBM866", 38,
         {"MAC-CYRILLIC"}, "так же читается в MAC-CYRILLIC → байт 38"},
        {"upper case cp866, labelled 101", Encode(kUpperNames, TText::Dos866), 101, V::AlreadyNamed, "IBM866",
         std::nullopt, {"MAC-CYRILLIC"}, "в заголовке 101 (0x65): уже называет её"},
        {"upper case cp866, labelled MacCyrillic", Encode(kUpperNames, TText::Dos866), 0x96, V::AlreadyNamed,
         "MAC-CYRILLIC", std::nullopt, {"IBM866"}, "уже называет её, байт оставлен как есть"},
        // Ё is where the two differ: MacCyrillic reads it as a lower-case р.
        {"upper case cp866 with Ё", upperWithIo, 0x96, V::Named, "IBM866", 38, {}, "в заголовке 150 (0x96), это MAC-CYRILLIC: не совпадает"},
        {"cp1251 labelled 201", Encode(kNames, TText::Win1251), 201, V::AlreadyNamed, "WINDOWS-1251", std::nullopt,
         {}, "в заголовке 201 (0xC9): уже называет её"},
        {"cp1251 labelled Windows-1252", Encode(kNames, TText::Win1251), 0x03, V::Named, "WINDOWS-1251", 87, {},
         "это WINDOWS-1252: не совпадает"},
        // KOI8-R in upper case reads as lower-case Windows-1251 letters: never 87.
        {"upper case KOI8-R", Encode(kUpperNames, TText::Koi8r), 0, V::Unnamed, "KOI8-R", std::nullopt, {},
         "не называет KOI8-R"},
        {"ISO-8859-5", Encode(kNames, TText::Iso88595), 0, V::Unnamed, "ISO-8859-5", std::nullopt, {},
         "не называет ISO-8859-5"},
        {"MacCyrillic", Encode(kNames, TText::MacCyrillic), 0, V::Unnamed, "MAC-CYRILLIC", std::nullopt, {},
         "не называет MAC-CYRILLIC"},
        {"UTF-8", kNames, 38, V::Unnamed, "UTF-8", std::nullopt, {}, "не называет UTF-8"},
        {"German in Windows-1252", german, 0, V::Unsure, "", std::nullopt, {},
         "стоят вплотную к латинским буквам"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Label);
        const auto found = DetectEncoding(std::span(reinterpret_cast<const TByte*>(c.Text.data()), c.Text.size()),
                                          c.HeaderByte);
        EXPECT_EQ(found.Verdict, c.Verdict);
        EXPECT_EQ(found.Charset, c.Charset);
        EXPECT_EQ(found.CodePage, c.CodePage);
        EXPECT_EQ(found.ReadAlike, c.ReadAlike);
        EXPECT_EQ(found.Reason.empty(), found.CodePage.has_value()) << found.Reason;
        if (found.Verdict != V::Unsure) {
            EXPECT_GE(found.Letters, kMinLetters);
        }
        const std::string line = Describe(found);
        EXPECT_NE(line.find(c.Told), std::string::npos) << line;
        const nlohmann::json json = JsonOf(found);
        EXPECT_EQ(json["verdict"] == "unsure", c.Verdict == V::Unsure);
        EXPECT_EQ(json["cyrillic_letters"], found.Letters);
        EXPECT_EQ(json["reads_alike"], c.ReadAlike);
        EXPECT_EQ(json["best"].is_null() ? "" : json["best"]["charset"], found.Best);
        // What --codepage=auto does with it: a byte only where one was found
        // that the header does not already name.
        TCorrectionChoices choices;
        const auto notes = SettleChoices({{}, found}, {true, false}, choices);
        EXPECT_EQ(CodePageOfChoice(choices.CodePageChoice), c.CodePage);
        EXPECT_EQ(notes.empty(), c.CodePage.has_value());
    }
}

namespace {

// dbffix's --codepage=auto and --record-count=from-length: what check
// foresees, fix writes, and a table the records say nothing certain of keeps
// its byte or count, with the reason told.
struct TSettleCase {
    const char* Label;
    TTableLayout Layout;
    TByte CodePageAfter;
    std::uint32_t CountAfter;
    const char* Told;  // in check's and fix's output alike
};

TTableLayout WithCounts(TTableLayout layout, std::uint32_t header, std::size_t stored, std::size_t partial = 0)
{
    layout.recordCount = header;
    layout.actualRecords = stored;
    layout.partialRecordBytes = partial;
    return layout;
}

}  // namespace

TEST(DbfFixSettles, CodePageAndRecordCountByTheRecords)
{
    const TSettleCase cases[] = {
        {"DOS 866", PeopleTable(TText::Dos866, 0, 12), 38, 12, "кодовая страница 0 → 38"},
        {"Windows-1251", PeopleTable(TText::Win1251, 101, 12), 87, 12, "кодовая страница 101 → 87"},
        {"Windows-1251 labelled 201", PeopleTable(TText::Win1251, 201, 12), 201, 12,
         "кодовая страница оставлена: байт в заголовке уже называет WINDOWS-1251"},
        {"DOS 866 labelled 101", PeopleTable(TText::Dos866, 101, 12), 101, 12,
         "кодовая страница оставлена: байт в заголовке уже называет IBM866"},
        {"KOI8-R", PeopleTable(TText::Koi8r, 0, 12), 0, 12, "кодовая страница оставлена: "},
        {"ASCII only", PeopleTable(TText::Ascii, 38, 12), 38, 12, "кодовая страница оставлена: "},
        {"count short by 3", WithCounts(PeopleTable(TText::Dos866, 38, 0), 9, 12), 38, 12, "число записей 9 → 12"},
        {"count long by 2", WithCounts(PeopleTable(TText::Dos866, 38, 0), 14, 12), 38, 12, "число записей 14 → 12"},
        {"partial last record", WithCounts(PeopleTable(TText::Dos866, 38, 0), 12, 12, 57), 38, 12,
         "число записей оставлено: "},
    };
    TScratchDir dir;
    for (const auto& c : cases) {
        const std::string name = dir.File("settle.dbf");
        WriteAll(name, c.Layout.Build());
        const std::vector<std::string> asks = {"--codepage=auto", "--record-count=from-length", name};
        std::vector<std::string> check = {"check"};
        check.insert(check.end(), asks.begin(), asks.end());
        std::vector<std::string> fix = {"fix"};
        fix.insert(fix.end(), asks.begin(), asks.end());

        const TCliRun checked = RunDbfFix(check);
        EXPECT_EQ(checked.status, 1) << c.Label << checked.out;  // the reserved bytes are junk
        EXPECT_NE(checked.out.find(c.Told), std::string::npos) << c.Label << ":\n" << checked.out;
        const TCliRun fixed = RunDbfFix(fix);
        EXPECT_EQ(fixed.status, 0) << c.Label << fixed.out;
        const TBytes after = ReadAll(name);
        EXPECT_EQ(after[29], c.CodePageAfter) << c.Label;
        EXPECT_EQ(after[4] | (after[5] << 8), static_cast<int>(c.CountAfter)) << c.Label;
        // What was settled once is right the next time: check has nothing left.
        EXPECT_EQ(RunDbfFix(check).status, 0) << c.Label;
    }
    // Scripts get both findings.
    const auto shown = JsonLines(RunDbfFix({"show", "--json", dir.File("settle.dbf")}).out).at(0);
    // The byte written now names the encoding: nothing more to write.
    EXPECT_EQ(shown["encoding"]["verdict"], "already-named");
    EXPECT_EQ(shown["encoding"]["charset"], "IBM866");
    EXPECT_TRUE(shown["encoding"]["codepage"].is_null());
    EXPECT_TRUE(shown["record_count_check"].is_object());
}

namespace {

// A table whose second record is marked deleted.
TBytes WithSecondDeleted(TTableLayout layout)
{
    TBytes image = layout.Build();
    image.at(layout.ComputedHeaderLength() + layout.ComputedRecordLength()) = '*';
    return image;
}

TTableLayout BinaryIdTable()
{
    TTableLayout layout;
    layout.fields = {{"ID", 'I', 4}, {"NAME", 'C', 10}};
    layout.recordCount = 1;
    layout.rows = {{std::string("\x01\x00\x00\x80", 4), "Ivan"}};
    return layout;
}

// Four Cyrillic letters: too few to tell an encoding by.
TTableLayout FewLettersTable()
{
    TTableLayout layout = BinaryIdTable();
    layout.fields = {{"NAME", 'C', 10}};
    layout.rows = {{Encode("Иван", TText::Win1251)}};
    return layout;
}

// The widths add up to 11, the header says records are 15 long.
TTableLayout WidthsShortOfTheRecord()
{
    TTableLayout layout = PeopleTable(TText::Ascii, 0x65, 2);
    layout.fields = {{"A", 'C', 4}, {"B", 'C', 6}};
    layout.rows = {{"abcd", "efghij"}};
    layout.recordLength = 15;
    return layout;
}

}  // namespace

// show --records reads the first records as a reader places them by the
// header, in the encoding the header names, another byte names, or the
// records are found to be in.
TEST(ShowRecords, ReadThroughTheHeaderInTheEncodingAsked)
{
    const std::string ivanov = "Иванов Иван Петрович" + std::string(40, ' ');
    const std::string ivanov866 = Encode("Иванов Иван Петрович", TText::Dos866);
    struct TCase {
        const char* Label;
        TBytes Table;
        std::vector<std::string> Options;
        std::string Charset;  // "" where the texts are not read in any
        std::size_t Rows;
        std::string FirstValue;  // of the first record; "" where not checked
        const char* Told;        // in the people's output
        const char* Stop;        // "" where as many records as asked were shown
    };
    const TCase cases[] = {
        {"by the header's byte", PeopleTable(TText::Dos866, 0x65, 3).Build(), {"--records", "2"}, "IBM866", 2, ivanov,
         "«Иванов Иван Петрович»", ""},
        {"no byte: bytes shown as they are", PeopleTable(TText::Dos866, 0, 3).Build(), {"--records", "2"}, "", 2,
         Escaped(std::span(reinterpret_cast<const TByte*>(ivanov866.data()), ivanov866.size())) +
             std::string(40, ' '),
         "не называет кодировку", ""},
        {"by another byte", PeopleTable(TText::Dos866, 0, 3).Build(), {"--records", "1", "--codepage", "38"},
         "IBM866", 1, ivanov, "(по --codepage)", ""},
        {"by the texts", PeopleTable(TText::Win1251, 0, 12).Build(), {"--records", "1", "--codepage=auto"},
         "WINDOWS-1251", 1, ivanov, "(найдена по записям)", ""},
        {"the texts too few to tell", FewLettersTable().Build(), {"--records", "1", "--codepage=auto"}, "", 1, "",
         "по текстам записей кодировка не определена", ""},
        {"deleted, and past the header's count", WithSecondDeleted(WithCounts(PeopleTable(TText::Dos866, 0x65, 0), 1, 3)),
         {"--records", "9"}, "IBM866", 3, ivanov, "№ 2 (удалена) (за последней записью", "дальше метка конца файла"},
        {"binary fields in hex", BinaryIdTable().Build(), {"--records", "1"}, "IBM866", 1, "01000080",
         "0x01000080", ""},
        {"a record cut short", WithCounts(PeopleTable(TText::Dos866, 0x65, 0), 2, 1, 57).Build(), {"--records", "3"},
         "IBM866", 1, ivanov, "запись 2 обрезана концом файла", "запись 2 обрезана концом файла"},
        {"placed by the widths, not the record length", WidthsShortOfTheRecord().Build(), {"--records", "1"}, "IBM866",
         1, "abcd", "«efghij»", ""},
        {"dBase 7's descriptors place no field", DBase7Tables()[0], {"--records", "1"},
         std::string(CodePageEncoding(DBase7Tables()[0].at(29))), 0, "", "dBase 7",
         "записи таблицы dBase 7"},
    };
    TScratchDir dir;
    for (const auto& c : cases) {
        const std::string name = dir.File("records.dbf");
        WriteAll(name, c.Table);
        std::vector<std::string> arguments{"show"};
        arguments.insert(arguments.end(), c.Options.begin(), c.Options.end());
        arguments.push_back(name);
        const TCliRun people = RunDbfFix(arguments);
        EXPECT_NE(people.out.find(c.Told), std::string::npos) << c.Label << ":\n" << people.out << people.err;
        arguments.insert(arguments.begin() + 1, "--json");
        const TCliRun scripts = RunDbfFix(arguments);
        EXPECT_EQ(people.status, scripts.status) << c.Label;
        const auto records = JsonLines(scripts.out).at(0)["records"];
        ASSERT_TRUE(records.is_object()) << c.Label << scripts.out;
        EXPECT_EQ(records["charset"].is_null() ? "" : records["charset"].get<std::string>(), c.Charset) << c.Label;
        EXPECT_EQ(records["rows"].size(), c.Rows) << c.Label;
        if (!c.FirstValue.empty()) {
            EXPECT_EQ(records["rows"].at(0)["values"].at(0), c.FirstValue) << c.Label;
        }
        EXPECT_EQ(records["stop"].is_null() ? "" : records["stop"].get<std::string>().substr(0, std::strlen(c.Stop)),
                  c.Stop)
            << c.Label;
        for (const auto& row : records["rows"]) EXPECT_EQ(row["values"].size(), records["fields"].size()) << c.Label;
        EXPECT_EQ(ReadAll(name), c.Table) << c.Label << ": looking writes nothing";
    }
}

// The records' texts are read by the system's converter (iconv; Windows's
// code pages under wine): every encoding a code page byte names reads, and
// bytes that do not decode are told, not guessed.
TEST(ShowRecords, TextsReadByTheSystemsConverter)
{
    struct TCase {
        const char* Charset;
        std::string Bytes;
        std::optional<std::string> Text;
    };
    const TCase cases[] = {
        {"IBM866", "\x88\xA2\xA0\xAD", "Иван"},
        {"WINDOWS-1251", "\xC8\xE2\xE0\xED", "Иван"},
        {"KOI8-R", "\xE9\xD7\xC1\xCE", "Иван"},
        {"MAC-CYRILLIC", "\x88\xE2\xE0\xED", "Иван"},
        {"ISO-8859-5", "\xB8\xD2\xD0\xDD", "Иван"},
        {"CP932", "\x93\xFA\x96\x7B", "日本"},
        {"WINDOWS-1252", "caf\xE9", "café"},
        {"IBM850", "caf\x82", "café"},
        {"MACINTOSH", "caf\x8E", "café"},
        {"UTF-8", "\xD0\x98", "И"},
        {"IBM866", "", ""},
        {"UTF-8", "\xD0", std::nullopt},
        {"CP932", "\x93", std::nullopt},
        {"NO-SUCH-ENCODING", "abc", std::nullopt},
    };
    for (const auto& c : cases) {
        const auto bytes = std::span(reinterpret_cast<const TByte*>(c.Bytes.data()), c.Bytes.size());
        EXPECT_EQ(DecodeText(c.Charset, bytes), c.Text) << c.Charset << " " << c.Bytes;
    }
    // Each byte's encoding reads, or the records say the system lacks it.
    for (const auto& page : KnownCodePages()) {
        TRecordsAsk ask;
        ask.Count = 1;
        ask.CodePage = page.Byte;
        const TRecordsShown shown = ChooseEncoding(ask, 0, "");
        EXPECT_NE(shown.Charset.empty(), shown.NotDecoded.empty()) << static_cast<int>(page.Byte);
        EXPECT_TRUE(shown.Charset.empty() || shown.Charset == page.Encoding) << static_cast<int>(page.Byte);
        const std::string ascii = "NAME 12";
        if (!shown.Charset.empty()) {
            EXPECT_EQ(DecodeText(shown.Charset, std::span(reinterpret_cast<const TByte*>(ascii.data()), ascii.size())),
                      ascii)
                << page.Encoding;
        }
    }
}
