// SPDX-License-Identifier: MIT
// The window and NotifyUser's box as a window manager frames them. These need
// X11 with a window manager (scripts/stage-window-manager runs them under Xvfb
// with openbox); on the offscreen platform there is no frame and they skip.
#include "MessageBoxes.h"
#include "Unit1.h"

#include <QGuiApplication>
#include <QProcess>
#include <QPushButton>
#include <QRegularExpression>
#include <QScreen>
#include <QTest>
#include <QWindow>

#include <gtest/gtest.h>

namespace {

// How far the frame's centre stands from the centre of the work area.
QPoint OffCentre(const QWidget& window)
{
    return window.frameGeometry().center() - window.screen()->availableGeometry().center();
}

// Shows the window and waits until the window manager has framed it and the
// frame has been placed.
void ShowFramed(QWidget& window)
{
    window.show();
    const bool centred = QTest::qWaitFor(
        [&] {
            return !window.windowHandle()->frameMargins().isNull() && std::abs(OffCentre(window).x()) <= 1 &&
                   std::abs(OffCentre(window).y()) <= 1;
        },
        5000);
    EXPECT_GT(window.windowHandle()->frameMargins().top(), 0) << "no title bar from a window manager";
    EXPECT_TRUE(centred) << "frame off centre by " << OffCentre(window).x() << ", " << OffCentre(window).y();
}

TEST(FramedWindowTest, WindowAndBoxCentredByFramesWithAFixedSizeMenuAndClose)
{
    if (QGuiApplication::platformName() != QStringLiteral("xcb")) GTEST_SKIP() << "needs X11 and a window manager";
    TForm1 form;
    ShowFramed(form);
    TNotifyBox box(QStringLiteral("Готово! Кодовая страница 0 -> 87"), &form);
    ShowFramed(box);
    box.OkButton()->click();

    QProcess xprop;
    xprop.start(QStringLiteral("xprop"), {QStringLiteral("-id"), QString::number(form.winId()),
                                          QStringLiteral("WM_NORMAL_HINTS"), QStringLiteral("_MOTIF_WM_HINTS"),
                                          QStringLiteral("_NET_WM_ALLOWED_ACTIONS")});
    ASSERT_TRUE(xprop.waitForFinished(5000));
    const QString told = QString::fromUtf8(xprop.readAllStandardOutput());
    SCOPED_TRACE(told.toStdString());
    EXPECT_TRUE(told.contains(QStringLiteral("minimum size: 418 by 298")));
    EXPECT_TRUE(told.contains(QStringLiteral("maximum size: 418 by 298")));
    // Functions move and close; decorations border, title and system menu.
    const auto motif = QRegularExpression(QStringLiteral("_MOTIF_WM_HINTS.* = (\\S+), (\\S+), (\\S+),")).match(told);
    ASSERT_TRUE(motif.hasMatch());
    EXPECT_EQ(motif.captured(2).toUInt(nullptr, 0), 0x24U);
    EXPECT_EQ(motif.captured(3).toUInt(nullptr, 0), 0x1aU);
    // What the window manager made of them. Openbox never lets hints take
    // away minimising, so that action is not judged.
    EXPECT_TRUE(told.contains(QStringLiteral("_NET_WM_ACTION_CLOSE")));
    for (const char* action : {"_NET_WM_ACTION_RESIZE", "_NET_WM_ACTION_MAXIMIZE_HORZ", "_NET_WM_ACTION_MAXIMIZE_VERT"}) {
        EXPECT_FALSE(told.contains(QString::fromLatin1(action))) << action;
    }
}

}  // namespace
