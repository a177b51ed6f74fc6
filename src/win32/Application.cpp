// SPDX-License-Identifier: MIT
#include "Application.h"

#include "ApplicationRules.h"
#include "Form1Layout.h"
#include "MessageBoxes.h"

#include <climits>
#include <exception>
#include <optional>

std::wstring Utf16(std::string_view utf8)
{
    if (utf8.empty() || utf8.size() > static_cast<std::size_t>(INT_MAX)) return {};
    const int size = static_cast<int>(utf8.size());
    const int length = MultiByteToWideChar(CP_UTF8, 0, utf8.data(), size, nullptr, 0);
    std::wstring out(static_cast<std::size_t>(length), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, utf8.data(), size, out.data(), length);
    return out;
}

std::string Utf8(std::wstring_view utf16)
{
    if (utf16.empty() || utf16.size() > static_cast<std::size_t>(INT_MAX)) return {};
    const int size = static_cast<int>(utf16.size());
    const int length = WideCharToMultiByte(CP_UTF8, 0, utf16.data(), size, nullptr, 0, nullptr, nullptr);
    std::string out(static_cast<std::size_t>(length), '\0');
    WideCharToMultiByte(CP_UTF8, 0, utf16.data(), size, out.data(), length, nullptr, nullptr);
    return out;
}

std::vector<std::wstring> ProgramArguments()
{
    int count = 0;
    LPWSTR* split = CommandLineToArgvW(GetCommandLineW(), &count);
    if (!split) return {};
    std::vector<std::wstring> arguments;
    for (int i = 1; i < count; ++i) arguments.emplace_back(split[i]);
    LocalFree(static_cast<HLOCAL>(split));
    return arguments;
}

std::wstring WindowText(HWND window)
{
    const auto length = static_cast<int>(SendMessageW(window, WM_GETTEXTLENGTH, 0, 0));
    std::wstring text(static_cast<std::size_t>(length) + 1, L'\0');
    const auto copied =
        static_cast<std::size_t>(SendMessageW(window, WM_GETTEXT, text.size(), reinterpret_cast<LPARAM>(text.data())));
    text.resize(copied);
    return text;
}

std::wstring ApplicationTitleOf(std::wstring_view executablePath)
{
    // wchar_t is UTF-16 here, as char16_t is.
    static_assert(sizeof(wchar_t) == sizeof(char16_t));
    const std::u16string title = ApplicationTitleFromPath(
        std::u16string_view(reinterpret_cast<const char16_t*>(executablePath.data()), executablePath.size()),
        [](std::u16string_view text) {
            std::wstring lower(reinterpret_cast<const wchar_t*>(text.data()), text.size());
            CharLowerBuffW(lower.data(), static_cast<DWORD>(lower.size()));
            return std::u16string(reinterpret_cast<const char16_t*>(lower.data()), lower.size());
        });
    return {reinterpret_cast<const wchar_t*>(title.data()), title.size()};
}

std::wstring ApplicationTitle()
{
    std::wstring path(MAX_PATH, L'\0');
    for (;;) {
        const DWORD length = GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
        if (length < path.size()) {
            path.resize(length);
            break;
        }
        path.resize(path.size() * 2);
    }
    return ApplicationTitleOf(path);
}

HFONT WindowFont()
{
    // One for the program's life: every control and box shares it.
    static const HFONT font = CreateFontW(-kForm1FontPixelHeight, 0, 0, 0, FW_NORMAL, FALSE, FALSE, FALSE,
                                          RUSSIAN_CHARSET, OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY,
                                          DEFAULT_PITCH | FF_SWISS, Utf16(kForm1FontFamily).c_str());
    return font;
}

namespace {

// Runs work; the text of a failure that escapes it, or nothing.
std::optional<std::string> FailureOf(const std::function<void()>& work)
{
    try {
        work();
        return std::nullopt;
    } catch (const std::exception& failure) {
        return FailureText(failure.what());
    } catch (...) {
        return FailureText(kUnknownFailureText);
    }
}

}  // namespace

void RunHandler(HWND owner, const std::function<void()>& handler)
{
    // Shown outside the catch, so the box's own message loop runs with no
    // exception in flight.
    if (const auto text = FailureOf(handler)) ShowErrorBox(owner, Utf16(*text), ApplicationTitle());
}
