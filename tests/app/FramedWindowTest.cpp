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

bool UnderX11()
{
    return QGuiApplication::platformName() == QStringLiteral("xcb");
}

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
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
    const bool framed = QTest::qWaitFor(
        [&] {
            const QPoint off = OffCentre(window);
            return !window.windowHandle()->frameMargins().isNull() && std::abs(off.x()) <= 1 && std::abs(off.y()) <= 1;
        },
        5000);
    EXPECT_FALSE(window.windowHandle()->frameMargins().isNull()) << "no window manager framed the window";
    EXPECT_TRUE(framed) << "frame off centre by " << OffCentre(window).x() << ", " << OffCentre(window).y();
}

// What xprop reads of the window's properties.
QString Properties(const QWidget& window, const QStringList& names)
{
    QProcess xprop;
    xprop.start(QStringLiteral("xprop"),
                QStringList{QStringLiteral("-id"), QString::number(window.winId())} + names);
    if (!xprop.waitForFinished(5000) || xprop.exitCode() != 0) return {};
    return QString::fromUtf8(xprop.readAllStandardOutput());
}

TEST(FramedWindowTest, WindowAndBoxStandAtTheCentreByTheirFrames)
{
    if (!UnderX11()) GTEST_SKIP() << "needs X11 with a window manager";
    TForm1 form;
    ShowFramed(form);
    // The title bar counts: the frame is taller than the window.
    EXPECT_GT(form.frameGeometry().height(), form.height());

    TNotifyBox box(QStringLiteral("Готово! Кодовая страница 0 -> 87"), &form);
    ShowFramed(box);
    box.OkButton()->click();
}

TEST(FramedWindowTest, TitleBarHasOnlyTheMenuAndCloseAndTheSizeIsFixed)
{
    if (!UnderX11()) GTEST_SKIP() << "needs X11 with a window manager";
    TForm1 form;
    ShowFramed(form);
    const QString normal = Properties(form, {QStringLiteral("WM_NORMAL_HINTS")});
    EXPECT_TRUE(normal.contains(QStringLiteral("minimum size: 418 by 298"))) << normal.toStdString();
    EXPECT_TRUE(normal.contains(QStringLiteral("maximum size: 418 by 298"))) << normal.toStdString();

    // Flags, functions, decorations: move and close; border, title and menu.
    const QString motif = Properties(form, {QStringLiteral("_MOTIF_WM_HINTS")});
    const auto fields = QRegularExpression(QStringLiteral("= (\\S+), (\\S+), (\\S+),")).match(motif);
    ASSERT_TRUE(fields.hasMatch()) << motif.toStdString();
    EXPECT_EQ(fields.captured(2).toUInt(nullptr, 0), 0x24U) << motif.toStdString();
    EXPECT_EQ(fields.captured(3).toUInt(nullptr, 0), 0x1aU) << motif.toStdString();

    // What the window manager made of them. Openbox never lets hints take
    // away minimising, so that action is not judged here.
    QString actions;
    (void)QTest::qWaitFor(
        [&] {
            actions = Properties(form, {QStringLiteral("_NET_WM_ALLOWED_ACTIONS")});
            return actions.contains(QStringLiteral("_NET_WM_ACTION_CLOSE"));
        },
        5000);
    EXPECT_TRUE(actions.contains(QStringLiteral("_NET_WM_ACTION_CLOSE"))) << actions.toStdString();
    for (const char* action : {"_NET_WM_ACTION_RESIZE", "_NET_WM_ACTION_MAXIMIZE_HORZ", "_NET_WM_ACTION_MAXIMIZE_VERT"}) {
        EXPECT_FALSE(actions.contains(QString::fromLatin1(action))) << action << " in " << actions.toStdString();
    }
}

}  // namespace
