// The notification page, the sheet's first page: popup on or off with its
// colours, position and auto-close time, the balloon, the arrival sound, the
// mail program, and the shortcut in the Startup folder.
//
// The colour buttons change working copies only; the sample shows them and
// OK writes them back. The Startup box shows whether the shortcut exists
// when the page opens and is acted on at OK only if the user clicked it.
#include <windows.h>

#include <prsht.h>

#include "core/env.h"
#include "core/sound.h"
#include "core/wide_win32.h"
#include "res/sheet_resource.h"
#include "settings/save_result.h"
#include "settings/settings.h"
#include "tray/popup.h"
#include "tray/tray_win32.h"
#include "ui/pages_win32.h"
#include "ui/shortcut.h"

static const char SAMPLE_TEXT[] = "サンプル";
static const char SOUND_FILTER[] = "サウンドファイル\0*.wav\0";
static const char PROGRAM_FILTER[] = "実行ファイル\0*.exe\0";
static const char AUTO_CLOSE_FALLBACK[] = "30";

// Every control but the sample and the mail program's edit: locked while
// the sound test starts the playback.
static const int SOUND_TEST_LOCKED[] = {
    IDC_NOTIFY_BACK_COLOR,    IDC_NOTIFY_USE_POPUP,       IDC_NOTIFY_SOUND_FILE,
    IDC_NOTIFY_USE_SOUND,     IDC_NOTIFY_SOUND_CHOOSE,    IDC_NOTIFY_SOUND_TEST,
    IDC_NOTIFY_MAILER_CHOOSE, IDC_NOTIFY_TEXT_COLOR,      IDC_NOTIFY_POSITION,
    IDC_NOTIFY_STARTUP,       IDC_NOTIFY_USE_BALLOON,     IDC_NOTIFY_SYSTEM_COLORS,
    IDC_NOTIFY_AUTO_CLOSE,    IDC_NOTIFY_AUTO_CLOSE_TIME, IDC_NOTIFY_AUTO_CLOSE_SPIN,
    IDC_NOTIFY_SHOW_HEADERS,
};

static uint32_t text_color; // working copies of the popup's colours
static uint32_t back_color;
static HBRUSH sample_brush;
static HWND sample;
static bool startup_touched;
static bool initialised;

static void on_init(HWND page)
{
    sheet_set_check(page, IDC_NOTIFY_USE_POPUP, settings.USE_POPUPDLG);
    sheet_set_check(page, IDC_NOTIFY_SYSTEM_COLORS, settings.USE_SYSTEMCOLOR);
    sheet_set_check(page, IDC_NOTIFY_USE_BALLOON, settings.USE_BALOON);
    // Balloons need shell32 5.00.
    if (shell_version < 500)
        EnableWindow(GetDlgItem(page, IDC_NOTIFY_USE_BALLOON), FALSE);
    sheet_set_check(page, IDC_NOTIFY_SHOW_HEADERS, settings.SHOW_HEADERS);
    sheet_set_check(page, IDC_NOTIFY_USE_SOUND, settings.USE_SOUND);
    dialog_set_text(page, IDC_NOTIFY_SOUND_FILE, settings.SOUND_FILE);
    sheet_limit_text(page, IDC_NOTIFY_SOUND_FILE, PATH_CAPACITY - 1);
    dialog_set_text(page, IDC_NOTIFY_MAILER, settings.MAILER);
    sheet_limit_text(page, IDC_NOTIFY_MAILER, PATH_CAPACITY - 1);
    sheet_set_check(page, IDC_NOTIFY_STARTUP, shortcut_exists());
    startup_touched = false;
    sample = GetDlgItem(page, IDC_NOTIFY_SAMPLE);
    sample_brush = CreateSolidBrush(settings.POPUPDLG_BACK_COLOR);
    text_color = settings.POPUPDLG_TEXT_COLOR;
    back_color = settings.POPUPDLG_BACK_COLOR;
    sheet_set_check(page, IDC_NOTIFY_AUTO_CLOSE, settings.AUTO_POPUP_CLOSE);
    sheet_limit_text(page, IDC_NOTIFY_AUTO_CLOSE_TIME, 2);
    sheet_set_int(page, IDC_NOTIFY_AUTO_CLOSE_TIME, settings.AUTO_POPUP_CLOSE_TIME);
    sheet_set_updown_range(page, IDC_NOTIFY_AUTO_CLOSE_SPIN, 1, 99);
    initialised = true;
}

static void choose_back_color(HWND page)
{
    if (!choose_color(&back_color))
        return;
    if (sample_brush)
        DeleteObject(sample_brush);
    sample_brush = CreateSolidBrush(back_color);
    window_set_text(sample, SAMPLE_TEXT); // repaints it
    sheet_page_changed(page);
}

static void choose_text_color(HWND page)
{
    if (!choose_color(&text_color))
        return;
    window_set_text(sample, SAMPLE_TEXT);
    sheet_page_changed(page);
}

// Unlocking leaves the balloon box disabled where there are no balloons.
static void lock_for_sound_test(HWND page, BOOL enable)
{
    for (int id : SOUND_TEST_LOCKED) {
        bool no_balloons = id == IDC_NOTIFY_USE_BALLOON && shell_version < 500;
        EnableWindow(GetDlgItem(page, id), enable && !no_balloons);
    }
}

// The same call as the arrival sound; an unplayable file is not reported.
static void test_sound(HWND page)
{
    HWND focus = GetFocus();
    lock_for_sound_test(page, FALSE);
    char file[PATH_CAPACITY];
    char expanded[PATH_CAPACITY];
    dialog_get_text(page, IDC_NOTIFY_SOUND_FILE, file, sizeof file);
    env_expand(file, expanded, sizeof expanded);
    sound_play(expanded);
    lock_for_sound_test(page, TRUE);
    // Disabling the focused button took the keyboard focus from the sheet.
    SetFocus(focus);
}

