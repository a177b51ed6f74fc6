// The exclusive table file on Linux.
//
// POSIX has no share modes, so "no other program has the file open, and none
// gets in while we hold it" is built from what the kernel offers:
//  - a write lease, granted only while no other descriptor or mapping of the
//    file exists anywhere on the machine; while it is held, other opens wait
//    until the file is closed (or fail at once when opened non-blocking);
//  - flock and a whole-file OFD write lock, which other xBase programs and a
//    second copy of this tool respect;
//  - where the kernel refuses the lease (we do not own the file, or its file
//    system has no leases), a look through /proc for other descriptors of it.
#include "ExclusiveFile.h"

#include <cerrno>
#include <csignal>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <string_view>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>

namespace {

// A broken lease is announced with SIGIO, whose default action ends the
// process. The lease is only ever given up by closing, so the signal is not
// needed; an application's own handler is left alone.
void IgnoreLeaseBreakSignal()
{
    struct sigaction current {};
    if (sigaction(SIGIO, nullptr, &current) == 0 && current.sa_handler == SIG_DFL) {
        struct sigaction ignore {};
        ignore.sa_handler = SIG_IGN;
        sigemptyset(&ignore.sa_mask);
        sigaction(SIGIO, &ignore, nullptr);
    }
}

bool IsDigits(std::string_view s)
{
    return !s.empty() && s.find_first_not_of("0123456789") == std::string_view::npos;
}

// True when any descriptor of any process other than ours (ownDescriptor in
// this process) refers to the file with this device and inode.
bool OpenElsewhere(const struct stat& file, int ownDescriptor)
{
    const std::string self = std::to_string(getpid());
    DIR* proc = opendir("/proc");
    if (proc == nullptr) return false;
    bool found = false;
    while (!found) {
        const dirent* process = readdir(proc);
        if (process == nullptr) break;
        if (!IsDigits(process->d_name)) continue;
        const std::string fdDir = std::string("/proc/") + process->d_name + "/fd";
        DIR* fds = opendir(fdDir.c_str());
        if (fds == nullptr) continue;
        while (const dirent* fd = readdir(fds)) {
            if (!IsDigits(fd->d_name)) continue;
            if (self == process->d_name && std::to_string(ownDescriptor) == fd->d_name) continue;
            struct stat target {};
            const std::string link = fdDir + "/" + fd->d_name;
            if (stat(link.c_str(), &target) == 0 && target.st_dev == file.st_dev && target.st_ino == file.st_ino) {
                found = true;
                break;
            }
        }
        closedir(fds);
    }
    closedir(proc);
    return found;
}

// Takes the file for ourselves; false when anyone else has it.
bool TakeExclusively(int fd, const struct stat& file)
{
    if (flock(fd, LOCK_EX | LOCK_NB) != 0) return false;
    struct flock whole {};
    whole.l_type = F_WRLCK;
    whole.l_whence = SEEK_SET;  // l_start 0 and l_len 0: the whole file, however long
    if (fcntl(fd, F_OFD_SETLK, &whole) != 0) return false;

    IgnoreLeaseBreakSignal();
    if (fcntl(fd, F_SETLEASE, F_WRLCK) == 0) return true;
    if (errno == EACCES || errno == EINVAL) return !OpenElsewhere(file, fd);
    return false;  // EAGAIN: open elsewhere
}

// A name with a 0 byte inside would name another file to the system.
bool IsUsableName(const std::string& name)
{
    return !name.empty() && name.find('\0') == std::string::npos;
}

}  // namespace

bool TExclusiveFile::Exists(const std::string& name)
{
    struct stat info {};
    return IsUsableName(name) && stat(name.c_str(), &info) == 0 && S_ISREG(info.st_mode);
}

std::string TExclusiveFile::BaseName(const std::string& name)
{
    const auto slash = name.find_last_of('/');
    return slash == std::string::npos ? name : name.substr(slash + 1);
}

bool TExclusiveFile::Open(const std::string& name)
{
    Close();
    if (!IsUsableName(name)) return false;
    if (InjectedFault(TFileOp::Open, 0, 0) != TFileFault::None) return false;
    // Non-blocking, so that a file leased by another program fails at once
    // instead of waiting for that program.
    const int fd = open(name.c_str(), O_RDWR | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
    if (fd < 0) return false;
    struct stat info {};
    const int flags = fcntl(fd, F_GETFL);
    // The name may have been replaced by something other than a table since
    // it was looked at.
    if (fstat(fd, &info) != 0 || !S_ISREG(info.st_mode) || flags < 0 ||
        fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) != 0 || !TakeExclusively(fd, info)) {
        close(fd);
        return false;
    }
    FDescriptor = fd;
    return true;
}

bool TExclusiveFile::IsOpen() const
{
    return FDescriptor >= 0;
}

bool TExclusiveFile::ReadAt(std::uint64_t position, std::span<std::uint8_t> buffer)
{
    if (FDescriptor < 0) return false;
    if (buffer.empty()) return true;
    if (InjectedFault(TFileOp::Read, position, buffer.size()) != TFileFault::None) return false;
    if (position > static_cast<std::uint64_t>(INT64_MAX)) return false;
    const ssize_t got = pread(FDescriptor, buffer.data(), buffer.size(), static_cast<off_t>(position));
    return got >= 0 && static_cast<std::size_t>(got) == buffer.size();
}

bool TExclusiveFile::WriteAt(std::uint64_t position, std::span<const std::uint8_t> data)
{
    if (FDescriptor < 0) return false;
    if (data.empty()) return true;
    const auto injected = InjectedWriteSize(position, data.size());
    if (!injected) return false;
    const std::size_t size = *injected;
    if (position > static_cast<std::uint64_t>(INT64_MAX)) return false;
    const ssize_t put = pwrite(FDescriptor, data.data(), size, static_cast<off_t>(position));
    return put >= 0 && static_cast<std::size_t>(put) == data.size();
}

bool TExclusiveFile::Flush()
{
    if (FDescriptor < 0) return false;
    if (InjectedFault(TFileOp::Flush, 0, 0) != TFileFault::None) return false;
    return fsync(FDescriptor) == 0;
}

void TExclusiveFile::Close()
{
    if (FDescriptor < 0) return;
    // Closing the last descriptor gives up the lease and both locks.
    close(FDescriptor);
    FDescriptor = -1;
}

std::optional<std::uint64_t> TExclusiveFile::Size() const
{
    struct stat info {};
    if (FDescriptor < 0 || fstat(FDescriptor, &info) != 0 || info.st_size < 0) return std::nullopt;
    return static_cast<std::uint64_t>(info.st_size);
}
