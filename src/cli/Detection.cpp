// SPDX-License-Identifier: MIT
#include "Detection.h"

#include "DbfFormat.h"
#include "ProcessFile.h"
#include "Russian.h"

#include "JsonWriter.h"

#include <algorithm>
#include <array>
#include <bitset>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <iterator>
#include <numeric>
#include <string_view>

namespace {

const char* const kLeftAsItIs = ": байт оставлен как есть";

std::string ByteText(TByte byte)
{
    char text[16];
    std::snprintf(text, sizeof text, "%u (0x%02X)", static_cast<unsigned>(byte), static_cast<unsigned>(byte));
    return text;
}

// Eight bytes at a time: most of a sample's texts are plain ASCII or blank,
// and every one of their bytes is looked at.
bool HasHighByte(std::span<const TByte> texts)
{
    std::uint64_t any = 0;
    std::size_t at = 0;
    for (; at + 8 <= texts.size(); at += 8) {
        std::uint64_t eight;
        std::memcpy(&eight, texts.data() + at, 8);
        any |= eight;
    }
    for (; at < texts.size(); ++at) any |= texts[at];
    return (any & 0x8080808080808080ULL) != 0;
}

// ---- The detector ----
//
// Each Cyrillic encoding puts the Russian letters at other byte values, so
// the question is which reading of the bytes above 127 looks like Russian:
// each byte costs the bits of its letter's frequency in Russian text (case
// folded, so that upper-case DOS tables read as well as mixed case), and
// much more where it reads as pseudo-graphics, a control byte, a rare symbol
// or a letter of another Cyrillic language. The cheapest reading wins, on
// enough letters and by a clear margin.

// The bytes 0x80..0xFF of the single-byte candidates, as code points; 0xFFFF
// where the encoding has no character.
struct TSingleByteEncoding {
    std::string_view Name;
    std::array<std::uint16_t, 128> High;
};

constexpr std::array<TSingleByteEncoding, 5> kEncodings{{
    {"IBM866", {{
        0x0410, 0x0411, 0x0412, 0x0413, 0x0414, 0x0415, 0x0416, 0x0417, 0x0418, 0x0419, 0x041A, 0x041B, 0x041C, 0x041D, 0x041E, 0x041F,
        0x0420, 0x0421, 0x0422, 0x0423, 0x0424, 0x0425, 0x0426, 0x0427, 0x0428, 0x0429, 0x042A, 0x042B, 0x042C, 0x042D, 0x042E, 0x042F,
        0x0430, 0x0431, 0x0432, 0x0433, 0x0434, 0x0435, 0x0436, 0x0437, 0x0438, 0x0439, 0x043A, 0x043B, 0x043C, 0x043D, 0x043E, 0x043F,
        0x2591, 0x2592, 0x2593, 0x2502, 0x2524, 0x2561, 0x2562, 0x2556, 0x2555, 0x2563, 0x2551, 0x2557, 0x255D, 0x255C, 0x255B, 0x2510,
        0x2514, 0x2534, 0x252C, 0x251C, 0x2500, 0x253C, 0x255E, 0x255F, 0x255A, 0x2554, 0x2569, 0x2566, 0x2560, 0x2550, 0x256C, 0x2567,
        0x2568, 0x2564, 0x2565, 0x2559, 0x2558, 0x2552, 0x2553, 0x256B, 0x256A, 0x2518, 0x250C, 0x2588, 0x2584, 0x258C, 0x2590, 0x2580,
        0x0440, 0x0441, 0x0442, 0x0443, 0x0444, 0x0445, 0x0446, 0x0447, 0x0448, 0x0449, 0x044A, 0x044B, 0x044C, 0x044D, 0x044E, 0x044F,
        0x0401, 0x0451, 0x0404, 0x0454, 0x0407, 0x0457, 0x040E, 0x045E, 0x00B0, 0x2219, 0x00B7, 0x221A, 0x2116, 0x00A4, 0x25A0, 0x00A0,
    }}},
    {"WINDOWS-1251", {{
        0x0402, 0x0403, 0x201A, 0x0453, 0x201E, 0x2026, 0x2020, 0x2021, 0x20AC, 0x2030, 0x0409, 0x2039, 0x040A, 0x040C, 0x040B, 0x040F,
        0x0452, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014, 0xFFFF, 0x2122, 0x0459, 0x203A, 0x045A, 0x045C, 0x045B, 0x045F,
        0x00A0, 0x040E, 0x045E, 0x0408, 0x00A4, 0x0490, 0x00A6, 0x00A7, 0x0401, 0x00A9, 0x0404, 0x00AB, 0x00AC, 0x00AD, 0x00AE, 0x0407,
        0x00B0, 0x00B1, 0x0406, 0x0456, 0x0491, 0x00B5, 0x00B6, 0x00B7, 0x0451, 0x2116, 0x0454, 0x00BB, 0x0458, 0x0405, 0x0455, 0x0457,
        0x0410, 0x0411, 0x0412, 0x0413, 0x0414, 0x0415, 0x0416, 0x0417, 0x0418, 0x0419, 0x041A, 0x041B, 0x041C, 0x041D, 0x041E, 0x041F,
        0x0420, 0x0421, 0x0422, 0x0423, 0x0424, 0x0425, 0x0426, 0x0427, 0x0428, 0x0429, 0x042A, 0x042B, 0x042C, 0x042D, 0x042E, 0x042F,
        0x0430, 0x0431, 0x0432, 0x0433, 0x0434, 0x0435, 0x0436, 0x0437, 0x0438, 0x0439, 0x043A, 0x043B, 0x043C, 0x043D, 0x043E, 0x043F,
        0x0440, 0x0441, 0x0442, 0x0443, 0x0444, 0x0445, 0x0446, 0x0447, 0x0448, 0x0449, 0x044A, 0x044B, 0x044C, 0x044D, 0x044E, 0x044F,
    }}},
    {"KOI8-R", {{
        0x2500, 0x2502, 0x250C, 0x2510, 0x2514, 0x2518, 0x251C, 0x2524, 0x252C, 0x2534, 0x253C, 0x2580, 0x2584, 0x2588, 0x258C, 0x2590,
        0x2591, 0x2592, 0x2593, 0x2320, 0x25A0, 0x2219, 0x221A, 0x2248, 0x2264, 0x2265, 0x00A0, 0x2321, 0x00B0, 0x00B2, 0x00B7, 0x00F7,
        0x2550, 0x2551, 0x2552, 0x0451, 0x2553, 0x2554, 0x2555, 0x2556, 0x2557, 0x2558, 0x2559, 0x255A, 0x255B, 0x255C, 0x255D, 0x255E,
        0x255F, 0x2560, 0x2561, 0x0401, 0x2562, 0x2563, 0x2564, 0x2565, 0x2566, 0x2567, 0x2568, 0x2569, 0x256A, 0x256B, 0x256C, 0x00A9,
        0x044E, 0x0430, 0x0431, 0x0446, 0x0434, 0x0435, 0x0444, 0x0433, 0x0445, 0x0438, 0x0439, 0x043A, 0x043B, 0x043C, 0x043D, 0x043E,
        0x043F, 0x044F, 0x0440, 0x0441, 0x0442, 0x0443, 0x0436, 0x0432, 0x044C, 0x044B, 0x0437, 0x0448, 0x044D, 0x0449, 0x0447, 0x044A,
        0x042E, 0x0410, 0x0411, 0x0426, 0x0414, 0x0415, 0x0424, 0x0413, 0x0425, 0x0418, 0x0419, 0x041A, 0x041B, 0x041C, 0x041D, 0x041E,
        0x041F, 0x042F, 0x0420, 0x0421, 0x0422, 0x0423, 0x0416, 0x0412, 0x042C, 0x042B, 0x0417, 0x0428, 0x042D, 0x0429, 0x0427, 0x042A,
    }}},
    {"ISO-8859-5", {{
        0x0080, 0x0081, 0x0082, 0x0083, 0x0084, 0x0085, 0x0086, 0x0087, 0x0088, 0x0089, 0x008A, 0x008B, 0x008C, 0x008D, 0x008E, 0x008F,
        0x0090, 0x0091, 0x0092, 0x0093, 0x0094, 0x0095, 0x0096, 0x0097, 0x0098, 0x0099, 0x009A, 0x009B, 0x009C, 0x009D, 0x009E, 0x009F,
        0x00A0, 0x0401, 0x0402, 0x0403, 0x0404, 0x0405, 0x0406, 0x0407, 0x0408, 0x0409, 0x040A, 0x040B, 0x040C, 0x00AD, 0x040E, 0x040F,
        0x0410, 0x0411, 0x0412, 0x0413, 0x0414, 0x0415, 0x0416, 0x0417, 0x0418, 0x0419, 0x041A, 0x041B, 0x041C, 0x041D, 0x041E, 0x041F,
        0x0420, 0x0421, 0x0422, 0x0423, 0x0424, 0x0425, 0x0426, 0x0427, 0x0428, 0x0429, 0x042A, 0x042B, 0x042C, 0x042D, 0x042E, 0x042F,
        0x0430, 0x0431, 0x0432, 0x0433, 0x0434, 0x0435, 0x0436, 0x0437, 0x0438, 0x0439, 0x043A, 0x043B, 0x043C, 0x043D, 0x043E, 0x043F,
        0x0440, 0x0441, 0x0442, 0x0443, 0x0444, 0x0445, 0x0446, 0x0447, 0x0448, 0x0449, 0x044A, 0x044B, 0x044C, 0x044D, 0x044E, 0x044F,
        0x2116, 0x0451, 0x0452, 0x0453, 0x0454, 0x0455, 0x0456, 0x0457, 0x0458, 0x0459, 0x045A, 0x045B, 0x045C, 0x00A7, 0x045E, 0x045F,
    }}},
    {"MAC-CYRILLIC", {{
        0x0410, 0x0411, 0x0412, 0x0413, 0x0414, 0x0415, 0x0416, 0x0417, 0x0418, 0x0419, 0x041A, 0x041B, 0x041C, 0x041D, 0x041E, 0x041F,
        0x0420, 0x0421, 0x0422, 0x0423, 0x0424, 0x0425, 0x0426, 0x0427, 0x0428, 0x0429, 0x042A, 0x042B, 0x042C, 0x042D, 0x042E, 0x042F,
        0x2020, 0x00B0, 0x0490, 0x00A3, 0x00A7, 0x2022, 0x00B6, 0x0406, 0x00AE, 0x00A9, 0x2122, 0x0402, 0x0452, 0x2260, 0x0403, 0x0453,
        0x221E, 0x00B1, 0x2264, 0x2265, 0x0456, 0x00B5, 0x0491, 0x0408, 0x0404, 0x0454, 0x0407, 0x0457, 0x0409, 0x0459, 0x040A, 0x045A,
        0x0458, 0x0405, 0x00AC, 0x221A, 0x0192, 0x2248, 0x2206, 0x00AB, 0x00BB, 0x2026, 0x00A0, 0x040B, 0x045B, 0x040C, 0x045C, 0x0455,
        0x2013, 0x2014, 0x201C, 0x201D, 0x2018, 0x2019, 0x00F7, 0x201E, 0x040E, 0x045E, 0x040F, 0x045F, 0x2116, 0x0401, 0x0451, 0x044F,
        0x0430, 0x0431, 0x0432, 0x0433, 0x0434, 0x0435, 0x0436, 0x0437, 0x0438, 0x0439, 0x043A, 0x043B, 0x043C, 0x043D, 0x043E, 0x043F,
        0x0440, 0x0441, 0x0442, 0x0443, 0x0444, 0x0445, 0x0446, 0x0447, 0x0448, 0x0449, 0x044A, 0x044B, 0x044C, 0x044D, 0x044E, 0x00A4,
    }}},
}};

// How often each Russian letter а..я is met in prose, per mille (ё counted as е).
constexpr std::array<int, 32> kLetterPerMille = {80, 16, 45, 17, 30, 85, 9, 17, 74, 12, 35, 44, 32, 67, 110, 28,
                                                 47, 55, 63, 26, 3,  10, 5, 14, 7,  4,  1,  19, 17, 3,  6,  20};

// What a byte reads as, beyond its letter: costs in bits, as if that many
// bits of surprise. Dashes, quotes and the like are common enough in texts;
// box drawing, controls and bytes of no character are not.
constexpr double kTypographyBits = 9;
constexpr double kForeignLetterBits = 12;
constexpr double kSymbolBits = 14;
constexpr double kControlBits = 24;
// An upper-case letter right after a lower-case one: "иВАНОВ" is how a
// mixed-case text reads in the wrong one of two encodings that swap cases.
constexpr double kCaseBreakBits = 8;

enum class TReading : std::uint8_t { Letter, Typography, ForeignLetter, Symbol, Control };

struct TByteReading {
    TReading Reading = TReading::Control;
    std::uint8_t Letter = 0;  // а = 0 .. я = 31, for a Russian letter
    bool Upper = false;
    bool Dash = false;        // a typographic dash
    bool Numero = false;      // the sign "№"
    bool Opens = false;       // "«", never after a letter
    bool Closes = false;      // "»", never before one
};

TByteReading ReadingOf(std::uint16_t code)
{
    TByteReading reading;
    if (code >= 0x0410 && code <= 0x044F) {
        reading.Reading = TReading::Letter;
        reading.Upper = code < 0x0430;
        reading.Letter = static_cast<std::uint8_t>((code - 0x0410) % 32);
    } else if (code == 0x0401 || code == 0x0451) {  // Ё, ё
        reading.Reading = TReading::Letter;
        reading.Upper = code == 0x0401;
        reading.Letter = 5;
    } else if (code >= 0x0400 && code <= 0x04FF) {
        reading.Reading = TReading::ForeignLetter;
    } else if (code == 0x00A0 || code == 0x00AB || code == 0x00BB || code == 0x00A7 || code == 0x00B0 ||
               code == 0x2116 || code == 0x2013 || code == 0x2014 || code == 0x2026 || code == 0x2018 ||
               code == 0x2019 || code == 0x201C || code == 0x201D || code == 0x201E) {
        reading.Reading = TReading::Typography;
        reading.Dash = code == 0x2013 || code == 0x2014;
        reading.Numero = code == 0x2116;
        reading.Opens = code == 0x00AB;
        reading.Closes = code == 0x00BB;
    } else if (code < 0x00A0 || code == 0xFFFF) {
        reading.Reading = TReading::Control;
    } else {
        reading.Reading = TReading::Symbol;
    }
    return reading;
}

// Pairs of letters Russian words do not have: no word begins with ъ, ь or
// ы, no vowel or й is followed by ъ or ь, and й follows a vowel. In the wrong
// one of two encodings that share the letters' byte range, common words turn
// into such pairs ("я" read as "Ъ").
constexpr std::uint8_t kNoLetter = 0xFF;  // a word's start: no Russian letter before
constexpr double kOddPairBits = 8;

bool IsVowel(std::uint8_t letter)
{
    constexpr std::uint32_t kVowels = (1U << 0) | (1U << 5) | (1U << 8) | (1U << 14) | (1U << 19) | (1U << 27) |
                                      (1U << 29) | (1U << 30) | (1U << 31);  // а е и о у ы э ю я
    return ((kVowels >> letter) & 1U) != 0;
}

bool Follows(std::uint8_t before, std::uint8_t letter)
{
    constexpr std::uint8_t kShort = 9;  // й
    constexpr std::uint8_t kHard = 26;  // ъ
    constexpr std::uint8_t kYery = 27;  // ы
    constexpr std::uint8_t kSoft = 28;  // ь
    const bool sign = letter == kHard || letter == kSoft;
    if (before == kNoLetter) return !sign && letter != kYery;
    if (sign) return !IsVowel(before) && before != kShort && before != kHard && before != kSoft;
    if (letter == kShort) return IsVowel(before);
    return true;
}

struct TReadings {
    std::array<std::array<TByteReading, 128>, kEncodings.size()> Bytes;
    std::array<double, 32> LetterBits;
};

const TReadings& Readings()
{
    static const TReadings readings = [] {
        TReadings r{};
        for (std::size_t e = 0; e < kEncodings.size(); ++e) {
            for (std::size_t b = 0; b < 128; ++b) r.Bytes[e][b] = ReadingOf(kEncodings[e].High[b]);
        }
        const int total = std::accumulate(kLetterPerMille.begin(), kLetterPerMille.end(), 0);
        for (std::size_t i = 0; i < 32; ++i) r.LetterBits[i] = -std::log2(double(kLetterPerMille[i]) / total);
        return r;
    }();
    return readings;
}

struct TReadingScore {
    double Bits = 0;
    std::uint64_t Letters = 0;
    std::uint64_t AmongLatin = 0;  // of the letters, those written against a Latin letter
};

bool IsLatinLetter(TByte byte)
{
    return (byte >= 'A' && byte <= 'Z') || (byte >= 'a' && byte <= 'z');
}

TReadingScore ScoreReading(std::span<const TByte> texts, std::size_t encoding)
{
    const TReadings& readings = Readings();
    const auto readingAt = [&](std::size_t at) -> const TByteReading* {
        return at < texts.size() && texts[at] >= 0x80 ? &readings.Bytes[encoding][texts[at] - 0x80U] : nullptr;
    };
    const auto isLetter = [&](std::size_t at) {
        if (at >= texts.size()) return false;
        const TByte byte = texts[at];
        if (byte < 0x80) return IsLatinLetter(byte);
        return readingAt(at)->Reading == TReading::Letter;
    };
    TReadingScore score;
    std::uint64_t upper = 0;
    std::uint8_t previous = kNoLetter;  // the Russian letter just before, if any
    std::size_t upperRun = 0;   // upper-case letters just before, in this word
    bool afterLower = false;    // a lower-case letter just before
    for (std::size_t at = 0; at < texts.size(); ++at) {
        const TByteReading* reading = readingAt(at);
        if (!reading) {
            const TByte byte = texts[at];
            previous = kNoLetter;
            afterLower = byte >= 'a' && byte <= 'z';
            upperRun = byte >= 'A' && byte <= 'Z' ? upperRun + 1 : 0;
            continue;
        }
        switch (reading->Reading) {
        case TReading::Letter:
            score.Bits += readings.LetterBits[reading->Letter];
            ++score.Letters;
            score.AmongLatin += (at > 0 && IsLatinLetter(texts[at - 1])) ||
                                (at + 1 < texts.size() && IsLatinLetter(texts[at + 1]));
            upper += reading->Upper;
            // Words are capitalised or all upper case: "иВАНОВ" and "ВСр" are
            // how a text reads in an encoding that puts its cases elsewhere.
            if ((reading->Upper && afterLower) || (!reading->Upper && upperRun >= 2)) score.Bits += kCaseBreakBits;
            if (!Follows(at > 0 && isLetter(at - 1) ? previous : kNoLetter, reading->Letter)) score.Bits += kOddPairBits;
            break;
        case TReading::Typography: {
            // Dashes stand between words, "№" before a number, quotes at a
            // word's edge ("«" before it, "»" after it): none inside a word.
            const bool before = at > 0 && isLetter(at - 1);
            const bool after = isLetter(at + 1);
            const bool odd = reading->Dash     ? before || after
                             : reading->Numero ? after
                             : reading->Opens  ? before
                             : reading->Closes ? after
                                               : before && after;
            score.Bits += odd ? kSymbolBits : kTypographyBits;
            break;
        }
        case TReading::ForeignLetter: score.Bits += kForeignLetterBits; break;
        case TReading::Symbol:
            // A rare symbol is rarer still written against a letter: "мо¤" is
            // how "моя" reads in an encoding without the letter.
            score.Bits += kSymbolBits + ((at > 0 && isLetter(at - 1)) || isLetter(at + 1) ? kOddPairBits : 0);
            break;
        case TReading::Control: score.Bits += kControlBits; break;
        }
        const bool letter = reading->Reading == TReading::Letter;
        previous = letter ? reading->Letter : kNoLetter;
        afterLower = letter && !reading->Upper;
        upperRun = letter && reading->Upper ? upperRun + 1 : 0;
    }
    // A text mostly in upper case with a few lower-case letters among them
    // is how an upper-case table reads in an encoding that puts some of its
    // letters at the other case's bytes: those letters cost the bits of
    // their case. A mostly lower-case text with capitals is ordinary prose.
    if (upper < score.Letters && 8 * (score.Letters - upper) < score.Letters) {
        const double n = static_cast<double>(score.Letters);
        const double u = static_cast<double>(upper) / n;
        score.Bits += -n * (u * std::log2(u) + (1 - u) * std::log2(1 - u));
    }
    return score;
}

// Whether two encodings read every byte above 127 of the sample as the same
// character: then writing either byte shows the same letters.
bool ReadAlike(const std::bitset<128>& present, std::size_t one, std::size_t other)
{
    for (std::size_t b = 0; b < 128; ++b) {
        if (present[b] && kEncodings[one].High[b] != kEncodings[other].High[b]) return false;
    }
    return true;
}

std::string Bits(double bits)
{
    char text[32];
    std::snprintf(text, sizeof text, "%.0f", bits);
    return text;
}

constexpr TByte kEndMark = 0x1A;

// Records looked at on each side of a place where the records may end.
constexpr std::uint64_t kEdgeRecords = 4;

// Bytes looked at at each end of what follows the records.
constexpr std::uint64_t kTailWindow = 64 << 10;

bool IsDeletionFlag(TByte b)
{
    return b == ' ' || b == '*';
}

// One way of reading the file: so many records, ended by an end mark or
// not, and what follows them; not Explained when that is neither of the
// tails writers leave.
struct TCountReading {
    std::uint64_t Records;
    bool Mark;
    TRecordTail Tail;
    std::uint64_t TailBytes;
    bool Explained;
};

// The deletion flags of chosen records below a limit, read run by run in
// pieces of at most the sample's budget; keeps only the first record whose
// flag is wrong, which is all a reading needs to know.
class TFlagProbe {
public:
    TFlagProbe(const TReadAt& read, std::uint64_t headerLength, std::uint16_t recordLength, std::uint64_t limit)
        : FRead(read), FHeaderLength(headerLength), FRecordLength(recordLength), FLimit(limit)
    {
    }

