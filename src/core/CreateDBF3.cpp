// SPDX-License-Identifier: MIT
#include "CreateDBF3.h"

#include "NotifyUser.h"

#include <algorithm>
#include <type_traits>

namespace {

const char* const kMsgNameWhileOpen = "TableName: Это свойство нельзя изменять, если файл открыт";
const char* const kMsgBadFileType = "TableName: Недопустимый тип файла";
const char* const kMsgNotFound = "Open: Не найден файл ";
const char* const kMsgReadHeader = "ReadHeader: Ошибка чтения заголовка файла";
const char* const kMsgReadRecord = "ReadRecord: Ошибка чтения записи";

// ".DBF" in any case of its letters: the extension after the last dot.
bool HasDbfExtension(const std::string& name)
{
    static constexpr std::string_view kExtension = ".DBF";
    if (name.size() < kExtension.size()) return false;
    const auto tail = std::string_view(name).substr(name.size() - kExtension.size());
    return std::equal(tail.begin(), tail.end(), kExtension.begin(), [](char c, char upper) {
        return (c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c) == upper;
    });
}

template <typename T>
std::span<TByte> BytesOf(T* first, std::size_t count)
{
    static_assert(std::is_trivially_copyable_v<T> && alignof(T) == 1);
    return {reinterpret_cast<TByte*>(first), sizeof(T) * count};
}

}  // namespace

std::string ExclusiveOpenMessage(const std::string& tableName)
{
    return "Файл " + TExclusiveFile::BaseName(tableName) +
           " невозможно открыть в монопольном\nрежиме, т.к. он уже используется другой программой";
}

std::string ReadOpenMessage(const std::string& tableName)
{
    return "Файл " + TExclusiveFile::BaseName(tableName) + " невозможно открыть для чтения";
}

std::size_t FieldNameLength(const TDBFFieldDescriptor& field)
{
    const auto& name = field.FieldName;
    return static_cast<std::size_t>(std::find(name.begin(), name.end(), TByte{0}) - name.begin());
}

bool IsEmptyDescriptor(const TDBFFieldDescriptor& field)
{
    return FieldNameLength(field) == 0 || field.FieldLength == 0;
}

std::span<const TDBFFieldDescriptor> DescriptorsBeforeTerminator(std::span<const TDBFFieldDescriptor> chunks)
{
    const auto end = std::find_if(chunks.begin(), chunks.end(), [](const TDBFFieldDescriptor& field) {
        return field.FieldName[0] == kHeaderTerminator;
    });
    return chunks.first(static_cast<std::size_t>(end - chunks.begin()));
}

TByte FieldsInUse(std::span<const TDBFFieldDescriptor> chunks)
{
    const auto fields = DescriptorsBeforeTerminator(chunks);
    return static_cast<TByte>(std::count_if(fields.begin(), fields.end(),
                                            [](const TDBFFieldDescriptor& field) { return !IsEmptyDescriptor(field); }));
}

TDBF::TDBF()
    : FRecordBuffer{}, FActive(false), FHeaderRead(false), FRecNo(0), FRecordCount(0), FFieldCount(0),
      FChunksRead(0), FHeader{}, FFields{}
{
}

std::span<const TByte> TDBF::HeaderImage() const
{
    // The header and the descriptors are one run in memory, as in the file.
    static_assert(std::is_standard_layout_v<TDBF>);
    static_assert(offsetof(TDBF, FFields) == offsetof(TDBF, FHeader) + sizeof(TDBFHeader));
    const auto* run = reinterpret_cast<const TByte*>(this) + offsetof(TDBF, FHeader);
    return {run, sizeof(TDBFHeader) + sizeof(TDBFFieldDescriptor) * std::min<std::size_t>(FFieldCount, FChunksRead)};
}

void TDBF::SetTableName(const std::string& name)
{
    if (FActive) {
        NotifyUser(kMsgNameWhileOpen);
        return;
    }
    if (!HasDbfExtension(name)) {
        NotifyUser(kMsgBadFileType);
        return;
    }
    FTableName = name;
}

void TDBF::Open()
{
    OpenFile(false);
}

void TDBF::OpenForReading()
{
    OpenFile(true);
}

void TDBF::OpenFile(bool shared)
{
    if (FActive) return;
    if (!TExclusiveFile::Exists(FTableName)) {
        NotifyUser(kMsgNotFound + FTableName);
        return;
    }
    if (!(shared ? FStream.OpenShared(FTableName) : FStream.Open(FTableName))) {
        NotifyUser(shared ? ReadOpenMessage(FTableName) : ExclusiveOpenMessage(FTableName));
        return;
    }
    FActive = true;
    ReadHeader();
    // The first record is read even after a short header, as long as the
    // record count was read.
    if (FRecordCount > 0) {
        FRecNo = 1;
        ReadRecord();
    }
}

void TDBF::ReadHeader()
{
    FHeaderRead = false;
    FChunksRead = 0;
    FBytesRead.clear();
    if (!FStream.ReadAt(0, BytesOf(&FHeader, 1))) {
        NotifyUser(kMsgReadHeader);
        return;
    }
    const auto header = BytesOf(&FHeader, 1);
    FBytesRead.assign(header.begin(), header.end());
    if (IsDBase2(FHeader.Version)) {
        // Its bytes 8 on are descriptors of 16 bytes: read as dBase III's
        // lengths they would announce chunks and a record that are not there.
        // The owner refuses the table by its version byte.
        FFieldCount = 0;
        FRecordCount = 0;
        FRecNo = 0;
        FHeaderRead = true;
        return;
    }
    const std::uint16_t headerLength = GetLE16(FHeader.HeaderLength);
    FFieldCount = DescriptorCount(headerLength);
    FRecordCount = static_cast<std::int32_t>(GetLE32(FHeader.RecordCount));
    // A header shorter than its own 32 bytes would put the records inside it:
    // refused like a short header, whatever the wrapped count says.
    if (headerLength < sizeof(TDBFHeader) ||
        !FStream.ReadAt(sizeof(TDBFHeader), BytesOf(FFields.data(), FFieldCount))) {
        NotifyUser(kMsgReadHeader);
        return;
    }
    FChunksRead = FFieldCount;
    const auto chunks = BytesOf(FFields.data(), FChunksRead);
    FBytesRead.insert(FBytesRead.end(), chunks.begin(), chunks.end());
    // Empty descriptors are only counted off, not moved. The descriptors end at
    // the terminator: the chunk that begins with it and all after it are the
    // header's tail, never rewritten as descriptors.
    FFieldCount = FieldsInUse(ChunksRead());
    FRecNo = FRecordCount > 0 ? 1 : 0;
    FHeaderRead = true;
}

bool TDBF::StillAsRead()
{
    if (!FStream.IsOpen()) return false;
    std::vector<TByte> now(FBytesRead.size());
    return FStream.ReadFreshAt(0, now) && now == FBytesRead && FStream.HoldIntact();
}

void TDBF::ReadRecord()
{
    const std::int32_t position =
        RecordPosition(GetLE16(FHeader.HeaderLength), GetLE16(FHeader.RecordLength), FRecNo);
    // A record longer than the buffer is read as far as the buffer goes.
    const std::size_t size = std::min<std::size_t>(GetLE16(FHeader.RecordLength), kRecordBufferSize);
    if (position < 0 || !FStream.ReadAt(static_cast<std::uint64_t>(position), std::span(FRecordBuffer).first(size))) {
        NotifyUser(kMsgReadRecord);
    }
}
