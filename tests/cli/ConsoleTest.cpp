// SPDX-License-Identifier: MIT
// The console's output path: the program's UTF-8 turned into the UTF-16 a
// Windows console is written with, however the text is cut into writes.
#include "WideConsoleBuffer.h"

#include <gtest/gtest.h>

#include <ostream>
#include <string>
#include <vector>

TEST(WideConsole, Utf8BecomesUtf16AcrossWrites)
{
    struct TCase {
        const char* name;
        std::vector<std::string> writes;  // each flushed on its own
        std::u16string shown;
    };
    const TCase cases[] = {
        {"ASCII", {"ok\n"}, u"ok\n"},
        {"Cyrillic", {"\xD0\x9A\xD0\xBE\xD0\xB4 866"}, u"\u041A\u043E\u0434 866"},
        {"a character cut between two writes", {"\xD0", "\x9A\xD0\xBE"}, u"\u041A\u043E"},
        {"three bytes over three writes", {"\xE2", "\x86", "\x92!"}, u"\u2192!"},
        {"past the BMP: a surrogate pair", {"\xF0\x9F\x98\x80"}, u"\U0001F600"},
        {"a byte that begins nothing", {"a\xFF" "b"}, u"a\uFFFDb"},
        {"a Windows-1251 name", {"\xCA\xEE\xE4"}, u"\uFFFD\uFFFD\uFFFD"},
        {"overlong form", {"\xC0\x80"}, u"\uFFFD\uFFFD"},
        {"a surrogate's own bytes", {"\xED\xA0\x80"}, u"\uFFFD\uFFFD\uFFFD"},
        {"past U+10FFFF", {"\xF4\x90\x80\x80"}, u"\uFFFD\uFFFD\uFFFD\uFFFD"},
        {"a character broken off by ASCII", {"\xE2\x86", "x"}, u"\uFFFDx"},
        {"cut short at the very end", {"ab\xE2\x86"}, u"ab\uFFFD"},
        {"more than the buffer holds", {std::string(10000, 'x')}, std::u16string(10000, u'x')},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        std::u16string shown;
        std::size_t writes = 0;
        {
            TWideConsoleBuffer buffer([&](std::u16string_view text) {
                shown += text;
                ++writes;
                return true;
            });
            std::ostream stream(&buffer);
            for (const auto& write : c.writes) stream << write << std::flush;
            EXPECT_TRUE(stream.good());
        }
        EXPECT_EQ(shown, c.shown);
        EXPECT_GE(writes, 1U);
    }
}

// A console that refuses the text makes the stream fail, as a full disk does.
TEST(WideConsole, AFailedWriteFailsTheStream)
{
    TWideConsoleBuffer buffer([](std::u16string_view) { return false; });
    std::ostream stream(&buffer);
    stream << "text" << std::flush;
    EXPECT_TRUE(stream.bad());
    // A character cut short, held back until the end: its U+FFFD is refused too.
    TWideConsoleBuffer held([](std::u16string_view) { return false; });
    std::ostream heldStream(&held);
    heldStream << "\xE2\x86" << std::flush;
    EXPECT_TRUE(heldStream.good());
    EXPECT_FALSE(held.Finish());
}