    void Look(std::uint64_t first, std::uint64_t count)
    {
        const std::uint64_t end = std::min(FLimit, first + count);
        const std::uint64_t perPiece = std::max<std::uint64_t>(1, kSampleBudget / FRecordLength);
        for (std::uint64_t at = first; at < end && !FFailed; at += perPiece) {
            const std::uint64_t records = std::min(perPiece, end - at);
            // The last record of a piece is read only up to its flag.
            FBuffer.resize(static_cast<std::size_t>((records - 1) * FRecordLength + 1));
            if (!FRead(FHeaderLength + at * FRecordLength, FBuffer)) {
                FFailed = true;
                return;
            }
            for (std::uint64_t r = 0; r < records; ++r) {
                const TByte flag = FBuffer[static_cast<std::size_t>(r * FRecordLength)];
                if (IsDeletionFlag(flag) || (FFirstBad && *FFirstBad <= at + r)) continue;
                FFirstBad = at + r;
                FFirstBadByte = flag;
                break;
            }
        }
    }
    [[nodiscard]] bool Failed() const { return FFailed; }
    // Counted from 0.
    [[nodiscard]] std::optional<std::uint64_t> FirstBad() const { return FFirstBad; }
    [[nodiscard]] TByte FirstBadByte() const { return FFirstBadByte; }

private:
    const TReadAt& FRead;
    std::uint64_t FHeaderLength;
    std::uint16_t FRecordLength;
    std::uint64_t FLimit;
    std::vector<TByte> FBuffer;
    bool FFailed = false;
    std::optional<std::uint64_t> FFirstBad;
    TByte FFirstBadByte = 0;
};

bool AllZero(std::span<const TByte> bytes)
{
    return std::all_of(bytes.begin(), bytes.end(), [](TByte b) { return b == 0; });
}

// What follows the records from `at` (an end mark written in place there, or
// the first of the zero bytes) to the file's end: zero bytes (an end mark
// may close them), or, after a mark, the stale records a PACK left, whole,
// each beginning with a deletion flag (a final mark may follow them). Looks
// at the first and the last 64 KiB and, of stale records, at the flags of the
// first and last few. Nothing when it is neither, or cannot be read.
std::optional<TRecordTail> TailAfter(const TReadAt& read, std::uint64_t at, std::uint64_t fileLength,
                                     std::uint16_t recordLength, bool mark)
{
    const std::uint64_t from = at + (mark ? 1 : 0);
    if (from >= fileLength) return TRecordTail::None;
    std::vector<TByte> head(static_cast<std::size_t>(std::min(kTailWindow, fileLength - from)));
    std::vector<TByte> end(static_cast<std::size_t>(std::min(kTailWindow, fileLength - from)));
    if (!read(from, head) || !read(fileLength - end.size(), end)) return std::nullopt;
    const bool finalMark = end.back() == kEndMark;
    if (AllZero(head.size() == fileLength - from && finalMark ? std::span(head).first(head.size() - 1) : std::span(head)) &&
        AllZero(finalMark ? std::span(end).first(end.size() - 1) : std::span(end))) {
        return TRecordTail::Zeros;
    }
    if (!mark) return std::nullopt;
    // The mark stands over the first stale record's flag.
    const std::uint64_t stale = fileLength - (finalMark ? 1 : 0) - at;
    if (stale % recordLength != 0) return std::nullopt;
    const std::uint64_t records = stale / recordLength;
    const auto dataAt = [&](std::uint64_t r) { return at + r * recordLength; };
    TFlagProbe probe(read, dataAt(0), recordLength, records);
    probe.Look(1, kEdgeRecords);
    probe.Look(records > kEdgeRecords ? records - kEdgeRecords : 1, kEdgeRecords);
    if (probe.Failed() || probe.FirstBad()) return std::nullopt;
    return TRecordTail::Stale;
}

const char* VerdictName(TRecordCountVerdict verdict)
{
    switch (verdict) {
    case TRecordCountVerdict::Agrees: return "agrees";
    case TRecordCountVerdict::CountLow: return "count-low";
    case TRecordCountVerdict::CountHigh: return "count-high";
    case TRecordCountVerdict::PartialRecord: return "partial-record";
    case TRecordCountVerdict::Unexplained: return "unexplained";
    case TRecordCountVerdict::Ambiguous: return "ambiguous";
    case TRecordCountVerdict::Unknowable: break;
    }
    return "unknowable";
}

const char* TailName(TRecordTail tail)
{
    switch (tail) {
    case TRecordTail::Stale: return "stale";
    case TRecordTail::Zeros: return "zeros";
    case TRecordTail::None: break;
    }
    return "none";
}

// What follows the records counted, told after the verdict.
std::string TailText(const TRecordCountCheck& check)
{
    const std::string bytes = std::to_string(check.TailBytes);
    switch (check.Tail) {
    case TRecordTail::Stale: return "; после метки конца (0x1A) " + bytes + " байт старых записей";
    case TRecordTail::Zeros:
        return check.EndOfFileMark ? "; после метки конца (0x1A) " + bytes + " нулевых байт"
                                   : "; после записей " + bytes + " нулевых байт без метки конца";
    case TRecordTail::None: break;
    }
    return "";
}

const char* VerdictName(TEncodingVerdict verdict)
{
    switch (verdict) {
    case TEncodingVerdict::Named: return "named";
    case TEncodingVerdict::AlreadyNamed: return "already-named";
    case TEncodingVerdict::Unnamed: return "unnamed";
    case TEncodingVerdict::Unsure: return "unsure";
    case TEncodingVerdict::NoHighBytes: return "no-high-bytes";
    case TEncodingVerdict::NoText: return "no-text";
    case TEncodingVerdict::ReadFailed: break;
    }
    return "read-failed";
}

const char* AgreementName(THeaderByteAgreement agreement)
{
    switch (agreement) {
    case THeaderByteAgreement::Agrees: return "agrees";
    case THeaderByteAgreement::Disagrees: return "disagrees";
    case THeaderByteAgreement::NotStated: return "not-stated";
    case THeaderByteAgreement::Unknown: break;
    }
    return "unknown";
}

TEncodingCheck LeftAsItIs(TEncodingVerdict verdict, TByte headerByte, const std::string& why)
{
    TEncodingCheck check;
    check.Verdict = verdict;
    check.HeaderByte = headerByte;
    check.Reason = why + kLeftAsItIs;
    return check;
}

}  // namespace

