// SPDX-License-Identifier: MIT
// The window forms of the message boxes, the application's title and the
// text of an unexpected failure.
#include "Application.h"
#include "BoxAnswerer.h"
#include "MessageBoxes.h"
#include "NotifyUser.h"

#include <QLabel>
#include <QPushButton>
#include <QScreen>
#include <QSignalSpy>
#include <QTest>
#include <QTextBlock>
#include <QTextEdit>
#include <QTextLayout>

#include <gtest/gtest.h>

namespace {

TEST(ApplicationTitleTest, NameCutBeforeTheFirstDotWithTheRestInLowerCase)
{
    const std::pair<const char*, const char*> cases[] = {
        {"DIZEVU.EXE", "Dizevu"},
        {"/usr/bin/DbfHeaderFix", "Dbfheaderfix"},
        {"C:\\Tools\\DbfHeaderFix.exe", "Dbfheaderfix"},
        {"C:/Program Files/DBF.HEADER.FIX.EXE", "Dbf"},
        {"dbfHeaderFix", "dbfheaderfix"},  // the first character is kept as it is
        {"/opt/ПРАВКА.bin", "Правка"},
        {"/opt/.hidden", ""},
        {"", ""},
    };
    for (const auto& [path, title] : cases) {
        EXPECT_EQ(ApplicationTitleOf(QString::fromUtf8(path)), QString::fromUtf8(title)) << path;
    }
}

TEST(ApplicationTitleTest, RunningProgramIsTitledFromItsExecutable)
{
    // This test program is app_tests: its first letter stays small.
    EXPECT_EQ(ApplicationTitle(), QStringLiteral("app_tests"));
}

TEST(FailureTextTest, FullStopAddedAfterCharactersBeyondIt)
{
    const std::pair<const char*, const char*> cases[] = {
        {"Stream write error", "Stream write error."},
        {"", ""},
        {"Ends.", "Ends."},
        {"Ends-", "Ends-"},  // 45
        {"Ends/", "Ends/."}, // 47
        {"Ends!", "Ends!"},
        {"Ошибка", "Ошибка."},
    };
    for (const auto& [what, shown] : cases) {
        EXPECT_EQ(FailureText(QString::fromUtf8(what)), QString::fromUtf8(shown)) << what;
    }
}

TEST(NotifyBoxTest, NoIconAndOneOkButtonWithoutIcon)
{
    TNotifyBox box(QStringLiteral("Готово! Кодовая страница 38 - не изменилась"));
    EXPECT_EQ(box.windowTitle(), ApplicationTitle());
    EXPECT_TRUE(box.isModal());
    const auto buttons = box.findChildren<QPushButton*>();
    ASSERT_EQ(buttons.size(), 1);
    EXPECT_EQ(buttons[0]->text(), QStringLiteral("OK"));
    EXPECT_TRUE(buttons[0]->icon().isNull());
    EXPECT_TRUE(box.findChildren<QLabel*>().isEmpty());
    EXPECT_TRUE(box.TextView()->isReadOnly());
    EXPECT_EQ(box.TextView()->toPlainText(), QStringLiteral("Готово! Кодовая страница 38 - не изменилась"));
}

TEST(NotifyBoxTest, EnterAndEscBothPressOk)
{
    for (const Qt::Key key : {Qt::Key_Return, Qt::Key_Enter, Qt::Key_Escape}) {
        TNotifyBox box(QStringLiteral("text"));
        QSignalSpy pressed(box.OkButton(), &QPushButton::clicked);
        box.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&box));
        QTest::keyClick(box.OkButton(), key);
        EXPECT_EQ(pressed.count(), 1) << key;
        EXPECT_FALSE(box.isVisible()) << key;
        EXPECT_EQ(box.result(), QDialog::Accepted) << key;
    }
}

TEST(NotifyBoxTest, WideTextWrapsAtHalfTheScreenAndStaysSo)
{
    QString text = QStringLiteral("Файл ");
    for (int i = 0; i < 60; ++i) text += QStringLiteral("очень длинное имя ");
    TNotifyBox box(text);
    box.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&box));
    const QRect screen = box.screen()->geometry();
    const int half = screen.width() / 2;

    // The text takes the half width and as many lines as it needs.
    QTextEdit* view = box.TextView();
    EXPECT_LE(view->width(), half);
    EXPECT_GT(view->width(), half * 3 / 4);
    EXPECT_GT(view->height(), 3 * view->fontMetrics().height());
    EXPECT_GE(view->height(), static_cast<int>(view->document()->size().height()));
    EXPECT_LE(box.width(), half + 40);

    // A layout request does not widen it again.
    QEvent layoutRequest(QEvent::LayoutRequest);
    QCoreApplication::sendEvent(&box, &layoutRequest);
    QCoreApplication::processEvents();
    EXPECT_LE(view->width(), half);

    // And it stands at the centre of the screen's work area.
    const QRect area = box.screen()->availableGeometry();
    EXPECT_LE(std::abs(box.frameGeometry().center().x() - area.center().x()), 1);
    EXPECT_LE(std::abs(box.frameGeometry().center().y() - area.center().y()), 1);
    box.OkButton()->click();
}

