// SPDX-License-Identifier: MIT
// The application object: its title and the last line of defence against a
// failure that escapes a handler.
#pragma once

#include <QApplication>
#include <QString>

#include <functional>

// The title from an executable's name: the name without its directory, cut
// before its first dot, every character after the first in lower case
// (DIZEVU.EXE gives Dizevu).
QString ApplicationTitleOf(const QString& executablePath);

// The title of the running program.
QString ApplicationTitle();

// A failure's text as the error box shows it: a full stop is added when the
// text is not empty and its last character comes after the full stop (46).
QString FailureText(const QString& what);

// Runs a handler of the window; a failure that escapes it is shown as notify
// shows one. Qt's code between an event and a handler is not safe for
// exceptions (it leaks the event's data, and may leave state half changed), so
// a failure is caught before it can travel back through it.
void RunHandler(const std::function<void()>& handler);

class QTranslator;

class TApplication : public QApplication {
public:
    // Qt's own texts (file dialog, calendar, standard buttons, edit menus) are
    // taken from Qt's Russian translations, and dates and month names follow
    // the Russian locale, whatever the system's locale, so that they speak the
    // window's language.
    TApplication(int& argc, char** argv);

    // Whether Qt's Russian translations were found and are in use.
    [[nodiscard]] bool QtTranslated() const { return FQtTranslated; }

    // Delivers the event; a failure that escapes a handler is shown in the
    // error box, titled with the application's title, and the program goes on.
    bool notify(QObject* receiver, QEvent* event) override;

private:
    QTranslator* FQtTranslator;
    bool FQtTranslated = false;
};
