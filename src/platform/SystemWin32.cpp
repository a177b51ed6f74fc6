// SPDX-License-Identifier: MIT
// The command line's system needs on Windows: the wide command line, text
// written wide to a console, files flushed with FlushFileBuffers.
#include "System.h"
#include "WideConsoleBuffer.h"

#include <windows.h>  // lean, without min and max: see src/cli/CMakeLists.txt
#include <shellapi.h>

#include <algorithm>
#include <climits>
#include <cstdio>
#include <io.h>
#include <memory>
#include <string_view>
#include <utility>

namespace {

std::string Utf16ToUtf8(std::wstring_view text)
{
    if (text.empty() || text.size() > static_cast<std::size_t>(INT_MAX)) return {};
    const int size = static_cast<int>(text.size());
    const int length = WideCharToMultiByte(CP_UTF8, 0, text.data(), size, nullptr, 0, nullptr, nullptr);
    if (length <= 0) return {};
    std::string out(static_cast<std::size_t>(length), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.data(), size, out.data(), length, nullptr, nullptr);
    return out;
}

// A handle closed when it goes out of scope.
class THandle {
public:
    explicit THandle(HANDLE handle) : FHandle(handle) {}
    ~THandle()
    {
        if (Valid()) CloseHandle(FHandle);
    }
    THandle(const THandle&) = delete;
    THandle& operator=(const THandle&) = delete;
    [[nodiscard]] bool Valid() const { return FHandle != INVALID_HANDLE_VALUE; }
    [[nodiscard]] HANDLE Get() const { return FHandle; }

private:
    HANDLE FHandle;
};

bool WriteAll(HANDLE file, std::span<const std::uint8_t> data)
{
    if (data.size() > MAXDWORD) return false;
    if (data.empty()) return true;
    DWORD put = 0;
    return WriteFile(file, data.data(), static_cast<DWORD>(data.size()), &put, nullptr) != 0 && put == data.size();
}

}  // namespace

std::vector<std::string> CommandLineArguments(int, char**)
{
    // The narrow argv holds the names in the ANSI code page, with "?" for
    // every letter it cannot spell: the wide command line holds them whole.
    std::vector<std::string> arguments;
    int count = 0;
    LPWSTR* wide = CommandLineToArgvW(GetCommandLineW(), &count);
    if (wide == nullptr) return arguments;
    for (int i = 1; i < count; ++i) arguments.push_back(Utf16ToUtf8(wide[i]));
    LocalFree(wide);
    return arguments;
}

std::filesystem::path NativePath(const std::string& name)
{
    return std::filesystem::path(std::u8string(name.begin(), name.end()));
}

std::string NameOf(const std::filesystem::path& path)
{
    // NTFS keeps names with a lone surrogate half, which the path's own
    // conversion throws on; here the half becomes U+FFFD, and the name is
    // told as one that cannot be opened.
    return Utf16ToUtf8(path.native());
}

struct TConsoleStreams::TState {
    struct TRedirect {
        std::ostream* Stream;
        std::streambuf* Previous;
        std::unique_ptr<TWideConsoleBuffer> Buffer;
    };
    std::vector<TRedirect> Redirects;
};

TConsoleStreams::TConsoleStreams(std::ostream& out, std::ostream& err) : FState(std::make_unique<TState>())
{
    const std::pair<std::ostream*, DWORD> streams[] = {{&out, STD_OUTPUT_HANDLE}, {&err, STD_ERROR_HANDLE}};
    for (const auto& [stream, which] : streams) {
        HANDLE handle = GetStdHandle(which);
        DWORD mode = 0;
        // A pipe, a file or no handle at all: the bytes as given.
        if (handle == INVALID_HANDLE_VALUE || handle == nullptr || GetConsoleMode(handle, &mode) == 0) continue;
        auto buffer = std::make_unique<TWideConsoleBuffer>([handle](std::u16string_view text) {
            static_assert(sizeof(wchar_t) == sizeof(char16_t));
            while (!text.empty()) {
                // The console takes a bounded run at a time.
                const auto chunk = static_cast<DWORD>(std::min<std::size_t>(text.size(), 8192));
                DWORD written = 0;
                if (WriteConsoleW(handle, reinterpret_cast<const wchar_t*>(text.data()), chunk, &written, nullptr) == 0 ||
                    written == 0) {
                    return false;
                }
                text.remove_prefix(std::min<std::size_t>(written, text.size()));
            }
            return true;
        });
        stream->flush();
        std::streambuf* previous = stream->rdbuf(buffer.get());
        FState->Redirects.push_back({stream, previous, std::move(buffer)});
    }
}

