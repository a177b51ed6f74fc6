// SPDX-License-Identifier: MIT
// The window forms of the two message boxes: the one NotifyUser shows and the
// error box.
#pragma once

#include <QDialog>
#include <QString>

class QPushButton;
class QTextEdit;

// Places a top-level window so that its frame, title bar included, stands at
// the centre of its screen's work area, and places it again when the window
// manager frames it: the frame's size is known only then. Without a window
// manager the frame is the window itself. Call before the window is first
// shown, so that the place is taken as the frame's.
void CentreByFrame(QWidget* window);

// NotifyUser's box: the text with no icon, one "OK" button that Enter and Esc
// both press, titled with the application's title, centred on the screen. The
// text is wrapped at words to at most half the screen's width; a word longer
// than the line is broken inside, so that nothing of it is cut off.
class TNotifyBox : public QDialog {
    Q_OBJECT
public:
    explicit TNotifyBox(const QString& text, QWidget* parent = nullptr);

    [[nodiscard]] QTextEdit* TextView() const { return FText; }
    [[nodiscard]] QPushButton* OkButton() const { return FOk; }

protected:
    void keyPressEvent(QKeyEvent* event) override;

private:
    QTextEdit* FText;
    QPushButton* FOk;
};

// Shows the text in a modal TNotifyBox and returns when the user closed it.
void ShowNotifyBox(const QString& text);

// Makes NotifyUser show its texts in TNotifyBox.
void InstallNotifyUserBox();

// The system's standard box with the error icon, the text, OK and the title.
void ShowErrorBox(QWidget* parent, const QString& text, const QString& title);
