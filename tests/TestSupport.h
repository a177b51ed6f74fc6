// SPDX-License-Identifier: MIT
// Shared helpers for the core tests: table images built byte by byte, a
// scratch folder, and a recorder for what the user is told.
#pragma once

#include "CreateDBF3.h"
#include "NotifyUser.h"

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

using TBytes = std::vector<std::uint8_t>;

struct TFieldLayout {
    std::string name;  // up to 11 bytes, stored as given (padding and all)
    char type = 'C';
    std::uint8_t length = 10;
    std::uint8_t decimals = 0;
    std::uint32_t displacement = 0;
    std::uint8_t reservedFill = 0;  // fills bytes 18..31
    TBytes reserved = {};           // bytes from 18 on as given, over the fill
};

// A dBase III table image: header, descriptors, terminator, optional tail
// after the terminator, then records of filler bytes.
struct TTableLayout {
    std::uint8_t version = 0x03;
    std::uint8_t lastUpdate[3] = {124, 1, 15};
    std::vector<TFieldLayout> fields;
    std::uint32_t recordCount = 0;
    // 0: computed from the fields. Otherwise written as given.
    std::uint16_t headerLength = 0;
    std::uint16_t recordLength = 0;
    std::uint8_t mdxFlag = 1;
    std::uint8_t languageDriver = 0x65;
    std::uint8_t junk = 0xAB;  // fills the reserved header bytes 12..27 and 30..31
    TBytes tail;               // bytes after the terminator, part of the header
    std::size_t actualRecords = SIZE_MAX;  // records actually stored; default recordCount
    // The fields' values, one row per record (taken round again when there are
    // more records than rows), each padded with blanks to its field's width;
    // none: records of filler bytes.
    std::vector<std::vector<std::string>> rows;
    std::size_t partialRecordBytes = 0;  // bytes of one more record, cut short
    bool endOfFileMark = true;           // the final 0x1A

    [[nodiscard]] TBytes Build() const;
    [[nodiscard]] std::uint16_t ComputedHeaderLength() const;
    [[nodiscard]] std::uint16_t ComputedRecordLength() const;
};

// A dBase level 7 field descriptor: 48 bytes, its name up to 32.
struct TDBase7FieldLayout {
    std::string name;
    char type = 'C';
    std::uint8_t length = 10;
    std::uint8_t decimals = 0;
    std::uint32_t nextAutoIncrement = 0;
};

// A dBase level 7 table as dBase 7 lays it out: the 32-byte header, the
// language driver's name (32 bytes) and 4 reserved bytes, 48-byte
// descriptors, the terminator, then the field properties block, if any, and
// the records.
TBytes BuildDBase7Table(std::uint8_t version, const std::vector<TDBase7FieldLayout>& fields,
                        const TBytes& properties, std::uint32_t records);

// A dBase II field descriptor: 16 bytes, its name up to 11 (with its 0s).
struct TDBase2FieldLayout {
    std::string name;
    char type = 'C';
    std::uint8_t length = 10;
    std::uint8_t decimals = 0;
};

// A dBase II table as dBase II lays it out: version 0x02, the record count in
// 16 bits, the date as month, day, year - 1900, the record length; 32 slots of
// 16-byte descriptors (the terminator 0x0D after the last field in use, the
// rest of the slots left as the filler says), one byte more, then the records
// from byte 521 and 0x1A.
TBytes BuildDBase2Table(const std::vector<TDBase2FieldLayout>& fields, std::uint16_t records,
                        std::uint8_t filler = 0);

// Tables of later xBase programs under a dBase III version byte, laid out as
// their writers lay them out.
//  - Harbour: an autoincrement field of type '+' and one of type 'I' with the
//    autoincrement flag (0x08) at descriptor byte 18, the next value at 19..22
//    and the step at 23, beside plain character and numeric fields;
//  - Visual FoxPro content under 0x03: a nullable field (flag 0x02 at byte
//    18), the _NullFlags field of type '0', the 263-byte backlink area.
TTableLayout HarbourAutoIncrementTable();
TTableLayout VisualFoxProUnderDBase3Table();

// dBase 7 tables: with long field names and a field properties block (0x04),
// and with a memo and an autoincrement field (0x8C).
std::vector<TBytes> DBase7Tables();

TBytes ReadAll(const std::filesystem::path& path);
// Bytes as lower-case hex digits, as backups and --json carry them.
std::string HexText(const TBytes& bytes);
void WriteAll(const std::filesystem::path& path, const TBytes& bytes);

// A local file's URL as desktops and Explorer write it (file:///dir/name,
// file:///C:/dir/name): backslashes as slashes, every byte of the name but
// letters, digits and "/:._-" percent-encoded, whatever its encoding.
std::string FileUrl(const std::string& path);

// A fresh folder, removed with everything in it afterwards.
class TScratchDir {
public:
    TScratchDir();
    ~TScratchDir();
    TScratchDir(const TScratchDir&) = delete;
    TScratchDir& operator=(const TScratchDir&) = delete;
    [[nodiscard]] const std::filesystem::path& Path() const { return FPath; }
    [[nodiscard]] std::string File(const std::string& name) const { return (FPath / name).string(); }

private:
    std::filesystem::path FPath;
};

// Works in another folder for a while.
class TCurrentFolder {
public:
    explicit TCurrentFolder(const std::filesystem::path& folder) : FPrevious(std::filesystem::current_path())
    {
        std::filesystem::current_path(folder);
    }
    ~TCurrentFolder() { std::filesystem::current_path(FPrevious); }
    TCurrentFolder(const TCurrentFolder&) = delete;
    TCurrentFolder& operator=(const TCurrentFolder&) = delete;

private:
    std::filesystem::path FPrevious;
};

// Records every text given to NotifyUser while it lives.
class TMessageRecorder {
public:
    TMessageRecorder();
    ~TMessageRecorder();
    TMessageRecorder(const TMessageRecorder&) = delete;
    TMessageRecorder& operator=(const TMessageRecorder&) = delete;
    std::vector<std::string> messages;

private:
    NotifyUserHandler FPrevious;
};

// The exact messages of the table and the correction.
std::string InUseMessage(const std::string& baseName);
inline const std::string kBadTypeMsg = "TableName: Недопустимый тип файла";
inline const std::string kNotFoundMsg = "Open: Не найден файл ";
inline const std::string kReadHeaderMsg = "ReadHeader: Ошибка чтения заголовка файла";
inline const std::string kReadRecordMsg = "ReadRecord: Ошибка чтения записи";
inline const std::string kFoxProMsg = "ProcessFile: Таблицы Visual FoxPro не обрабатываются";
inline const std::string kDBase7Msg = "ProcessFile: Таблицы dBase 7 не обрабатываются";
inline const std::string kDBase2Msg = "ProcessFile: Таблицы dBase II не обрабатываются";

// How another process keeps a table: open for reading or writing, mapped, or
// locked the way other xBase programs lock (flock, an OFD write lock).
enum class THoldMode { Read, Write, Map, Flock, OfdLock };

// Another process that holds the file as asked until this object is gone.
class THoldingProcess {
public:
    THoldingProcess(const std::string& path, THoldMode mode);
    ~THoldingProcess();
    THoldingProcess(const THoldingProcess&) = delete;
    THoldingProcess& operator=(const THoldingProcess&) = delete;
    // True once the other process holds the file.
    [[nodiscard]] bool Holding() const { return FHolding; }

private:
    bool FHolding = false;
#ifdef _WIN32
    void* FProcess = nullptr;
#else
    int FPid = -1;
    int FRelease = -1;  // the other process lets go when this pipe closes
#endif
};
