// The settings property sheet: five pages that edit the one settings record
// in place, the About page, and the control helpers every page uses.
//
// The sheet works on the live record. A byte copy taken before it opens is
// put back on Cancel, which undoes everything a page wrote early (the
// connection test's account fields, the position picker). The sheet's modal
// loop keeps dispatching the main window's timer and socket messages, which
// is what lets a connection test run while it is open.
//
// OK saves from inside the sheet: the pages store their fields in page order
// and the last of them writes the INI file, so a save that fails can keep the
// sheet open, everything entered still in it. The sheet opens in the middle
// of the work area of the monitor that shows the tray icon.
#include <windows.h>

#include <commctrl.h>
#include <prsht.h>
#include <string.h>

#include "core/app_win32.h"
#include "core/text.h"
#include "core/wide_win32.h"
#include "res/resource.h"
#include "res/sheet_resource.h"
#include "version.h"
#include "settings/save_result.h"
#include "settings/settings.h"
#include "tray/tray_win32.h"
#include "ui/pages_win32.h"
#include "ui/sheet.h"

static const char SHEET_CAPTION[] = "corvina のプロパティ";
static const char VERSION_TEXT[] = "corvina v" CORVINA_VERSION;
static const wchar_t PAGE_CLASS[] = L"#32770"; // the dialog class; every page is one
static const char ERROR_CAPTION[] = "corvina エラー";

enum {
    PAGE_COUNT = 5,
    STORING_PAGES = 4, // the About page stores nothing
    ACCOUNT_PAGE = 1,
    CLASS_NAME_CAPACITY = 100,
    TITLE_MAX = 63,
    FAILURE_TEXT_CAPACITY = 1024
};

static const struct {
    const char* title;
    int template_id;
    DLGPROC procedure;
} PAGES[PAGE_COUNT] = {
    {"動作設定", IDD_NOTIFY_PAGE, notify_page_proc},
    {"アカウント設定", IDD_ACCOUNT_PAGE, account_page_proc},
    {"通信設定", IDD_TIMING_PAGE, timing_page_proc},
    {"アイコン設定", IDD_ICON_PAGE, icon_page_proc},
    {"About", IDD_ABOUT_PAGE, about_page_proc},
};

static HWND sheet_window; // only while the sheet is open
static Settings snapshot;
static bool saved;       // OK wrote the INI file
static int start_page;   // for the next opening only

void sheet_start_on_account(void)
{
    start_page = ACCOUNT_PAGE;
}

