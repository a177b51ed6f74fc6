#include "MessageBoxes.h"

#include "Application.h"
#include "Form1Layout.h"
#include "NotifyUser.h"

#include <QApplication>
#include <QFontMetricsF>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QScreen>
#include <QShowEvent>
#include <QVBoxLayout>

#include <algorithm>
#include <cmath>

namespace {

// The width the text takes unwrapped: its longest line.
int NaturalWidth(const QFont& font, const QString& text)
{
    const QFontMetricsF metrics(font);
    qreal widest = 0;
    for (const QString& line : text.split(u'\n')) widest = std::max(widest, metrics.horizontalAdvance(line));
    return static_cast<int>(std::ceil(widest)) + 1;
}

}  // namespace

TNotifyBox::TNotifyBox(const QString& text, QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint),
      FText(new QLabel(this)),
      FOk(new QPushButton(QString::fromUtf8(kOkText), this))
{
    setWindowTitle(ApplicationTitle());
    setModal(true);

    QScreen* screen = parent ? parent->screen() : QGuiApplication::primaryScreen();
    FScreenArea = screen ? screen->geometry() : QRect(0, 0, 1024, 768);
    const QRect& screenArea = FScreenArea;

    // A QLabel left to itself picks its own wrapping width; the width is fixed
    // here so that the half-screen limit holds whatever the text.
    FText->setTextFormat(Qt::PlainText);
    FText->setWordWrap(true);
    FText->setText(text);
    FText->setTextInteractionFlags(Qt::TextSelectableByMouse);
    const int width = std::max(1, std::min(NaturalWidth(FText->font(), text), screenArea.width() / 2));
    FText->setFixedSize(width, FText->heightForWidth(width));

    FOk->setDefault(true);
    FOk->setAutoDefault(true);
    connect(FOk, &QPushButton::clicked, this, &QDialog::accept);

    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(FOk);
    buttons->addStretch();
    auto* layout = new QVBoxLayout(this);
    layout->setSizeConstraint(QLayout::SetFixedSize);
    layout->setContentsMargins(16, 16, 16, 12);
    layout->setSpacing(14);
    layout->addWidget(FText);
    layout->addLayout(buttons);
    FOk->setFocus();

    adjustSize();
    move(screenArea.center() - rect().center());
}

void TNotifyBox::showEvent(QShowEvent* event)
{
    // Centred on the screen, not on the window, frame included once known.
    QRect frame = frameGeometry();
    frame.moveCenter(FScreenArea.center());
    move(frame.topLeft());
    QDialog::showEvent(event);
}

void TNotifyBox::keyPressEvent(QKeyEvent* event)
{
    switch (event->key()) {
    case Qt::Key_Return:
    case Qt::Key_Enter:
    case Qt::Key_Escape:
        FOk->click();
        return;
    default:
        QDialog::keyPressEvent(event);
    }
}

void ShowNotifyBox(const QString& text)
{
    QWidget* owner = QApplication::activeModalWidget();
    if (!owner) owner = QApplication::activeWindow();
    TNotifyBox box(text, owner);
    box.exec();
}

void InstallNotifyUserBox()
{
    SetNotifyUserHandler([](const std::string& text) {
        ShowNotifyBox(QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size())));
    });
}

void ShowErrorBox(QWidget* parent, const QString& text, const QString& title)
{
    QMessageBox box(QMessageBox::Critical, title, text, QMessageBox::Ok, parent);
    box.setTextFormat(Qt::PlainText);
    box.exec();
}
