// SPDX-License-Identifier: MIT
// The main window as it first appears: places, sizes, texts, states, focus,
// font and pictures.
#include "Pictures.h"
#include "Unit1.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QCalendarWidget>
#include <QDateEdit>
#include <QFileDialog>
#include <QFontInfo>
#include <QGroupBox>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>
#include <QSet>
#include <QTest>
#include <QToolButton>

#include <gtest/gtest.h>

namespace {

class WindowTest : public testing::Test {
protected:
    void SetUp() override
    {
        form.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&form));
    }
    TForm1 form;
};

struct TPlace {
    const char* name;
    QWidget* control;
    QRect rect;
};

TEST_F(WindowTest, ControlsStandWhereTheLayoutPutsThem)
{
    const TPlace places[] = {
        {"LabeledEdit1", form.LabeledEdit1, {8, 24, 377, 24}},
        {"LabeledEdit1's label", form.LabeledEdit1Label, {8, 5, 66, 16}},
        {"SpeedButton1", form.SpeedButton1, {384, 25, 23, 23}},
        {"RadioGroup1", form.RadioGroup1, {8, 56, 169, 105}},
        {"RadioGroup2", form.RadioGroup2, {192, 56, 217, 105}},
        {"CheckBox2", form.CheckBox2, {64, 184, 121, 17}},
        {"DateTimePicker1", form.DateTimePicker1, {192, 180, 93, 24}},
        {"CheckBox1", form.CheckBox1, {64, 216, 189, 17}},
        {"BitBtn1", form.BitBtn1, {120, 248, 153, 33}},
    };
    for (const auto& place : places) {
        QWidget* control = place.control;
        EXPECT_EQ(control->parentWidget(), &form) << place.name;
        EXPECT_EQ(control->geometry(), place.rect) << place.name;
        EXPECT_TRUE(control->isVisible()) << place.name;
        // Every control lies inside the client area.
        EXPECT_TRUE(form.rect().contains(control->geometry())) << place.name;
    }
}

TEST_F(WindowTest, WindowIsFixedWithOnlyTheCloseButtonAndCentred)
{
    EXPECT_EQ(form.windowTitle(), QStringLiteral("Автокорректировка шапки файла DBF (DBaseIII)"));
    EXPECT_EQ(form.size(), QSize(418, 298));
    EXPECT_EQ(form.minimumSize(), QSize(418, 298));
    EXPECT_EQ(form.maximumSize(), QSize(418, 298));
    const Qt::WindowFlags flags = form.windowFlags();
    EXPECT_TRUE(flags.testFlag(Qt::WindowCloseButtonHint));
    EXPECT_TRUE(flags.testFlag(Qt::WindowSystemMenuHint));
    EXPECT_FALSE(flags.testFlag(Qt::WindowMinimizeButtonHint));
    EXPECT_FALSE(flags.testFlag(Qt::WindowMaximizeButtonHint));
    EXPECT_EQ(form.backgroundRole(), QPalette::Button);
    EXPECT_TRUE(form.autoFillBackground());
    EXPECT_FALSE(form.windowIcon().isNull());

    const QPoint centre = form.screen()->availableGeometry().center();
    EXPECT_LE(std::abs(form.frameGeometry().center().x() - centre.x()), 1);
    EXPECT_LE(std::abs(form.frameGeometry().center().y() - centre.y()), 1);
}

TEST_F(WindowTest, TextsAreExactlyTheWindowsOwn)
{
    EXPECT_EQ(form.LabeledEdit1Label->text(), QStringLiteral("DBF-файл"));
    EXPECT_EQ(form.RadioGroup1->title(), QStringLiteral("Смещение"));
    EXPECT_EQ(form.RadioGroup2->title(), QStringLiteral("Кодовая страница (язык)"));
    const QStringList items1 = {QStringLiteral("Очистить"), QStringLiteral("Поставить"),
                                QStringLiteral("Оставить как было")};
    const QStringList items2 = {QStringLiteral("№ 0 (рез-т зависит от BDE)"), QStringLiteral("№ 38 (для DOS-866) "),
                                QStringLiteral("№ 87 (для Win-1251)"), QStringLiteral("Оставить как было")};
    ASSERT_EQ(form.RadioGroup1Items->buttons().size(), items1.size());
    ASSERT_EQ(form.RadioGroup2Items->buttons().size(), items2.size());
    for (int i = 0; i < items1.size(); ++i) {
        EXPECT_EQ(form.RadioGroup1Items->button(i)->text(), items1[i]);
        EXPECT_EQ(form.RadioGroup1Items->button(i)->parentWidget(), form.RadioGroup1);
    }
    for (int i = 0; i < items2.size(); ++i) {
        EXPECT_EQ(form.RadioGroup2Items->button(i)->text(), items2[i]);
        EXPECT_EQ(form.RadioGroup2Items->button(i)->parentWidget(), form.RadioGroup2);
    }
    EXPECT_EQ(form.CheckBox2->text(), QStringLiteral("Вставить дату:"));
    EXPECT_EQ(form.CheckBox1->text(), QStringLiteral("Убрать признак индекса"));
    EXPECT_EQ(form.BitBtn1->text(), QStringLiteral("Обработать файл"));
    EXPECT_TRUE(form.SpeedButton1->text().isEmpty());
    EXPECT_TRUE(form.BitBtn1->icon().isNull());
}

