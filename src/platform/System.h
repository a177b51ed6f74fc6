// SPDX-License-Identifier: MIT
// What the command-line program needs of the system besides the table file:
// its arguments as the core takes names, names for the standard library's
// file calls, the terminal, and files written durably.
//
// Names travel as the core takes them: on Linux the bytes as given (a name
// that is not UTF-8 stays as it is); on Windows UTF-8, made from the wide
// command line so that every name the user can type arrives whole.
#pragma once

#include <cstdint>
#include <filesystem>
#include <span>
#include <string>
#include <vector>

// The program's arguments after its own name.
std::vector<std::string> CommandLineArguments(int argc, char** argv);

// A name as the standard library's file calls take it, and back.
std::filesystem::path NativePath(const std::string& name);
std::string NameOf(const std::filesystem::path& path);

// Texts are UTF-8: a Windows console is told so.
void PrepareConsole();

// True when standard error is a terminal (a person watches it).
bool StandardErrorIsTerminal();

// Creates the file, which must not exist yet, writes the data and pushes it
// to the disk (the file and, where the system allows, its folder's entry)
// before returning; false when any of that fails, in which case nothing of
// the name is left behind.
bool WriteNewFileDurably(const std::string& name, std::span<const std::uint8_t> data);

// One name in a folder and what it is, links followed (a link to a folder is
// a folder; a dangling link is neither).
struct TFolderEntry {
    std::filesystem::path Name;  // the name alone, without the folder
    bool IsFolder = false;
    bool IsRegularFile = false;
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