TRecordCountCheck CheckRecordCount(const TDBFHeader& header, std::uint64_t fileLength, const TReadAt& read)
{
    TRecordCountCheck check;
    check.HeaderCount = GetLE32(header.RecordCount);
    check.HeaderLength = GetLE16(header.HeaderLength);
    check.RecordLength = GetLE16(header.RecordLength);
    check.FileLength = fileLength;
    const auto countLeft = [&check](const std::string& why) {
        check.Reason = why + ": число записей оставлено как есть";
        return check;
    };
    if (check.RecordLength == 0) return countLeft("длина записи в заголовке 0");
    if (check.HeaderLength < sizeof(TDBFHeader)) {
        return countLeft("длина заголовка " + std::to_string(check.HeaderLength) + " меньше 32 байт");
    }
    if (check.HeaderLength > fileLength) {
        return countLeft("заголовок (" + CountOf(check.HeaderLength, kBytes) + ") длиннее файла (" +
                         CountOf(fileLength, kBytes) + ")");
    }
    const std::uint64_t data = fileLength - check.HeaderLength;
    const std::uint16_t length = check.RecordLength;
    const auto byteAt = [&read](std::uint64_t at) -> std::optional<TByte> {
        std::array<TByte, 1> byte{};
        return read(at, byte) ? std::optional(byte[0]) : std::nullopt;
    };
    const bool finalMark = data > 0 && byteAt(fileLength - 1) == TByte{kEndMark};

    // The places the records may end: at the file's end, at a final end mark,
    // or where the header's count puts them, followed by an end mark written
    // in place or by zero bytes.
    std::vector<TCountReading> readings;
    if (data % length == 0) readings.push_back({data / length, false, TRecordTail::None, 0, true});
    if (finalMark && (data - 1) % length == 0) readings.push_back({(data - 1) / length, true, TRecordTail::None, 0, true});
    const std::uint64_t counted = std::uint64_t{check.HeaderCount} * length;
    if (counted < data && std::none_of(readings.begin(), readings.end(),
                                       [&](const TCountReading& r) { return r.Records == check.HeaderCount; })) {
        const std::uint64_t at = check.HeaderLength + counted;
        const auto first = byteAt(at);
        if (first && (*first == kEndMark || *first == 0)) {
            const bool mark = *first == kEndMark;
            const auto tail = TailAfter(read, at, fileLength, length, mark);
            readings.push_back({check.HeaderCount, mark, tail.value_or(TRecordTail::None),
                                fileLength - at - (mark ? 1 : 0), tail.has_value()});
        }
    }

    // Every record before the place a reading ends must begin with a
    // deletion flag; the flags looked at are those of the sampled runs and of
    // the records around each place and around the header's count.
    std::uint64_t furthest = 0;
    for (const auto& r : readings) furthest = std::max(furthest, r.Records);
    TFlagProbe probe(read, check.HeaderLength, length, furthest);
    for (const auto& run : SampleRuns(furthest, length)) probe.Look(run.First, run.Count);
    for (const auto& r : readings) probe.Look(r.Records > kEdgeRecords ? r.Records - kEdgeRecords : 0, kEdgeRecords);
    probe.Look(check.HeaderCount > kEdgeRecords ? check.HeaderCount - kEdgeRecords : 0, 2 * kEdgeRecords);
    if (probe.Failed()) {
        check.ReadFailed = true;
        return countLeft("записи не прочитаны");
    }
    if (probe.FirstBad()) {
        check.NotARecord = *probe.FirstBad() + 1;  // counted from 1 for people
        check.NotARecordByte = probe.FirstBadByte();
    }

    std::vector<TCountReading> explaining;
    for (const auto& r : readings) {
        const bool flagsHold = !probe.FirstBad() || *probe.FirstBad() >= r.Records;
        if (flagsHold && r.Explained) explaining.push_back(r);
    }
    // Where no one count explains the file, as many whole records as fit,
    // less a final end mark, are what the sample of texts looks at.
    const std::uint64_t recordBytes = finalMark ? data - 1 : data;
    check.WholeRecords = recordBytes / length;
    check.PartialBytes = recordBytes % length;
    check.EndOfFileMark = finalMark;
    if (explaining.size() > 1) {
        check.Verdict = TRecordCountVerdict::Ambiguous;
        std::string counts;
        for (const auto& r : explaining) counts += (counts.empty() ? "" : " и ") + std::to_string(r.Records);
        return countLeft("длину файла объясняют " + counts + " записей");
    }
    if (explaining.empty()) {
        if (check.NotARecord) {
            check.Verdict = TRecordCountVerdict::Unexplained;
            return countLeft("запись " + std::to_string(*check.NotARecord) + " начинается с байта " +
                             ByteText(check.NotARecordByte) + ", а не с пробела или «*»: это не запись");
        }
        if (!readings.empty()) {
            check.Verdict = TRecordCountVerdict::Unexplained;
            return countLeft("после записей по счёту заголовка не старые записи и не нулевые байты");
        }
        check.Verdict = TRecordCountVerdict::PartialRecord;
        return countLeft("последняя запись неполная (" + CountOf(check.PartialBytes, kBytes) + " из " +
                         std::to_string(length) + ")");
    }
    const TCountReading& only = explaining.front();
    check.WholeRecords = only.Records;
    check.PartialBytes = 0;
    check.EndOfFileMark = only.Mark;
    check.Tail = only.Tail;
    check.TailBytes = only.TailBytes;
    check.Verdict = check.WholeRecords == check.HeaderCount ? TRecordCountVerdict::Agrees
                    : check.WholeRecords > check.HeaderCount ? TRecordCountVerdict::CountLow
                                                             : TRecordCountVerdict::CountHigh;
    // The header keeps the count in 32 bits; a file of more records than that
    // cannot be described by it.
    if (check.WholeRecords > UINT32_MAX) return countLeft("записей в файле больше, чем вмещает заголовок");
    check.CountFromLength = static_cast<std::uint32_t>(check.WholeRecords);
    return check;
}

