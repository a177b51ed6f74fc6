// SPDX-License-Identifier: MIT
#include "ApplicationRules.h"

std::u16string ApplicationTitleFromPath(std::u16string_view executablePath,
                                        const std::function<std::u16string(std::u16string_view)>& toLower)
{
    const auto slash = executablePath.find_last_of(u"/\\");
    std::u16string_view name = slash == std::u16string_view::npos ? executablePath : executablePath.substr(slash + 1);
    name = name.substr(0, name.find(u'.'));
    if (name.empty()) return {};
    std::u16string title = toLower(name.substr(1));
    title.insert(title.begin(), name.front());
    return title;
}

std::string FailureText(std::string_view what)
{
    std::string text(what);
    if (!text.empty() && static_cast<unsigned char>(text.back()) > '.') text += '.';
    return text;
}
