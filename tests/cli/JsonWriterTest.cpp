// SPDX-License-Identifier: MIT
// The --json lines are written without a tree: every text a table may hold
// must still come out as JSON that reads back to what was meant.
#include "JsonWriter.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <cmath>
#include <limits>

TEST(JsonWriter, TextsComeOutAsJsonThatReadsBackToThem)
{
    struct TCase {
        const char* Label;
        std::string Text;
        std::string Written;  // between the quotes
        std::string ReadBack;
    };
    const std::vector<TCase> cases{
        {"plain", "ORDERS.DBF", "ORDERS.DBF", "ORDERS.DBF"},
        {"cyrillic", "ТОВАРЫ.dbf", "ТОВАРЫ.dbf", "ТОВАРЫ.dbf"},
        {"quote and backslash", "a\"b\\c", "a\\\"b\\\\c", "a\"b\\c"},
        {"line feed, return, tab", "1\n2\r3\t", "1\\n2\\r3\\t", "1\n2\r3\t"},
        {"escape and NUL", std::string("\x1b[2J\0", 5), "\\u001b[2J\\u0000", std::string("\x1b[2J\0", 5)},
        {"a Windows-1251 byte", "\xC8\xCC\xDF", "\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD", "\uFFFD\uFFFD\uFFFD"},
        {"a character cut short", "ab\xD0", "ab\xEF\xBF\xBD", "ab\uFFFD"},
        {"an overlong slash", "\xC0\xAF", "\xEF\xBF\xBD\xEF\xBF\xBD", "\uFFFD\uFFFD"},
        {"a surrogate", "\xED\xA0\x80", "\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD", "\uFFFD\uFFFD\uFFFD"},
        {"four bytes", "\xF0\x9F\x98\x80", "\xF0\x9F\x98\x80", "\xF0\x9F\x98\x80"},
        {"DEL stays", "\x7F", "\x7F", "\x7F"},
    };
    for (const auto& c : cases) {
        const std::string line = JsonObject([&](TJsonWriter& json) { json.Put("t", c.Text); });
        EXPECT_EQ(line, "{\"t\":\"" + c.Written + "\"}") << c.Label;
        EXPECT_EQ(nlohmann::json::parse(line).at("t"), c.ReadBack) << c.Label;
    }
}

TEST(JsonWriter, CommasAndBracketsFollowTheShape)
{
    const std::string line = JsonObject([](TJsonWriter& json) {
        json.Put("n", std::uint64_t{18446744073709551615U})
            .Put("neg", -3)
            .Put("none", std::optional<int>())
            .Put("some", std::optional<unsigned>(7))
            .Put("list", std::vector<std::string>{"a", "b"})
            .Put("empty", std::vector<std::string>{})
            .Put("half", 0.5)
            .Put("nan", std::numeric_limits<double>::quiet_NaN());
        json.Key("rows").Array();
        json.Object().Put("x", true).End().Object().End();
        json.End();
    });
    EXPECT_EQ(line, "{\"n\":18446744073709551615,\"neg\":-3,\"none\":null,\"some\":7,\"list\":[\"a\",\"b\"],"
                    "\"empty\":[],\"half\":0.5,\"nan\":null,\"rows\":[{\"x\":true},{}]}");
    EXPECT_TRUE(nlohmann::json::accept(line));
}