std::vector<TTextField> TextFields(std::span<const TDBFFieldDescriptor> chunks, std::uint16_t recordLength)
{
    const auto fields = DescriptorsBeforeTerminator(chunks);
    const bool longCharacterFields = HasLongCharacterFields(fields, recordLength);
    std::vector<TTextField> texts;
    std::size_t offset = 1;  // after the deletion flag
    for (const auto& field : fields) {
        const bool character = IsCharacterType(field.FieldType);
        const std::size_t width =
            field.FieldLength + (character && longCharacterFields ? 256U * field.DecimalCount : 0U);
        if (offset >= recordLength) break;
        if (character && !IsEmptyDescriptor(field)) {
            texts.push_back({offset, std::min<std::size_t>(width, recordLength - offset)});
        }
        offset += width;
    }
    return texts;
}

std::vector<TRecordRun> SampleRuns(std::uint64_t records, std::uint16_t recordLength)
{
    if (records == 0 || recordLength == 0) return {};
    const std::uint64_t fit = kSampleBudget / recordLength;  // at least 4: lengths are 16-bit
    if (records <= fit) return {{0, records}};
    // A quarter of the budget for the first records, the rest in runs spread
    // through the others, the last of them ending with the table.
    const std::uint64_t first = std::max<std::uint64_t>(1, fit / 4);
    const std::uint64_t spreadRuns = std::min<std::uint64_t>(12, fit - first);
    const std::uint64_t runLength = (fit - first) / spreadRuns;
    std::vector<TRecordRun> runs{{0, first}};
    for (std::uint64_t i = 1; i <= spreadRuns; ++i) {
        const std::uint64_t start =
            std::max(first + (records - first - runLength) * i / spreadRuns, runs.back().First + runs.back().Count);
        if (start >= records) break;
        runs.push_back({start, std::min(runLength, records - start)});
    }
    return runs;
}

