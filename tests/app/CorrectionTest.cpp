// SPDX-License-Identifier: MIT
// The window's handlers driven as a user drives them: the process button on
// real table files, the file-open dialog, and a file dropped on the window.
#include "Application.h"
#include "BoxAnswerer.h"
#include "ExclusiveFile.h"
#include "TestSupport.h"
#include "Unit1.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QDateEdit>
#include <QDir>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFile>
#include <QFileDialog>
#include <QGroupBox>
#include <QLineEdit>
#include <QMimeData>
#include <QPushButton>
#include <QRadioButton>
#include <QTest>
#include <QToolButton>
#include <QUrl>

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

const QString kGotovo = QStringLiteral("Готово! Кодовая страница ");

std::uint32_t Displacement(const TBytes& file, int field)
{
    const std::size_t at = 32 + 32 * static_cast<std::size_t>(field) + 12;
    return static_cast<std::uint32_t>(file[at]) | (static_cast<std::uint32_t>(file[at + 1]) << 8) |
           (static_cast<std::uint32_t>(file[at + 2]) << 16) | (static_cast<std::uint32_t>(file[at + 3]) << 24);
}

TTableLayout ThreeFieldTable()
{
    TTableLayout layout;
    // Broken offsets (77) and a lower-case type with decimals, as bad writers leave them.
    layout.fields = {{"NAME", 'C', 10, 0, 77}, {"CITY", 'c', 8, 2, 77}, {"OK", 'L', 1, 0, 77}};
    layout.recordCount = 3;
    return layout;
}

class CorrectionTest : public testing::Test {
protected:
    void SetUp() override
    {
        form.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&form));
    }

    void Click(QAbstractButton* button) { QTest::mouseClick(button, Qt::LeftButton); }

    TForm1 form;
    TScratchDir dir;
};

TEST_F(CorrectionTest, EmptyNameShowsOnlyTheErrorBox)
{
    TBoxAnswerer answerer;
    Click(form.BitBtn1);
    ASSERT_EQ(answerer.seen.size(), 1U);
    EXPECT_EQ(answerer.seen[0].kind, TBoxKind::Error);
    EXPECT_EQ(answerer.seen[0].icon, QMessageBox::Critical);
    EXPECT_EQ(answerer.seen[0].text, QStringLiteral("Не указан файл!"));
    EXPECT_EQ(answerer.seen[0].title, form.windowTitle());
    EXPECT_TRUE(DbfFileName.empty());
}

TEST_F(CorrectionTest, NameOfOneSpaceGivesTheTwoTableMessagesInOrder)
{
    QTest::keyClicks(form.LabeledEdit1, QStringLiteral(" "));
    TBoxAnswerer answerer;
    Click(form.BitBtn1);
    EXPECT_EQ(DbfFileName, " ");
    ASSERT_EQ(answerer.seen.size(), 2U);
    EXPECT_EQ(answerer.seen[0].kind, TBoxKind::Notify);
    EXPECT_EQ(answerer.seen[0].text, QStringLiteral("TableName: Недопустимый тип файла"));
    EXPECT_EQ(answerer.seen[1].kind, TBoxKind::Notify);
    EXPECT_EQ(answerer.seen[1].text, QStringLiteral("Open: Не найден файл "));
    for (const auto& box : answerer.seen) EXPECT_EQ(box.title, ApplicationTitle());
}

