#include "Unit1.h"

#include "Application.h"
#include "CreateDBF3.h"
#include "MessageBoxes.h"
#include "Pictures.h"
#include "ProcessFile.h"
#include "WindowManagerHints.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QDateEdit>
#include <QDir>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QMimeData>
#include <QPushButton>
#include <QRadioButton>
#include <QShowEvent>
#include <QToolButton>

#include <chrono>

std::string DbfFileName;

namespace {

const QString kFontFamily = QStringLiteral("MS Sans Serif");

// Where the window's own font is missing, a narrow sans with Cyrillic that
// keeps every text inside its control; DejaVu Sans, the usual default, is
// too wide.
void SubstituteWindowFont()
{
    QFont::insertSubstitutions(kFontFamily, {QStringLiteral("Liberation Sans"), QStringLiteral("Arial"),
                                             QStringLiteral("Arimo"), QStringLiteral("Microsoft Sans Serif")});
}

// A framed group of radio buttons in one column, items spread evenly over the
// frame's inside as a classic radio group spreads them.
QButtonGroup* FillRadioGroup(QGroupBox* group, const QStringList& items, int selected)
{
    auto* buttons = new QButtonGroup(group);
    constexpr int kItemHeight = 17;
    // Inside the frame, below the title, as the style draws them.
    const QRect inside = group->contentsRect();
    const int slot = inside.height() / static_cast<int>(items.size());
    for (int i = 0; i < items.size(); ++i) {
        auto* item = new QRadioButton(items[i], group);
        item->setGeometry(8, inside.top() + i * slot + (slot - kItemHeight) / 2, group->width() - 12, kItemHeight);
        buttons->addButton(item, i);
    }
    // The group is one stop in the tab order, at its selected item; the arrow
    // keys move between the items.
    QObject::connect(buttons, &QButtonGroup::idToggled, group, [buttons](int id, bool checked) {
        buttons->button(id)->setFocusPolicy(checked ? Qt::StrongFocus : Qt::ClickFocus);
    });
    for (QAbstractButton* item : buttons->buttons()) item->setFocusPolicy(Qt::ClickFocus);
    buttons->button(selected)->setChecked(true);
    return buttons;
}

std::chrono::year_month_day ToYearMonthDay(const QDate& date)
{
    return std::chrono::year_month_day{std::chrono::year{date.year()},
                                       std::chrono::month{static_cast<unsigned>(date.month())},
                                       std::chrono::day{static_cast<unsigned>(date.day())}};
}

// The full name of a local file dropped from a file manager, or nothing.
QString DroppedFileName(const QMimeData* data)
{
    if (!data || !data->hasUrls()) return {};
    const auto urls = data->urls();
    if (urls.isEmpty() || !urls.front().isLocalFile()) return {};
    return QDir::toNativeSeparators(QFileInfo(urls.front().toLocalFile()).absoluteFilePath());
}

}  // namespace