TTextSample::TTextSample(std::vector<TTextField> fields, std::uint16_t recordLength)
    : FFields(std::move(fields)), FRecordLength(recordLength)
{
}

void TTextSample::Add(std::span<const TByte> records)
{
    for (std::size_t at = 0; FRecordLength > 0 && at + FRecordLength <= records.size(); at += FRecordLength) {
        for (const auto& field : FFields) {
            auto text = records.subspan(at + field.Offset, field.Width);
            FLookedAt += text.size();
            if (!HasHighByte(text)) continue;
            const auto last = std::find_if(text.rbegin(), text.rend(), [](TByte b) { return b != ' ' && b != 0; });
            text = text.first(static_cast<std::size_t>(text.rend() - last));
            FTexts.insert(FTexts.end(), text.begin(), text.end());
            FTexts.push_back(' ');
            FTextEnds.push_back(FTexts.size());
        }
    }
}

std::vector<TByte> TTextSample::DetectorInput() const
{
    if (FTexts.size() <= kDetectorBudget) return FTexts;
    // Every so many-th text, so that the first records and the spread ones
    // all have their say.
    const std::size_t count = FTextEnds.size();
    const std::size_t taken = std::max<std::size_t>(1, count * kDetectorBudget / FTexts.size());
    std::vector<TByte> input;
    for (std::size_t k = 0; k < taken; ++k) {
        const std::size_t i = k * count / taken;
        const std::size_t begin = i == 0 ? 0 : FTextEnds[i - 1];
        const std::size_t size = std::min(FTextEnds[i] - begin, kDetectorBudget - input.size());
        input.insert(input.end(), FTexts.begin() + static_cast<std::ptrdiff_t>(begin),
                     FTexts.begin() + static_cast<std::ptrdiff_t>(begin + size));
        if (input.size() == kDetectorBudget) break;
    }
    return input;
}

