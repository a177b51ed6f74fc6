// The application object: its title and the last line of defence against a
// failure that escapes a handler.
#pragma once

#include <QApplication>
#include <QString>

// The title from an executable's name: the name without its directory, cut
// before its first dot, every character after the first in lower case
// (DIZEVU.EXE gives Dizevu).
QString ApplicationTitleOf(const QString& executablePath);

// The title of the running program.
QString ApplicationTitle();

// A failure's text as the error box shows it: a full stop is added when the
// text is not empty and its last character comes after the full stop (46).
QString FailureText(const QString& what);

class TApplication : public QApplication {
public:
    TApplication(int& argc, char** argv);

    // Delivers the event; a failure that escapes a handler is shown in the
    // error box, titled with the application's title, and the program goes on.
    bool notify(QObject* receiver, QEvent* event) override;
};
