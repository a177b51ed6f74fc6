// SPDX-License-Identifier: MIT
#include "MessageBoxes.h"

#include "Application.h"
#include "Form1Layout.h"
#include "NotifyUser.h"

#include <QApplication>
#include <QFontMetricsF>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QMessageBox>
#include <QPushButton>
#include <QScreen>
#include <QTextEdit>
#include <QVBoxLayout>
#include <QWindow>

#include <algorithm>
#include <cmath>
#include <optional>

namespace {

// The width the text takes unwrapped: its longest line.
int NaturalWidth(const QFont& font, const QString& text)
{
    const QFontMetricsF metrics(font);
    qreal widest = 0;
    for (const QString& line : text.split(u'\n')) widest = std::max(widest, metrics.horizontalAdvance(line));
    return static_cast<int>(std::ceil(widest)) + 1;
}

// Centres its window by the frame each time the frame's margins change: when
// the window is first shown, and when the window manager has framed it.
class TFrameCentring : public QObject {
public:
    explicit TFrameCentring(QWidget* window) : QObject(window), FWindow(window) {}

    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (watched == FWindow && FWindow->isVisible()) {
            switch (event->type()) {
            case QEvent::Show:
            case QEvent::Move:
            case QEvent::Resize:
                Centre();
                break;
            default:
                break;
            }
        }
        return QObject::eventFilter(watched, event);
    }

    void Centre()
    {
        const QWindow* handle = FWindow->windowHandle();
        const QMargins margins = handle ? handle->frameMargins() : QMargins();
        // Moving the window, by the user or from here, leaves the margins as
        // they were: a window the user has moved stays where it was put.
        if (FCentredWith == margins) return;
        FCentredWith = margins;
        const QScreen* screen = FWindow->screen();
        if (!screen) return;
        QRect frame(QPoint(), FWindow->size().grownBy(margins));
        frame.moveCenter(screen->availableGeometry().center());
        // A top-level window's position is that of its frame.
        FWindow->move(frame.topLeft());
    }

private:
    QWidget* FWindow;
    std::optional<QMargins> FCentredWith;
};

}  // namespace

void CentreByFrame(QWidget* window)
{
    auto* centring = new TFrameCentring(window);
    window->installEventFilter(centring);
    centring->Centre();
}

TNotifyBox::TNotifyBox(const QString& text, QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint),
      FText(new QTextEdit(this)),
      FOk(new QPushButton(QString::fromUtf8(kOkText), this))
{
    setWindowTitle(ApplicationTitle());
    setModal(true);

    const QScreen* screen = parent ? parent->screen() : QGuiApplication::primaryScreen();
    const int screenWidth = screen ? screen->geometry().width() : 1024;

    // Read-only and selectable, drawn on the box's face like a label. A label
    // cannot break a word, so a path longer than the line would be cut.
    FText->setReadOnly(true);
    FText->setTextInteractionFlags(Qt::TextSelectableByMouse);
    FText->setFocusPolicy(Qt::ClickFocus);
    FText->setFrameShape(QFrame::NoFrame);
    FText->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    FText->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    FText->viewport()->setAutoFillBackground(false);
    FText->setWordWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
    FText->document()->setDocumentMargin(0);
    FText->setPlainText(text);
    // The width is fixed here so that the half-screen limit holds whatever
    // the text, and the height is that of every line at that width.
    const int width = std::max(1, std::min(NaturalWidth(FText->font(), text), screenWidth / 2));
    FText->setLineWrapMode(QTextEdit::FixedPixelWidth);
    FText->setLineWrapColumnOrWidth(width);
    FText->setFixedSize(width, static_cast<int>(std::ceil(FText->document()->size().height())));

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
    CentreByFrame(this);
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
