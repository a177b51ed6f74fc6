// SPDX-License-Identifier: MIT
// A dBase III table file: the header and field descriptor images, and the
// table object that opens a table exclusively and reads them.
#pragma once

#include "DbfFormat.h"
#include "ExclusiveFile.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <span>
#include <string>
#include <vector>

using TByte = std::uint8_t;

// Little-endian numbers inside the byte images, whatever the host's order.
inline std::uint16_t GetLE16(const std::array<TByte, 2>& b)
{
    return static_cast<std::uint16_t>(b[0] | (b[1] << 8));
}
inline std::uint32_t GetLE32(const std::array<TByte, 4>& b)
{
    return static_cast<std::uint32_t>(b[0]) | (static_cast<std::uint32_t>(b[1]) << 8) |
           (static_cast<std::uint32_t>(b[2]) << 16) | (static_cast<std::uint32_t>(b[3]) << 24);
}
inline void PutLE16(std::array<TByte, 2>& b, std::uint16_t v)
{
    b[0] = static_cast<TByte>(v);
    b[1] = static_cast<TByte>(v >> 8);
}
inline void PutLE32(std::array<TByte, 4>& b, std::uint32_t v)
{
    for (std::size_t i = 0; i < 4; ++i) b[i] = static_cast<TByte>(v >> (8 * i));
}

// The 32-byte file header, byte for byte as it stands at offset 0.
struct TDBFHeader {
    TByte Version;
    std::array<TByte, 3> LastUpdate;          // year - 1900 (low 8 bits), month, day
    std::array<TByte, 4> RecordCount;
    std::array<TByte, 2> HeaderLength;        // offset of the first record
    std::array<TByte, 2> RecordLength;
    std::array<TByte, 2> Reserved1;
    TByte IncompleteTransaction;
    TByte EncryptionFlag;
    std::array<TByte, 12> MultiUserReserved;
    TByte MdxFlag;                            // nonzero: an index is attached
    TByte LanguageDriver;                     // the code page byte
    std::array<TByte, 2> Reserved2;
};

// One 32-byte field descriptor, byte for byte as it stands in the header.
struct TDBFFieldDescriptor {
    std::array<TByte, 11> FieldName;          // ended by the first 0 byte, if any
    TByte FieldType;
    std::array<TByte, 4> Displacement;        // the field's offset inside a record
    TByte FieldLength;
    TByte DecimalCount;
    std::array<TByte, 14> FieldReserved;
};

static_assert(sizeof(TDBFHeader) == 32 && alignof(TDBFHeader) == 1);
static_assert(sizeof(TDBFFieldDescriptor) == 32 && alignof(TDBFFieldDescriptor) == 1);
static_assert(offsetof(TDBFHeader, RecordCount) == 4 && offsetof(TDBFHeader, MdxFlag) == 28 &&
              offsetof(TDBFHeader, Reserved2) == 30);
static_assert(offsetof(TDBFFieldDescriptor, FieldType) == 11 &&
              offsetof(TDBFFieldDescriptor, FieldLength) == 16 &&
              offsetof(TDBFFieldDescriptor, FieldReserved) == 18);

// The header's descriptor count is 8-bit: room for every descriptor it can name.
inline constexpr std::size_t kMaxFields = std::numeric_limits<TByte>::max();
inline constexpr std::size_t kRecordBufferSize = 4000;
inline constexpr TByte kHeaderTerminator = 13;

// dBase II (and the FoxBASE that wrote its tables): an 8-byte header part
// (version, a 16-bit record count, the date, the record length) followed by
// 16-byte descriptors. Past its version byte nothing of it reads as dBase III's
// header, so a table of this version is refused before its descriptors are.
inline bool IsDBase2(TByte version)
{
    return VersionFamily(version) == TLayoutFamily::DBase2;
}

// Descriptor chunks a header announces: (HeaderLength div 32) - 1, modulo 256.
inline TByte DescriptorCount(std::uint16_t headerLength)
{
    return static_cast<TByte>(headerLength / 32 - 1);
}

// Where record number recNo (counted from 1) begins, in 32-bit arithmetic.
inline std::int32_t RecordPosition(std::uint16_t headerLength, std::uint16_t recordLength, std::int32_t recNo)
{
    return static_cast<std::int32_t>(static_cast<std::uint32_t>(headerLength) +
                                     static_cast<std::uint32_t>(recNo - 1) * recordLength);
}

// The year byte of LastUpdate: (year - 1900) modulo 256.
inline TByte StoredYear(int year)
{
    return static_cast<TByte>(year - 1900);
}