TForm1::TForm1(QWidget* parent)
    : QWidget(parent, Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                          Qt::WindowCloseButtonHint | Qt::MSWindowsFixedSizeDialogHint)
{
    setObjectName(QStringLiteral("Form1"));
    setWindowTitle(QStringLiteral("Автокорректировка шапки файла DBF (DBaseIII)"));
    setWindowIcon(TableIcon());
    setFixedSize(418, 298);
    setBackgroundRole(QPalette::Button);
    setAutoFillBackground(true);
    setAcceptDrops(true);

    SubstituteWindowFont();
    QFont font(kFontFamily);
    font.setPixelSize(13);
    setFont(font);

    LabeledEdit1 = new QLineEdit(this);
    LabeledEdit1->setObjectName(QStringLiteral("LabeledEdit1"));
    LabeledEdit1->setGeometry(8, 24, 377, 24);
    // A file dragged from a file manager is taken by the window as a name, not
    // pasted into the edit as a URL.
    LabeledEdit1->setAcceptDrops(false);
    LabeledEdit1Label = new QLabel(QStringLiteral("DBF-файл"), this);
    LabeledEdit1Label->setGeometry(8, 24 - 3 - 16, 66, 16);
    LabeledEdit1Label->setBuddy(LabeledEdit1);

    SpeedButton1 = new QToolButton(this);
    SpeedButton1->setObjectName(QStringLiteral("SpeedButton1"));
    SpeedButton1->setGeometry(384, 25, 23, 23);
    SpeedButton1->setFocusPolicy(Qt::NoFocus);
    SpeedButton1->setIcon(FolderPicture());
    SpeedButton1->setIconSize(QSize(16, 16));

    RadioGroup1 = new QGroupBox(QStringLiteral("Смещение"), this);
    RadioGroup1->setObjectName(QStringLiteral("RadioGroup1"));
    RadioGroup1->setGeometry(8, 56, 169, 105);
    RadioGroup1Items = FillRadioGroup(
        RadioGroup1, {QStringLiteral("Очистить"), QStringLiteral("Поставить"), QStringLiteral("Оставить как было")},
        omLeave);

    RadioGroup2 = new QGroupBox(QStringLiteral("Кодовая страница (язык)"), this);
    RadioGroup2->setObjectName(QStringLiteral("RadioGroup2"));
    RadioGroup2->setGeometry(192, 56, 217, 105);
    RadioGroup2Items = FillRadioGroup(RadioGroup2,
                                      {QStringLiteral("№ 0 (рез-т зависит от BDE)"), QStringLiteral("№ 38 (для DOS-866) "),
                                       QStringLiteral("№ 87 (для Win-1251)"), QStringLiteral("Оставить как было")},
                                      cpLeave);

    CheckBox2 = new QCheckBox(QStringLiteral("Вставить дату:"), this);
    CheckBox2->setObjectName(QStringLiteral("CheckBox2"));
    CheckBox2->setGeometry(64, 184, 121, 17);

    DateTimePicker1 = new TDateTimePicker(this);
    DateTimePicker1->setObjectName(QStringLiteral("DateTimePicker1"));
    DateTimePicker1->setGeometry(192, 180, 93, 24);
    DateTimePicker1->setDisplayFormat(QLocale::system().dateFormat(QLocale::ShortFormat));
    DateTimePicker1->setCalendarPopup(true);
    // The header keeps the year as (year - 1900) modulo 256: only these years
    // read back as the year written.
    DateTimePicker1->setDateRange(QDate(kFirstStorableYear, 1, 1), QDate(kLastStorableYear, 12, 31));

    CheckBox1 = new QCheckBox(QStringLiteral("Убрать признак индекса"), this);
    CheckBox1->setObjectName(QStringLiteral("CheckBox1"));
    CheckBox1->setGeometry(64, 216, 189, 17);
    CheckBox1->setChecked(true);

    BitBtn1 = new QPushButton(QStringLiteral("Обработать файл"), this);
    BitBtn1->setObjectName(QStringLiteral("BitBtn1"));
    BitBtn1->setGeometry(120, 248, 153, 33);
    // Enter presses the focused button, as Space does; outside a dialog Qt
    // leaves Enter to Space alone unless told.
    BitBtn1->setAutoDefault(true);

    // Tab order: the first radio group, the second, the process button, the
    // index check box, the date, the date check box, and the file edit last.
    QWidget* order[] = {RadioGroup1Items->button(0), RadioGroup1Items->button(1), RadioGroup1Items->button(2),
                        RadioGroup2Items->button(0), RadioGroup2Items->button(1), RadioGroup2Items->button(2),
                        RadioGroup2Items->button(3), BitBtn1, CheckBox1, DateTimePicker1, CheckBox2, LabeledEdit1};
    for (std::size_t i = 1; i < std::size(order); ++i) setTabOrder(order[i - 1], order[i]);
    RadioGroup1Items->checkedButton()->setFocus();

    // A failure in a handler is shown here, before it could travel back
    // through Qt's event delivery.
    connect(SpeedButton1, &QToolButton::clicked, this, [this] { RunHandler([this] { SpeedButton1Click(); }); });
    connect(BitBtn1, &QPushButton::clicked, this, [this] { RunHandler([this] { Button1Click(); }); });

    // Placed before it first appears, so that the window manager takes the
    // place as the frame's.
    CentreByFrame(this);
}

bool TDateTimePicker::focusNextPrevChild(bool next)
{
    return QWidget::focusNextPrevChild(next);
}

int TForm1::RadioGroup1ItemIndex() const
{
    return RadioGroup1Items->checkedId();
}

int TForm1::RadioGroup2ItemIndex() const
{
    return RadioGroup2Items->checkedId();
}

void TForm1::showEvent(QShowEvent* event)
{
    QWidget::showEvent(event);
    if (event->spontaneous()) return;
    if (!FShownBefore) {
        FShownBefore = true;
        // Before the window is mapped, so that the window manager frames it
        // as a fixed dialog from the start.
        AnnounceFixedDialogFrame(this);
        FormShow();
    }
}

void TForm1::FormShow()
{
    DateTimePicker1->setDate(QDate::currentDate());
}

void TForm1::SpeedButton1Click()
{
    QFileDialog OpenDialog1(this);
    OpenDialog1.setAcceptMode(QFileDialog::AcceptOpen);
    // The table may be named before it exists; Open reports a missing file.
    OpenDialog1.setFileMode(QFileDialog::AnyFile);
    OpenDialog1.setNameFilter(QStringLiteral("Файлы dBase (*.dbf)"));
    OpenDialog1.setSizeGripEnabled(true);
    if (!FOpenDialog1FileName.isEmpty()) OpenDialog1.selectFile(FOpenDialog1FileName);
    if (OpenDialog1.exec() != QDialog::Accepted) return;
    const QStringList chosen = OpenDialog1.selectedFiles();
    if (chosen.isEmpty()) return;
    FOpenDialog1FileName = QFileInfo(chosen.front()).absoluteFilePath();
    LabeledEdit1->setText(QDir::toNativeSeparators(FOpenDialog1FileName));
}

void TForm1::Button1Click()
{
    DbfFileName = QFile::encodeName(LabeledEdit1->text()).toStdString();
    if (DbfFileName.empty()) {
        ShowErrorBox(this, QStringLiteral("Не указан файл!"), windowTitle());
        return;
    }
    ProcessFile(DbfFileName, RadioGroup1ItemIndex(), RadioGroup2ItemIndex(), CheckBox1->isChecked(),
                CheckBox2->isChecked(), ToYearMonthDay(DateTimePicker1->date()));
}

void TForm1::dragEnterEvent(QDragEnterEvent* event)
{
    if (!DroppedFileName(event->mimeData()).isEmpty()) event->acceptProposedAction();
}

void TForm1::dropEvent(QDropEvent* event)
{
    const QString name = DroppedFileName(event->mimeData());
    if (name.isEmpty()) return;
    LabeledEdit1->setText(name);
    event->acceptProposedAction();
}