TEST_F(WindowTest, ChoicesStartFromTheirInitialStates)
{
    EXPECT_TRUE(form.LabeledEdit1->text().isEmpty());
    EXPECT_EQ(form.RadioGroup1ItemIndex(), 2);
    EXPECT_EQ(form.RadioGroup2ItemIndex(), 3);
    EXPECT_FALSE(form.CheckBox2->isChecked());
    EXPECT_TRUE(form.CheckBox1->isChecked());
    // No control enables or disables another.
    for (QWidget* control : form.findChildren<QWidget*>()) EXPECT_TRUE(control->isEnabled());
    form.CheckBox2->click();
    form.CheckBox1->click();
    EXPECT_TRUE(form.DateTimePicker1->isEnabled());
    EXPECT_TRUE(form.LabeledEdit1->isEnabled());
}

TEST_F(WindowTest, DatePickerShowsTodayWithACalendar)
{
    EXPECT_EQ(form.DateTimePicker1->date(), QDate::currentDate());
    EXPECT_TRUE(form.DateTimePicker1->calendarPopup());
    EXPECT_EQ(form.DateTimePicker1->displayedSections() & QDateTimeEdit::TimeSections_Mask, 0);
}

// The date, the calendar and Qt's dialogs speak the window's language
// whatever the system's locale: these run again under the C locale and an
// English one (tests/app/CMakeLists.txt).
TEST_F(WindowTest, DateIsWrittenTheRussianWayWhateverTheSystemLocale)
{
    const struct {
        QDate date;
        const char* shown;
    } dates[] = {{QDate(2026, 12, 9), "09.12.2026"}, {QDate(1900, 1, 1), "01.01.1900"}, {QDate(2155, 7, 31), "31.07.2155"}};
    for (const auto& d : dates) {
        form.DateTimePicker1->setDate(d.date);
        EXPECT_EQ(form.DateTimePicker1->text(), QString::fromLatin1(d.shown)) << d.shown;
    }
    const QCalendarWidget* calendar = form.DateTimePicker1->calendarWidget();
    ASSERT_NE(calendar, nullptr);
    EXPECT_EQ(calendar->locale().language(), QLocale::Russian);
    EXPECT_EQ(calendar->locale().standaloneMonthName(12), QStringLiteral("декабрь"));
    // A Russian week starts on Monday; an English or C one on Sunday.
    EXPECT_EQ(calendar->firstDayOfWeek(), Qt::Monday);
    // Qt's own dialogs, made later, take the same locale.
    const QFileDialog dialog;
    EXPECT_EQ(dialog.locale().language(), QLocale::Russian);
}

TEST_F(WindowTest, FirstRadioGroupHasTheFocusAndTabWalksTheOrder)
{
    form.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&form));
    EXPECT_EQ(QApplication::focusWidget(), form.RadioGroup1Items->checkedButton());

    const std::vector<std::pair<const char*, QWidget*>> order = {
        {"RadioGroup2", form.RadioGroup2Items->checkedButton()},
        {"BitBtn1", form.BitBtn1},
        {"CheckBox1", form.CheckBox1},
        {"DateTimePicker1", form.DateTimePicker1},
        {"CheckBox2", form.CheckBox2},
        {"LabeledEdit1", form.LabeledEdit1},
        {"RadioGroup1", form.RadioGroup1Items->checkedButton()},
    };
    for (const auto& [name, expected] : order) {
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        EXPECT_EQ(QApplication::focusWidget(), expected) << "after Tab expected " << name << ", got "
                                                         << QApplication::focusWidget()->metaObject()->className();
    }
    EXPECT_EQ(form.SpeedButton1->focusPolicy(), Qt::NoFocus);

    // Inside a group the arrow keys move the selection, and Tab leaves from
    // the newly selected item.
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Up);
    EXPECT_EQ(form.RadioGroup1ItemIndex(), 1);
    EXPECT_EQ(QApplication::focusWidget(), form.RadioGroup1Items->button(1));
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
    EXPECT_EQ(QApplication::focusWidget(), form.RadioGroup2Items->checkedButton());
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Backtab);
    EXPECT_EQ(QApplication::focusWidget(), form.RadioGroup1Items->button(1));
}

