// SPDX-License-Identifier: MIT
#include "TablePaths.h"

#include "System.h"

#include <algorithm>
#include <filesystem>
#include <set>

namespace fs = std::filesystem;

namespace {

class TWalk {
public:
    explicit TWalk(TPathList& list) : FList(list) {}

    // shown: the folder as the user spelt it and as its tables are named;
    // system: the same folder as the system's calls take it at any length.
    void Folder(const fs::path& shown, const fs::path& system)
    {
        std::string identity;
        if (!FolderIdentity(system, identity)) {
            Unreadable(shown);
            return;
        }
        // A link back to a folder on the way down (or to one walked before)
        // would walk it again, forever in a loop.
        if (!FVisited.insert(identity).second) {
            FList.Skipped.push_back(NameOf(shown) + ": папка уже пройдена (ссылка), пропущена");
            return;
        }
        std::vector<TFolderEntry> entries;
        if (!ListFolder(system, entries)) {
            Unreadable(shown);
            return;
        }
        std::sort(entries.begin(), entries.end(), [](const auto& a, const auto& b) { return a.Name < b.Name; });
        for (const auto& entry : entries) {
            if (entry.IsFolder) {
                Folder(shown / entry.Name, system / entry.Name);
            } else if (const std::string name = NameOf(shown / entry.Name); HasTableName(name)) {
                if (entry.IsRegularFile) {
                    FList.Tables.push_back(name);
                } else {
                    FList.Skipped.push_back(name + ": не обычный файл, пропущен");
                }
            }
        }
    }

private:
    void Unreadable(const fs::path& folder)
    {
        FList.Skipped.push_back(NameOf(folder) + ": папка не читается");
        FList.FolderUnreadable = true;
    }

    TPathList& FList;
    std::set<std::string> FVisited;
};

}  // namespace

bool HasTableName(const std::string& name)
{
    static constexpr std::string_view kExtension = ".dbf";
    if (name.size() < kExtension.size()) return false;
    return std::equal(kExtension.begin(), kExtension.end(), name.end() - static_cast<std::ptrdiff_t>(kExtension.size()),
                      [](char lower, char c) { return (c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c) == lower; });
}

TPathList CollectTables(const std::vector<std::string>& paths, bool recursive)
{
    TPathList list;
    TWalk walk(list);
    for (const auto& path : paths) {
        const fs::path folder = NativePath(path);
        const fs::path system = LongFolderName(folder);
        if (recursive && IsFolder(system)) {
            walk.Folder(folder, system);
        } else {
            // The table's own checks tell what is wrong with the name.
            list.Tables.push_back(path);
        }
    }
    return list;
}
