// SPDX-License-Identifier: MIT
#include "Unit1.h"

#include "Application.h"
#include "CommandLine.h"
#include "CreateDBF3.h"
#include "Form1Layout.h"
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
#include <QMimeData>
#include <QPushButton>
#include <QRadioButton>
#include <QShowEvent>
#include <QToolButton>

#include <array>
#include <chrono>
#include <vector>

std::string DbfFileName;

namespace {

const QString kFontFamily = QString::fromUtf8(kForm1FontFamily);

// Where the window's own font is missing, a narrow sans with Cyrillic that
// keeps every text inside its control; DejaVu Sans, the usual default, is
// too wide.
void SubstituteWindowFont()
{
    QFont::insertSubstitutions(kFontFamily, {QStringLiteral("Liberation Sans"), QStringLiteral("Arial"),
                                             QStringLiteral("Arimo"), QStringLiteral("Microsoft Sans Serif")});
}

QString TextOf(TControlId id)
{
    return QString::fromUtf8(kForm1Controls[id].text);
}

// Names the control and puts it where the layout says.
template <typename TControl>
TControl* Placed(TControl* control, TControlId id)
{
    const TControlLayout& layout = kForm1Controls[id];
    control->setObjectName(QString::fromUtf8(layout.name));
    control->setGeometry(layout.left, layout.top, layout.width, layout.height);
    return control;
}

// A framed group of radio buttons in one column, items spread evenly over the
// frame's inside as a classic radio group spreads them.
template <std::size_t N>
QButtonGroup* FillRadioGroup(QGroupBox* group, TControlId id, const std::array<const char*, N>& items, int selected)
{
    auto* buttons = new QButtonGroup(group);
    // Inside the frame, below the title, as the style draws them.
    const QRect inside = group->contentsRect();
    for (std::size_t i = 0; i < N; ++i) {
        auto* item = new QRadioButton(QString::fromUtf8(items[i]), group);
        const TItemPlace place = RadioItemPlace(kForm1Controls[id], inside.top(), inside.height(), static_cast<int>(i),
                                                static_cast<int>(N));
        item->setGeometry(place.left, place.top, place.width, place.height);
        buttons->addButton(item, static_cast<int>(i));
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

// The name of a local file dropped from a file manager, as its bytes, or
// nothing. Taken from the URL's own escapes by the command line's rule:
// QUrl's decoded path would lose a name that is not UTF-8.
std::string DroppedFileName(const QMimeData* data)
{
    if (!data || !data->hasUrls()) return {};
    const auto urls = data->urls();
    if (urls.isEmpty() || !urls.front().isLocalFile()) return {};
    return TableFromCommandLine({urls.front().toEncoded().toStdString()}, TNameSystem::Posix).name;
}

}  // namespace

TForm1::TForm1(QWidget* parent)
    : QWidget(parent, Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                          Qt::WindowCloseButtonHint | Qt::MSWindowsFixedSizeDialogHint)
{
    setObjectName(QStringLiteral("Form1"));
    setWindowTitle(QString::fromUtf8(kForm1Caption));
    setWindowIcon(TableIcon());
    setFixedSize(kForm1ClientWidth, kForm1ClientHeight);
    setBackgroundRole(QPalette::Button);
    setAutoFillBackground(true);
    setAcceptDrops(true);

    SubstituteWindowFont();
    QFont font(kFontFamily);
    font.setPixelSize(kForm1FontPixelHeight);
    setFont(font);

    LabeledEdit1 = Placed(new QLineEdit(this), ciLabeledEdit1);
    // A file dragged from a file manager is taken by the window as a name, not
    // pasted into the edit as a URL.
    LabeledEdit1->setAcceptDrops(false);
    LabeledEdit1Label = Placed(new QLabel(TextOf(ciLabeledEdit1Label), this), ciLabeledEdit1Label);
    LabeledEdit1Label->setBuddy(LabeledEdit1);

    SpeedButton1 = Placed(new QToolButton(this), ciSpeedButton1);
    SpeedButton1->setFocusPolicy(Qt::NoFocus);
    SpeedButton1->setIcon(FolderPicture());
    SpeedButton1->setIconSize(QSize(16, 16));

    RadioGroup1 = Placed(new QGroupBox(TextOf(ciRadioGroup1), this), ciRadioGroup1);
    RadioGroup1Items = FillRadioGroup(RadioGroup1, ciRadioGroup1, kRadioGroup1Items, kRadioGroup1Selected);

    RadioGroup2 = Placed(new QGroupBox(TextOf(ciRadioGroup2), this), ciRadioGroup2);
    RadioGroup2Items = FillRadioGroup(RadioGroup2, ciRadioGroup2, kRadioGroup2Items, kRadioGroup2Selected);

    CheckBox2 = Placed(new QCheckBox(TextOf(ciCheckBox2), this), ciCheckBox2);
    CheckBox2->setChecked(kCheckBox2Checked);

    DateTimePicker1 = Placed(new TDateTimePicker(this), ciDateTimePicker1);
    DateTimePicker1->setDisplayFormat(QString::fromUtf8(kDateTimePicker1Format));
    DateTimePicker1->setCalendarPopup(true);
    // The header keeps the year as (year - 1900) modulo 256: only these years
    // read back as the year written.
    DateTimePicker1->setDateRange(QDate(kFirstStorableYear, 1, 1), QDate(kLastStorableYear, 12, 31));

    CheckBox1 = Placed(new QCheckBox(TextOf(ciCheckBox1), this), ciCheckBox1);
    CheckBox1->setChecked(kCheckBox1Checked);

    BitBtn1 = Placed(new QPushButton(TextOf(ciBitBtn1), this), ciBitBtn1);
    // Enter presses the focused button, as Space does; outside a dialog Qt
    // leaves Enter to Space alone unless told.
    BitBtn1->setAutoDefault(true);

    // Tab order as the layout gives it; a radio group is its items, of which
    // only the selected one takes the focus from Tab.
    std::vector<QWidget*> order;
    for (const TControlId id : Form1TabOrder()) {
        switch (id) {
        case ciRadioGroup1:
            for (QAbstractButton* item : RadioGroup1Items->buttons()) order.push_back(item);
            break;
        case ciRadioGroup2:
            for (QAbstractButton* item : RadioGroup2Items->buttons()) order.push_back(item);
            break;
        default:
            order.push_back(findChild<QWidget*>(QString::fromUtf8(kForm1Controls[id].name)));
        }
    }
    for (std::size_t i = 1; i < order.size(); ++i) setTabOrder(order[i - 1], order[i]);
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
    OpenDialog1.setNameFilter(QString::fromUtf8(kOpenDialog1FilterDescription));
    OpenDialog1.setSizeGripEnabled(true);
    if (!FOpenDialog1FileName.isEmpty()) OpenDialog1.selectFile(FOpenDialog1FileName);
    if (OpenDialog1.exec() != QDialog::Accepted) return;
    const QStringList chosen = OpenDialog1.selectedFiles();
    if (chosen.isEmpty()) return;
    FOpenDialog1FileName = QFileInfo(chosen.front()).absoluteFilePath();
    LabeledEdit1->setText(QDir::toNativeSeparators(FOpenDialog1FileName));
}

void TForm1::OpenFromCommandLine(const std::vector<std::string>& arguments)
{
    const TCommandLineTable table = TableFromCommandLine(arguments, TNameSystem::Posix);
    if (!table.error.empty()) {
        ShowErrorBox(this, QString::fromUtf8(table.error), windowTitle());
        return;
    }
    if (!table.name.empty()) ShowGivenName(table.name);
}

void TForm1::ShowGivenName(const std::string& name)
{
    FGivenName = name;
    FGivenText = QFile::decodeName(QByteArray::fromStdString(name));
    LabeledEdit1->setText(FGivenText);
}

void TForm1::Button1Click()
{
    const QString name = LabeledEdit1->text();
    DbfFileName = !FGivenName.empty() && name == FGivenText ? FGivenName : QFile::encodeName(name).toStdString();
    if (DbfFileName.empty()) {
        ShowErrorBox(this, QString::fromUtf8(kNoFileText), windowTitle());
        return;
    }
    ProcessFile(DbfFileName, RadioGroup1ItemIndex(), RadioGroup2ItemIndex(), CheckBox1->isChecked(),
                CheckBox2->isChecked(), ToYearMonthDay(DateTimePicker1->date()));
}

void TForm1::dragEnterEvent(QDragEnterEvent* event)
{
    if (!DroppedFileName(event->mimeData()).empty()) event->acceptProposedAction();
}

void TForm1::dropEvent(QDropEvent* event)
{
    const std::string name = DroppedFileName(event->mimeData());
    if (name.empty()) return;
    ShowGivenName(name);
    event->acceptProposedAction();
}