// The years LastUpdate can store so that they read back as written: its year
// byte counts from 1900, and 2156 wraps round to 1900 again.
inline constexpr int kFirstStorableYear = 1900;
inline constexpr int kLastStorableYear = 1900 + 255;

// What the user is told when the table cannot be held exclusively: another
// program has it, or has taken it meanwhile.
std::string ExclusiveOpenMessage(const std::string& tableName);

// What the user is told when a table that cannot be held cannot be opened
// for reading either.
std::string ReadOpenMessage(const std::string& tableName);

// The length of a field name: the bytes before the first 0, at most 11.
std::size_t FieldNameLength(const TDBFFieldDescriptor& field);

// A descriptor is empty when its name is empty or its width is 0.
bool IsEmptyDescriptor(const TDBFFieldDescriptor& field);

// The chunks read as descriptors that stand before the header's terminator:
// the record's fields. The chunk that begins with the terminator and all after
// it are the header's tail.
std::span<const TDBFFieldDescriptor> DescriptorsBeforeTerminator(std::span<const TDBFFieldDescriptor> chunks);

// How many descriptors count as in use: those before the terminator less the
// empty ones, counted off without moving any, so that the first so many of
// the chunks are the ones in use.
TByte FieldsInUse(std::span<const TDBFFieldDescriptor> chunks);

// One table file. Every failure is told through NotifyUser where it happens;
// the owner learns the outcome of Open from Active() and HeaderRead().
// The owner closes Stream() when done; a table released with its file still
// open closes it.
class TDBF {
public:
    TDBF();
    TDBF(const TDBF&) = delete;
    TDBF& operator=(const TDBF&) = delete;

    [[nodiscard]] const std::string& TableName() const { return FTableName; }
    void SetTableName(const std::string& name);

    void Open();
    // Opens the table for reading only, shared with other programs, and reads
    // it as Open does, with the same messages: for looking at a table that
    // cannot be held. Nothing can be written to it (Stream().IsShared()).
    void OpenForReading();
    void ReadHeader();
    void ReadRecord();

    [[nodiscard]] bool Active() const { return FActive; }
    // True once the header and every announced descriptor were read in full;
    // for a dBase II table, once its version byte was read (no descriptors).
    [[nodiscard]] bool HeaderRead() const { return FHeaderRead; }
    [[nodiscard]] std::int32_t RecNo() const { return FRecNo; }
    [[nodiscard]] std::int32_t RecordCount() const { return FRecordCount; }
    [[nodiscard]] TByte FieldCount() const { return FFieldCount; }

    TDBFHeader& Header() { return FHeader; }
    [[nodiscard]] const TDBFHeader& Header() const { return FHeader; }
    // All descriptor slots; the first FieldCount() are the ones in use.
    std::span<TDBFFieldDescriptor, kMaxFields> Fields() { return FFields; }
    [[nodiscard]] std::span<const TDBFFieldDescriptor, kMaxFields> Fields() const { return FFields; }
    // The descriptor chunks read from the file in full; none until they were.
    [[nodiscard]] std::span<const TDBFFieldDescriptor> ChunksRead() const { return std::span(FFields).first(FChunksRead); }
    // The header and the first FieldCount() descriptors as one run of bytes,
    // the same run as at the start of the file; never more descriptors than
    // were read.
    [[nodiscard]] std::span<const TByte> HeaderImage() const;

    [[nodiscard]] std::span<const TByte, kRecordBufferSize> RecordBuffer() const { return FRecordBuffer; }
    TExclusiveFile& Stream() { return FStream; }

    // True when the table is still held and still as ReadHeader found it: the
    // header and every descriptor chunk it read, read again from the file
    // system, are the same bytes, and the file's length and times are those
    // of the open (Stream().HoldIntact()). A program that takes no lock may
    // have written the table while a box was open; whatever is to be written
    // over the header asks this last, just before the write. A failed read
    // counts as a change.
    [[nodiscard]] bool StillAsRead();

private:
    // Open (exclusive) or OpenForReading (shared, read only).
    void OpenFile(bool shared);

    std::array<TByte, kRecordBufferSize> FRecordBuffer;
    std::string FTableName;
    bool FActive;
    bool FHeaderRead;
    std::int32_t FRecNo;
    std::int32_t FRecordCount;
    TByte FFieldCount;
    std::size_t FChunksRead;
    TDBFHeader FHeader;
    std::array<TDBFFieldDescriptor, kMaxFields> FFields;  // directly after FHeader
    TExclusiveFile FStream;
    std::vector<TByte> FBytesRead;  // the header and chunks as read, before any correction
};
