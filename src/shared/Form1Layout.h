// SPDX-License-Identifier: MIT
// What both windows of the program show, whatever toolkit draws them: the
// texts, the controls' places and sizes in pixels, the tab order and the
// choices' initial states. No toolkit here.
#pragma once

#include "ProcessFile.h"

#include <array>
#include <vector>

inline constexpr char kForm1Caption[] = "Автокорректировка шапки файла DBF (DBaseIII)";
inline constexpr int kForm1ClientWidth = 418;
inline constexpr int kForm1ClientHeight = 298;
inline constexpr char kForm1FontFamily[] = "MS Sans Serif";
inline constexpr int kForm1FontPixelHeight = 13;

// The error box of an empty file name.
inline constexpr char kNoFileText[] = "Не указан файл!";
// NotifyUser's one button.
inline constexpr char kOkText[] = "OK";
// The file dialog's one filter: what the user reads, and the pattern.
inline constexpr char kOpenDialog1FilterDescription[] = "Файлы dBase (*.dbf)";
inline constexpr char kOpenDialog1FilterPattern[] = "*.dbf";

// The controls, in the order they are created.
enum TControlId : int {
    ciLabeledEdit1Label,
    ciLabeledEdit1,
    ciSpeedButton1,
    ciRadioGroup1,
    ciRadioGroup2,
    ciCheckBox2,
    ciDateTimePicker1,
    ciCheckBox1,
    ciBitBtn1,
    kControlCount
};

inline constexpr int kNoTabStop = -1;

struct TControlLayout {
    const char* name;
    // The outer corner within the client area, and the size.
    int left, top, width, height;
    // The place in the tab order, counted from 0, or kNoTabStop.
    int tabOrder;
    // The text, the group's title or the label; empty where none is shown.
    const char* text;
};

inline constexpr std::array<TControlLayout, kControlCount> kForm1Controls = {{
    // The label stands 3 pixels above the edit, at its left edge.
    {"LabeledEdit1Label", 8, 24 - 3 - 16, 66, 16, kNoTabStop, "DBF-файл"},
    {"LabeledEdit1", 8, 24, 377, 24, 6, ""},
    {"SpeedButton1", 384, 25, 23, 23, kNoTabStop, ""},
    {"RadioGroup1", 8, 56, 169, 105, 0, "Смещение"},
    {"RadioGroup2", 192, 56, 217, 105, 1, "Кодовая страница (язык)"},
    {"CheckBox2", 64, 184, 121, 17, 5, "Вставить дату:"},
    {"DateTimePicker1", 192, 180, 93, 24, 4, ""},
    {"CheckBox1", 64, 216, 189, 17, 3, "Убрать признак индекса"},
    {"BitBtn1", 120, 248, 153, 33, 2, "Обработать файл"},
}};

// The items of the radio groups, numbered as ProcessFile takes them, and the
// ones selected at start.
inline constexpr std::array<const char*, 3> kRadioGroup1Items = {"Очистить", "Поставить", "Оставить как было"};
inline constexpr int kRadioGroup1Selected = omLeave;
// The second item ends in a space.
inline constexpr std::array<const char*, 4> kRadioGroup2Items = {
    "№ 0 (рез-т зависит от BDE)", "№ 38 (для DOS-866) ", "№ 87 (для Win-1251)", "Оставить как было"};
inline constexpr int kRadioGroup2Selected = cpLeave;
inline constexpr bool kCheckBox1Checked = true;
inline constexpr bool kCheckBox2Checked = false;
// The date picker shows the date as the window's Russian texts would write
// it, whatever the system's locale: 09.12.2026. Both toolkits read this
// pattern the same way.
inline constexpr char kDateTimePicker1Format[] = "dd.MM.yyyy";

// A radio group's items stand in one column, 17 pixels high, spread evenly
// over the frame's inside below its title.
inline constexpr int kRadioItemHeight = 17;
struct TItemPlace {
    int left, top, width, height;
};
// insideTop and insideHeight: the frame's inside below the title, in the
// group's own coordinates.
TItemPlace RadioItemPlace(const TControlLayout& group, int insideTop, int insideHeight, int index, int count);

// The controls that take the focus, in tab order.
std::vector<TControlId> Form1TabOrder();
