// The tray menu. Its items follow the controller's state: in Checking the
// check item reads "中止"; while the settings, a test or the mail program
// run only "終了" can be chosen.
#include <windows.h>

#include "core/app_win32.h"
#include "core/wide_win32.h"
#include "tray/menu.h"

enum { ITEM_TEXT_MAX = 31 };

static HMENU tray_menu;
static bool menu_open; // the tray keeps sending clicks while the menu tracks

static const struct {
    UINT id;
    const char* text;
} ITEMS[] = {
    {IDM_SETTINGS, "設定"},
    {IDM_CHECK, "チェック"},
    {IDM_PAUSE, "一時停止"},
    {IDM_EXIT, "終了"},
};

void menu_create(void)
{
    tray_menu = CreatePopupMenu();
    if (!tray_menu)
        return;
    UINT position = 0;
    for (const auto& item : ITEMS) {
        wchar_t text[ITEM_TEXT_MAX + 1];
        wide_from_cp932(item.text, text, ITEM_TEXT_MAX + 1);
        MENUITEMINFOW info = {};
        info.cbSize = sizeof info;
        info.fMask = MIIM_ID | MIIM_TYPE;
        info.fType = MFT_STRING;
        info.wID = item.id;
        info.dwTypeData = text;
        InsertMenuItemW(tray_menu, position++, TRUE, &info);
    }
}

void menu_destroy(void)
{
    if (tray_menu)
        DestroyMenu(tray_menu);
    tray_menu = NULL;
}

static void enable_item(UINT id, bool enable)
{
    EnableMenuItem(tray_menu, id, MF_BYCOMMAND | (enable ? MF_ENABLED : MF_GRAYED | MF_DISABLED));
}

// With a text the check item's type and state are set, without one its state only.
static void set_check_item(const char* text, bool enable)
{
    wchar_t wide[ITEM_TEXT_MAX + 1];
    MENUITEMINFOW info = {};
    info.cbSize = sizeof info;
    info.fMask = MIIM_STATE;
    info.fState = enable ? MFS_ENABLED : MFS_GRAYED;
    if (text) {
        wide_from_cp932(text, wide, ITEM_TEXT_MAX + 1);
        info.fMask |= MIIM_TYPE;
        info.fType = MFT_STRING;
        info.dwTypeData = wide;
    }
    SetMenuItemInfoW(tray_menu, IDM_CHECK, FALSE, &info);
}

void menu_update_for_state(CheckState state)
{
    if (!tray_menu)
        return;
    switch (state) {
    case StartupWait:
    case Idle:
    case RetryWait:
        enable_item(IDM_SETTINGS, true);
        set_check_item("チェック", true);
        enable_item(IDM_PAUSE, true);
        enable_item(IDM_EXIT, true);
        break;
    case Checking:
        enable_item(IDM_SETTINGS, false);
        set_check_item("中止", true);
        enable_item(IDM_PAUSE, false);
        enable_item(IDM_EXIT, true);
        break;
    case SettingsOpen:
    case Testing:
    case MailProgramRunning:
        enable_item(IDM_SETTINGS, false);
        set_check_item(nullptr, false);
        enable_item(IDM_PAUSE, false);
        enable_item(IDM_EXIT, true);
        break;
    default:
        break;
    }
}

void menu_set_paused(bool paused)
{
    if (!tray_menu)
        return;
    MENUITEMINFOW info = {};
    info.cbSize = sizeof info;
    info.fMask = MIIM_STATE;
    info.fState = paused ? MFS_CHECKED : 0;
    SetMenuItemInfoW(tray_menu, IDM_PAUSE, FALSE, &info);
}

void menu_show(void)
{
    if (!tray_menu || menu_open)
        return;
    POINT cursor;
    GetCursorPos(&cursor);
    // Without the foreground the menu would not close when the user clicks elsewhere.
    SetForegroundWindow(main_window);
    SetFocus(main_window);
    menu_open = true;
    TrackPopupMenu(tray_menu, TPM_RIGHTALIGN | TPM_RIGHTBUTTON, cursor.x, cursor.y, 0, main_window,
                   NULL);
    menu_open = false;
    PostMessageW(main_window, WM_NULL, 0, 0);
}
