// SPDX-License-Identifier: MIT
// The encoding detector on tables of Russian prose: fortunes-ru's sayings,
// cut into records of 1 to 60, mixed case and upper case, in IBM866,
// Windows-1251 and KOI8-R, plus one-word tables and tables already labelled.
// The texts are encoded by the platform's own converter (iconv here,
// WideCharToMultiByte under Windows), not by the detector's tables, so that a
// wrong table shows. The table of results is printed.
//
// What --codepage=auto must never do is write a wrong byte; where it
// decides, it must decide right, and on 30 Cyrillic letters or more it must
// decide nearly always.
#include "Detection.h"
#include "DbfFormat.h"
#include "TableReport.h"
#include "TestSupport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <cstdio>
#include <filesystem>
#include <map>
#include <random>
#include <string>
#include <vector>

#ifdef _WIN32
#include <windows.h>
#else
#include <iconv.h>
#endif

namespace {

// The sayings as Debian installs them; under wine the same files are on Z:.
#ifdef _WIN32
const char* const kProseFolder = "Z:\\usr\\share\\games\\fortunes\\ru";
#else
const char* const kProseFolder = "/usr/share/games/fortunes/ru";
#endif

std::u32string Decode(std::string_view utf8)
{
    std::u32string out;
    for (std::size_t i = 0; i < utf8.size();) {
        const auto lead = static_cast<unsigned char>(utf8[i]);
        const std::size_t extra = lead < 0x80 ? 0 : lead < 0xE0 ? 1 : lead < 0xF0 ? 2 : 3;
        char32_t code = extra == 0 ? lead : lead & (0x3FU >> extra);
        for (std::size_t k = 1; k <= extra && i + k < utf8.size(); ++k) {
            code = (code << 6) | (static_cast<unsigned char>(utf8[i + k]) & 0x3FU);
        }
        out.push_back(code);
        i += extra + 1;
    }
    return out;
}

std::string EncodeUtf8(std::u32string_view text)
{
    std::string out;
    for (const char32_t c : text) {
        if (c < 0x80) {
            out.push_back(static_cast<char>(c));
        } else {  // Cyrillic only: two bytes
            out.push_back(static_cast<char>(0xC0 | (c >> 6)));
            out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
        }
    }
    return out;
}

bool IsRussianLetter(char32_t c)
{
    return (c >= U'А' && c <= U'я') || c == U'Ё' || c == U'ё';
}

// The saying's words, kept to what every one of the encodings holds: ASCII
// and the Russian letters; anything else (dashes, quotes) is a blank.
std::vector<std::u32string> Words(std::string_view utf8)
{
    std::vector<std::u32string> words(1);
    for (const char32_t c : Decode(utf8)) {
        if ((c > 0x20 && c < 0x7F) || IsRussianLetter(c)) {
            words.back().push_back(c);
        } else if (!words.back().empty()) {
            words.emplace_back();
        }
    }
    if (words.back().empty()) words.pop_back();
    return words;
}

std::u32string Upper(std::u32string text)
{
    for (auto& c : text) {
        if (c >= U'а' && c <= U'я') c -= 0x20;
        if (c == U'ё') c = U'Ё';
        if (c >= U'a' && c <= U'z') c -= 0x20;
    }
    return text;
}

// The platform's converter, from UTF-8 to the encoding as iconv names it.
std::string Encode(const std::u32string& text, const std::string& charset)
{
    const std::string utf8 = EncodeUtf8(text);
#ifdef _WIN32
    const std::map<std::string, UINT> pages = {{"IBM866", 866},    {"WINDOWS-1251", 1251}, {"KOI8-R", 20866},
                                               {"ISO-8859-5", 28595}, {"MAC-CYRILLIC", 10007}};
    std::wstring wide(utf8.size(), L'\0');
    wide.resize(static_cast<std::size_t>(
        MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), wide.data(), static_cast<int>(wide.size()))));
    std::string out(wide.size(), '\0');
    BOOL lost = FALSE;
    out.resize(static_cast<std::size_t>(WideCharToMultiByte(pages.at(charset), 0, wide.data(), static_cast<int>(wide.size()),
                                                            out.data(), static_cast<int>(out.size()), nullptr, &lost)));
    EXPECT_FALSE(lost) << charset;
    return out;
