#include "Application.h"

#include "MessageBoxes.h"

#include <QLibraryInfo>
#include <QTranslator>

#include <algorithm>
#include <exception>
#include <optional>

QString ApplicationTitleOf(const QString& executablePath)
{
    // Both separators: the path may come from either kind of system.
    const qsizetype slash = std::max(executablePath.lastIndexOf(u'/'), executablePath.lastIndexOf(u'\\'));
    QString name = executablePath.mid(slash + 1);
    const qsizetype dot = name.indexOf(u'.');
    if (dot >= 0) name.truncate(dot);
    if (name.isEmpty()) return name;
    return name.left(1) + name.mid(1).toLower();
}

QString ApplicationTitle()
{
    return ApplicationTitleOf(QCoreApplication::applicationFilePath());
}

QString FailureText(const QString& what)
{
    if (!what.isEmpty() && what.back().unicode() > u'.') return what + u'.';
    return what;
}

namespace {

// Runs work; the text of a failure that escapes it, or nothing.
std::optional<QString> FailureOf(const std::function<void()>& work)
{
    try {
        work();
        return std::nullopt;
    } catch (const std::exception& failure) {
        return FailureText(QString::fromUtf8(failure.what()));
    } catch (...) {
        return FailureText(QStringLiteral("Unknown error"));
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
