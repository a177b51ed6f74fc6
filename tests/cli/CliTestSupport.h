// SPDX-License-Identifier: MIT
// Running dbffix's commands in this process, and tables for them.
#pragma once

#include "DbfFix.h"
#include "JsonWriter.h"
#include "TestSupport.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

struct TCliRun {
    int status = -1;
    std::string out;
    std::string err;
};

inline TCliRun RunDbfFix(const std::vector<std::string>& arguments)
{
    std::ostringstream out;
    std::ostringstream err;
    TCliRun run;
    run.status = DbfFixMain(arguments, out, err, false);
    run.out = out.str();
    run.err = err.str();
    return run;
}

// --json's output: one object a line, the tables' first, then the summary.
inline std::vector<nlohmann::json> JsonLines(const std::string& text)
{
    std::vector<nlohmann::json> objects;
    std::istringstream lines(text);
    for (std::string line; std::getline(lines, line);) objects.push_back(nlohmann::json::parse(line));
    return objects;
}

// A finding's members as the --json line holds them, read back.
template <typename Finding>
nlohmann::json JsonOf(const Finding& finding)
{
    return nlohmann::json::parse(JsonObject([&](TJsonWriter& json) { ToJson(finding, json); }));
}

// A table nothing would be changed in with the default choices, and one with
// the index flag set and junk in the reserved bytes.
inline TTableLayout RightTable()
{
    TTableLayout layout;
    layout.fields = {{"NAME", 'C', 10}, {"AGE", 'N', 3}};
    layout.recordCount = 3;
    layout.junk = 0;
    layout.mdxFlag = 0;
    return layout;
}

inline TTableLayout WrongTable()
{
    TTableLayout layout = RightTable();
    layout.fields[0].name = " NAME ";
    layout.fields[1].type = 'n';
    layout.junk = 0x5A;
    layout.mdxFlag = 1;
    return layout;
}

// The backup files in a folder, by name.
inline std::vector<std::string> BackupsIn(const std::string& folder)
{
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(folder)) names.push_back(entry.path().string());
    std::sort(names.begin(), names.end());
    return names;
}

inline std::string TextOf(const std::filesystem::path& path)
{
    const TBytes bytes = ReadAll(path);
    return {bytes.begin(), bytes.end()};
}

inline void WriteText(const std::filesystem::path& path, const std::string& text)
{
    WriteAll(path, TBytes(text.begin(), text.end()));
}
