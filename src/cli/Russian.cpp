// SPDX-License-Identifier: MIT
#include "Russian.h"

#include <algorithm>

const char* FormFor(std::uint64_t number, const TNounForms& noun)
{
    const std::uint64_t lastTwo = number % 100;
    const std::uint64_t last = number % 10;
    if (lastTwo >= 11 && lastTwo <= 14) return noun.Many;
    if (last == 1) return noun.One;
    if (last >= 2 && last <= 4) return noun.Few;
    return noun.Many;
}

std::string CountOf(std::uint64_t number, const TNounForms& noun)
{
    return std::to_string(number) + " " + FormFor(number, noun);
}

std::size_t Columns(std::string_view text)
{
    return static_cast<std::size_t>(
        std::count_if(text.begin(), text.end(), [](char c) { return (static_cast<unsigned char>(c) & 0xC0U) != 0x80U; }));
}
