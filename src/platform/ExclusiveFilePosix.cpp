// SPDX-License-Identifier: MIT
// The exclusive table file on Linux.
//
// POSIX has no share modes, so "no other program has the file open, and none
// gets in while we hold it" is built from what the kernel offers:
//  - a write lease, granted only while no other descriptor or mapping of the
//    file exists anywhere on the machine; while it is held, other opens wait
//    until the file is closed (or fail at once when opened non-blocking);
//  - flock and a whole-file OFD write lock, which other xBase programs and a
//    second copy of this tool respect;
//  - where the kernel refuses the lease (we do not own the file), and on
//    network shares, where a lease is no sign of anything, a look through
//    /proc for other descriptors and mappings of it.
// None of these keeps a holder for ever: a lease is broken after the kernel's
// lease-break time by any program that opens the file and waits, and nothing
// stops a rename over the name. So the hold is checked again before a write.
// Where no lease holds the table, a program that takes no lock can still
// open, write and close it between our look and our write; the file's length
// and times, asked again of the file system, and the header read again past
// the page cache (see the core) tell that it did.
#include "ExclusiveFile.h"

#include <cerrno>
#include <condition_variable>
#include <csignal>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <map>
#include <memory>
#include <mutex>
#include <sstream>
#include <string_view>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/vfs.h>
#include <thread>
#include <unistd.h>
#include <utility>