TEST_F(CorrectionTest, ProcessButtonCorrectsTheTableWithTheChosenSettings)
{
    const std::string path = dir.File("clients.dbf");
    const TBytes before = ThreeFieldTable().Build();
    WriteAll(path, before);

    QTest::keyClicks(form.LabeledEdit1, QString::fromStdString(path));
    Click(form.RadioGroup1Items->button(1));  // set the offsets
    Click(form.RadioGroup2Items->button(2));  // 87
    Click(form.CheckBox2);                    // insert the date
    form.DateTimePicker1->setDate(QDate(2024, 3, 5));

    TBoxAnswerer answerer;
    Click(form.BitBtn1);
    ASSERT_EQ(answerer.seen.size(), 1U);
    EXPECT_EQ(answerer.seen[0].kind, TBoxKind::Notify);
    EXPECT_EQ(answerer.seen[0].text, kGotovo + QStringLiteral("101 -> 87"));
    EXPECT_EQ(answerer.seen[0].title, ApplicationTitle());

    const TBytes after = ReadAll(path);
    ASSERT_EQ(after.size(), before.size());
    EXPECT_EQ(after[1], 124);
    EXPECT_EQ(after[2], 3);
    EXPECT_EQ(after[3], 5);
    for (int i = 12; i < 28; ++i) EXPECT_EQ(after[i], 0) << "header byte " << i;
    EXPECT_EQ(after[28], 0);   // index flag removed
    EXPECT_EQ(after[29], 87);  // code page
    EXPECT_EQ(Displacement(after, 0), 1U);
    EXPECT_EQ(Displacement(after, 1), 11U);
    EXPECT_EQ(Displacement(after, 2), 19U);
    EXPECT_EQ(after[32 + 32 + 11], 'C');  // the lower-case type
    EXPECT_EQ(after[32 + 32 + 17], 0);    // and its decimals
    // The terminator and the records are untouched.
    const std::size_t headerLength = 32 + 3 * 32;
    EXPECT_TRUE(std::equal(before.begin() + static_cast<std::ptrdiff_t>(headerLength), before.end(),
                           after.begin() + static_cast<std::ptrdiff_t>(headerLength)));

    // The window keeps every choice and the name after a correction...
    EXPECT_EQ(form.LabeledEdit1->text(), QString::fromStdString(path));
    EXPECT_EQ(form.RadioGroup1ItemIndex(), 1);
    EXPECT_EQ(form.RadioGroup2ItemIndex(), 2);
    EXPECT_TRUE(form.CheckBox1->isChecked());
    EXPECT_TRUE(form.CheckBox2->isChecked());
    EXPECT_EQ(form.DateTimePicker1->date(), QDate(2024, 3, 5));

    // ...so the same click again finds the code page already in place.
    Click(form.BitBtn1);
    ASSERT_EQ(answerer.seen.size(), 2U);
    EXPECT_EQ(answerer.seen[1].text, kGotovo + QStringLiteral("87 - не изменилась"));
}

// Enter presses the focused process button, as Space does.
TEST_F(CorrectionTest, EnterOnTheFocusedProcessButtonPressesIt)
{
    for (const Qt::Key key : {Qt::Key_Return, Qt::Key_Enter, Qt::Key_Space}) {
        form.BitBtn1->setFocus();
        TBoxAnswerer answerer;
        QTest::keyClick(form.BitBtn1, key);
        ASSERT_EQ(answerer.seen.size(), 1U) << key;
        EXPECT_EQ(answerer.seen[0].text, QStringLiteral("Не указан файл!"));
    }
}

// The header keeps (year - 1900) modulo 256: the picker offers only the
// years that read back as written, and both ends are written as chosen.
TEST_F(CorrectionTest, DatePickerOffersOnlyYearsTheHeaderReadsBack)
{
    EXPECT_EQ(form.DateTimePicker1->minimumDate(), QDate(1900, 1, 1));
    EXPECT_EQ(form.DateTimePicker1->maximumDate(), QDate(2155, 12, 31));
    form.DateTimePicker1->setDate(QDate(1899, 12, 31));
    EXPECT_EQ(form.DateTimePicker1->date(), QDate(1900, 1, 1));
    form.DateTimePicker1->setDate(QDate(2156, 1, 1));
    EXPECT_EQ(form.DateTimePicker1->date(), QDate(2155, 12, 31));

    const std::string path = dir.File("dated.dbf");
    QTest::keyClicks(form.LabeledEdit1, QString::fromStdString(path));
    Click(form.CheckBox2);
    for (const QDate date : {QDate(1900, 1, 1), QDate(2155, 12, 31)}) {
        WriteAll(path, ThreeFieldTable().Build());
        form.DateTimePicker1->setDate(date);
        TBoxAnswerer answerer;
        Click(form.BitBtn1);
        ASSERT_EQ(answerer.seen.size(), 1U);
        const TBytes after = ReadAll(path);
        EXPECT_EQ(QDate(1900 + after[1], after[2], after[3]), date);
    }
}

