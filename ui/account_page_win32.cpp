// The account page: server and how the connection to it is protected, user
// name, password, APOP and leave-on-server, the connection test button, and
// the session log that the conversation writes into while a test runs.
//
// The password box never holds the password. Entering it empties it;
// typing marks the password as edited; leaving it takes what was typed (or
// keeps the old password when nothing was) and shows one '*' per byte.
//
// The page does not run the test itself: it stores its fields and posts the
// main window the same check command as the tray menu. The controller sees
// it in its settings-open state, starts the session and locks the page and
// the sheet through account_enable_controls and sheet_enable_buttons.
#include <windows.h>

#include <limits.h>
#include <prsht.h>

#include "core/app_win32.h"
#include "core/wide_win32.h"
#include "pop3/uidl_store.h"
#include "res/sheet_resource.h"
#include "settings/password.h"
#include "settings/settings.h"
#include "tray/menu.h"
#include "ui/pages_win32.h"
#include "ui/session_log.h"
#include "ui/sheet.h"

static HWND account_page; // these three only while the page exists
static HWND log_control;
static bool initialised;
static bool setting_password_box; // the program, not the user, changes the box
static bool test_running;         // from the test button until the controller ends it

enum { LOG_UTF8_CAPACITY = 2048 }; // a logged sender and subject, in UTF-16 units

static const int INPUTS[] = {IDC_ACCOUNT_SERVER,  IDC_ACCOUNT_SECURITY, IDC_ACCOUNT_USER,
                             IDC_ACCOUNT_PASSWORD, IDC_ACCOUNT_USEAPOP, IDC_ACCOUNT_USEUIDL,
                             IDC_ACCOUNT_FIND};

// The drop-down list's items, in the order of the Security values.
static const char* const SECURITY_ITEMS[] = {"なし", "TLS (995)", "STLS (110)"};
enum { SECURITY_ITEM_MAX = 15 };

static void set_password_box(HWND page, const char* text)
{
    setting_password_box = true;
    dialog_set_text(page, IDC_ACCOUNT_PASSWORD, text);
    setting_password_box = false;
}

// What the user typed since entering the box becomes the password.
static void take_typed_password(HWND page)
{
    if (!settings.password_edited)
        return;
    settings.password_edited = 0;
    dialog_get_text(page, IDC_ACCOUNT_PASSWORD, settings.plain_password,
                    sizeof settings.plain_password);
}

static void store_account_fields(HWND page)
{
    dialog_get_text(page, IDC_ACCOUNT_SERVER, settings.SERVER, sizeof settings.SERVER);
    dialog_get_text(page, IDC_ACCOUNT_USER, settings.ACCOUNT, sizeof settings.ACCOUNT);
    if (settings.plain_password[0] != '\0')
        password_encode(settings.plain_password, settings.PASSWORD);
    else
        settings.PASSWORD[0] = '\0';
    settings.USEAPOP = sheet_get_check(page, IDC_ACCOUNT_USEAPOP);
    settings.USEUIDL = sheet_get_check(page, IDC_ACCOUNT_USEUIDL);
    LRESULT security = SendDlgItemMessageW(page, IDC_ACCOUNT_SECURITY, CB_GETCURSEL, 0, 0);
    settings.SECURITY = security == CB_ERR ? SECURITY_NONE : (int32_t)security;
}

static void on_init(HWND page)
{
    dialog_set_text(page, IDC_ACCOUNT_SERVER, settings.SERVER);
    sheet_limit_text(page, IDC_ACCOUNT_SERVER, NAME_CAPACITY - 1);
    for (const char* item : SECURITY_ITEMS) {
        wchar_t wide[SECURITY_ITEM_MAX + 1];
        wide_from_cp932(item, wide, SECURITY_ITEM_MAX + 1);
        SendDlgItemMessageW(page, IDC_ACCOUNT_SECURITY, CB_ADDSTRING, 0, (LPARAM)wide);
    }
    SendDlgItemMessageW(page, IDC_ACCOUNT_SECURITY, CB_SETCURSEL, (WPARAM)settings.SECURITY, 0);
    dialog_set_text(page, IDC_ACCOUNT_USER, settings.ACCOUNT);
    sheet_limit_text(page, IDC_ACCOUNT_USER, NAME_CAPACITY - 1);
    update_password_mask();
    set_password_box(page, settings.password_mask);
    sheet_limit_text(page, IDC_ACCOUNT_PASSWORD, NAME_CAPACITY - 1);
    sheet_set_check(page, IDC_ACCOUNT_USEAPOP, settings.USEAPOP);
    sheet_set_check(page, IDC_ACCOUNT_USEUIDL, settings.USEUIDL);
    log_control = GetDlgItem(page, IDC_ACCOUNT_LOG);
    account_page = page;
    initialised = true;
}