namespace {

using TClock = std::chrono::steady_clock;

THoldSettings& Settings()
{
    static THoldSettings settings;
    return settings;
}

// A broken lease is announced with SIGIO, whose default action ends the
// process. The lease is only ever given up by closing, and a broken one is
// noticed before the write, so the signal is not needed; an application's
// own handler is left alone.
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

// The whole of a small file under /proc; nullopt when it cannot be read.
std::optional<std::string> ReadProcFile(const std::string& path)
{
    const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return std::nullopt;
    std::string text;
    char buffer[4096];
    ssize_t got = 0;
    while ((got = read(fd, buffer, sizeof buffer)) > 0) text.append(buffer, static_cast<std::size_t>(got));
    close(fd);
    if (got < 0) return std::nullopt;
    return text;
}

std::optional<std::string> LinkText(const std::string& path)
{
    char buffer[4096];
    const ssize_t length = readlink(path.c_str(), buffer, sizeof buffer);
    if (length < 0) return std::nullopt;
    return std::string(buffer, static_cast<std::size_t>(length));
}

// A descriptor as /proc/PID/fdinfo tells it: the mount it was opened through
// and its inode. Read from the kernel's tables alone, so that a descriptor on
// a file system that no longer answers (a dead FUSE daemon, a hard-mounted
// NFS server gone) cannot keep the look waiting.
struct TDescriptorInfo {
    long mountId = -1;
    std::optional<std::uint64_t> inode;
};

TDescriptorInfo DescriptorInfo(const std::string& text)
{
    TDescriptorInfo info;
    std::istringstream lines(text);
    std::string key;
    while (lines >> key) {
        if (key == "mnt_id:") {
            lines >> info.mountId;
        } else if (key == "ino:") {
            std::uint64_t inode = 0;
            if (lines >> inode) info.inode = inode;
        }
        lines.ignore(SIZE_MAX, '\n');
    }
    return info;
}

// Mount ids and their file systems' "major:minor", from a mountinfo table.
std::map<long, std::string> MountDevices(const std::string& text)
{
    std::map<long, std::string> devices;
    std::istringstream lines(text);
    std::string line;
    while (std::getline(lines, line)) {
        std::istringstream fields(line);
        long id = -1;
        long parent = -1;
        std::string device;
        if (fields >> id >> parent >> device) devices[id] = device;
    }
    return devices;
}

// Our own table file, as the look through /proc must recognise it.
struct TOwnFile {
    std::string pid;              // this process
    std::string descriptor;       // our descriptor of the file
    long mountId = -1;
    std::uint64_t inode = 0;
    std::string device;           // "major:minor" of its file system, decimal
    std::string path;             // the link text of our descriptor
    std::map<long, std::string> mounts;  // the mounts this process sees
};

TOwnFile OwnFile(int fd, const struct stat& file)
{
    TOwnFile own;
    own.pid = std::to_string(getpid());
    own.descriptor = std::to_string(fd);
    own.inode = file.st_ino;
    own.device = std::to_string(major(file.st_dev)) + ":" + std::to_string(minor(file.st_dev));
    const std::string self = "/proc/self/";
    if (const auto info = ReadProcFile(self + "fdinfo/" + own.descriptor)) {
        own.mountId = DescriptorInfo(*info).mountId;
    }
    if (const auto table = ReadProcFile(self + "mountinfo")) own.mounts = MountDevices(*table);
    // The file system as mountinfo and maps name it (on some file systems
    // stat reports a device of its own for each subvolume).
    if (const auto found = own.mounts.find(own.mountId); found != own.mounts.end()) own.device = found->second;
    own.path = LinkText(self + "fd/" + own.descriptor).value_or(std::string());
    return own;
}

// True when a descriptor of process pid, with the link text, mount and inode
// given, is our file. A mount this process cannot see is looked up in the
// other process's own table; one found nowhere counts as ours. Kernels that
// give no inode in fdinfo leave only the link text to go by.
bool IsOwnFile(const TOwnFile& own, const std::string& pid, const std::string& link, const TDescriptorInfo& info,
               std::map<long, std::string>& theirMounts)
{
    if (!info.inode) return link == own.path;
    if (*info.inode != own.inode) return false;
    if (info.mountId == own.mountId) return true;
    auto found = own.mounts.find(info.mountId);
    if (found == own.mounts.end()) {
        if (theirMounts.empty()) {
            theirMounts = MountDevices(ReadProcFile("/proc/" + pid + "/mountinfo").value_or(std::string()));
        }
        found = theirMounts.find(info.mountId);
        if (found == theirMounts.end()) return true;
    }
    return found->second == own.device;
}

// "major:minor" in the hexadecimal of /proc/PID/maps, as decimal.
std::string DecimalDevice(const std::string& hex)
{
    const auto colon = hex.find(':');
    if (colon == std::string::npos) return hex;
    try {
        return std::to_string(std::stoul(hex.substr(0, colon), nullptr, 16)) + ":" +
               std::to_string(std::stoul(hex.substr(colon + 1), nullptr, 16));
    } catch (const std::exception&) {
        return hex;
    }
}

// True when a line of /proc/PID/maps maps our file.
bool MapsOwnFile(const TOwnFile& own, const std::string& line)
{
    std::istringstream fields(line);
    std::string range;
    std::string permissions;
    std::string offset;
    std::string device;
    std::uint64_t inode = 0;
    if (!(fields >> range >> permissions >> offset >> device >> inode) || inode != own.inode) return false;
    std::string path;
    std::getline(fields >> std::ws, path);
    return DecimalDevice(device) == own.device || (!own.path.empty() && path == own.path);
}

enum class TScan { Clear, Found, Unfinished };

// Every process this one may look into: their descriptors (other than ours)
// and their mappings. Processes of other users stay hidden from an ordinary
// user and are passed over. Stops unfinished at the deadline.
TScan ScanProcesses(const TOwnFile& own, TClock::time_point deadline)
{
    DIR* proc = opendir("/proc");
    if (proc == nullptr) return TScan::Unfinished;
    const std::string inodeText = " " + std::to_string(own.inode);
    TScan result = TScan::Clear;
    while (result == TScan::Clear) {
        if (TClock::now() >= deadline) {
            result = TScan::Unfinished;
            break;
        }
        const dirent* process = readdir(proc);
        if (process == nullptr) break;
        const std::string pid = process->d_name;
        if (!IsDigits(pid)) continue;
        const std::string base = "/proc/" + pid + "/";
        if (DIR* fds = opendir((base + "fd").c_str())) {
            std::map<long, std::string> theirMounts;
            while (const dirent* fd = readdir(fds)) {
                const std::string number = fd->d_name;
                if (!IsDigits(number) || (pid == own.pid && number == own.descriptor)) continue;
                const auto entry = [&](const char* table) {
                    std::string path = base;
                    path.append(table).append(number);
                    return path;
                };
                // Pipes, sockets and the like have no path: no need to ask more.
                const auto link = LinkText(entry("fd/"));
                if (!link || link->empty() || link->front() != '/') continue;
                const auto info = ReadProcFile(entry("fdinfo/"));
                if (info && IsOwnFile(own, pid, *link, DescriptorInfo(*info), theirMounts)) {
                    result = TScan::Found;
                    break;
                }
            }
            closedir(fds);
        }
        if (result != TScan::Clear) break;
        std::istringstream maps(ReadProcFile(base + "maps").value_or(std::string()));
        for (std::string line; std::getline(maps, line);) {
            // Most lines are not worth taking apart.
            if (line.find(inodeText) != std::string::npos && MapsOwnFile(own, line)) {
                result = TScan::Found;
                break;
            }
        }
    }
    closedir(proc);
    return result;
}

// The look through /proc, bounded in time: it runs on a thread of its own, so
// that even a read the kernel keeps waiting cannot keep the table (and the
// window) waiting longer than the limit. Unfinished in time counts as in use.
bool NoOtherHolder(int fd)
{
    struct stat file {};
    if (fstat(fd, &file) != 0) return false;
    struct TShared {
        std::mutex lock;
        std::condition_variable finished;
        std::optional<TScan> result;
    };
    auto shared = std::make_shared<TShared>();
    const auto deadline = TClock::now() + Settings().scanLimit;
    try {
        std::thread([shared, own = OwnFile(fd, file), deadline] {
            const TScan result = ScanProcesses(own, deadline);
            const std::lock_guard<std::mutex> guard(shared->lock);
            shared->result = result;
            shared->finished.notify_one();
        }).detach();
    } catch (const std::system_error&) {
        return false;
    }
    std::unique_lock<std::mutex> guard(shared->lock);
    shared->finished.wait_until(guard, deadline, [&] { return shared->result.has_value(); });
    return shared->result == TScan::Clear;
}

bool OnNetworkShare(int fd)
{
    struct statfs fileSystem {};
    if (fstatfs(fd, &fileSystem) != 0) return false;
    return IsNetworkFileSystem(Settings().fileSystemType.value_or(static_cast<std::uint64_t>(fileSystem.f_type)));
}

// Takes the file for ourselves; false when anyone else has it. leased tells
// whether a write lease holds it.
bool TakeExclusively(int fd, bool& leased)
{
    leased = false;
    if (flock(fd, LOCK_EX | LOCK_NB) != 0) return false;
    struct flock whole {};
    whole.l_type = F_WRLCK;
    whole.l_whence = SEEK_SET;  // l_start 0 and l_len 0: the whole file, however long
    if (fcntl(fd, F_OFD_SETLK, &whole) != 0) return false;

    if (!OnNetworkShare(fd)) {
        IgnoreLeaseBreakSignal();
        if (fcntl(fd, F_SETLEASE, F_WRLCK) == 0) {
            leased = true;
            return true;
        }
        if (errno != EACCES && errno != EINVAL) return false;  // EAGAIN: open elsewhere
    }
    return NoOtherHolder(fd);
}

// A name with a 0 byte inside would name another file to the system.
bool IsUsableName(const std::string& name)
{
    return !name.empty() && name.find('\0') == std::string::npos;
}

// The file's length and times as its file system has them now. Network and
// FUSE clients answer fstat from attributes they cached a while ago; statx
// with AT_STATX_FORCE_SYNC makes them ask the server. Where the kernel or a
// sandbox has no statx, fstat is what there is.
std::optional<TFileState> FreshState(int fd)
{
    constexpr unsigned kWanted = STATX_SIZE | STATX_MTIME | STATX_CTIME;
    struct statx fresh {};
    if (statx(fd, "", AT_EMPTY_PATH | AT_STATX_FORCE_SYNC, kWanted, &fresh) == 0) {
        if ((fresh.stx_mask & kWanted) == kWanted) {
            return TFileState{fresh.stx_size, fresh.stx_mtime.tv_sec, fresh.stx_mtime.tv_nsec, fresh.stx_ctime.tv_sec,
                              fresh.stx_ctime.tv_nsec};
        }
    } else if (errno != ENOSYS && errno != EPERM) {
        return std::nullopt;
    }
    struct stat info {};
    if (fstat(fd, &info) != 0 || info.st_size < 0) return std::nullopt;
    return TFileState{static_cast<std::uint64_t>(info.st_size), info.st_mtim.tv_sec, info.st_mtim.tv_nsec,
                      info.st_ctim.tv_sec, info.st_ctim.tv_nsec};
}

// Exactly buffer.size() bytes at the position, or false.
bool ReadExactly(int fd, std::uint64_t position, std::span<std::uint8_t> buffer)
{
    if (position > static_cast<std::uint64_t>(INT64_MAX) - buffer.size()) return false;
    const ssize_t got = pread(fd, buffer.data(), buffer.size(), static_cast<off_t>(position));
    return got >= 0 && static_cast<std::size_t>(got) == buffer.size();
}

// Drops what this machine cached of size bytes at position, so that the next
// read asks the file system. The kernel drops only whole pages within the
// range it is given, so the range is widened to the pages it touches.
void DropCachedPages(int fd, std::uint64_t position, std::size_t size)
{
    const long pageSize = sysconf(_SC_PAGESIZE);
    const std::uint64_t page = pageSize > 0 ? static_cast<std::uint64_t>(pageSize) : 4096U;
    const std::uint64_t first = position / page * page;
    const std::uint64_t pages = (position - first + size + page - 1) / page;
    // Advice: where the cache is the file itself (tmpfs) nothing is dropped,
    // and nothing needs to be.
    (void)posix_fadvise(fd, static_cast<off_t>(first), static_cast<off_t>(pages * page), POSIX_FADV_DONTNEED);
}

}  // namespace

