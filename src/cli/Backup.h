// SPDX-License-Identifier: MIT
// Header backups: the bytes a correction is about to overwrite, saved before
// the table is touched, and put back by `dbffix restore` only while the table
// is exactly as the correction left it.
//
// A backup file is input like any other: people copy, edit and mix them up.
// It is read with a bound on its size, parsed into checked types, and may
// only ever put back header and descriptor bytes of the table it names.
#pragma once

#include "CreateDBF3.h"
#include "System.h"

#include <functional>
#include <optional>
#include <span>
#include <string>
#include <vector>

// Larger files are no backups: one holds at most two images of 8 KiB as hex.
inline constexpr std::size_t kBackupFileLimit = std::size_t{1024} * 1024;

// What one backup file holds.
struct TBackup {
    int Version = 2;
    // The table's absolute path with links resolved (version 1: the name as
    // the correction was given it, perhaps relative to a folder now unknown).
    std::string Table;
    std::optional<TFileId> Id;  // which file it was, where the system tells
    std::uint64_t Size = 0;     // the table's length (a correction never changes it)
    std::vector<TByte> Before;  // the header and descriptors as they were
    std::vector<TByte> After;   // and as the correction wrote them
};

std::string BackupText(const TBackup& backup);
// The backup, or nothing with why not in words for the user.
std::optional<TBackup> ParseBackup(const std::string& text, std::string* why = nullptr);

// Saves the backup in the folder as a file of its own; returns its name, or
// nothing (told through NotifyUser) when it could not be saved, in which case
// the table must not be written. Not durable: the caller flushes the batch's
// backups with FlushFilesDurably before it writes any of their tables.
std::optional<std::string> SaveBackup(const std::string& folder, const TBackup& backup);

// What became of one backup file in a restore.
struct TRestoreReport {
    std::string BackupFile;
    std::string Table;  // the table it was put back into or meant for, as found
    bool Restored = false;
    std::size_t Generation = 0;   // 1 = the newest put back into its table
    std::size_t Generations = 0;  // how many were put back into it
    std::vector<std::string> Messages;  // why not
};

// Puts the saved bytes back into their tables, each held exclusively. The
// names may be backup files or folders (their *.dbfbak files are taken).
// Backups of one table are applied newest first, each over the state the one
// before it restored, so that the table ends in the oldest state the set
// holds; a backup that fits no such chain, or whose table changed since, is
// refused and nothing of it is written. With a table named, every backup is
// put into that table whatever it names. One report per backup file.
// Asked between tables: true stops the restore there, the backups of the
// tables not reached reported as not handled.
std::vector<TRestoreReport> RestoreBackups(const std::vector<std::string>& names, const std::string& table = {},
                                           const std::function<bool()>& interrupted = {});