TConsoleStreams::~TConsoleStreams()
{
    for (auto& redirect : FState->Redirects) {
        redirect.Stream->flush();
        redirect.Buffer->Finish();
        redirect.Stream->rdbuf(redirect.Previous);
    }
}

bool StandardErrorIsTerminal()
{
    return _isatty(_fileno(stderr)) != 0;
}

bool WriteNewFile(const std::string& name, std::span<const std::uint8_t> data)
{
    const std::wstring wide = NativePath(name).wstring();
    HANDLE file = CreateFileW(wide.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    const bool written = WriteAll(file, data);
    const bool closed = CloseHandle(file) != 0;
    if (!written || !closed) {
        DeleteFileW(wide.c_str());
        return false;
    }
    return true;
}

std::filesystem::path LongFolderName(const std::filesystem::path& folder)
{
    const std::wstring name = folder.wstring();
    // Already a name the system takes as it stands.
    if (name.rfind(L"\\\\?\\", 0) == 0 || name.rfind(L"\\\\.\\", 0) == 0) return folder;
    const DWORD needed = GetFullPathNameW(name.c_str(), 0, nullptr, nullptr);  // with the final 0
    if (needed == 0) return folder;
    std::wstring full(needed, L'\0');
    const DWORD length = GetFullPathNameW(name.c_str(), needed, full.data(), nullptr);
    if (length == 0 || length >= needed) return folder;
    full.resize(length);
    // A share's \\server\share\... becomes \\?\UNC\server\share\...
    return std::filesystem::path(full.rfind(L"\\\\", 0) == 0 ? L"\\\\?\\UNC\\" + full.substr(2) : L"\\\\?\\" + full);
}

namespace {

// Opens a file or folder for its attributes alone, through links.
HANDLE OpenForAttributes(const std::wstring& name)
{
    return CreateFileW(name.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                       FILE_FLAG_BACKUP_SEMANTICS, nullptr);
}

std::wstring Child(const std::wstring& folder, std::wstring_view name)
{
    std::wstring child = folder;
    if (!child.empty() && child.back() != L'\\' && child.back() != L'/' && child.back() != L':') child += L'\\';
    child += name;
    return child;
}

}  // namespace

bool IsFolder(const std::filesystem::path& name)
{
    HANDLE handle = OpenForAttributes(name.wstring());
    if (handle == INVALID_HANDLE_VALUE) return false;
    BY_HANDLE_FILE_INFORMATION information{};
    const bool known = GetFileInformationByHandle(handle, &information) != 0;
    CloseHandle(handle);
    return known && (information.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

bool ListFolder(const std::filesystem::path& folder, std::vector<TFolderEntry>& entries)
{
    // FindFirstFileExW takes the \\?\ names the C runtime's folder listing
    // (and so std::filesystem's under mingw) cuts at MAX_PATH.
    const std::wstring name = folder.wstring();
    WIN32_FIND_DATAW found{};
    HANDLE search = FindFirstFileExW(Child(name, L"*").c_str(), FindExInfoBasic, &found, FindExSearchNameMatch, nullptr,
                                     FIND_FIRST_EX_LARGE_FETCH);
    if (search == INVALID_HANDLE_VALUE) return GetLastError() == ERROR_FILE_NOT_FOUND;  // an empty drive
    for (;;) {
        const std::wstring_view entryName = found.cFileName;
        if (entryName != L"." && entryName != L"..") {
            DWORD attributes = found.dwFileAttributes;
            const bool link = (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
            if (link) {
                // A link or junction: what it leads to decides; a dangling
                // one is neither folder nor file.
                attributes = 0;
                HANDLE target = OpenForAttributes(Child(name, entryName));
                if (target != INVALID_HANDLE_VALUE) {
                    BY_HANDLE_FILE_INFORMATION information{};
                    if (GetFileInformationByHandle(target, &information) != 0) {
                        attributes = information.dwFileAttributes;
                    }
                    CloseHandle(target);
                }
            }
            TFolderEntry entry{std::filesystem::path(std::wstring(entryName))};
            entry.IsFolder = (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
            entry.IsRegularFile = attributes != 0 && !entry.IsFolder && (attributes & FILE_ATTRIBUTE_DEVICE) == 0;
            entry.IsLink = link;
            entries.push_back(std::move(entry));
        }
        if (FindNextFileW(search, &found) == 0) break;
    }
    const bool listed = GetLastError() == ERROR_NO_MORE_FILES;
    FindClose(search);
    return listed;
}

bool FolderIdentity(const std::filesystem::path& folder, std::string& identity)
{
    // The volume's serial number and the folder's file index: the same
    // whatever link or spelling reached it.
    HANDLE handle = OpenForAttributes(folder.wstring());
    if (handle == INVALID_HANDLE_VALUE) return false;
    BY_HANDLE_FILE_INFORMATION information{};
    const bool known = GetFileInformationByHandle(handle, &information) != 0;
    CloseHandle(handle);
    if (!known) return false;
    const std::uint64_t index =
        (static_cast<std::uint64_t>(information.nFileIndexHigh) << 32) | information.nFileIndexLow;
    identity = std::to_string(information.dwVolumeSerialNumber) + ":" + std::to_string(index);
    return true;
}

bool FlushFilesDurably(const std::vector<std::string>& names)
{
    // Windows flushes a file through a handle that may write; the folder's
    // entry goes with the file's own metadata.
    bool flushed = true;
    for (const auto& name : names) {
        const THandle file(CreateFileW(NativePath(name).wstring().c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                                       OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
        flushed = file.Valid() && FlushFileBuffers(file.Get()) != 0 && flushed;
    }
    return flushed;
}

TSmallFile ReadSmallFile(const std::string& name, std::size_t limit)
{
    TSmallFile result;
    // Backup semantics let a folder be opened, so that it is told as one.
    const THandle file(CreateFileW(NativePath(name).wstring().c_str(), GENERIC_READ,
                                   FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                   FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    if (!file.Valid()) {
        const DWORD error = GetLastError();
        result.Status = error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND ? TSmallFileStatus::Missing
                                                                                       : TSmallFileStatus::Unreadable;
        return result;
    }
    BY_HANDLE_FILE_INFORMATION info{};
    if (GetFileType(file.Get()) != FILE_TYPE_DISK) {
        result.Status = TSmallFileStatus::NotRegular;
        return result;
    }
    if (GetFileInformationByHandle(file.Get(), &info) == 0) return result;
    if ((info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
        result.Status = TSmallFileStatus::Folder;
        return result;
    }
    const std::uint64_t size = (static_cast<std::uint64_t>(info.nFileSizeHigh) << 32) | info.nFileSizeLow;
    if (size > limit || limit >= MAXDWORD) {
        result.Status = TSmallFileStatus::TooLarge;
        return result;
    }
    // To the end, not to the length told: the file may grow meanwhile.
    std::string data(static_cast<std::size_t>(size) + 1, '\0');
    std::size_t got = 0;
    for (;;) {
        if (got == data.size()) {
            if (data.size() > limit) break;
            data.resize(std::min(data.size() * 2, limit + 1));
        }
        DWORD n = 0;
        if (ReadFile(file.Get(), data.data() + got, static_cast<DWORD>(data.size() - got), &n, nullptr) == 0) return result;
        if (n == 0) break;
        got += n;
    }
    if (got > limit) {
        result.Status = TSmallFileStatus::TooLarge;
        return result;
    }
    data.resize(got);
    result.Data = std::move(data);
    result.Status = TSmallFileStatus::Read;
    return result;
}

std::optional<TFileIdentity> IdentifyFile(const std::string& name)
{
    // No access asked beyond the attributes: that is granted even while the
    // table is held with no sharing.
    const THandle file(CreateFileW(NativePath(name).wstring().c_str(), 0,
                                   FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                   FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    if (!file.Valid()) return std::nullopt;
    BY_HANDLE_FILE_INFORMATION info{};
    if (GetFileInformationByHandle(file.Get(), &info) == 0) return std::nullopt;
    TFileIdentity identity;
    identity.Size = (static_cast<std::uint64_t>(info.nFileSizeHigh) << 32) | info.nFileSizeLow;
    identity.Id = TFileId{info.dwVolumeSerialNumber,
                          (static_cast<std::uint64_t>(info.nFileIndexHigh) << 32) | info.nFileIndexLow};
    std::wstring path(MAX_PATH, L'\0');
    DWORD length = GetFinalPathNameByHandleW(file.Get(), path.data(), static_cast<DWORD>(path.size()), 0);
    if (length >= path.size()) {
        path.resize(length + 1);
        length = GetFinalPathNameByHandleW(file.Get(), path.data(), static_cast<DWORD>(path.size()), 0);
    }
    if (length == 0 || length >= path.size()) {
        std::error_code error;
        identity.Path = NameOf(std::filesystem::absolute(NativePath(name), error));
        if (error) return std::nullopt;
        return identity;
    }
    path.resize(length);
    // \\?\C:\... and \\?\UNC\server\share\... as people write them.
    if (path.rfind(L"\\\\?\\UNC\\", 0) == 0) {
        path = L"\\\\" + path.substr(8);
    } else if (path.rfind(L"\\\\?\\", 0) == 0) {
        path = path.substr(4);
    }
    identity.Path = Utf16ToUtf8(path);
    return identity;
}

namespace {

// Windows numbers its code pages; iconv names them.
std::optional<UINT> WindowsCodePage(std::string_view charset)
{
    static constexpr std::pair<std::string_view, UINT> kNamed[]{
        {"UTF-8", CP_UTF8},      {"KOI8-R", 20866},          {"ISO-8859-5", 28595}, {"MAC-CYRILLIC", 10007},
        {"MACINTOSH", 10000},    {"MAC-CENTRALEUROPE", 10029}, {"MACGREEK", 10006},
    };
    for (const auto& [name, page] : kNamed) {
        if (charset == name) return page;
    }
    for (const std::string_view prefix : {"WINDOWS-", "IBM", "CP"}) {
        if (!charset.starts_with(prefix)) continue;
        const std::string_view digits = charset.substr(prefix.size());
        UINT page = 0;
        if (digits.empty() || digits.size() > 5) return std::nullopt;
        for (const char c : digits) {
            if (c < '0' || c > '9') return std::nullopt;
            page = page * 10 + static_cast<UINT>(c - '0');
        }
        return page;
    }
    return std::nullopt;
}

}  // namespace

std::optional<std::string> DecodeText(const std::string& charset, std::span<const std::uint8_t> bytes)
{
    const auto page = WindowsCodePage(charset);
    if (!page || bytes.size() > static_cast<std::size_t>(INT_MAX / 2)) return std::nullopt;
    if (bytes.empty()) return std::string();
    const auto* in = reinterpret_cast<const char*>(bytes.data());
    const int inLength = static_cast<int>(bytes.size());
    const int wideLength = MultiByteToWideChar(*page, MB_ERR_INVALID_CHARS, in, inLength, nullptr, 0);
    if (wideLength <= 0) return std::nullopt;
    std::wstring wide(static_cast<std::size_t>(wideLength), L'\0');
    MultiByteToWideChar(*page, MB_ERR_INVALID_CHARS, in, inLength, wide.data(), wideLength);
    return Utf16ToUtf8(wide);
}
