// SPDX-License-Identifier: MIT
#include "TablePaths.h"

#include "System.h"

#include <algorithm>
#include <filesystem>
#include <set>
#include <string>
#include <vector>

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
    TWalk(TPathList& list, bool follow) : FList(list), FFollow(follow) {}

    // shown: the folder as the user spelt it and as its tables are named;
    // system: the same folder as the system's calls take it at any length.
    // Depth first, by a stack of its own: with long names a folder tree can
    // be thousands of folders deep, more than the call stack would hold.
    void Folder(const fs::path& shown, const fs::path& system)
    {
        std::vector<TFrame> stack;
        Enter(shown, system, stack);
        while (!stack.empty()) {
            TFrame& frame = stack.back();
            if (frame.Next == frame.Entries.size()) {
                stack.pop_back();
                continue;
            }
            const TFolderEntry& entry = frame.Entries[frame.Next++];
            const fs::path entryShown = frame.Shown / entry.Name;
            if (entry.IsFolder && entry.IsLink && !FFollow) {
                FList.Skipped.push_back(NameOf(entryShown) + ": ссылка на папку, пропущена (см. --follow)");
            } else if (entry.IsFolder) {
                Enter(entryShown, frame.System / entry.Name, stack);  // frame is not to be used after this
            } else if (const std::string name = NameOf(entryShown); HasTableName(name)) {
                if (entry.IsRegularFile) {
                    FList.Tables.push_back(name);
                } else {
                    FList.Skipped.push_back(name + ": не обычный файл, пропущен");
                }
            }
        }
    }

private:
    struct TFrame {
        fs::path Shown;
        fs::path System;
        std::vector<TFolderEntry> Entries;  // sorted by name
        std::size_t Next = 0;
    };

    // Lists the folder onto the stack, unless it was walked already or
    // cannot be listed (each told).
    void Enter(const fs::path& shown, const fs::path& system, std::vector<TFrame>& stack)
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
        TFrame frame{shown, system, {}, 0};
        if (!ListFolder(system, frame.Entries)) {
            Unreadable(shown);
            return;
        }
        std::sort(frame.Entries.begin(), frame.Entries.end(),
                  [](const auto& a, const auto& b) { return a.Name < b.Name; });
        stack.push_back(std::move(frame));
    }

    void Unreadable(const fs::path& folder)
    {
        FList.Skipped.push_back(NameOf(folder) + ": папка не читается");
        FList.FolderUnreadable = true;
    }

    TPathList& FList;
    bool FFollow;
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

TPathList CollectTables(const std::vector<std::string>& paths, bool recursive, bool follow)
{
    TPathList list;
    TWalk walk(list, follow);
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

bool ReadFileList(std::istream& in, bool nul, std::vector<std::string>& names, std::string& error)
{
    // Longer than any path Windows (32767 UTF-16 units, up to 3 bytes each)
    // or Linux takes; a list past these is not a list of files.
    constexpr std::size_t kLongestName = std::size_t{3} * 32767;
    constexpr std::size_t kMostNames = 50'000'000;
    const char end = nul ? '\0' : '\n';
    std::string name;
    const auto take = [&] {
        if (!nul && !name.empty() && name.back() == '\r') name.pop_back();
        if (!name.empty()) {
            if (names.size() == kMostNames) {
                error = "больше " + std::to_string(kMostNames) + " имён";
                return false;
            }
            names.push_back(std::move(name));
        }
        name.clear();
        return true;
    };
    std::streambuf* buffer = in.rdbuf();
    if (buffer == nullptr) {
        error = "не читается";
        return false;
    }
    for (int c = buffer->sbumpc(); c != std::char_traits<char>::eof(); c = buffer->sbumpc()) {
        if (static_cast<char>(c) == end) {
            if (!take()) return false;
            continue;
        }
        if (name.size() == kLongestName) {
            error = "имя №" + std::to_string(names.size() + 1) + " длиннее " + std::to_string(kLongestName) +
                    " байт" + (nul ? "" : " (список с разделителем NUL? добавьте -0)");
            return false;
        }
        name.push_back(static_cast<char>(c));
    }
    return take();
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
