// SPDX-License-Identifier: MIT
// Numbers with their nouns: the form goes by the last two digits.
#include "Russian.h"

#include <gtest/gtest.h>

TEST(Russian, NounsTakeTheFormOfTheirNumber)
{
    const struct {
        std::uint64_t number;
        const TNounForms& noun;
        const char* said;
    } cases[] = {
        {0, kRecords, "0 записей"},       {1, kRecords, "1 запись"},       {2, kRecords, "2 записи"},
        {4, kRecords, "4 записи"},        {5, kRecords, "5 записей"},      {11, kRecords, "11 записей"},
        {12, kRecords, "12 записей"},     {14, kRecords, "14 записей"},    {21, kRecords, "21 запись"},
        {22, kRecords, "22 записи"},      {101, kRecords, "101 запись"},   {111, kRecords, "111 записей"},
        {112, kRecords, "112 записей"},   {1000, kRecords, "1000 записей"}, {1001, kRecords, "1001 запись"},
        {21, kBytes, "21 байт"},          {234, kBytes, "234 байта"},      {263, kBytes, "263 байта"},
        {1, kBytes, "1 байт"},            {3, kTables, "3 таблицы"},       {1, kTables, "1 таблица"},
        {25, kTables, "25 таблиц"},       {3, kLetters, "3 буквы"},        {12, kBits, "12 бит"},
        {18446744073709551615ULL, kRecords, "18446744073709551615 записей"},
    };
    for (const auto& c : cases) EXPECT_EQ(CountOf(c.number, c.noun), c.said) << c.number;
}
