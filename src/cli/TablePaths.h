// SPDX-License-Identifier: MIT
// The tables named on the command line: as given, or with --recursive the
// tables found in the folders named.
#pragma once

#include <filesystem>
#include <functional>
#include <istream>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

struct TFolderEntry;

struct TPathList {
    std::vector<std::string> Tables;   // in the order found; names as the core takes them
    std::vector<std::string> Skipped;  // what was passed over, each told in a line
    bool FolderUnreadable = false;     // some folder could not be listed: tables may be missing
};

// Names ending in ".dbf" in any case of its letters.
bool HasTableName(const std::string& name);

// The tables the paths name, one at a time as they are found: each path as
// given; with recursive, a folder is walked instead for names ending in
// ".dbf", each folder's names in order. Links to folders inside the walk are
// passed over (and told) unless follow; a followed link never leads into a
// folder already walked (so no loop is walked twice); what is not a regular
// file is skipped and told. Only the folders on the way down are held, so a
// walk over a million tables costs no more memory than one over a thousand.
class TTableWalk {
public:
    using TTell = std::function<void(const std::string& line)>;
    TTableWalk(std::vector<std::string> paths, bool recursive, bool follow, TTell skipped);
    ~TTableWalk();
    TTableWalk(const TTableWalk&) = delete;
    TTableWalk& operator=(const TTableWalk&) = delete;

    // The next table, named as the core takes names; false when none is left.
    bool Next(std::string& table);
    // Some folder could not be listed: tables may be missing.
    [[nodiscard]] bool FolderUnreadable() const { return FFolderUnreadable; }

private:
    struct TFrame;
    void Enter(const std::filesystem::path& shown, const std::filesystem::path& system);
    void Unreadable(const std::filesystem::path& folder);

    std::vector<std::string> FPaths;
    std::size_t FNextPath = 0;
    bool FRecursive;
    bool FFollow;
    TTell FSkipped;
    // Depth first, by a stack of its own: with long names a folder tree can
    // be thousands of folders deep, more than the call stack would hold.
    std::vector<TFrame> FStack;
    std::set<std::string> FVisited;  // the folders walked, by identity
    bool FFolderUnreadable = false;
};

// The whole walk at once, for a few paths.
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