#else
    const iconv_t converter = iconv_open(charset.c_str(), "UTF-8");
    EXPECT_NE(converter, reinterpret_cast<iconv_t>(-1)) << charset;
    std::string in = utf8;
    std::string out(in.size(), '\0');
    char* from = in.data();
    char* to = out.data();
    std::size_t fromLeft = in.size();
    std::size_t toLeft = out.size();
    EXPECT_NE(iconv(converter, &from, &fromLeft, &to, &toLeft), static_cast<std::size_t>(-1)) << charset;
    iconv_close(converter);
    out.resize(out.size() - toLeft);
    return out;
#endif
}

// Every word of the sayings, in the order of the files.
std::vector<std::u32string> Prose()
{
    std::vector<std::filesystem::path> files;
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator(kProseFolder, error)) {
        const auto name = entry.path().filename().string();
        // The .dat files are indexes; the .u8 names are links to the same texts.
        if (entry.is_regular_file() && entry.path().extension() != ".dat" && entry.path().extension() != ".u8") {
            files.push_back(entry.path());
        }
    }
    std::sort(files.begin(), files.end());
    std::vector<std::u32string> words;
    for (const auto& file : files) {
        const TBytes bytes = ReadAll(file);
        for (auto& word : Words(std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size()))) {
            if (word != U"%") words.push_back(std::move(word));
        }
    }
    return words;
}

struct TSample {
    std::string Charset;
    bool UpperCase = false;
    std::vector<std::u32string> Records;
    TByte HeaderByte = 0;
    std::uint64_t Letters = 0;
};

// Records of up to `width` characters of consecutive words from `from`.
std::vector<std::u32string> Records(const std::vector<std::u32string>& prose, std::size_t from, std::size_t count,
                                    std::size_t width)
{
    std::vector<std::u32string> records;
    std::u32string record;
    for (std::size_t i = from; records.size() < count; i = (i + 1) % prose.size()) {
        const std::u32string& word = prose[i].substr(0, width);
        if (!record.empty() && record.size() + 1 + word.size() > width) {
            records.push_back(std::move(record));
            record.clear();
        }
        record += (record.empty() ? U"" : U" ") + word;
    }
    return records;
}

struct TTally {
    int Samples = 0;
    int Right = 0;
    int Unsure = 0;
    int WrongByte = 0;
    int Misnamed = 0;  // another encoding named, though no byte written
    int Plenty = 0;    // samples of 30 Cyrillic letters or more
    int PlentyRight = 0;
};

}  // namespace

