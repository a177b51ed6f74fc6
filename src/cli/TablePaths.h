// SPDX-License-Identifier: MIT
// The tables named on the command line: as given, or with --recursive the
// tables found in the folders named.
#pragma once

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
// ending in ".dbf". Links are followed, but never into a folder already walked
// (so no loop is walked twice); what is not a regular file is skipped and told.
TPathList CollectTables(const std::vector<std::string>& paths, bool recursive);
