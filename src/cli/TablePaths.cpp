// SPDX-License-Identifier: MIT
#include "TablePaths.h"

#include "System.h"

#include <algorithm>
#include <filesystem>
#include <set>

namespace fs = std::filesystem;

namespace {

std::string LowerAscii(std::string text)
{
    std::transform(text.begin(), text.end(), text.begin(),
                   [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; });
    return text;
}

class TWalk {
public:
    explicit TWalk(TPathList& list) : FList(list) {}

    void Folder(const fs::path& folder)
    {
        std::error_code error;
        const fs::path canonical = fs::canonical(folder, error);
        if (error) {
            Unreadable(folder);
            return;
        }
        // A link back to a folder on the way down (or to one walked before)
        // would walk it again, forever in a loop.
        if (!FVisited.insert(canonical).second) {
            FList.Skipped.push_back(NameOf(folder) + ": папка уже пройдена (ссылка), пропущена");
            return;
        }
        std::vector<fs::directory_entry> entries;
        fs::directory_iterator it(folder, error);
        for (; !error && it != fs::directory_iterator(); it.increment(error)) entries.push_back(*it);
        if (error) {
            Unreadable(folder);
            return;
        }
        std::sort(entries.begin(), entries.end(),
                  [](const auto& a, const auto& b) { return a.path().filename() < b.path().filename(); });
        for (const auto& entry : entries) {
            // Through links; the type the folder listing gave is used where
            // there is one, so that most entries cost no call of their own.
            const bool isFolder = entry.is_directory(error);
            if (!error && isFolder) {
                Folder(entry.path());
            } else if (const std::string name = NameOf(entry.path()); HasTableName(name)) {
                if (entry.is_regular_file(error) && !error) {
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
    std::set<fs::path> FVisited;
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
        std::error_code error;
        if (recursive && fs::is_directory(NativePath(path), error)) {
            walk.Folder(NativePath(path));
        } else {
            // The table's own checks tell what is wrong with the name.
            list.Tables.push_back(path);
        }
    }
    return list;
}

TIndexBeside TIndexFiles::Beside(const std::string& table)
{
    const fs::path path = NativePath(table);
    fs::path folder = path.parent_path();
    if (folder.empty()) folder = ".";
    auto [place, fresh] = FFolders.try_emplace(folder);
    TFolder& known = place->second;
    if (fresh) {
        std::error_code error;
        fs::directory_iterator it(folder, error);
        for (; !error && it != fs::directory_iterator(); it.increment(error)) {
            const std::string name = LowerAscii(NameOf(it->path().filename()));
            if (name.size() <= 4) continue;
            const std::string extension = name.substr(name.size() - 4);
            if (extension != ".mdx" && extension != ".cdx") continue;
            std::error_code typeError;
            if (!it->is_regular_file(typeError) || typeError) continue;
            known.Index.emplace(name.substr(0, name.size() - 4), it->path().filename());
        }
        known.Read = !error;
    }
    TIndexBeside beside;
    beside.FolderRead = known.Read;
    const std::string name = LowerAscii(NameOf(path.filename()));
    const auto found = known.Index.find(name.substr(0, name.size() >= 4 ? name.size() - 4 : name.size()));
    if (found != known.Index.end()) beside.File = NameOf(path.parent_path() / found->second);
    return beside;
}