static void on_button(HWND page, int id)
{
    switch (id) {
    case IDC_NOTIFY_BACK_COLOR:
        choose_back_color(page);
        break;
    case IDC_NOTIFY_TEXT_COLOR:
        choose_text_color(page);
        break;
    case IDC_NOTIFY_USE_POPUP:
    case IDC_NOTIFY_USE_SOUND:
    case IDC_NOTIFY_USE_BALLOON:
    case IDC_NOTIFY_AUTO_CLOSE:
    case IDC_NOTIFY_SYSTEM_COLORS:
    case IDC_NOTIFY_SHOW_HEADERS:
        sheet_page_changed(page);
        break;
    case IDC_NOTIFY_SOUND_CHOOSE:
        if (choose_file(GetDlgItem(page, IDC_NOTIFY_SOUND_FILE), SOUND_FILTER))
            sheet_page_changed(page);
        break;
    case IDC_NOTIFY_SOUND_TEST:
        test_sound(page);
        break;
    case IDC_NOTIFY_MAILER_CHOOSE:
        if (choose_file(GetDlgItem(page, IDC_NOTIFY_MAILER), PROGRAM_FILTER))
            sheet_page_changed(page);
        break;
    case IDC_NOTIFY_STARTUP:
        startup_touched = true;
        sheet_page_changed(page);
        break;
    case IDC_NOTIFY_POSITION:
        position_picker_run(page, GetDlgItem(page, IDC_NOTIFY_POSITION));
        break;
    }
}

static void on_command(HWND page, int id, int code)
{
    switch (code) {
    case BN_CLICKED:
        on_button(page, id);
        break;
    case EN_CHANGE:
        if (initialised)
            sheet_page_changed(page);
        break;
    case EN_KILLFOCUS:
        if (id == IDC_NOTIFY_AUTO_CLOSE_TIME)
            sheet_hold_in_range(page, id, 1, 99, AUTO_CLOSE_FALLBACK);
        break;
    }
}

static INT_PTR on_apply(HWND page)
{
    settings_applied = 1;
    dialog_get_text(page, IDC_NOTIFY_MAILER, settings.MAILER, sizeof settings.MAILER);
    settings.USE_SOUND = sheet_get_check(page, IDC_NOTIFY_USE_SOUND);
    dialog_get_text(page, IDC_NOTIFY_SOUND_FILE, settings.SOUND_FILE, sizeof settings.SOUND_FILE);
    settings.USE_POPUPDLG = sheet_get_check(page, IDC_NOTIFY_USE_POPUP);
    settings.POPUPDLG_TEXT_COLOR = text_color;
    settings.POPUPDLG_BACK_COLOR = back_color;
    settings.USE_SYSTEMCOLOR = sheet_get_check(page, IDC_NOTIFY_SYSTEM_COLORS);
    popup_refresh_colors();
    // A disabled box keeps the state it was given, so the value is unchanged.
    settings.USE_BALOON = sheet_get_check(page, IDC_NOTIFY_USE_BALLOON);
    settings.AUTO_POPUP_CLOSE = sheet_get_check(page, IDC_NOTIFY_AUTO_CLOSE);
    settings.SHOW_HEADERS = sheet_get_check(page, IDC_NOTIFY_SHOW_HEADERS);
    if (GetFocus() == GetDlgItem(page, IDC_NOTIFY_AUTO_CLOSE_TIME)) // OK by Enter
        sheet_hold_in_range(page, IDC_NOTIFY_AUTO_CLOSE_TIME, 1, 99, AUTO_CLOSE_FALLBACK);
    settings.AUTO_POPUP_CLOSE_TIME = sheet_get_int(page, IDC_NOTIFY_AUTO_CLOSE_TIME, INT_READ_MAX);
    if (startup_touched) {
        bool create = sheet_get_check(page, IDC_NOTIFY_STARTUP);
        int result = shortcut_set(create);
        if (result != SAVE_DONE)
            return save_failed(page,
                               create ? "スタートアップに登録できませんでした。"
                                      : "スタートアップの登録を解除できませんでした。",
                               shortcut_file(), result);
    }
    return sheet_apply_succeeded(page);
}

// The sample shows the chosen colours whether or not the system colours are on.
static INT_PTR on_static_color(HDC dc, HWND control)
{
    if (control != sample || !sample)
        return FALSE;
    SetBkMode(dc, TRANSPARENT);
    SetTextColor(dc, text_color);
    return (INT_PTR)sample_brush;
}

INT_PTR CALLBACK notify_page_proc(HWND page, UINT message, WPARAM wparam, LPARAM lparam)
{
    switch (message) {
    case WM_INITDIALOG:
        on_init(page);
        return TRUE;
    case WM_COMMAND:
        if (HIWORD(wparam) == EN_CHANGE)
            sheet_hold_byte_limit((HWND)lparam);
        on_command(page, LOWORD(wparam), HIWORD(wparam));
        return FALSE;
    case WM_NOTIFY:
        if (((NMHDR*)lparam)->code == PSN_APPLY)
            return on_apply(page);
        return FALSE;
    case WM_CTLCOLORSTATIC:
        return on_static_color((HDC)wparam, (HWND)lparam);
    case WM_DESTROY:
        initialised = false;
        if (sample_brush)
            DeleteObject(sample_brush);
        sample_brush = NULL;
        sample = NULL;
        return FALSE;
    }
    return FALSE;
}