TEST_F(CorrectionTest, NameTypedInCyrillicReachesTheFile)
{
    const std::string path = dir.File("таблица.dbf");
    WriteAll(path, ThreeFieldTable().Build());
    TypeText(form.LabeledEdit1, QString::fromStdString(path));
    ASSERT_EQ(form.LabeledEdit1->text(), QString::fromStdString(path));

    TBoxAnswerer answerer;
    Click(form.BitBtn1);
    EXPECT_EQ(DbfFileName, path);
    ASSERT_EQ(answerer.seen.size(), 1U);
    // With the code page left alone, nothing follows the old byte.
    EXPECT_EQ(answerer.seen[0].text, kGotovo + QStringLiteral("101"));
    const TBytes after = ReadAll(path);
    EXPECT_EQ(after[28], 0);
    EXPECT_EQ(after[29], 0x65);
    EXPECT_EQ(Displacement(after, 1), 77U);  // offsets left as they were
}

TEST_F(CorrectionTest, FailedWriteShowsStreamWriteErrorAndTheWindowGoesOn)
{
    const std::string path = dir.File("locked.dbf");
    const TBytes before = ThreeFieldTable().Build();
    WriteAll(path, before);
    form.LabeledEdit1->setText(QString::fromStdString(path));

    TBoxAnswerer answerer;
    auto previous = SetFileFaultHook([](TFileOp op, std::uint64_t, std::size_t) {
        return op == TFileOp::Write ? TFileFault::Fail : TFileFault::None;
    });
    Click(form.BitBtn1);
    SetFileFaultHook(previous);

    ASSERT_EQ(answerer.seen.size(), 1U);
    EXPECT_EQ(answerer.seen[0].kind, TBoxKind::Error);
    EXPECT_EQ(answerer.seen[0].icon, QMessageBox::Critical);
    EXPECT_EQ(answerer.seen[0].text, QStringLiteral("Stream write error."));
    EXPECT_EQ(answerer.seen[0].title, ApplicationTitle());
    EXPECT_EQ(ReadAll(path), before);

    // The table was let go, and the next click corrects it.
    Click(form.BitBtn1);
    ASSERT_EQ(answerer.seen.size(), 2U);
    EXPECT_EQ(answerer.seen[1].kind, TBoxKind::Notify);
    EXPECT_EQ(answerer.seen[1].text, kGotovo + QStringLiteral("101"));
    EXPECT_EQ(ReadAll(path)[28], 0);
}

TEST_F(CorrectionTest, CancellingTheFileDialogLeavesTheEdit)
{
    form.LabeledEdit1->setText(QStringLiteral("keep.dbf"));
    TBoxAnswerer answerer;
    QFileDialog::FileMode mode = QFileDialog::Directory;
    QStringList filters;
    answerer.OnFileDialog([&](QFileDialog& dialog) {
        mode = dialog.fileMode();
        filters = dialog.nameFilters();
        dialog.reject();
    });
    Click(form.SpeedButton1);
    ASSERT_EQ(answerer.seen.size(), 1U);
    EXPECT_EQ(answerer.seen[0].kind, TBoxKind::FileDialog);
    EXPECT_EQ(form.LabeledEdit1->text(), QStringLiteral("keep.dbf"));
    EXPECT_EQ(filters, QStringList{QStringLiteral("Файлы dBase (*.dbf)")});
    EXPECT_EQ(mode, QFileDialog::AnyFile);
}

TEST_F(CorrectionTest, FileDialogPutsTheFullNameAndStartsWithTheLastChosen)
{
    const QString chosen = QDir(QString::fromStdString(dir.Path().string())).filePath(QStringLiteral("new.dbf"));
    TBoxAnswerer answerer;
    answerer.OnFileDialog([&](QFileDialog& dialog) {
        dialog.selectFile(chosen);
        static_cast<QDialog&>(dialog).accept();  // as the Open button does
    });
    Click(form.SpeedButton1);
    ASSERT_EQ(answerer.seen.size(), 1U);
    // A file that does not exist yet is accepted; Open reports it later.
    EXPECT_EQ(form.LabeledEdit1->text(), QDir::toNativeSeparators(chosen));

    form.LabeledEdit1->setText(QStringLiteral("other.dbf"));
    answerer.OnFileDialog([](QFileDialog& dialog) { dialog.reject(); });
    Click(form.SpeedButton1);
    ASSERT_EQ(answerer.seen.size(), 2U);
    EXPECT_EQ(answerer.seen[1].text, chosen);
    EXPECT_EQ(form.LabeledEdit1->text(), QStringLiteral("other.dbf"));
}