// A part of a path wider than the line is broken inside; every line fits the
// box and together the lines hold the whole text.
TEST(NotifyBoxTest, WordLongerThanTheLineIsBrokenNotCut)
{
    const QString longPart = QStringLiteral("очень_длинное_имя_каталога").repeated(12);
    const QString texts[] = {
        QStringLiteral("Файл /home/user/") + longPart + QStringLiteral("/table.dbf невозможно открыть"),
        QStringLiteral("ЖЖЖЖЖЖЖЖЖЖ").repeated(40),
    };
    for (const QString& text : texts) {
        TNotifyBox box(text);
        box.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&box));
        const QTextEdit* view = box.TextView();
        EXPECT_EQ(view->toPlainText(), text);
        ASSERT_LE(view->width(), box.screen()->geometry().width() / 2);
        ASSERT_GT(view->fontMetrics().horizontalAdvance(longPart), view->width()) << "the word must not fit";

        int lines = 0;
        int characters = 0;
        for (QTextBlock block = view->document()->begin(); block.isValid(); block = block.next()) {
            const QTextLayout* layout = block.layout();
            for (int i = 0; i < layout->lineCount(); ++i) {
                const QTextLine line = layout->lineAt(i);
                EXPECT_LE(line.naturalTextWidth(), view->width() + 0.5) << "line " << i;
                EXPECT_LE(line.rect().bottom(), view->height() + 0.5) << "line " << i;
                characters += line.textLength();
                ++lines;
            }
        }
        EXPECT_EQ(characters, text.size());
        EXPECT_GT(lines, 1);
        box.OkButton()->click();
    }
}

// Qt's own dialogs and buttons speak the window's language.
TEST(TranslationTest, QtsOwnTextsAreRussian)
{
    const auto* application = dynamic_cast<TApplication*>(QCoreApplication::instance());
    ASSERT_NE(application, nullptr);
    EXPECT_TRUE(application->QtTranslated());
    EXPECT_EQ(QCoreApplication::translate("QPlatformTheme", "Cancel"), QStringLiteral("Отмена"));
    EXPECT_EQ(QCoreApplication::translate("QFileDialog", "Look in:"), QStringLiteral("Перейти к:"));
}

TEST(NotifyBoxTest, ShortTextKeepsItsBoxNarrowAndOnOneLine)
{
    TNotifyBox box(QStringLiteral("Готово! Кодовая страница 0 -> 87"));
    box.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&box));
    EXPECT_LT(box.width(), box.screen()->geometry().width() / 2);
    EXPECT_LT(box.TextView()->height(), 2 * box.TextView()->fontMetrics().height());
    box.OkButton()->click();
}

TEST(NotifyBoxTest, LineFeedInTheTextStartsANewLine)
{
    TNotifyBox box(QStringLiteral("Файл a.dbf невозможно открыть в монопольном\nрежиме, т.к. он уже используется другой программой"));
    const int line = box.TextView()->fontMetrics().height();
    EXPECT_GE(box.TextView()->height(), 2 * line);
    EXPECT_LT(box.TextView()->height(), 3 * line);
}

TEST(NotifyBoxTest, NotifyUserShowsTheBoxAndWaitsForOk)
{
    TBoxAnswerer answerer;
    NotifyUser("ReadRecord: Ошибка чтения записи");
    ASSERT_EQ(answerer.seen.size(), 1U);
    EXPECT_EQ(answerer.seen[0].kind, TBoxKind::Notify);
    EXPECT_EQ(answerer.seen[0].text, QStringLiteral("ReadRecord: Ошибка чтения записи"));
    EXPECT_EQ(answerer.seen[0].title, ApplicationTitle());
}

// Anything, not only the failed write, that escapes a handler is shown.
class TThrowingObject : public QObject {
public:
    bool event(QEvent* event) override
    {
        if (event->type() == QEvent::User) throw std::runtime_error("Неожиданный сбой");
        return QObject::event(event);
    }
};

TEST(UnexpectedFailureTest, ShownInTheErrorBoxAndTheProgramGoesOn)
{
    TBoxAnswerer answerer;
    TThrowingObject object;
    QEvent event(QEvent::User);
    QCoreApplication::sendEvent(&object, &event);
    ASSERT_EQ(answerer.seen.size(), 1U);
    EXPECT_EQ(answerer.seen[0].kind, TBoxKind::Error);
    EXPECT_EQ(answerer.seen[0].text, QStringLiteral("Неожиданный сбой."));
    EXPECT_EQ(answerer.seen[0].title, ApplicationTitle());

    // The loop goes on delivering events to the same object.
    QEvent again(QEvent::User);
    QCoreApplication::sendEvent(&object, &again);
    ASSERT_EQ(answerer.seen.size(), 2U);
    EXPECT_EQ(answerer.seen[1].text, QStringLiteral("Неожиданный сбой."));
}

}  // namespace
