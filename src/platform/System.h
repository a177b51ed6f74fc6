// SPDX-License-Identifier: MIT
// What the command-line program needs of the system besides the table file:
// its arguments as the core takes names, names for the standard library's
// file calls, the terminal, files written durably, small files read warily
// and which file a name names.
//
// Names travel as the core takes them: on Linux the bytes as given (a name
// that is not UTF-8 stays as it is); on Windows UTF-8, made from the wide
// command line so that every name the user can type arrives whole.
#pragma once

#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <ostream>
#include <span>
#include <string>
#include <vector>

// The program's arguments after its own name.
std::vector<std::string> CommandLineArguments(int argc, char** argv);

// A name as the standard library's file calls take it, and back.
std::filesystem::path NativePath(const std::string& name);
std::string NameOf(const std::filesystem::path& path);

// Texts are UTF-8. On a Windows console, out and err are written wide
// (WriteConsoleW) while this lives, since the console shows UTF-8 only under a
// code page that would stay switched for every later program in the window;
// to a pipe or a file, and on other systems, they carry the UTF-8 bytes as
// given. The console's code page is never changed.
class TConsoleStreams {
public:
    TConsoleStreams(std::ostream& out, std::ostream& err);
    ~TConsoleStreams();
    TConsoleStreams(const TConsoleStreams&) = delete;
    TConsoleStreams& operator=(const TConsoleStreams&) = delete;

private:
    struct TState;
    std::unique_ptr<TState> FState;
};

// True when standard error is a terminal (a person watches it).
bool StandardErrorIsTerminal();

// One name in a folder and what it is, links followed (a link to a folder is
// a folder; a dangling link is neither).
struct TFolderEntry {
    std::filesystem::path Name;  // the name alone, without the folder
    bool IsFolder = false;
    bool IsRegularFile = false;
    bool IsLink = false;  // a symbolic link or junction; IsFolder and IsRegularFile tell what it leads to
};

// The folder's name as the system's calls take it at any length: on Windows
// the full name with the \\?\ (or \\?\UNC\) prefix, so that folders nested
// past MAX_PATH characters can be listed; elsewhere the name as given.
std::filesystem::path LongFolderName(const std::filesystem::path& folder);

// True when the name names a folder, through links.
bool IsFolder(const std::filesystem::path& name);

// The folder's entries, without "." and ".."; false when it cannot be listed.
bool ListFolder(const std::filesystem::path& folder, std::vector<TFolderEntry>& entries);

// What tells the folder apart from every other on the machine, however it is
// reached (through links, by other spellings); false when it cannot be told.
bool FolderIdentity(const std::filesystem::path& folder, std::string& identity);

// Creates the file, which must not exist yet, and writes the data, leaving
// the push to the disk to FlushFilesDurably: a batch of files pays for one
// flush instead of one each. False, and nothing left behind, on failure.
bool WriteNewFile(const std::string& name, std::span<const std::uint8_t> data);

// Pushes files written and closed before to the disk, with their entries in
// their folders; false when that cannot be made sure of for any of them.
bool FlushFilesDurably(const std::vector<std::string>& names);

// A small file read whole, as a reader of files that anybody may have put in
// its way needs it: opened without waiting (a pipe with no writer, a
// terminal), refused unless it is a regular file of at most the limit.
enum class TSmallFileStatus { Read, Missing, Folder, NotRegular, TooLarge, Unreadable };
struct TSmallFile {
    TSmallFileStatus Status = TSmallFileStatus::Unreadable;
    std::string Data;
};
TSmallFile ReadSmallFile(const std::string& name, std::size_t limit);

// Which file a name names: the volume (device) and the file's number on it
// (inode, or Windows file ID). Another file put under the same name has
// another number; a copy of the file too.
struct TFileId {
    std::uint64_t Device = 0;
    std::uint64_t File = 0;
    bool operator==(const TFileId&) const = default;
};

// A file as found by its name: its absolute path with links resolved, so that
// it is found again from any current folder, its length and, where the file
// system has one, its identity.
struct TFileIdentity {
    std::string Path;
    std::uint64_t Size = 0;
    std::optional<TFileId> Id;
};
std::optional<TFileIdentity> IdentifyFile(const std::string& name);

// Text in an encoding as iconv names it ("IBM866", "WINDOWS-1251", "CP932")
// made UTF-8 by the system's own converter (iconv; on Windows
// MultiByteToWideChar); nothing where the system knows no such encoding or
// the bytes do not decode in it.
std::optional<std::string> DecodeText(const std::string& charset, std::span<const std::uint8_t> bytes);
