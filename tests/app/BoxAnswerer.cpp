// SPDX-License-Identifier: MIT
#include "BoxAnswerer.h"

#include "MessageBoxes.h"

#include <QApplication>
#include <QFileDialog>
#include <QKeyEvent>
#include <QPushButton>
#include <QTest>
#include <QTextEdit>

TBoxAnswerer::TBoxAnswerer()
{
    connect(&FTimer, &QTimer::timeout, this, &TBoxAnswerer::Poll);
    FTimer.start(5);
}

void TBoxAnswerer::Poll()
{
    QWidget* box = QApplication::activeModalWidget();
    if (!box || !box->isVisible() || box->property("answered").toBool()) return;
    box->setProperty("answered", true);
    TSeenBox entry;
    entry.title = box->windowTitle();
    if (auto* notify = qobject_cast<TNotifyBox*>(box)) {
        entry.kind = TBoxKind::Notify;
        entry.text = notify->TextView()->toPlainText();
        seen.push_back(entry);
        QTest::keyClick(notify->OkButton(), Qt::Key_Return);
    } else if (auto* message = qobject_cast<QMessageBox*>(box)) {
        entry.kind = message->icon() == QMessageBox::Critical ? TBoxKind::Error : TBoxKind::Other;
        entry.text = message->text();
        entry.icon = message->icon();
        seen.push_back(entry);
        message->button(QMessageBox::Ok)->click();
    } else if (auto* dialog = qobject_cast<QFileDialog*>(box)) {
        entry.kind = TBoxKind::FileDialog;
        entry.text = dialog->selectedFiles().value(0);
        seen.push_back(entry);
        if (FFileAction) {
            FFileAction(*dialog);
        } else {
            dialog->reject();
        }
    } else {
        seen.push_back(entry);
        box->close();
    }
}

void TypeText(QWidget* widget, const QString& text)
{
    for (const QChar ch : text) {
        QKeyEvent press(QEvent::KeyPress, Qt::Key_unknown, Qt::NoModifier, QString(ch));
        QApplication::sendEvent(widget, &press);
        QKeyEvent release(QEvent::KeyRelease, Qt::Key_unknown, Qt::NoModifier, QString(ch));
        QApplication::sendEvent(widget, &release);
    }
}