bool IsNetworkFileSystem(std::uint64_t type)
{
    switch (type) {
    case 0x6969:      // NFS
    case 0x517B:      // SMB
    case 0xFE534D42:  // SMB2
    case 0xFF534D42:  // CIFS
    case 0x65735546:  // FUSE (sshfs, NTFS-3G, rclone and the like)
    case 0x00C36400:  // Ceph
    case 0x5346414F:  // AFS
    case 0x6B414653:  // kAFS
    case 0x73757245:  // Coda
    case 0x564C:      // NCP
    case 0x01021997:  // 9P
    case 0x0BD00BD0:  // Lustre
    case 0x19830326:  // OrangeFS
    case 0x47504653:  // GPFS
        return true;
    default:
        return false;
    }
}

THoldSettings SetHoldSettings(const THoldSettings& settings)
{
    return std::exchange(Settings(), settings);
}

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

namespace {

// Opens name without waiting, so that a pipe put in the table's place opens
// at once instead of waiting for a writer, and a file another program holds
// by a lease fails at once instead of waiting for it; then, once it is known
// to be a regular file, makes its reads and writes wait again. -1 for
// anything else; info is the file's state.
int OpenRegularFile(const std::string& name, int access, struct stat& info)
{
    const int fd = open(name.c_str(), access | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
    if (fd < 0) return -1;
    const int flags = fcntl(fd, F_GETFL);
    if (fstat(fd, &info) != 0 || !S_ISREG(info.st_mode) || flags < 0 || fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) != 0) {
        close(fd);
        return -1;
    }
    return fd;
}

}  // namespace

