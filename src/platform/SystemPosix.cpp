// SPDX-License-Identifier: MIT
// The command line's system needs on Linux.
#include "System.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdint>
#include <cstdlib>
#include <fcntl.h>
#include <iconv.h>
#include <set>
#include <sys/stat.h>
#include <unistd.h>

namespace {

bool WriteFully(int descriptor, std::span<const std::uint8_t> data)
{
    while (!data.empty()) {
        const ssize_t put = write(descriptor, data.data(), data.size());
        if (put < 0 && errno == EINTR) continue;
        if (put <= 0) return false;
        data = data.subspan(static_cast<std::size_t>(put));
    }
    return true;
}

// The folder a file's entry lives in, as open() takes it.
std::string FolderOf(const std::string& name)
{
    const auto folder = std::filesystem::path(name).parent_path();
    return folder.empty() ? std::string(".") : folder.string();
}

bool FlushFolder(const std::string& folder)
{
    const int directory = open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (directory < 0) return false;
    const bool flushed = fsync(directory) == 0;
    close(directory);
    return flushed;
}

}  // namespace

std::vector<std::string> CommandLineArguments(int argc, char** argv)
{
    return argc > 1 ? std::vector<std::string>(argv + 1, argv + argc) : std::vector<std::string>{};
}

std::filesystem::path NativePath(const std::string& name)
{
    return std::filesystem::path(name);
}

std::string NameOf(const std::filesystem::path& path)
{
    return path.string();
}

struct TConsoleStreams::TState {};

// A terminal here takes the UTF-8 bytes as they are.
TConsoleStreams::TConsoleStreams(std::ostream& /*out*/, std::ostream& /*err*/) {}
TConsoleStreams::~TConsoleStreams() = default;

bool StandardErrorIsTerminal()
{
    return isatty(STDERR_FILENO) == 1;
}