TEST(EncodingDetectionOnProse, NeverWritesAWrongByteAndDecidesOnEnoughLetters)
{
    const auto prose = Prose();
    ASSERT_GT(prose.size(), 10000U) << "the sayings of fortunes-ru are not in " << kProseFolder;
    // DBF_DETECT_PROSE_TABLES: more tables per encoding and case, for a longer measurement.
    const char* asked = std::getenv("DBF_DETECT_PROSE_TABLES");
    const int proseTables = asked ? std::clamp(std::atoi(asked), 1, 100000) : 150;
    std::mt19937 random(18);
    const auto uniform = [&random](std::size_t low, std::size_t high) {
        return low + static_cast<std::size_t>(random() % (high - low + 1));
    };
    std::vector<TSample> samples;
    for (const char* charset : {"IBM866", "WINDOWS-1251", "KOI8-R"}) {
        for (const bool upper : {false, true}) {
            const auto add = [&](std::vector<std::u32string> records, TByte headerByte) {
                TSample sample{charset, upper, std::move(records), headerByte, 0};
                for (auto& record : sample.Records) {
                    if (upper) record = Upper(record);
                    sample.Letters += static_cast<std::uint64_t>(std::count_if(record.begin(), record.end(), IsRussianLetter));
                }
                samples.push_back(std::move(sample));
            };
            for (int i = 0; i < proseTables; ++i) {
                // Every other table of 1 to 3 records, where the evidence is thin.
                add(Records(prose, uniform(0, prose.size() - 1), uniform(1, i % 2 == 0 ? 60 : 3), 40), 0);
            }
            for (int i = 0; i < 8;) {
                const auto& word = prose[uniform(0, prose.size() - 1)];
                if (std::any_of(word.begin(), word.end(), IsRussianLetter)) {
                    add({word}, 0);
                    ++i;
                }
            }
            // Labelled already, with the bytes the tool writes and the later xBase ones.
            for (const TByte label : {TByte{38}, TByte{101}, TByte{87}, TByte{201}}) {
                if (CodePageEncoding(label) == charset) {
                    for (int i = 0; i < 4; ++i) add(Records(prose, uniform(0, prose.size() - 1), uniform(1, 20), 40), label);
                }
            }
        }
    }

    std::map<std::pair<std::string, bool>, TTally> tallies;
    TScratchDir dir;
    const std::string name = dir.File("prose.dbf");
    for (const auto& sample : samples) {
        TTableLayout layout;
        layout.fields = {{"TEXT", 'C', 40}, {"N", 'N', 5}};
        layout.languageDriver = sample.HeaderByte;
        layout.recordCount = static_cast<std::uint32_t>(sample.Records.size());
        for (const auto& record : sample.Records) layout.rows.push_back({Encode(record, sample.Charset), "    1"});
        WriteAll(name, layout.Build());
        TDBF table;
        table.SetTableName(name);
        table.Open();
        ASSERT_TRUE(table.HeaderRead());
        const TTableFindings findings = InspectTable(table);
        table.Stream().Close();

        TCorrectionChoices choices;
        SettleChoices(findings, {true, false}, choices);
        const TByte after = CodePageOfChoice(choices.CodePageChoice).value_or(sample.HeaderByte);
        const auto& found = findings.Encoding;
        TTally& tally = tallies[{sample.Charset, sample.UpperCase}];
        ++tally.Samples;
        const bool plenty = sample.Letters >= 30;
        tally.Plenty += plenty;
        // A byte written must name the encoding; a byte kept must have named it.
        const bool byteRight = after == sample.HeaderByte ? found.Verdict != TEncodingVerdict::AlreadyNamed ||
                                                                CodePageEncoding(after) == sample.Charset
                                                          : CodePageEncoding(after) == sample.Charset;
        if (!byteRight) {
            ++tally.WrongByte;
            ADD_FAILURE() << sample.Charset << (sample.UpperCase ? " upper case, " : ", ") << sample.Records.size()
                          << " records: " << Describe(found);
        } else if (found.Verdict == TEncodingVerdict::Unsure || found.Verdict == TEncodingVerdict::NoHighBytes) {
            ++tally.Unsure;

        } else if (found.Charset != sample.Charset &&
                   std::find(found.ReadAlike.begin(), found.ReadAlike.end(), sample.Charset) == found.ReadAlike.end()) {
            ++tally.Misnamed;
            ADD_FAILURE() << sample.Charset << " named " << found.Charset << ": " << Describe(found);
        } else {
            ++tally.Right;
            tally.PlentyRight += plenty;
        }
    }

    std::printf("%-13s %-8s %7s %6s %9s %6s %9s   %s\n", "encoding", "case", "samples", "right", "not sure", "wrong",
                "misnamed", "of 30+ letters: right");
    for (const auto& [key, t] : tallies) {
        std::printf("%-13s %-8s %7d %6d %9d %6d %9d   %d of %d\n", key.first.c_str(), key.second ? "upper" : "mixed",
                    t.Samples, t.Right, t.Unsure, t.WrongByte, t.Misnamed, t.PlentyRight, t.Plenty);
        if (key.first != "KOI8-R") {
            // IBM866 and Windows-1251 are what the tool writes bytes for.
            EXPECT_GE(t.PlentyRight * 100, t.Plenty * 95) << key.first << (key.second ? " upper case" : " mixed case");
        }
    }
}
