// SPDX-License-Identifier: MIT
// Numbers with their nouns as Russian says them: 1 запись, 2 записи,
// 5 записей, 11 записей, 21 запись; and the columns Russian text takes on a
// terminal, where a Cyrillic letter is two bytes but one column.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

// A noun's forms after 1, after 2 to 4, and after 5 to 20 or 0.
struct TNounForms {
    const char* One;
    const char* Few;
    const char* Many;
};

inline constexpr TNounForms kBytes{"байт", "байта", "байт"};
inline constexpr TNounForms kRecords{"запись", "записи", "записей"};
inline constexpr TNounForms kTables{"таблица", "таблицы", "таблиц"};
inline constexpr TNounForms kLetters{"буква", "буквы", "букв"};
inline constexpr TNounForms kBits{"бит", "бита", "бит"};

// The form the number takes: by its last two digits, 11 to 14 being "many".
const char* FormFor(std::uint64_t number, const TNounForms& noun);

// "234 байта".
std::string CountOf(std::uint64_t number, const TNounForms& noun);

// The columns a terminal gives UTF-8 text: continuation bytes take none.
std::size_t Columns(std::string_view text);
