// SPDX-License-Identifier: MIT
// The main window: the table's name, the five correction choices and the
// process button.
#pragma once

#include <QDateEdit>
#include <QWidget>

#include <string>
#include <vector>

class QButtonGroup;
class QCheckBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QRadioButton;
class QToolButton;

// A date picker that is one stop in the tab order: Tab leaves it rather than
// walking through its day, month and year.
class TDateTimePicker : public QDateEdit {
    Q_OBJECT
public:
    using QDateEdit::QDateEdit;

protected:
    bool focusNextPrevChild(bool next) override;
};

// The file name taken by the process button; lives as long as the program.
extern std::string DbfFileName;

class TForm1 : public QWidget {
    Q_OBJECT
public:
    explicit TForm1(QWidget* parent = nullptr);

    // The controls, named by kind and number.
    QLabel* LabeledEdit1Label;
    QLineEdit* LabeledEdit1;
    QToolButton* SpeedButton1;
    QGroupBox* RadioGroup1;
    QButtonGroup* RadioGroup1Items;
    QGroupBox* RadioGroup2;
    QButtonGroup* RadioGroup2Items;
    QCheckBox* CheckBox2;
    TDateTimePicker* DateTimePicker1;
    QCheckBox* CheckBox1;
    QPushButton* BitBtn1;

    // The selected item of a radio group, counted from 0.
    [[nodiscard]] int RadioGroup1ItemIndex() const;
    [[nodiscard]] int RadioGroup2ItemIndex() const;

    // The name last chosen in the file-open dialog.
    [[nodiscard]] const QString& OpenDialog1FileName() const { return FOpenDialog1FileName; }

    // Puts the table the program's arguments name (bytes as given, without
    // the program's name) into the edit, or tells their mistake in the error
    // box. Nothing else changes: nothing is corrected until the button is
    // pressed.
    void OpenFromCommandLine(const std::vector<std::string>& arguments);

public slots:
    void FormShow();
    void SpeedButton1Click();
    void Button1Click();

protected:
    void showEvent(QShowEvent* event) override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dropEvent(QDropEvent* event) override;

private:
    // Puts a name handed over as bytes (the command line, a dropped file)
    // into the edit.
    void ShowGivenName(const std::string& name);

    QString FOpenDialog1FileName;
    // That name as its bytes, and as the edit shows it: a name that is not
    // UTF-8 shows with replacement marks, and is corrected by its own bytes
    // for as long as the edit still shows it.
    std::string FGivenName;
    QString FGivenText;
    bool FShownBefore = false;
};
