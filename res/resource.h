// Resource and control ids of corvina.exe.
#pragma once

// Icons; 101 is also the program's own icon.
#define IDI_CORVINA 101
#define IDI_ARRIVE 105
#define IDI_CHECK 106
#define IDI_FAILURE 108
#define IDI_NORMAL 109
#define IDI_WAIT 118
// The same states drawn for a dark task bar: each light one's id + 100.
#define DARK_ICON_OFFSET 100
#define IDI_ARRIVE_DARK 205
#define IDI_CHECK_DARK 206
#define IDI_FAILURE_DARK 208
#define IDI_NORMAL_DARK 209
#define IDI_WAIT_DARK 218

// The new-mail popup.
#define IDD_POPUP 123
#define IDC_POPUP_TEXT 1003
#define IDC_POPUP_MAIL 1031
#define IDC_POPUP_CLOSE 1032
#define IDC_POPUP_TITLE 1033
#define IDC_POPUP_ICON 1035
#define IDC_POPUP_LINE_FIRST 1050 // the listed messages and the line for the rest, up to 1055