TEST_F(CorrectionTest, DroppedFileNameGoesIntoTheEdit)
{
    const QString file = QDir(QString::fromStdString(dir.Path().string())).filePath(QStringLiteral("dropped.dbf"));
    QMimeData files;
    files.setUrls({QUrl::fromLocalFile(file)});
    const QPoint at = form.RadioGroup1->geometry().center();
    QDragEnterEvent enter(at, Qt::CopyAction, &files, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(&form, &enter);
    EXPECT_TRUE(enter.isAccepted());
    QDropEvent drop(at, Qt::CopyAction, &files, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(&form, &drop);
    EXPECT_TRUE(drop.isAccepted());
    EXPECT_EQ(form.LabeledEdit1->text(), QDir::toNativeSeparators(file));
    EXPECT_EQ(form.RadioGroup1ItemIndex(), 2);
    EXPECT_EQ(form.RadioGroup2ItemIndex(), 3);

    // Plain text and remote addresses are not file names.
    QMimeData text;
    text.setText(QStringLiteral("hello"));
    QDragEnterEvent textEnter(at, Qt::CopyAction, &text, Qt::LeftButton, Qt::NoModifier);
    textEnter.setAccepted(false);
    QApplication::sendEvent(&form, &textEnter);
    EXPECT_FALSE(textEnter.isAccepted());
    QMimeData remote;
    remote.setUrls({QUrl(QStringLiteral("https://example.org/a.dbf"))});
    QDragEnterEvent remoteEnter(at, Qt::CopyAction, &remote, Qt::LeftButton, Qt::NoModifier);
    remoteEnter.setAccepted(false);
    QApplication::sendEvent(&form, &remoteEnter);
    EXPECT_FALSE(remoteEnter.isAccepted());
    EXPECT_EQ(form.LabeledEdit1->text(), QDir::toNativeSeparators(file));
}

}  // namespace

// A dropped table is corrected by its own name's bytes, read from the URL's
// escapes, whatever they are.
TEST_F(CorrectionTest, DroppedTableIsCorrectedByItsOwnName)
{
    for (const std::string file : {"Клиенты.dbf", "\xCA\xEB\xE8.dbf", "a #1?.dbf"}) {
        const std::string path = dir.File(file);
        const TBytes before = ThreeFieldTable().Build();
        WriteAll(path, before);
        QMimeData files;
        files.setUrls({QUrl::fromEncoded(QByteArray::fromStdString(FileUrl(path)))});
        const QPoint at = form.RadioGroup1->geometry().center();
        QDragEnterEvent enter(at, Qt::CopyAction, &files, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(&form, &enter);
        EXPECT_TRUE(enter.isAccepted()) << file;
        QDropEvent drop(at, Qt::CopyAction, &files, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(&form, &drop);
        EXPECT_EQ(form.LabeledEdit1->text(), QFile::decodeName(QByteArray::fromStdString(path))) << file;

        TBoxAnswerer answerer;
        Click(form.BitBtn1);
        EXPECT_EQ(DbfFileName, path) << file;
        ASSERT_EQ(answerer.seen.size(), 1U) << file;
        EXPECT_EQ(answerer.seen[0].text, kGotovo + QStringLiteral("101")) << file;
        EXPECT_NE(ReadAll(path), before) << file;
    }
}

// The program started with a table's name: the name stands in the edit,
// nothing is written and no choice changes until the button is pressed, and
// then that very file is corrected, even when its name is not UTF-8 and the
// edit can show it only with replacement marks.
TEST_F(CorrectionTest, TableNamedOnTheCommandLineIsCorrectedWhenTheButtonIsPressed)
{
    const struct {
        const char* what;
        std::string file;
        bool asUrl;
    } cases[] = {
        {"spaces", "old clients.dbf", false},
        {"Cyrillic", "Клиенты.dbf", false},
        {"bytes that are not UTF-8 (Windows-1251)", "\xCA\xEB\xE8\xE5\xED\xF2\xFB.dbf", false},
        {"a file URL with %20 and Cyrillic", "мои таблицы.dbf", true},
        {"a file URL of bytes that are not UTF-8", "\xEC\xEE\xE8.dbf", true},
    };
    for (const auto& c : cases) {
        const std::string path = dir.File(c.file);
        const TBytes before = ThreeFieldTable().Build();
        WriteAll(path, before);

        TForm1 window;
        window.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&window)) << c.what;
        TBoxAnswerer answerer;
        window.OpenFromCommandLine({c.asUrl ? FileUrl(path) : path});
        EXPECT_TRUE(answerer.seen.empty()) << c.what;
        EXPECT_EQ(window.LabeledEdit1->text(), QFile::decodeName(QByteArray::fromStdString(path))) << c.what;
        EXPECT_EQ(ReadAll(path), before) << c.what;
        EXPECT_EQ(window.RadioGroup1ItemIndex(), 2) << c.what;
        EXPECT_EQ(window.RadioGroup2ItemIndex(), 3) << c.what;
        EXPECT_TRUE(window.CheckBox1->isChecked()) << c.what;
        EXPECT_FALSE(window.CheckBox2->isChecked()) << c.what;

        QTest::mouseClick(window.BitBtn1, Qt::LeftButton);
        ASSERT_EQ(answerer.seen.size(), 1U) << c.what;
        EXPECT_EQ(answerer.seen[0].text, kGotovo + QStringLiteral("101")) << c.what;
        EXPECT_EQ(DbfFileName, path) << c.what;
        const TBytes after = ReadAll(path);
        ASSERT_EQ(after.size(), before.size()) << c.what;
        EXPECT_EQ(after[28], 0) << c.what;              // index flag cleared by default
        EXPECT_EQ(after[32 + 32 + 11], 'C') << c.what;  // the lower-case type
    }
}

// Once the user names another table, the bytes of the command line's name
// are no longer used.
TEST_F(CorrectionTest, NameTypedOverTheCommandLinesIsTheOneCorrected)
{
    const std::string given = dir.File("\xCA\xEB.dbf");
    const std::string typed = dir.File("typed.dbf");
    const TBytes table = ThreeFieldTable().Build();
    WriteAll(given, table);
    WriteAll(typed, table);
    form.OpenFromCommandLine({given});
    form.LabeledEdit1->setText(QString::fromStdString(typed));
    TBoxAnswerer answerer;
    Click(form.BitBtn1);
    EXPECT_EQ(DbfFileName, typed);
    EXPECT_EQ(ReadAll(given), table);
    EXPECT_NE(ReadAll(typed), table);
}

// A command line the window cannot follow is told in the error box, over an
// empty edit; nothing is opened.
TEST_F(CorrectionTest, CommandLineMistakeIsToldAndNothingIsOpened)
{
    const std::string table = dir.File("a.dbf");
    WriteAll(table, ThreeFieldTable().Build());
    const struct {
        std::vector<std::string> arguments;
        const char* shown;
    } cases[] = {
        {{table, dir.File("b.dbf")}, "названо таблиц: 2"},
        {{"--foo", table}, "Неизвестный ключ «--foo»"},
        {{"file://elsewhere" + table}, "файл на другом компьютере"},
    };
    for (const auto& c : cases) {
        TForm1 window;
        window.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&window)) << c.shown;
        TBoxAnswerer answerer;
        window.OpenFromCommandLine(c.arguments);
        ASSERT_EQ(answerer.seen.size(), 1U) << c.shown;
        EXPECT_EQ(answerer.seen[0].kind, TBoxKind::Error);
        EXPECT_TRUE(answerer.seen[0].text.contains(QString::fromUtf8(c.shown))) << answerer.seen[0].text.toStdString();
        EXPECT_EQ(answerer.seen[0].title, window.windowTitle());
        EXPECT_TRUE(window.LabeledEdit1->text().isEmpty()) << c.shown;
    }
}