static void on_password_event(HWND page, int code)
{
    switch (code) {
    case EN_SETFOCUS:
        set_password_box(page, "");
        settings.password_edited = 0;
        break;
    case EN_CHANGE:
        if (initialised && !setting_password_box) {
            settings.password_edited = 1;
            sheet_page_changed(page);
        }
        break;
    case EN_KILLFOCUS:
        take_typed_password(page);
        update_password_mask();
        set_password_box(page, settings.password_mask);
        break;
    }
}

// Pressed again while the test runs ("中止"), the same steps abort it.
// With "メールをサーバーに残す" just ticked the seen ids are not loaded yet;
// without them the test would count no mail at all.
static void on_test_button(HWND page)
{
    account_enable_controls(0);
    store_account_fields(page);
    if (settings.USEUIDL)
        uidl_load();
    PostMessageW(main_window, WM_COMMAND, IDM_CHECK, 0);
}

// "自動設定" needs the server box alone; the search runs as a test does,
// and its "中止" is the test button's.
static void on_find_button(HWND page)
{
    wchar_t server[NAME_CAPACITY];
    GetDlgItemTextW(page, IDC_ACCOUNT_SERVER, server, NAME_CAPACITY);
    cp932_from_wide(server, settings.SERVER, sizeof settings.SERVER);
    PostMessageA(main_window, WM_COMMAND, IDM_FIND_SETTINGS, 0);
}

static void on_command(HWND page, int id, int code)
{
    switch (id) {
    case IDC_ACCOUNT_PASSWORD:
        on_password_event(page, code);
        break;
    case IDC_ACCOUNT_SERVER:
    case IDC_ACCOUNT_USER:
        if (code == EN_CHANGE && initialised)
            sheet_page_changed(page);
        break;
    case IDC_ACCOUNT_USEAPOP:
    case IDC_ACCOUNT_USEUIDL:
        if (code == BN_CLICKED)
            sheet_page_changed(page);
        break;
    case IDC_ACCOUNT_SECURITY:
        if (code == CBN_SELCHANGE)
            sheet_page_changed(page);
        break;
    case IDC_ACCOUNT_TEST:
        if (code == BN_CLICKED)
            on_test_button(page);
        break;
    case IDC_ACCOUNT_FIND:
        if (code == BN_CLICKED)
            on_find_button(page);
        break;
    }
}

// OK pressed with the focus still in the password box (the Enter key): what
// was typed there counts as if the box had been left first.
static INT_PTR on_apply(HWND page)
{
    settings_applied = 1;
    take_typed_password(page);
    store_account_fields(page);
    if (settings.USEUIDL)
        uidl_load();
    return sheet_apply_succeeded(page);
}

INT_PTR CALLBACK account_page_proc(HWND page, UINT message, WPARAM wparam, LPARAM lparam)
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
        if (((NMHDR*)lparam)->code == PSN_QUERYCANCEL) {
            // Closing the sheet now would leave the test's session talking to
            // the server behind the controller's back: the test ends first.
            SetWindowLongPtrW(page, DWLP_MSGRESULT, test_running);
            return TRUE;
        }
        return FALSE;
    case WM_CTLCOLORSTATIC:
        // The read-only log would take the page's colour; it stays white.
        if ((HWND)lparam == log_control && log_control) {
            SetBkColor((HDC)wparam, RGB(255, 255, 255));
            return (INT_PTR)GetStockObject(WHITE_BRUSH);
        }
        return FALSE;
    case WM_DESTROY:
        initialised = false;
        test_running = false;
        account_page = NULL;
        log_control = NULL;
        return FALSE;
    }
    return FALSE;
}

void account_enable_controls(int enable)
{
    if (!account_page)
        return;
    test_running = !enable;
    for (int id : INPUTS)
        EnableWindow(GetDlgItem(account_page, id), enable != 0);
    dialog_set_text(account_page, IDC_ACCOUNT_TEST, enable ? "テスト" : "中止");
}

void account_show_found(int security, int use_apop)
{
    if (!account_page)
        return;
    SendDlgItemMessageA(account_page, IDC_ACCOUNT_SECURITY, CB_SETCURSEL, (WPARAM)security, 0);
    sheet_set_check(account_page, IDC_ACCOUNT_USEAPOP, use_apop);
    sheet_page_changed(account_page);
}

void log_append(const char* text)
{
    if (log_control)
        sheet_append_text(log_control, text);
}

// A sender or subject may hold what code page 932 cannot: it goes in as
// UTF-16. A caret past the end is put at the end, in whatever units.
void log_append_utf8(const char* text)
{
    if (!log_control)
        return;
    static wchar_t wide[LOG_UTF8_CAPACITY];
    wide_from_utf8(text, wide, LOG_UTF8_CAPACITY);
    SendMessageW(log_control, EM_SETSEL, (WPARAM)INT_MAX, (LPARAM)INT_MAX);
    SendMessageW(log_control, EM_REPLACESEL, FALSE, (LPARAM)wide);
}

void log_clear(void)
{
    if (log_control)
        SetWindowTextW(log_control, L"");
}