std::optional<TByte> CodePageOf(std::string_view charset)
{
    return WrittenCodePageOf(charset);
}

std::size_t Utf8SequenceAt(std::span<const TByte> bytes, std::size_t at, std::uint32_t* codePoint)
{
    const TByte c = bytes[at];
    std::size_t extra = 0;
    std::uint32_t code = 0;
    if (c < 0x80) {
        code = c;
    } else if (c >= 0xC2 && c <= 0xDF) {
        extra = 1;
        code = c & 0x1FU;
    } else if (c >= 0xE0 && c <= 0xEF) {
        extra = 2;
        code = c & 0x0FU;
    } else if (c >= 0xF0 && c <= 0xF4) {
        extra = 3;
        code = c & 0x07U;
    } else {
        return 0;
    }
    if (extra >= bytes.size() - at) return 0;
    for (std::size_t k = 1; k <= extra; ++k) {
        const TByte next = bytes[at + k];
        if ((next & 0xC0U) != 0x80U) return 0;
        code = (code << 6) | (next & 0x3FU);
    }
    // Overlong forms, surrogates and code points beyond Unicode.
    if ((extra == 2 && code < 0x800) || (extra == 3 && (code < 0x10000 || code > 0x10FFFF)) ||
        (code >= 0xD800 && code <= 0xDFFF)) {
        return 0;
    }
    if (codePoint != nullptr) *codePoint = code;
    return extra + 1;
}

