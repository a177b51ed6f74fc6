// SPDX-License-Identifier: MIT
// The window's command line: which table it names, as both windows read it.
#include "CommandLine.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

constexpr auto kPosix = TNameSystem::Posix;
constexpr auto kWindows = TNameSystem::Windows;

struct TArgumentCase {
    const char* what;
    TNameSystem system;
    std::vector<std::string> arguments;
    // The name the edit starts with; for a mistake, empty.
    std::string name;
    // For a mistake, a part of the box's text; empty when there is none.
    std::string errorHas;
};

TEST(CommandLineTest, ArgumentsNameOneTableOrTellTheMistake)
{
    const std::string longCyrillic = [] {
        std::string name;
        for (int i = 0; i < 150; ++i) name += "ж";
        return name;
    }();
    const TArgumentCase cases[] = {
        {"nothing", kPosix, {}, "", ""},
        {"empty arguments name nothing", kPosix, {"", ""}, "", ""},
        {"a relative name", kPosix, {"clients.dbf"}, "clients.dbf", ""},
        {"spaces", kPosix, {"/srv/old tables/my clients.dbf"}, "/srv/old tables/my clients.dbf", ""},
        {"Cyrillic", kPosix, {"/home/Юля/Клиенты.dbf"}, "/home/Юля/Клиенты.dbf", ""},
        {"bytes that are not UTF-8 (Windows-1251)", kPosix, {"/srv/\xCA\xEB\xE8\xE5\xED\xF2\xFB.dbf"},
         "/srv/\xCA\xEB\xE8\xE5\xED\xF2\xFB.dbf", ""},
        {"a control byte in a name", kPosix, {"line\nfeed.dbf"}, "line\nfeed.dbf", ""},
        {"an empty argument beside a name", kPosix, {"", "a.dbf"}, "a.dbf", ""},
        {"a lone dash is a name", kPosix, {"-"}, "-", ""},
        {"a name beginning with a dash after --", kPosix, {"--", "-clients.dbf"}, "-clients.dbf", ""},
        {"-- after -- is a name", kPosix, {"--", "--"}, "--", ""},
        {"-- after the name", kPosix, {"a.dbf", "--"}, "a.dbf", ""},
        {"a Windows path", kWindows, {"C:\\Данные\\Клиенты.dbf"}, "C:\\Данные\\Клиенты.dbf", ""},
        {"a share", kWindows, {"\\\\srv\\d\\a.dbf"}, "\\\\srv\\d\\a.dbf", ""},

        {"file URL with %20", kPosix, {"file:///srv/old%20tables/a.dbf"}, "/srv/old tables/a.dbf", ""},
        {"file URL with Cyrillic percent-encoded", kPosix,
         {"file:///home/%D0%AE%D0%BB%D1%8F/%D0%9A%D0%BB%D0%B8%D0%B5%D0%BD%D1%82%D1%8B.dbf"},
         "/home/Юля/Клиенты.dbf", ""},
        {"file URL with Cyrillic left as it is", kPosix, {"file:///home/Юля/a.dbf"}, "/home/Юля/a.dbf", ""},
        {"file URL of bytes that are not UTF-8", kPosix, {"file:///srv/%CA%EB.dbf"}, "/srv/\xCA\xEB.dbf", ""},
        {"file URL with lower-case escapes", kPosix, {"file:///srv/a%2fb%3f.dbf"}, "/srv/a/b?.dbf", ""},
        {"file URL for localhost", kPosix, {"file://LocalHost/tmp/a.dbf"}, "/tmp/a.dbf", ""},
        {"file URL with one slash", kPosix, {"file:/tmp/a.dbf"}, "/tmp/a.dbf", ""},
        {"scheme in capitals", kPosix, {"FILE:///tmp/a.dbf"}, "/tmp/a.dbf", ""},
        {"query and fragment are no part of the name", kPosix, {"file:///tmp/a.dbf?x=1#top"}, "/tmp/a.dbf", ""},
        {"file URL after --", kPosix, {"--", "file:///tmp/-a.dbf"}, "/tmp/-a.dbf", ""},
        {"file URL with a drive", kWindows, {"file:///C:/Program%20Files/%D0%90.dbf"}, "C:\\Program Files\\А.dbf",
         ""},
        {"file URL with an old drive bar", kWindows, {"file:///d|/a.dbf"}, "d:\\a.dbf", ""},
        {"file URL of a share", kWindows, {"file://srv/d/a%20b.dbf"}, "\\\\srv\\d\\a b.dbf", ""},
        {"file URL of a share with four slashes", kWindows, {"file:////srv/d/a.dbf"}, "\\\\srv\\d\\a.dbf", ""},
        {"not a file URL", kPosix, {"http://example.org/a.dbf"}, "http://example.org/a.dbf", ""},

        {"two names", kPosix, {"a.dbf", "b dbf.dbf"}, "", "названо таблиц: 2 («a.dbf», «b dbf.dbf»)"},
        {"two names on Windows", kWindows, {"C:\\a.dbf", "C:\\b.dbf"}, "", "названо таблиц: 2"},
        {"five names are counted past the third", kPosix, {"1", "2", "3", "4", "5"}, "",
         "(«1», «2», «3» и ещё 2)"},
        {"an unknown option", kPosix, {"--foo"}, "", "Неизвестный ключ «--foo»"},
        {"an unknown short option before a name", kPosix, {"-x", "a.dbf"}, "", "Неизвестный ключ «-x»"},
        {"an unknown option after a name", kPosix, {"a.dbf", "--help"}, "", "Неизвестный ключ «--help»"},
        {"a control byte is shown escaped", kPosix, {"a\nb.dbf", "c.dbf"}, "", "«a\\x0Ab.dbf»"},
        {"a long name is cut between characters", kPosix, {longCyrillic, "c.dbf"}, "",
         "«" + longCyrillic.substr(0, 200) + "…»"},
        {"file URL of another machine", kPosix, {"file://srv/d/a.dbf"}, "", "файл на другом компьютере («srv»)"},
        {"file URL with a broken escape", kPosix, {"file:///tmp/%zz.dbf"}, "", "адрес файла записан неверно"},
        {"file URL with a cut escape", kPosix, {"file:///tmp/a%2"}, "", "адрес файла записан неверно"},
        {"file URL with a zero byte", kPosix, {"file:///tmp/a%00.dbf"}, "", "адрес файла записан неверно"},
        {"file URL without a path", kPosix, {"file://"}, "", "адрес файла записан неверно"},
        {"file URL of the root alone", kWindows, {"file:///"}, "", "адрес файла записан неверно"},
        {"file URL with a relative path", kPosix, {"file:a.dbf"}, "", "адрес файла записан неверно"},
    };
    for (const TArgumentCase& c : cases) {
        const TCommandLineTable table = TableFromCommandLine(c.arguments, c.system);
        EXPECT_EQ(table.name, c.name) << c.what;
        if (c.errorHas.empty()) {
            EXPECT_EQ(table.error, "") << c.what;
        } else {
            EXPECT_NE(table.error.find(c.errorHas), std::string::npos) << c.what << ": " << table.error;
            // The box's text is one paragraph: no argument breaks it.
            EXPECT_EQ(table.error.find('\n'), std::string::npos) << c.what;
        }
    }
}

}  // namespace
