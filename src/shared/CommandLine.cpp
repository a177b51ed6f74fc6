// SPDX-License-Identifier: MIT
#include "CommandLine.h"

#include <algorithm>
#include <cstddef>
#include <optional>
#include <string_view>

namespace {

// At most this many names are quoted in the box; a whole folder dropped on
// the icon is counted, not listed.
constexpr std::size_t kQuotedNames = 3;
// A quoted argument is cut to this many bytes, so that a box stays a box.
constexpr std::size_t kQuotedBytes = 200;

char LowerAscii(char c)
{
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

bool EqualsIgnoringCase(std::string_view a, std::string_view b)
{
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (LowerAscii(a[i]) != LowerAscii(b[i])) return false;
    }
    return true;
}

bool IsAsciiLetter(char c)
{
    return LowerAscii(c) >= 'a' && LowerAscii(c) <= 'z';
}

// An argument as the box quotes it: control bytes as \xNN (a name may hold
// a line feed), a long one cut with an ellipsis.
std::string Quoted(std::string_view argument)
{
    static constexpr char kHex[] = "0123456789ABCDEF";
    std::string text = "«";
    std::size_t shown = argument.size() > kQuotedBytes ? kQuotedBytes : argument.size();
    // Cut between characters: the rest of a cut one would show as a
    // replacement mark.
    while (shown > 0 && shown < argument.size() && (static_cast<unsigned char>(argument[shown]) & 0xC0) == 0x80) {
        --shown;
    }
    for (std::size_t i = 0; i < shown; ++i) {
        const auto byte = static_cast<unsigned char>(argument[i]);
        if (byte < 0x20 || byte == 0x7F) {
            text += "\\x";
            text += kHex[byte >> 4];
            text += kHex[byte & 0x0F];
        } else {
            text += static_cast<char>(byte);
        }
    }
    if (shown < argument.size()) text += "…";
    return text + "»";
}

int HexValue(char c)
{
    if (c >= '0' && c <= '9') return c - '0';
    if (LowerAscii(c) >= 'a' && LowerAscii(c) <= 'f') return LowerAscii(c) - 'a' + 10;
    return -1;
}

// %XX escapes to their bytes; nothing for a broken escape or a zero byte,
// which no file name holds.
std::optional<std::string> PercentDecoded(std::string_view text)
{
    std::string bytes;
    bytes.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '%') {
            bytes += text[i];
            continue;
        }
        if (i + 2 >= text.size()) return std::nullopt;
        const int high = HexValue(text[i + 1]);
        const int low = HexValue(text[i + 2]);
        if (high < 0 || low < 0 || (high == 0 && low == 0)) return std::nullopt;
        bytes += static_cast<char>(high * 16 + low);
        i += 2;
    }
    return bytes;
}

// A file URL's path, as this system names the file, or the mistake.
TCommandLineTable PathOfFileUrl(std::string_view url, TNameSystem system)
{
    auto wrong = [url] { return TCommandLineTable{{}, Quoted(url) + ": адрес файла записан неверно."}; };
    std::string_view rest = url.substr(5);
    // A query or fragment is no part of a file's name.
    rest = rest.substr(0, rest.find_first_of("?#"));
    std::string_view host;
    if (rest.substr(0, 2) == "//") {
        rest.remove_prefix(2);
        const std::size_t slash = rest.find('/');
        host = rest.substr(0, slash);
        rest = slash == std::string_view::npos ? std::string_view{} : rest.substr(slash);
        if (EqualsIgnoringCase(host, "localhost")) host = {};
    }
    if (rest.empty() || rest.front() != '/') return wrong();

    std::optional<std::string> path = PercentDecoded(rest);
    const std::optional<std::string> server = PercentDecoded(host);
    if (!path || !server || path->find_first_not_of('/') == std::string::npos) return wrong();

    if (system == TNameSystem::Posix) {
        if (!server->empty()) {
            return {{}, Quoted(url) + ": файл на другом компьютере (" + Quoted(*server) +
                            "); назовите его путём, под которым его видит эта система."};
        }
        return {*path, {}};
    }

    std::string name;
    if (!server->empty()) {
        // \\server\share\...
        name = "//" + *server + *path;
    } else if (path->size() >= 3 && IsAsciiLetter((*path)[1]) && ((*path)[2] == ':' || (*path)[2] == '|')) {
        // /C:/dir/table.dbf, or the old /C|/dir/table.dbf.
        name = path->substr(1);
        name[1] = ':';
    } else {
        // ////server/share/... as some programs write a share.
        name = *path;
    }
    std::replace(name.begin(), name.end(), '/', '\\');
    return {name, {}};
}

}  // namespace

TCommandLineTable TableFromCommandLine(const std::vector<std::string>& arguments, TNameSystem system)
{
    std::vector<std::string_view> names;
    bool optionsEnded = false;
    for (const std::string& argument : arguments) {
        if (argument.empty()) continue;
        if (!optionsEnded && argument == "--") {
            optionsEnded = true;
            continue;
        }
        // "-" alone is a name, as in most programs that take files.
        if (!optionsEnded && argument.size() > 1 && argument.front() == '-') {
            return {{}, "Неизвестный ключ " + Quoted(argument) +
                            ". Окну называют одну таблицу: DbfHeaderFix ТАБЛИЦА.dbf; имя, начинающееся с «-», "
                            "пишут после «--»."};
        }
        names.emplace_back(argument);
    }
    if (names.empty()) return {};
    if (names.size() > 1) {
        std::string listed;
        for (std::size_t i = 0; i < names.size() && i < kQuotedNames; ++i) {
            listed += (i == 0 ? "" : ", ") + Quoted(names[i]);
        }
        if (names.size() > kQuotedNames) listed += " и ещё " + std::to_string(names.size() - kQuotedNames);
        return {{}, "Окно исправляет одну таблицу за раз, а названо таблиц: " + std::to_string(names.size()) + " (" +
                        listed + "). Ни одна не открыта; много таблиц сразу исправляет dbffix."};
    }
    const std::string_view name = names.front();
    if (name.size() > 5 && EqualsIgnoringCase(name.substr(0, 5), "file:")) return PathOfFileUrl(name, system);
    return {std::string(name), {}};
}