bool WriteNewFile(const std::string& name, std::span<const std::uint8_t> data)
{
    const int file = open(name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
    if (file < 0) return false;
    const bool written = WriteFully(file, data);
    const bool closed = close(file) == 0;
    if (!written || !closed) {
        unlink(name.c_str());
        return false;
    }
    return true;
}

std::filesystem::path LongFolderName(const std::filesystem::path& folder)
{
    return folder;
}

bool IsFolder(const std::filesystem::path& name)
{
    std::error_code error;
    return std::filesystem::is_directory(name, error) && !error;
}

bool ListFolder(const std::filesystem::path& folder, std::vector<TFolderEntry>& entries)
{
    std::error_code error;
    std::filesystem::directory_iterator it(folder, error);
    for (; !error && it != std::filesystem::directory_iterator(); it.increment(error)) {
        // The type the listing gave is used where there is one, so that most
        // entries cost no call of their own; links are followed.
        TFolderEntry entry{it->path().filename()};
        std::error_code typeError;
        entry.IsFolder = it->is_directory(typeError) && !typeError;
        entry.IsRegularFile = !entry.IsFolder && it->is_regular_file(typeError) && !typeError;
        entry.IsLink = it->is_symlink(typeError) && !typeError;
        entries.push_back(std::move(entry));
    }
    return !error;
}

bool FolderIdentity(const std::filesystem::path& folder, std::string& identity)
{
    std::error_code error;
    identity = std::filesystem::canonical(folder, error).string();
    return !error;
}

bool FlushFilesDurably(const std::vector<std::string>& names)
{
    std::set<std::string> folders;
    for (const auto& name : names) folders.insert(FolderOf(name));
    bool flushed = true;
#ifdef __linux__
    // One flush of each file system holding the files writes them all out in
    // one journal commit, where a flush per file commits once per file.
    // Since Linux 5.8 it also reports a write that failed since the files
    // were written.
    for (const auto& folder : folders) {
        const int directory = open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        if (directory < 0) return false;
        flushed = syncfs(directory) == 0 && flushed;
        close(directory);
    }
#else
    for (const auto& name : names) {
        const int file = open(name.c_str(), O_RDONLY | O_CLOEXEC);
        if (file < 0) return false;
        flushed = fsync(file) == 0 && flushed;
        close(file);
    }
#endif
    // The new entries in their folders must reach the disk too, or a crash
    // could lose whole files.
    for (const auto& folder : folders) flushed = FlushFolder(folder) && flushed;
    return flushed;
}

TSmallFile ReadSmallFile(const std::string& name, std::size_t limit)
{
    TSmallFile result;
    // Without blocking: a pipe nobody writes to would wait for ever in
    // open(), and a terminal must not become the controlling one.
    const int file = open(name.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (file < 0) {
        result.Status = errno == ENOENT || errno == ENOTDIR ? TSmallFileStatus::Missing : TSmallFileStatus::Unreadable;
        return result;
    }
    struct stat status {};
    if (fstat(file, &status) != 0) {
        result.Status = TSmallFileStatus::Unreadable;
    } else if (S_ISDIR(status.st_mode)) {
        result.Status = TSmallFileStatus::Folder;
    } else if (!S_ISREG(status.st_mode)) {
        result.Status = TSmallFileStatus::NotRegular;
    } else if (status.st_size < 0 || static_cast<std::uint64_t>(status.st_size) > limit) {
        result.Status = TSmallFileStatus::TooLarge;
    } else {
        // Read to the end, not to the length fstat told: the file may grow
        // meanwhile, and no more than the limit is ever kept.
        result.Status = TSmallFileStatus::Read;
        std::string data(static_cast<std::size_t>(status.st_size) + 1, '\0');
        std::size_t got = 0;
        for (;;) {
            if (got == data.size()) {
                if (data.size() > limit) break;
                data.resize(std::min(data.size() * 2, limit + 1));
            }
            const ssize_t n = read(file, data.data() + got, data.size() - got);
            if (n < 0 && errno == EINTR) continue;
            if (n < 0) {
                result.Status = TSmallFileStatus::Unreadable;
                break;
            }
            if (n == 0) break;
            got += static_cast<std::size_t>(n);
        }
        if (result.Status == TSmallFileStatus::Read && got > limit) result.Status = TSmallFileStatus::TooLarge;
        if (result.Status == TSmallFileStatus::Read) {
            data.resize(got);
            result.Data = std::move(data);
        }
    }
    close(file);
    return result;
}

std::optional<TFileIdentity> IdentifyFile(const std::string& name)
{
    char resolved[PATH_MAX];
    struct stat status {};
    if (realpath(name.c_str(), resolved) == nullptr || stat(resolved, &status) != 0) return std::nullopt;
    TFileIdentity identity;
    identity.Path = resolved;
    identity.Size = status.st_size > 0 ? static_cast<std::uint64_t>(status.st_size) : 0;
    identity.Id = TFileId{static_cast<std::uint64_t>(status.st_dev), static_cast<std::uint64_t>(status.st_ino)};
    return identity;
}

std::optional<std::string> DecodeText(const std::string& charset, std::span<const std::uint8_t> bytes)
{
    const iconv_t converter = iconv_open("UTF-8", charset.c_str());
    // iconv tells a failed open by the handle (iconv_t)-1.
    if (reinterpret_cast<std::intptr_t>(converter) == -1) return std::nullopt;
    // No character of these encodings takes more than four bytes of UTF-8.
    std::string out(bytes.size() * 4, '\0');
    std::string in(bytes.begin(), bytes.end());
    char* from = in.data();
    std::size_t fromLeft = in.size();
    char* to = out.data();
    std::size_t toLeft = out.size();
    const bool done = iconv(converter, &from, &fromLeft, &to, &toLeft) != static_cast<std::size_t>(-1) &&
                      iconv(converter, nullptr, nullptr, &to, &toLeft) != static_cast<std::size_t>(-1);
    iconv_close(converter);
    if (!done) return std::nullopt;
    out.resize(out.size() - toLeft);
    return out;
}
