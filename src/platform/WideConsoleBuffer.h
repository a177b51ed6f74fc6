// SPDX-License-Identifier: MIT
// A stream buffer that takes the program's UTF-8 text and hands it on as
// UTF-16, for a console that shows text only when it is written wide: no code
// page of the console is needed or changed.
#pragma once

#include <array>
#include <functional>
#include <streambuf>
#include <string>
#include <string_view>

class TWideConsoleBuffer : public std::streambuf {
public:
    // write: takes one run of UTF-16 text; false when it could not be written.
    explicit TWideConsoleBuffer(std::function<bool(std::u16string_view)> write);
    ~TWideConsoleBuffer() override;
    TWideConsoleBuffer(const TWideConsoleBuffer&) = delete;
    TWideConsoleBuffer& operator=(const TWideConsoleBuffer&) = delete;

    // The bytes of a character cut short at the end of the text: written as
    // U+FFFD, so that nothing held back is lost at exit.
    bool Finish();

protected:
    int_type overflow(int_type c) override;
    int sync() override;

private:
    // Converts what is buffered; a character split across two writes waits
    // for its last bytes.
    bool Drain();

    std::function<bool(std::u16string_view)> FWrite;
    std::array<char, 4096> FBuffer{};
    std::string FPending;  // the first bytes of a character not yet complete
};

// UTF-8 to UTF-16 as far as the text's complete characters go; the bytes of
// a last character cut short are left in rest. A byte that cannot begin or
// continue a character becomes U+FFFD.
std::u16string Utf8ToUtf16(std::string_view text, std::string& rest);