TUtf8Scan ScanUtf8(std::span<const TByte> bytes)
{
    TUtf8Scan scan;
    std::size_t i = 0;
    while (i < bytes.size()) {
        if (bytes[i] < 0x80) {
            ++i;
            continue;
        }
        std::uint32_t code = 0;
        const std::size_t length = Utf8SequenceAt(bytes, i, &code);
        if (length == 0) {
            scan.Valid = false;
            return scan;
        }
        if (code >= 0x0400 && code <= 0x04FF) ++scan.Cyrillic;
        i += length;
    }
    return scan;
}

TEncodingCheck DetectEncoding(std::span<const TByte> texts, TByte headerByte)
{
    TEncodingCheck check;
    check.DetectorBytes = texts.size();
    if (!HasHighByte(texts)) {
        check = LeftAsItIs(TEncodingVerdict::NoHighBytes, headerByte,
                           "в текстах выборки нет байтов больше 127, по ASCII кодировку не узнать");
        check.DetectorBytes = texts.size();
        return check;
    }
    check.HeaderByte = headerByte;
    const std::string_view headerEncoding = CodePageEncoding(headerByte);

    // UTF-8 only on proof: in the single-byte encodings Russian text is almost
    // never well-formed UTF-8.
    const TUtf8Scan utf8 = ScanUtf8(texts);
    std::vector<std::string> group;  // the encodings that read the sample alike, the one named first
    bool latinWords = false;
    std::uint64_t amongLatin = 0;
    if (utf8.Valid && utf8.Cyrillic > 0) {
        check.Letters = utf8.Cyrillic;
        check.Best = "UTF-8";
        if (check.Letters >= kMinLetters) group.emplace_back("UTF-8");
    } else {
        std::bitset<128> present;
        for (const TByte byte : texts) {
            if (byte >= 0x80) present.set(byte - 0x80U);
        }
        std::array<TReadingScore, kEncodings.size()> scores;
        std::size_t best = 0;
        for (std::size_t e = 0; e < kEncodings.size(); ++e) {
            scores[e] = ScoreReading(texts, e);
            if (scores[e].Bits < scores[best].Bits) best = e;
        }
        // Rivals are the readings that differ from the best one; those that
        // read alike join it, and the one the header or the tool names speaks for them.
        std::vector<std::size_t> alike;
        std::optional<std::size_t> runnerUp;
        for (std::size_t e = 0; e < kEncodings.size(); ++e) {
            if (ReadAlike(present, best, e)) {
                alike.push_back(e);
            } else if (!runnerUp || scores[e].Bits < scores[*runnerUp].Bits) {
                runnerUp = e;
            }
        }
        const auto rank = [&](std::size_t e) {
            return kEncodings[e].Name == headerEncoding ? 0 : CodePageOf(kEncodings[e].Name) ? 1 : 2;
        };
        std::stable_sort(alike.begin(), alike.end(), [&](std::size_t a, std::size_t b) { return rank(a) < rank(b); });
        check.Letters = scores[best].Letters;
        check.Best = kEncodings[alike.front()].Name;
        check.BestBits = scores[best].Bits;
        if (runnerUp) {
            check.RunnerUp = kEncodings[*runnerUp].Name;
            check.RunnerUpBits = scores[*runnerUp].Bits;
        }
        const bool clear = !runnerUp || check.RunnerUpBits - check.BestBits >= kMinMarginBits;
        // Accented letters of a Latin script read as Cyrillic ones inside
        // Latin words ("MьllerstraЯe"): Russian words are not written so.
        latinWords = 4 * scores[best].AmongLatin > scores[best].Letters;
        amongLatin = scores[best].AmongLatin;
        if (check.Letters >= kMinLetters && clear && !latinWords) {
            std::transform(alike.begin(), alike.end(), std::back_inserter(group),
                           [](std::size_t e) { return std::string(kEncodings[e].Name); });
        }
    }
    if (group.empty()) {
        check.Verdict = TEncodingVerdict::Unsure;
        check.Reason = "не уверен: букв кириллицы " + std::to_string(check.Letters);
        if (check.Letters < kMinLetters) check.Reason += " (нужно не меньше " + std::to_string(kMinLetters) + ")";
        if (!check.RunnerUp.empty()) {
            const double margin = check.RunnerUpBits - check.BestBits;
            check.Reason += ", " + check.Best + " — " + Bits(check.BestBits) + " бит, " + check.RunnerUp + " — " +
                            Bits(check.RunnerUpBits) + " бит (разница " + Bits(margin);
            if (margin < kMinMarginBits) check.Reason += ", нужно не меньше " + Bits(kMinMarginBits);
            check.Reason += ")";
        }
        if (latinWords) {
            check.Reason += "; " + std::to_string(amongLatin) + " из них стоят вплотную к латинским буквам, как буквы " +
                            "с диакритикой в латинских словах";
        }
        check.Reason += kLeftAsItIs;
        return check;
    }
    check.Charset = group.front();
    check.ReadAlike.assign(group.begin() + 1, group.end());
    if (headerByte == 0) {
        check.Agreement = THeaderByteAgreement::NotStated;
    } else {
        check.Agreement = headerEncoding == check.Charset ? THeaderByteAgreement::Agrees : THeaderByteAgreement::Disagrees;
    }
    if (check.Agreement == THeaderByteAgreement::Agrees) {
        check.Verdict = TEncodingVerdict::AlreadyNamed;
        check.Reason = "байт в заголовке уже называет " + check.Charset + kLeftAsItIs;
        return check;
    }
    // The first of the group that a byte the tool writes names.
    const auto written = std::find_if(group.begin(), group.end(),
                                      [](const std::string& charset) { return CodePageOf(charset).has_value(); });
    if (written != group.end()) check.CodePage = CodePageOf(*written);
    check.Verdict = check.CodePage ? TEncodingVerdict::Named : TEncodingVerdict::Unnamed;
    if (!check.CodePage) {
        check.Reason = "ни один байт, который пишет программа, не называет " + check.Charset + kLeftAsItIs;
    }
    return check;
}

