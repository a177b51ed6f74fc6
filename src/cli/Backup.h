// SPDX-License-Identifier: MIT
// Header backups: the bytes a correction is about to overwrite, saved before
// the table is touched, and put back by `dbffix restore` only while the table
// is exactly as the correction left it.
#pragma once

#include "CreateDBF3.h"

#include <optional>
#include <span>
#include <string>
#include <vector>

// What one backup file holds.
struct TBackup {
    std::string Table;          // the table's name as the correction was given it
    std::uint64_t Size = 0;     // the table's length (a correction never changes it)
    std::vector<TByte> Before;  // the header and descriptors as they were
    std::vector<TByte> After;   // and as the correction wrote them
};

std::string BackupText(const TBackup& backup);
std::optional<TBackup> ParseBackup(const std::string& text);

// Saves the backup in the folder as a file of its own, flushed to the disk;
// returns its name, or nothing (told through NotifyUser) when it could not be
// saved, in which case the table must not be written.
std::optional<std::string> SaveBackup(const std::string& folder, const TBackup& backup);

// What became of one restore.
struct TRestoreReport {
    std::string BackupFile;
    std::string Table;
    bool Restored = false;
    std::vector<std::string> Messages;  // why not
};

// Puts the saved bytes back into the table, held exclusively, when its length
// and the corrected bytes are still as the correction left them; otherwise
// writes nothing.
TRestoreReport RestoreBackup(const std::string& backupFile);
