// SPDX-License-Identifier: MIT
#include "WideConsoleBuffer.h"

#include <utility>

namespace {
constexpr char16_t kReplacement = 0xFFFD;

// The length of the character a lead byte begins; 0 when it cannot begin one.
std::size_t SequenceLength(unsigned char lead)
{
    if (lead < 0x80) return 1;
    if (lead >= 0xC2 && lead <= 0xDF) return 2;
    if (lead >= 0xE0 && lead <= 0xEF) return 3;
    if (lead >= 0xF0 && lead <= 0xF4) return 4;
    return 0;
}

// The range the second byte must fall in, which rules out overlong forms,
// surrogates and code points past U+10FFFF.
bool SecondByteFits(unsigned char lead, unsigned char second)
{
    if (lead == 0xE0) return second >= 0xA0 && second <= 0xBF;
    if (lead == 0xED) return second >= 0x80 && second <= 0x9F;
    if (lead == 0xF0) return second >= 0x90 && second <= 0xBF;
    if (lead == 0xF4) return second >= 0x80 && second <= 0x8F;
    return second >= 0x80 && second <= 0xBF;
}
}  // namespace

std::u16string Utf8ToUtf16(std::string_view text, std::string& rest)
{
    std::u16string wide;
    wide.reserve(text.size());
    rest.clear();
    std::size_t at = 0;
    while (at < text.size()) {
        const auto lead = static_cast<unsigned char>(text[at]);
        const std::size_t length = SequenceLength(lead);
        if (length == 0) {
            wide.push_back(kReplacement);
            ++at;
            continue;
        }
        if (length == 1) {
            wide.push_back(lead);
            ++at;
            continue;
        }
        // How many bytes after the lead continue the character rightly.
        std::size_t valid = 1;
        while (valid < length && at + valid < text.size()) {
            const auto next = static_cast<unsigned char>(text[at + valid]);
            const bool fits = valid == 1 ? SecondByteFits(lead, next) : next >= 0x80 && next <= 0xBF;
            if (!fits) break;
            ++valid;
        }
        if (valid < length) {
            if (at + valid == text.size()) {
                rest.assign(text.substr(at));  // cut short: its last bytes may come
                break;
            }
            wide.push_back(kReplacement);  // the rightly begun part stands for one character
            at += valid;
            continue;
        }
        char32_t code = lead & (length == 2 ? 0x1FU : length == 3 ? 0x0FU : 0x07U);
        for (std::size_t i = 1; i < length; ++i) code = (code << 6U) | (static_cast<unsigned char>(text[at + i]) & 0x3FU);
        if (code >= 0x10000) {
            code -= 0x10000;
            wide.push_back(static_cast<char16_t>(0xD800 + (code >> 10U)));
            wide.push_back(static_cast<char16_t>(0xDC00 + (code & 0x3FFU)));
        } else {
            wide.push_back(static_cast<char16_t>(code));
        }
        at += length;
    }
    return wide;
}

TWideConsoleBuffer::TWideConsoleBuffer(std::function<bool(std::u16string_view)> write) : FWrite(std::move(write))
{
    setp(FBuffer.data(), FBuffer.data() + FBuffer.size());
}

TWideConsoleBuffer::~TWideConsoleBuffer()
{
    Finish();
}

bool TWideConsoleBuffer::Drain()
{
    const std::string text = FPending + std::string(pbase(), pptr());
    setp(FBuffer.data(), FBuffer.data() + FBuffer.size());
    const std::u16string wide = Utf8ToUtf16(text, FPending);
    return wide.empty() || FWrite(wide);
}

bool TWideConsoleBuffer::Finish()
{
    bool written = Drain();
    if (!FPending.empty()) {
        FPending.clear();
        written = FWrite(std::u16string(1, kReplacement)) && written;
    }
    return written;
}

TWideConsoleBuffer::int_type TWideConsoleBuffer::overflow(int_type c)
{
    if (!Drain()) return traits_type::eof();
    if (traits_type::eq_int_type(c, traits_type::eof())) return traits_type::not_eof(c);
    *pptr() = traits_type::to_char_type(c);
    pbump(1);
    return c;
}

int TWideConsoleBuffer::sync()
{
    return Drain() ? 0 : -1;
}
