// The window forms of the two message boxes: the one NotifyUser shows and the
// error box.
#pragma once

#include <QDialog>
#include <QString>

class QLabel;
class QPushButton;

// NotifyUser's box: the text with no icon, one "OK" button that Enter and Esc
// both press, titled with the application's title, centred on the screen. The
// text is wrapped at words to at most half the screen's width.
class TNotifyBox : public QDialog {
    Q_OBJECT
public:
    explicit TNotifyBox(const QString& text, QWidget* parent = nullptr);

    [[nodiscard]] QLabel* TextLabel() const { return FText; }
    [[nodiscard]] QPushButton* OkButton() const { return FOk; }

protected:
    void keyPressEvent(QKeyEvent* event) override;
    void showEvent(QShowEvent* event) override;

private:
    QLabel* FText;
    QPushButton* FOk;
    QRect FScreenArea;
};

// Shows the text in a modal TNotifyBox and returns when the user closed it.
void ShowNotifyBox(const QString& text);

// Makes NotifyUser show its texts in TNotifyBox.
void InstallNotifyUserBox();

// The system's standard box with the error icon, the text, OK and the title.
void ShowErrorBox(QWidget* parent, const QString& text, const QString& title);
