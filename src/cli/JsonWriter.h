// SPDX-License-Identifier: MIT
// dbffix's --json, written straight into a line as each table is done: no
// tree is built, so a run over a million tables costs no more memory than a
// run over one, and little more time than the people's output.
//
// The writer keeps the commas; the caller keeps the shape. Text that is not
// well-formed UTF-8 is written with U+FFFD in place of each bad sequence, so
// every line is valid JSON whatever a table holds.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

class TJsonWriter {
public:
    explicit TJsonWriter(std::string& out) : FOut(out) {}

    // An object or array as the next value; End closes the innermost one.
    TJsonWriter& Object();
    TJsonWriter& Array();
    TJsonWriter& End();

    // A member's name in the object being written; its value follows.
    TJsonWriter& Key(std::string_view key);

    TJsonWriter& Value(std::string_view text);
    TJsonWriter& Value(const char* text) { return Value(std::string_view(text)); }
    TJsonWriter& Value(const std::string& text) { return Value(std::string_view(text)); }
    TJsonWriter& Value(bool value);
    TJsonWriter& Value(std::int64_t value);
    TJsonWriter& Value(std::uint64_t value);
    TJsonWriter& Value(int value) { return Value(static_cast<std::int64_t>(value)); }
    TJsonWriter& Value(unsigned value) { return Value(static_cast<std::uint64_t>(value)); }
    TJsonWriter& Value(double value);
    TJsonWriter& Null();
    template <typename T>
    TJsonWriter& Value(const std::optional<T>& value)
    {
        return value ? Value(*value) : Null();
    }
    template <typename T>
    TJsonWriter& Value(const std::vector<T>& values)
    {
        Array();
        for (const auto& value : values) Value(value);
        return End();
    }

    // A member: its name and its value.
    template <typename T>
    TJsonWriter& Put(std::string_view key, const T& value)
    {
        return Key(key).Value(value);
    }
    TJsonWriter& PutNull(std::string_view key) { return Key(key).Null(); }

private:
    void Separate();
    TJsonWriter& Open(char opener, char closer);

    std::string& FOut;
    std::string FClosers;      // per open object or array, innermost last: '}' or ']'
    std::vector<std::uint8_t> FEmpty;  // per open object or array: nothing written in it yet
    bool FAfterKey = false;
};

// An object written by fill into a line of its own, as the tests and the
// fuzz targets take findings apart.
template <typename Fill>
std::string JsonObject(Fill fill)
{
    std::string line;
    TJsonWriter json(line);
    json.Object();
    fill(json);
    json.End();
    return line;
}
