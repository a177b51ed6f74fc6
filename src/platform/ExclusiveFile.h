// SPDX-License-Identifier: MIT
// The table file held exclusively: the one place that knows the platform.
//
// A table is opened for reading and writing with no sharing, so that the open
// fails while any other program has the file open and no other program gets in
// while the table is held. Reads and writes are positional and exact: moving
// fewer bytes than asked for is a failure.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string>

// Faults the operating system cannot be made to produce on demand (a short
// write, a failing flush, a file replaced between its existence test and its
// open), injected by tests and counted by the benchmark.
enum class TFileOp { Read, Write, Flush, Open };
enum class TFileFault { None, Fail, Short };
using TFileFaultHook = std::function<TFileFault(TFileOp op, std::uint64_t position, std::size_t size)>;

// Installs the hook called before every open, read, write and flush; returns
// the previous one. An empty hook injects nothing.
TFileFaultHook SetFileFaultHook(TFileFaultHook hook);

// Asks the installed hook, if any, what should become of an operation; each
// platform's file layer calls it before the operation itself.
TFileFault InjectedFault(TFileOp op, std::uint64_t position, std::size_t size);

// How many of the size bytes a write at position is to move: all of them,
// half (a short write), or none when it is to fail.
std::optional<std::size_t> InjectedWriteSize(std::uint64_t position, std::size_t size);

#ifndef _WIN32
// Network and user-space file systems (NFS, SMB/CIFS, FUSE and the like), by
// their statfs type. There the kernel refuses a write lease unless the server
// has handed the file to this machine, and a lease says nothing of programs
// on other machines: the table is held by its locks, which reach the server,
// and a look for other holders on this machine.
bool IsNetworkFileSystem(std::uint64_t type);

// How a table is held on Linux, as tests set it: the file system type to act
// on instead of the one the table lives on (none: its own), and how long the
// look through /proc for other holders may take before the table counts as in
// use. Returns the settings in force before.
struct THoldSettings {
    std::optional<std::uint64_t> fileSystemType;
    std::chrono::milliseconds scanLimit{5000};
};
THoldSettings SetHoldSettings(const THoldSettings& settings);
#endif

// What the file system tells of a file that any write changes: its length
// and times. On POSIX the modification and change times (a program that puts
// the modification time back cannot put back the change time); on Windows the
// last-write time, in 100 ns units, in ModifiedSeconds alone.
struct TFileState {
    std::uint64_t Size = 0;
    std::int64_t ModifiedSeconds = 0;
    std::int64_t ModifiedFraction = 0;
    std::int64_t ChangedSeconds = 0;
    std::int64_t ChangedFraction = 0;
    bool operator==(const TFileState&) const = default;
};

class TExclusiveFile {
public:
    TExclusiveFile() = default;
    TExclusiveFile(const TExclusiveFile&) = delete;
    TExclusiveFile& operator=(const TExclusiveFile&) = delete;
    ~TExclusiveFile();  // closes a file still open

    // True when the name names an existing regular file (following links);
    // directories, devices, pipes and sockets do not count.
    static bool Exists(const std::string& name);

    // The name without its directory, as this platform separates directories.
    static std::string BaseName(const std::string& name);

    // Opens an existing file for reading and writing with no sharing. False
    // when the file is in use, is not a regular file, is read-only (no write
    // permission for anyone), or cannot be opened.
    bool Open(const std::string& name);

    // Opens an existing regular file for reading only, sharing it with every
    // other program: for looking at a table that cannot be held (read-only,
    // another user's, open in another program). Nothing can be written
    // through it, and it is never held intact. False when the file is not a
    // regular file or cannot be opened for reading.
    bool OpenShared(const std::string& name);
    [[nodiscard]] bool IsShared() const { return FShared; }

    [[nodiscard]] bool IsOpen() const;

    // True while the file is still held as Open took it: no other program has
    // got in since, the name given to Open still names this file, and its
    // length and times are still those Open saw (asked of the file system
    // itself, not of what this machine remembers of it). Asked just before a
    // write that must not go to a table changed meanwhile; a write of our own
    // changes the times too.
    [[nodiscard]] bool HoldIntact() const;

    // Exactly buffer.size() bytes at the absolute position, or false.
    bool ReadAt(std::uint64_t position, std::span<std::uint8_t> buffer);
    bool WriteAt(std::uint64_t position, std::span<const std::uint8_t> data);

    // As ReadAt, but from the file system rather than from what this machine
    // has cached of the range, so that on a network or FUSE file system the
    // bytes another machine wrote are seen.
    bool ReadFreshAt(std::uint64_t position, std::span<std::uint8_t> buffer);

    // The file's length in bytes; nothing when it cannot be had.
    [[nodiscard]] std::optional<std::uint64_t> Size() const;

    // Pushes what was written to the disk; false when that fails.
    bool Flush();

    void Close();

private:
    std::string FName;
    TFileState FSeen;  // as Open saw the file
    bool FShared = false;  // opened by OpenShared: read only, not held
#ifdef _WIN32
    void* FHandle = nullptr;
#else
    int FDescriptor = -1;
    bool FLeased = false;  // held by a write lease; else by the locks and a look through /proc
#endif
};
