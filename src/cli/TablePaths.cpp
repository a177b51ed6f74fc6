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

}  // namespace

bool HasTableName(const std::string& name)
{
    static constexpr std::string_view kExtension = ".dbf";
    if (name.size() < kExtension.size()) return false;
    return std::equal(kExtension.begin(), kExtension.end(), name.end() - static_cast<std::ptrdiff_t>(kExtension.size()),
                      [](char lower, char c) { return (c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c) == lower; });
}

struct TTableWalk::TFrame {
    fs::path Shown;   // the folder as the user spelt it and as its tables are named
    fs::path System;  // the same folder as the system's calls take it at any length
    std::vector<TFolderEntry> Entries;  // sorted by name
    std::size_t Next = 0;
};

TTableWalk::TTableWalk(std::vector<std::string> paths, bool recursive, bool follow, TTell skipped)
    : FPaths(std::move(paths)), FRecursive(recursive), FFollow(follow), FSkipped(std::move(skipped))
{
}

TTableWalk::~TTableWalk() = default;

bool TTableWalk::Next(std::string& table)
{
    for (;;) {
        if (FStack.empty()) {
            if (FNextPath == FPaths.size()) return false;
            const std::string& path = FPaths[FNextPath++];
            const fs::path folder = NativePath(path);
            const fs::path system = LongFolderName(folder);
            if (FRecursive && IsFolder(system)) {
                Enter(folder, system);
                continue;
            }
            // The table's own checks tell what is wrong with the name.
            table = path;
            return true;
        }
        TFrame& frame = FStack.back();
        if (frame.Next == frame.Entries.size()) {
            FStack.pop_back();
            continue;
        }
        const TFolderEntry& entry = frame.Entries[frame.Next++];
        const fs::path entryShown = frame.Shown / entry.Name;
        if (entry.IsFolder && entry.IsLink && !FFollow) {
            FSkipped(NameOf(entryShown) + ": ссылка на папку, пропущена (см. --follow)");
        } else if (entry.IsFolder) {
            Enter(entryShown, frame.System / entry.Name);  // frame is not to be used after this
        } else if (std::string name = NameOf(entryShown); HasTableName(name)) {
            if (entry.IsRegularFile) {
                table = std::move(name);
                return true;
            }
            FSkipped(name + ": не обычный файл, пропущен");
        }
    }
}

// Lists the folder onto the stack, unless it was walked already or cannot be
// listed (each told).
void TTableWalk::Enter(const fs::path& shown, const fs::path& system)
{
    std::string identity;
    if (!FolderIdentity(system, identity)) {
        Unreadable(shown);
        return;
    }
    // A link back to a folder on the way down (or to one walked before)
    // would walk it again, forever in a loop.
    if (!FVisited.insert(identity).second) {
        FSkipped(NameOf(shown) + ": папка уже пройдена (ссылка), пропущена");
        return;
    }
    TFrame frame{shown, system, {}, 0};
    if (!ListFolder(system, frame.Entries)) {
        Unreadable(shown);
        return;
    }
    std::sort(frame.Entries.begin(), frame.Entries.end(), [](const auto& a, const auto& b) { return a.Name < b.Name; });
    FStack.push_back(std::move(frame));
}

void TTableWalk::Unreadable(const fs::path& folder)
{
    FSkipped(NameOf(folder) + ": папка не читается");
    FFolderUnreadable = true;
}

TPathList CollectTables(const std::vector<std::string>& paths, bool recursive, bool follow)
{
    TPathList list;
    TTableWalk walk(paths, recursive, follow, [&list](const std::string& line) { list.Skipped.push_back(line); });
    for (std::string table; walk.Next(table);) list.Tables.push_back(table);
    list.FolderUnreadable = walk.FolderUnreadable();
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