// Centred on the work area of the monitor where the tray icon is, or the
// cursor where the shell cannot tell; held inside it where it is too large.
static void centre_on_work_area(HWND sheet)
{
    POINT anchor;
    RECT icon;
    if (tray_icon_rect(&icon)) {
        anchor.x = (icon.left + icon.right) / 2;
        anchor.y = (icon.top + icon.bottom) / 2;
    } else if (!GetCursorPos(&anchor)) {
        anchor.x = anchor.y = 0;
    }
    MONITORINFO monitor = {};
    monitor.cbSize = sizeof monitor;
    RECT frame;
    if (!GetMonitorInfoW(MonitorFromPoint(anchor, MONITOR_DEFAULTTONEAREST), &monitor) ||
        !GetWindowRect(sheet, &frame))
        return;
    const RECT& area = monitor.rcWork;
    int width = frame.right - frame.left, height = frame.bottom - frame.top;
    int x = area.left + (area.right - area.left - width) / 2;
    int y = area.top + (area.bottom - area.top - height) / 2;
    SetWindowPos(sheet, NULL, x > area.left ? x : area.left, y > area.top ? y : area.top, 0, 0,
                 SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

static WORD* after_name_or_ordinal(WORD* at)
{
    if (*at == 0xFFFF)
        return at + 2;
    while (*at++)
        ;
    return at;
}

// The frame measures its pages in dialog units of its own font, "MS Shell
// Dlg", which is close to the pages' "Yu Gothic UI" on a Japanese Windows
// only: elsewhere the pages come out wider than the frame and lose their
// right edge, buttons included. So the frame's template, a copy made for
// this call, takes the pages' font; the two names are of one length, so the
// face is rewritten in place and nothing behind it moves.
static void give_frame_the_page_font(void* frame_template)
{
    static const wchar_t FRAME_FACE[] = L"MS Shell Dlg", PAGE_FACE[] = L"Yu Gothic UI";
    static_assert(sizeof FRAME_FACE == sizeof PAGE_FACE, "the face is replaced in place");
    WORD* at = (WORD*)frame_template;
    bool extended = at[1] == 0xFFFF; // DLGTEMPLATEEX: its signature follows its version
    DWORD style;
    memcpy(&style, extended ? at + 6 : at, sizeof style);
    if (!(style & DS_SETFONT))
        return;
    at = after_name_or_ordinal(at + (extended ? 13 : 9)); // past the menu
    at = after_name_or_ordinal(at);                       // and the class
    while (*at++) // and the title
        ;
    WORD* face = at + (extended ? 3 : 1); // points, then (extended) weight, italic, charset
    if (memcmp(face, FRAME_FACE, sizeof FRAME_FACE) != 0)
        return;
    at[0] = 9; // points, as the pages have them
    if (extended)
        ((BYTE*)at)[5] = SHIFTJIS_CHARSET;
    memcpy(face, PAGE_FACE, sizeof PAGE_FACE);
}

static int CALLBACK sheet_callback(HWND sheet, UINT message, LPARAM parameter)
{
    if (message == PSCB_PRECREATE)
        give_frame_the_page_font((void*)parameter);
    if (message == PSCB_INITIALIZED) {
        sheet_window = sheet;
        // No "?" button in the caption: the pages offer no context help.
        LONG_PTR style = GetWindowLongPtrW(sheet, GWL_EXSTYLE);
        SetWindowLongPtrW(sheet, GWL_EXSTYLE, style & ~(LONG_PTR)WS_EX_CONTEXTHELP);
        centre_on_work_area(sheet);
    }
    return 0;
}

int sheet_show(void)
{
    wchar_t titles[PAGE_COUNT][TITLE_MAX + 1];
    PROPSHEETPAGEW pages[PAGE_COUNT];
    for (int i = 0; i < PAGE_COUNT; i++) {
        wide_from_cp932(PAGES[i].title, titles[i], TITLE_MAX + 1);
        pages[i] = PROPSHEETPAGEW();
        pages[i].dwSize = sizeof pages[i];
        pages[i].dwFlags = PSP_USETITLE;
        pages[i].hInstance = app_instance;
        pages[i].pszTemplate = MAKEINTRESOURCEW(PAGES[i].template_id);
        pages[i].pfnDlgProc = PAGES[i].procedure;
        pages[i].pszTitle = titles[i];
    }
    wchar_t caption[TITLE_MAX + 1];
    wide_from_cp932(SHEET_CAPTION, caption, TITLE_MAX + 1);
    PROPSHEETHEADERW header = {};
    header.dwSize = sizeof header;
    header.dwFlags = PSH_PROPSHEETPAGE | PSH_NOAPPLYNOW | PSH_USEICONID | PSH_USECALLBACK;
    header.hwndParent = NULL; // a top-level window of its own
    header.hInstance = app_instance;
    header.pszIcon = MAKEINTRESOURCEW(IDI_CORVINA);
    header.pszCaption = caption;
    header.nPages = PAGE_COUNT;
    header.nStartPage = (UINT)start_page;
    start_page = 0;
    header.ppsp = pages;
    header.pfnCallback = sheet_callback;

    settings_applied = 0;
    saved = false;
    memcpy(&snapshot, &settings, sizeof settings);
    INT_PTR result = PropertySheetW(&header);
    sheet_window = NULL;

    if (saved)
        return 0;
    memcpy(&settings, &snapshot, sizeof settings);
    settings_applied = 0; // a save that failed, then Cancel
    return (int)result;
}

// Walks from OK forward to the last sibling and from OK back to the first:
// OK, Cancel and the tab strip follow the flag, the pages stay enabled.
static void enable_unless_page(HWND window, int enable)
{
    wchar_t class_name[CLASS_NAME_CAPACITY];
    if (GetClassNameW(window, class_name, CLASS_NAME_CAPACITY) == 0)
        class_name[0] = L'\0';
    if (lstrcmpW(class_name, PAGE_CLASS) != 0)
        EnableWindow(window, enable != 0);
}

void sheet_enable_buttons(int enable)
{
    if (!sheet_window)
        return;
    HWND ok = GetDlgItem(sheet_window, IDOK);
    for (HWND window = ok; window; window = GetWindow(window, GW_HWNDNEXT))
        enable_unless_page(window, enable);
    for (HWND window = ok; window; window = GetWindow(window, GW_HWNDPREV))
        enable_unless_page(window, enable);
    // The close box follows Cancel; the account page also refuses to be
    // cancelled meanwhile, which covers Esc and Alt+F4.
    EnableMenuItem(GetSystemMenu(sheet_window, FALSE), SC_CLOSE,
                   MF_BYCOMMAND | (enable ? MF_ENABLED : MF_GRAYED));
}

void sheet_page_changed(HWND page)
{
    SendMessageW(GetParent(page), PSM_CHANGED, (WPARAM)page, 0);
}

INT_PTR save_failed(HWND page, const char* what, const char* file, int result)
{
    char text[FAILURE_TEXT_CAPACITY];
    text_copy(text, sizeof text, what);
    text_append(text, sizeof text, "\r\n\r\n");
    text_append(text, sizeof text, file);
    text_append(text, sizeof text, "\r\n\r\n");
    text_append(text, sizeof text, save_result_text(result));
    message_box(GetParent(page), text, ERROR_CAPTION, MB_OK | MB_ICONERROR);
    SetWindowLongPtrW(page, DWLP_MSGRESULT, PSNRET_INVALID_NOCHANGEPAGE);
    return TRUE;
}

// Pages store in page order and only pages that were shown exist: the last
// storing page that exists is the last to store.
static bool last_to_store(HWND page)
{
    HWND sheet = GetParent(page);
    for (int index = STORING_PAGES - 1; index >= 0; index--) {
        if (HWND existing = (HWND)SendMessageW(sheet, PSM_INDEXTOHWND, (WPARAM)index, 0))
            return existing == page;
    }
    return false;
}

INT_PTR sheet_apply_succeeded(HWND page)
{
    if (last_to_store(page)) {
        int result = settings_save();
        if (result != SAVE_DONE)
            return save_failed(page, "設定を保存できませんでした。", ini_path, result);
        saved = true;
    }
    SetWindowLongPtrW(page, DWLP_MSGRESULT, PSNRET_NOERROR);
    return TRUE;
}

void sheet_hold_in_range(HWND page, int id, int minimum, int maximum, const char* fallback)
{
    if (!SendDlgItemMessageW(page, id, EM_GETMODIFY, 0, 0))
        return;
    int32_t value = sheet_get_int(page, id, FOCUS_READ_MAX);
    if (value < minimum || value > maximum)
        dialog_set_text(page, id, fallback);
}

void sheet_limit_text(HWND page, int id, int bytes)
{
    SendDlgItemMessageW(page, id, EM_LIMITTEXT, (WPARAM)bytes, 0);
}

// Where each character of text starts, in units of the text and in bytes of
// code page 932, up to its end; returns their count.
static int character_starts(const wchar_t* text, int* units, int* bytes)
{
    int count = 0, unit = 0, offset = 0;
    for (; text[unit] != L'\0'; count++) {
        units[count] = unit;
        bytes[count] = offset;
        int size = 0;
        offset += cp932_character_size(text + unit, &size);
        unit += size;
    }
    units[count] = unit;
    bytes[count] = offset;
    return count;
}

// An edit's limit counts characters, and the settings count bytes of code
// page 932. When typing or pasting leaves more bytes than the limit, the
// characters just put in (those before the caret) give way, as an edit of
// bytes would refuse them. The limit binds only the user: text the program
// sets (a stored value wider than its box, say) stays whole, and setting
// text clears the modified flag that typing sets.
void sheet_hold_byte_limit(HWND edit)
{
    int limit = (int)SendMessageW(edit, EM_GETLIMITTEXT, 0, 0);
    if (limit <= 0 || limit > BYTE_LIMIT_MAX || !SendMessageW(edit, EM_GETMODIFY, 0, 0))
        return;
    wchar_t text[2 * BYTE_LIMIT_MAX + 2];
    if (GetWindowTextW(edit, text, 2 * BYTE_LIMIT_MAX + 2) == 0)
        return;
    int units[2 * BYTE_LIMIT_MAX + 2], bytes[2 * BYTE_LIMIT_MAX + 2];
    int count = character_starts(text, units, bytes);
    if (bytes[count] <= limit)
        return;
    DWORD caret = 0;
    SendMessageW(edit, EM_GETSEL, 0, (LPARAM)&caret);
    int caret_index = 0;
    while (caret_index < count && units[caret_index] < (int)caret)
        caret_index++;

    int excess = bytes[count] - limit;
    int first = caret_index; // the characters first .. caret_index - 1 go
    while (first > 0 && bytes[caret_index] - bytes[first] < excess)
        first--;
    if (bytes[caret_index] - bytes[first] < excess) {
        // Not enough before the caret: keep the whole characters that fit.
        int kept = 0;
        while (kept < count && bytes[kept + 1] <= limit)
            kept++;
        text[units[kept]] = L'\0';
        SetWindowTextW(edit, text);
        SendMessageW(edit, EM_SETSEL, (WPARAM)units[kept], (LPARAM)units[kept]);
        return;
    }
    memmove(text + units[first], text + units[caret_index],
            ((size_t)(units[count] - units[caret_index]) + 1) * sizeof(wchar_t));
    SetWindowTextW(edit, text);
    SendMessageW(edit, EM_SETSEL, (WPARAM)units[first], (LPARAM)units[first]);
}

void sheet_set_int(HWND page, int id, int32_t value)
{
    SetDlgItemInt(page, id, (UINT)value, TRUE);
}

int32_t sheet_get_int(HWND page, int id, int max_bytes)
{
    char text[INT_READ_MAX + 1];
    if (max_bytes > INT_READ_MAX)
        max_bytes = INT_READ_MAX;
    dialog_get_text(page, id, text, max_bytes + 1);
    return text_parse_decimal32(text);
}

bool sheet_get_check(HWND page, int id)
{
    return IsDlgButtonChecked(page, id) == BST_CHECKED;
}

void sheet_set_check(HWND page, int id, int32_t value)
{
    CheckDlgButton(page, id, value ? BST_CHECKED : BST_UNCHECKED);
}

void sheet_set_updown_range(HWND page, int id, int minimum, int maximum)
{
    SendDlgItemMessageW(page, id, UDM_SETRANGE32, (WPARAM)minimum, (LPARAM)maximum);
}

void sheet_append_text(HWND edit, const char* text)
{
    wchar_t wide[WINDOW_TEXT_MAX + 1];
    wide_from_cp932(text, wide, WINDOW_TEXT_MAX + 1);
    int end = GetWindowTextLengthW(edit);
    SendMessageW(edit, EM_SETSEL, (WPARAM)end, (LPARAM)end);
    SendMessageW(edit, EM_REPLACESEL, FALSE, (LPARAM)wide);
}

// The About page only puts the version into its text; it stores nothing.
INT_PTR CALLBACK about_page_proc(HWND page, UINT message, WPARAM, LPARAM)
{
    if (message == WM_INITDIALOG) {
        dialog_set_text(page, IDC_ABOUT_VERSION, VERSION_TEXT);
        return TRUE;
    }
    return FALSE;
}