// The font stands in for MS Sans Serif at 13 pixels; whichever face the
// system gives, no text may be clipped in its control.
TEST_F(WindowTest, FontIsNarrowEnoughForEveryText)
{
    EXPECT_EQ(form.font().family(), QStringLiteral("MS Sans Serif"));
    EXPECT_EQ(form.font().pixelSize(), 13);
    const QString face = QFontInfo(form.font()).family();
    EXPECT_FALSE(face.startsWith(QStringLiteral("DejaVu"))) << face.toStdString();

    std::vector<QAbstractButton*> boxes = {form.CheckBox1, form.CheckBox2};
    for (auto* item : form.RadioGroup1Items->buttons()) boxes.push_back(item);
    for (auto* item : form.RadioGroup2Items->buttons()) boxes.push_back(item);
    for (QAbstractButton* box : boxes) {
        EXPECT_LE(box->sizeHint().width(), box->width()) << box->text().toStdString() << " in " << face.toStdString();
        EXPECT_LE(box->fontMetrics().height(), box->height()) << box->text().toStdString();
        // An item stays inside its group's frame.
        if (auto* group = qobject_cast<QGroupBox*>(box->parentWidget())) {
            EXPECT_LE(box->geometry().right(), group->width() - 2) << box->text().toStdString();
            EXPECT_LE(box->geometry().bottom(), group->height() - 2) << box->text().toStdString();
        }
    }
    for (QGroupBox* group : {form.RadioGroup1, form.RadioGroup2}) {
        EXPECT_LE(group->fontMetrics().horizontalAdvance(group->title()) + 16, group->width())
            << group->title().toStdString();
    }
    EXPECT_LE(form.LabeledEdit1Label->sizeHint().width(), form.LabeledEdit1Label->width());
    EXPECT_LE(form.LabeledEdit1Label->fontMetrics().height(), form.LabeledEdit1Label->height());
    EXPECT_LE(form.BitBtn1->sizeHint().width(), form.BitBtn1->width());
    const QString date = form.DateTimePicker1->text();
    EXPECT_LE(form.DateTimePicker1->fontMetrics().horizontalAdvance(date) + 24, form.DateTimePicker1->width())
        << date.toStdString();
}

// Counts the opaque colours of an image and whether it has transparent pixels.
std::pair<int, bool> Colours(const QImage& image)
{
    QSet<QRgb> colours;
    bool transparent = false;
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) {
            const QRgb pixel = image.pixel(x, y);
            if (qAlpha(pixel) == 0) {
                transparent = true;
            } else {
                colours.insert(pixel);
            }
        }
    }
    return {static_cast<int>(colours.size()), transparent};
}

TEST(PicturesTest, FolderAndTableAreFewColourImagesOfTheirSize)
{
    const QImage folder = FolderImage();
    ASSERT_FALSE(folder.isNull());
    EXPECT_EQ(folder.size(), QSize(16, 16));
    const auto [folderColours, folderTransparent] = Colours(folder);
    EXPECT_EQ(folderColours, 3);  // black, pale yellow, olive; white is transparent
    EXPECT_TRUE(folderTransparent);
    EXPECT_EQ(qAlpha(folder.pixel(0, 0)), 0);

    const QImage table = TableImage();
    ASSERT_FALSE(table.isNull());
    EXPECT_EQ(table.size(), QSize(32, 32));
    const auto [tableColours, tableTransparent] = Colours(table);
    EXPECT_LE(tableColours, 16);
    EXPECT_GE(tableColours, 3);
    EXPECT_TRUE(tableTransparent);
}

TEST_F(WindowTest, PictureButtonShowsTheFolder)
{
    EXPECT_FALSE(form.SpeedButton1->icon().isNull());
    EXPECT_EQ(form.SpeedButton1->iconSize(), QSize(16, 16));
}

}  // namespace
