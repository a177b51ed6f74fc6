// SPDX-License-Identifier: MIT
#include "JsonWriter.h"

#include "Detection.h"

#include <array>
#include <charconv>
#include <cmath>
#include <span>

void TJsonWriter::Separate()
{
    if (FEmpty.empty()) return;  // the line's one value
    if (!FAfterKey && FEmpty.back() == 0) FOut += ',';
    FEmpty.back() = 0;
    FAfterKey = false;
}

TJsonWriter& TJsonWriter::Open(char opener, char closer)
{
    Separate();
    FOut += opener;
    FClosers += closer;
    FEmpty.push_back(1);
    return *this;
}

TJsonWriter& TJsonWriter::Object()
{
    return Open('{', '}');
}

TJsonWriter& TJsonWriter::Array()
{
    return Open('[', ']');
}

TJsonWriter& TJsonWriter::End()
{
    FOut += FClosers.back();
    FClosers.pop_back();
    FEmpty.pop_back();
    return *this;
}

TJsonWriter& TJsonWriter::Key(std::string_view key)
{
    Value(key);
    FOut += ':';
    FAfterKey = true;
    return *this;
}

TJsonWriter& TJsonWriter::Value(std::string_view text)
{
    static constexpr std::array<char, 16> kHex{'0', '1', '2', '3', '4', '5', '6', '7',
                                               '8', '9', 'a', 'b', 'c', 'd', 'e', 'f'};
    Separate();
    const std::span bytes(reinterpret_cast<const TByte*>(text.data()), text.size());
    FOut += '"';
    // Runs of bytes that stand as they are go in whole; only quotes,
    // backslashes, controls and broken UTF-8 are written one by one.
    static constexpr auto kPlain = [] {
        std::array<bool, 256> plain{};
        for (std::size_t b = 0x20; b < 0x80; ++b) plain[b] = b != '"' && b != '\\';
        return plain;
    }();
    std::size_t run = 0;
    std::size_t i = 0;
    while (i < bytes.size()) {
        while (i < bytes.size() && kPlain[bytes[i]]) ++i;
        if (i == bytes.size()) break;
        const TByte b = bytes[i];
        if (b >= 0xC2 && b <= 0xDF && i + 1 < bytes.size() && (bytes[i + 1] & 0xC0U) == 0x80U) {
            i += 2;  // two bytes, as every Cyrillic letter: well formed by their look alone
            continue;
        }
        if (b >= 0x80) {
            const std::size_t length = Utf8SequenceAt(bytes, i);
            if (length != 0) {
                i += length;
                continue;
            }
        }
        FOut.append(text, run, i - run);
        switch (b) {
        case '"': FOut += "\\\""; break;
        case '\\': FOut += "\\\\"; break;
        case '\n': FOut += "\\n"; break;
        case '\r': FOut += "\\r"; break;
        case '\t': FOut += "\\t"; break;
        default:
            if (b < 0x20) {
                FOut += "\\u00";
                FOut += kHex[b >> 4U];
                FOut += kHex[b & 0xFU];
            } else {
                FOut += "\xEF\xBF\xBD";  // U+FFFD for the byte that begins no character
            }
        }
        run = ++i;
    }
    FOut.append(text, run, i - run);
    FOut += '"';
    return *this;
}

TJsonWriter& TJsonWriter::Value(bool value)
{
    Separate();
    FOut += value ? "true" : "false";
    return *this;
}

namespace {

template <typename T>
void AppendNumber(std::string& out, T value)
{
    std::array<char, 32> digits{};
    const auto end = std::to_chars(digits.data(), digits.data() + digits.size(), value).ptr;
    out.append(digits.data(), end);
}

}  // namespace

TJsonWriter& TJsonWriter::Value(std::int64_t value)
{
    Separate();
    AppendNumber(FOut, value);
    return *this;
}

TJsonWriter& TJsonWriter::Value(std::uint64_t value)
{
    Separate();
    AppendNumber(FOut, value);
    return *this;
}

TJsonWriter& TJsonWriter::Value(double value)
{
    // JSON has no infinity and no NaN; such a figure says nothing.
    if (!std::isfinite(value)) return Null();
    Separate();
    AppendNumber(FOut, value);
    return *this;
}

TJsonWriter& TJsonWriter::Null()
{
    Separate();
    FOut += "null";
    return *this;
}
