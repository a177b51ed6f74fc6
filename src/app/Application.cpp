// SPDX-License-Identifier: MIT
#include "Application.h"

#include "ApplicationRules.h"
#include "MessageBoxes.h"

#include <QLibraryInfo>
#include <QLocale>
#include <QTranslator>

#include <algorithm>
#include <exception>
#include <optional>

QString ApplicationTitleOf(const QString& executablePath)
{
    const std::u16string title = ApplicationTitleFromPath(
        std::u16string_view(reinterpret_cast<const char16_t*>(executablePath.utf16()),
                            static_cast<std::size_t>(executablePath.size())),
        [](std::u16string_view text) {
            return QString::fromUtf16(text.data(), static_cast<qsizetype>(text.size())).toLower().toStdU16String();
        });
    return QString::fromStdU16String(title);
}

QString ApplicationTitle()
{
    return ApplicationTitleOf(QCoreApplication::applicationFilePath());
}

QString FailureText(const QString& what)
{
    return QString::fromStdString(FailureText(std::string_view(what.toStdString())));
}

namespace {

// Runs work; the text of a failure that escapes it, or nothing.
std::optional<QString> FailureOf(const std::function<void()>& work)
{
    try {
        work();
        return std::nullopt;
    } catch (const std::exception& failure) {
        return QString::fromStdString(FailureText(std::string_view(failure.what())));
    } catch (...) {
        return QString::fromStdString(FailureText(std::string_view(kUnknownFailureText)));
    }
}

}  // namespace

void RunHandler(const std::function<void()>& handler)
{
    // Shown outside the catch, so the box's own event loop runs with no
    // exception in flight.
    if (const auto text = FailureOf(handler)) ShowErrorBox(QApplication::activeWindow(), *text, ApplicationTitle());
}

TApplication::TApplication(int& argc, char** argv)
    : QApplication(argc, argv), FQtTranslator(new QTranslator(this))
{
    // Dates, month and day names in the calendar and Qt's dialogs as the
    // window's Russian texts would write them, whatever the system's locale
    // (the C locale of a server login, an English desktop). Set before any
    // widget is made: a widget takes the default locale when it is made.
    QLocale::setDefault(QLocale(QLocale::Russian, QLocale::Russia));
    // Without the translations (qt6-translations-l10n) Qt's texts stay in
    // English; the program works as before.
    FQtTranslated = FQtTranslator->load(QStringLiteral("qtbase_ru"), QLibraryInfo::path(QLibraryInfo::TranslationsPath)) &&
                    installTranslator(FQtTranslator);
}

bool TApplication::notify(QObject* receiver, QEvent* event)
{
    bool handled = true;
    const auto text = FailureOf([&] { handled = QApplication::notify(receiver, event); });
    if (!text) return handled;
    ShowErrorBox(activeWindow(), *text, ApplicationTitle());
    // The failure has been dealt with: the event is not passed on.
    return true;
}
