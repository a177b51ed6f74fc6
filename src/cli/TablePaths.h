// SPDX-License-Identifier: MIT
// The tables named on the command line: as given, or with --recursive the
// tables found in the folders named.
#pragma once

#include <filesystem>
#include <map>
#include <istream>
#include <optional>
#include <string>
#include <vector>

struct TPathList {
    std::vector<std::string> Tables;   // in the order found; names as the core takes them
    std::vector<std::string> Skipped;  // what was passed over, each told in a line
    bool FolderUnreadable = false;     // some folder could not be listed: tables may be missing
};

// Names ending in ".dbf" in any case of its letters.
bool HasTableName(const std::string& name);

// Each path as given; with recursive, a folder is walked instead for names
// ending in ".dbf". Links to folders inside the walk are passed over (and told)
// unless follow; a followed link never leads into a folder already walked (so
// no loop is walked twice); what is not a regular file is skipped and told.
TPathList CollectTables(const std::vector<std::string>& paths, bool recursive, bool follow = false);

// The names in a list of files (--files-from): one a line, or ended by NUL
// bytes with nul. Empty names are passed over; a line's CR before its LF is
// not part of the name. The list is untrusted: a name longer than the longest
// path a system takes, or more names than any run needs, ends the reading
// with false and the reason in error.
bool ReadFileList(std::istream& in, bool nul, std::vector<std::string>& names, std::string& error);

// Whether an index file of the table's name stands beside it.
struct TIndexBeside {
    bool FolderRead = false;          // the table's folder could be listed
    std::optional<std::string> File;  // the index file found, named as the core takes names
};

// Finds the index files beside tables: a regular file in the table's folder
// whose name is the table's name before its extension, in any case of its
// letters, with the extension .mdx (dBase IV) or .cdx (FoxPro, Clipper,
// Harbour) in any case. Each folder is listed once, and only the names of its
// index files are kept.
class TIndexFiles {
public:
    TIndexBeside Beside(const std::string& table);

private:
    struct TFolder {
        bool Read = false;
        std::multimap<std::string, std::filesystem::path> Index;  // by the name before the extension, lower case
    };
    std::map<std::filesystem::path, TFolder> FFolders;
};