bool TExclusiveFile::Open(const std::string& name)
{
    Close();
    if (!IsUsableName(name)) return false;
    if (InjectedFault(TFileOp::Open, 0, 0) != TFileFault::None) return false;
    struct stat info {};
    const int fd = OpenRegularFile(name, O_RDWR, info);
    if (fd < 0) return false;
    bool leased = false;
    // The name may have been replaced by something other than a table since
    // it was looked at. A file no one may write is read-only on purpose, even
    // to root, who could write it all the same.
    if ((info.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0 || !TakeExclusively(fd, leased)) {
        close(fd);
        return false;
    }
    const auto seen = FreshState(fd);
    if (!seen) {
        close(fd);
        return false;
    }
    FDescriptor = fd;
    FLeased = leased;
    FName = name;
    FSeen = *seen;
    return true;
}

bool TExclusiveFile::OpenShared(const std::string& name)
{
    Close();
    if (!IsUsableName(name)) return false;
    if (InjectedFault(TFileOp::Open, 0, 0) != TFileFault::None) return false;
    struct stat info {};
    const int fd = OpenRegularFile(name, O_RDONLY, info);
    if (fd < 0) return false;
    FDescriptor = fd;
    FShared = true;
    FName = name;
    return true;
}

bool TExclusiveFile::IsOpen() const
{
    return FDescriptor >= 0;
}

bool TExclusiveFile::HoldIntact() const
{
    if (FDescriptor < 0 || FShared) return false;
    // A lease being broken (another program waits to open the file) or
    // already broken (its lease-break time has passed) no longer keeps
    // anyone out.
    if (FLeased && fcntl(FDescriptor, F_GETLEASE) != F_WRLCK) return false;
    // Another file may have been moved over the name, or ours moved away.
    struct stat held {};
    struct stat named {};
    if (fstat(FDescriptor, &held) != 0 || stat(FName.c_str(), &named) != 0 || held.st_dev != named.st_dev ||
        held.st_ino != named.st_ino) {
        return false;
    }
    // A program that takes no lock may have written the file and closed it
    // again while no lease kept it out.
    if (FreshState(FDescriptor) != FSeen) return false;
    // Without a lease nothing kept other programs from opening it meanwhile.
    return FLeased || NoOtherHolder(FDescriptor);
}

bool TExclusiveFile::ReadAt(std::uint64_t position, std::span<std::uint8_t> buffer)
{
    if (FDescriptor < 0) return false;
    if (buffer.empty()) return true;
    if (InjectedFault(TFileOp::Read, position, buffer.size()) != TFileFault::None) return false;
    return ReadExactly(FDescriptor, position, buffer);
}

bool TExclusiveFile::ReadFreshAt(std::uint64_t position, std::span<std::uint8_t> buffer)
{
    if (FDescriptor < 0) return false;
    if (buffer.empty()) return true;
    if (InjectedFault(TFileOp::Read, position, buffer.size()) != TFileFault::None) return false;
    if (position > static_cast<std::uint64_t>(INT64_MAX) - buffer.size()) return false;
    DropCachedPages(FDescriptor, position, buffer.size());
    return ReadExactly(FDescriptor, position, buffer);
}

bool TExclusiveFile::WriteAt(std::uint64_t position, std::span<const std::uint8_t> data)
{
    if (FDescriptor < 0 || FShared) return false;
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
    FLeased = false;
    FShared = false;
    FName.clear();
    FSeen = {};
}

std::optional<std::uint64_t> TExclusiveFile::Size() const
{
    struct stat info {};
    if (FDescriptor < 0 || fstat(FDescriptor, &info) != 0 || info.st_size < 0) return std::nullopt;
    return static_cast<std::uint64_t>(info.st_size);
}
