// SPDX-License-Identifier: MIT
// The command line's system needs on Linux.
#include "System.h"

#include <cerrno>
#include <fcntl.h>
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

void PrepareConsole() {}

bool StandardErrorIsTerminal()
{
    return isatty(STDERR_FILENO) == 1;
}

bool WriteNewFileDurably(const std::string& name, std::span<const std::uint8_t> data)
{
    const int file = open(name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
    if (file < 0) return false;
    const bool written = WriteFully(file, data) && fsync(file) == 0;
    const bool closed = close(file) == 0;
    if (!written || !closed) {
        unlink(name.c_str());
        return false;
    }
    // The new entry in its folder must reach the disk too, or a crash could
    // lose the whole file.
    const auto folder = std::filesystem::path(name).parent_path();
    const int directory = open(folder.empty() ? "." : folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (directory >= 0) {
        fsync(directory);
        close(directory);
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
