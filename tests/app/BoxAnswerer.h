// SPDX-License-Identifier: MIT
// Answers the modal boxes a handler opens, the way a user would, and keeps
// what each showed.
#pragma once

#include <QMessageBox>
#include <QObject>
#include <QString>
#include <QTimer>

#include <functional>
#include <vector>

class QWidget;

enum class TBoxKind { Notify, Error, FileDialog, Other };

struct TSeenBox {
    TBoxKind kind = TBoxKind::Other;
    QString title;
    QString text;
    QMessageBox::Icon icon = QMessageBox::NoIcon;
};

class TBoxAnswerer : public QObject {
public:
    // Answers a file dialog; by default the dialog is cancelled.
    using TFileAction = std::function<void(class QFileDialog&)>;

    TBoxAnswerer();
    void OnFileDialog(TFileAction action) { FFileAction = std::move(action); }

    std::vector<TSeenBox> seen;

private:
    void Poll();
    QTimer FTimer;
    TFileAction FFileAction;
};

// Types text into the widget as key events with text, one character at a
// time; QTest::keyClicks cannot type characters outside ASCII.
void TypeText(QWidget* widget, const QString& text);