TTableFindings InspectTable(TDBF& table)
{
    TTableFindings findings;
    const TDBFHeader& header = table.Header();
    auto& file = table.Stream();
    const auto length = table.HeaderRead() ? file.Size() : std::nullopt;
    if (!length) {
        const std::string why = table.HeaderRead() ? "длина файла не узнана" : "заголовок не прочитан";
        findings.RecordCount.Reason = why + ": число записей оставлено как есть";
        findings.Encoding = LeftAsItIs(TEncodingVerdict::ReadFailed, header.LanguageDriver, why);
        return findings;
    }
    // A small table's records are read once, whole: the count's probes and
    // the sample then cost one read instead of one each.
    const std::uint64_t base = GetLE16(header.HeaderLength);
    std::vector<TByte> whole;
    if (*length > base && *length - base <= kWholeRecordsRead) {
        whole.resize(*length - base);
        if (!file.ReadAt(base, whole)) whole.clear();
    }
    const auto read = [&file, &whole, base](std::uint64_t at, std::span<TByte> into) {
        if (!whole.empty() && at >= base && at - base <= whole.size() && into.size() <= whole.size() - (at - base)) {
            std::copy_n(whole.begin() + static_cast<std::ptrdiff_t>(at - base), into.size(), into.begin());
            return true;
        }
        return file.ReadAt(at, into);
    };
    findings.RecordCount = CheckRecordCount(header, *length, read);

    const auto& count = findings.RecordCount;
    const auto fields = TextFields(table.ChunksRead(), count.RecordLength);
    if (count.ReadFailed) {
        findings.Encoding = LeftAsItIs(TEncodingVerdict::ReadFailed, header.LanguageDriver, "записи не прочитаны");
        return findings;
    }
    if (count.Verdict == TRecordCountVerdict::Unknowable || count.WholeRecords == 0) {
        findings.Encoding = LeftAsItIs(TEncodingVerdict::NoText, header.LanguageDriver, "в файле нет записей");
        return findings;
    }
    if (fields.empty()) {
        findings.Encoding = LeftAsItIs(TEncodingVerdict::NoText, header.LanguageDriver, "в таблице нет символьных полей");
        return findings;
    }
    TTextSample sample(fields, count.RecordLength);
    std::vector<TByte> records;
    std::uint64_t sampled = 0;
    for (const auto& run : SampleRuns(count.WholeRecords, count.RecordLength)) {
        records.resize(run.Count * count.RecordLength);
        if (!read(count.HeaderLength + run.First * count.RecordLength, records)) {
            findings.Encoding = LeftAsItIs(TEncodingVerdict::ReadFailed, header.LanguageDriver, "записи не прочитаны");
            return findings;
        }
        sample.Add(records);
        sampled += run.Count;
    }
    findings.Encoding = DetectEncoding(sample.DetectorInput(), header.LanguageDriver);
    findings.Encoding.SampledRecords = sampled;
    findings.Encoding.SampledBytes = sample.BytesLookedAt();
    return findings;
}

void ToJson(const TRecordCountCheck& check, TJsonWriter& out)
{
    out.Put("verdict", VerdictName(check.Verdict))
        .Put("header_count", check.HeaderCount)
        .Put("header_length", check.HeaderLength)
        .Put("record_length", check.RecordLength)
        .Put("file_length", check.FileLength)
        .Put("end_of_file_mark", check.EndOfFileMark)
        .Put("records_in_file", check.WholeRecords)
        .Put("partial_record_bytes", check.PartialBytes)
        .Put("tail", TailName(check.Tail))
        .Put("tail_bytes", check.TailBytes)
        .Put("not_a_record", check.NotARecord)
        .Put("count_from_length", check.CountFromLength)
        .Put("reason", check.Reason);
}

void ToJson(const TEncodingCheck& check, TJsonWriter& out)
{
    out.Put("verdict", VerdictName(check.Verdict))
        .Put("charset", check.Charset)
        .Put("reads_alike", check.ReadAlike)
        .Put("codepage", check.CodePage)
        .Put("header_byte", check.HeaderByte)
        .Put("header_byte_agrees", AgreementName(check.Agreement))
        .Put("sampled_records", check.SampledRecords)
        .Put("sampled_bytes", check.SampledBytes)
        .Put("detector_bytes", check.DetectorBytes)
        .Put("cyrillic_letters", check.Letters);
    const auto reading = [&out](std::string_view key, const std::string& charset, double bits) {
        if (charset.empty()) {
            out.PutNull(key);
        } else {
            out.Key(key).Object().Put("charset", charset).Put("bits", std::round(bits)).End();
        }
    };
    reading("best", check.Best, check.BestBits);
    reading("runner_up", check.RunnerUp, check.RunnerUpBits);
    out.Put("reason", check.Reason);
}

std::string Describe(const TRecordCountCheck& check)
{
    std::string line = "Число записей: ";
    if (check.Verdict == TRecordCountVerdict::Unknowable) return line + check.Reason;
    line += "в заголовке " + std::to_string(check.HeaderCount) + ", в файле " + std::to_string(check.WholeRecords);
    switch (check.Verdict) {
    case TRecordCountVerdict::Agrees: return line + ": совпадает" + TailText(check);
    case TRecordCountVerdict::CountLow:
    case TRecordCountVerdict::CountHigh: {
        const bool low = check.Verdict == TRecordCountVerdict::CountLow;
        const std::uint64_t by = low ? check.WholeRecords - check.HeaderCount : check.HeaderCount - check.WholeRecords;
        line += ": в заголовке на " + std::to_string(by) + (low ? " меньше" : " больше");
        return check.CountFromLength ? line + "; по длине файла " + std::to_string(*check.CountFromLength) + TailText(check)
                                     : line + "; " + check.Reason;
    }
    default: return line + " целых; " + check.Reason;
    }
}

std::string Describe(const TEncodingCheck& check)
{
    std::string line = "Кодировка текстов: ";
    if (check.Charset.empty()) return line + check.Reason;
    line += check.Charset + " (выборка: " + CountOf(check.SampledRecords, kRecords) + ", " +
            CountOf(check.SampledBytes, kBytes) + " текста, из них детектору " +
            std::to_string(check.DetectorBytes) + ", букв кириллицы " + std::to_string(check.Letters) + ")";
    if (!check.ReadAlike.empty()) {
        line += ", так же читается в";
        for (const auto& charset : check.ReadAlike) line += " " + charset;
    }
    if (check.CodePage) {
        line += " → байт " + ByteText(*check.CodePage);
        if (*check.CodePage == 87) {
            line += ", как его читают программы эпохи BDE (поздние программы xBase ждут для Windows-1251 201, 0xC9)";
        }
    }
    line += "; в заголовке " + ByteText(check.HeaderByte);
    switch (check.Agreement) {
    case THeaderByteAgreement::Agrees: return line + ": уже называет её, байт оставлен как есть";
    case THeaderByteAgreement::NotStated: line += ": кодировка не указана"; break;
    case THeaderByteAgreement::Disagrees: {
        const auto named = CodePageEncoding(check.HeaderByte);
        line += named.empty() ? ": не совпадает" : ", это " + std::string(named) + ": не совпадает";
        break;
    }
    case THeaderByteAgreement::Unknown: break;
    }
    return check.Reason.empty() ? line : line + "; " + check.Reason;
}
