// The new-mail popup: a modeless dialog without a caption, always on top,
// kept alive while the option is on. Between announcements it waits
// minimised, hidden and off the screen.
//
// The dialog's template scales with its font at the display's DPI; what is
// given in pixels (the button's icon, the place off the screen) is scaled
// by the DPI of the popup's monitor, and taken anew when that changes.
//
// When the announcement names the new messages, the popup grows wider and
// one line taller for each, the buttons moving below them. Each line is a
// static of its own, so a screen reader reads it whole while its drawing
// ends in "…" at the popup's width. Every text goes in as UTF-16.
#include <windows.h>

#include "core/app_win32.h"
#include "core/controller.h"
#include "core/dpi_win32.h"
#include "core/wide_win32.h"
#include "res/resource.h"
#include "settings/settings.h"
#include "tray/popup.h"
#include "tray/popup_place.h"
#include "tray/tray_win32.h"

static HWND popup;
static HBRUSH background_brush;
static RECT popup_rect; // only its width and height are used
static HICON button_icon;

static const int OFF_SCREEN_X = -300;
static const int OFF_SCREEN_Y = 10000;

// The layout in dialog units: the template's, and what the listed lines add.
enum {
    BASE_WIDTH = 120,
    BASE_HEIGHT = 50,
    LISTING_WIDTH = 200,
    LINE_HEIGHT = 10,
    LINES_TOP = 28,
    LINE_SLOTS = POPUP_MAIL_LINES + 1, // the messages, then "ほか N 通"
    WIDE_TEXT_CAPACITY = POPUP_LINE_CAPACITY
};

static wchar_t wide_text[WIDE_TEXT_CAPACITY];

static void replace_brush(void)
{
    if (background_brush)
        DeleteObject(background_brush);
    background_brush = CreateSolidBrush(settings.POPUPDLG_BACK_COLOR);
}

static void move_off_screen(void)
{
    int dpi = dpi_of_window(popup);
    SetWindowPos(popup, NULL, dpi_scale(OFF_SCREEN_X, dpi), dpi_scale(OFF_SCREEN_Y, dpi), 0, 0,
                 SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

// The mail button shows the program's icon beside its text, at the small
// icon size of the popup's DPI.
static void set_button_icon(int dpi)
{
    int size = dpi_metric(SM_CXSMICON, dpi);
    HICON icon = (HICON)LoadImageW(app_instance, MAKEINTRESOURCEW(IDI_CORVINA), IMAGE_ICON, size,
                                   size, 0);
    SendDlgItemMessageW(popup, IDC_POPUP_MAIL, BM_SETIMAGE, IMAGE_ICON, (LPARAM)icon);
    if (button_icon)
        DestroyIcon(button_icon);
    button_icon = icon;
}

static INT_PTR CALLBACK popup_proc(HWND window, UINT message, WPARAM wparam, LPARAM lparam)
{
    switch (message) {
    case WM_INITDIALOG:
        GetWindowRect(window, &popup_rect);
        replace_brush();
        return TRUE;
    case WM_CLOSE:
        popup_destroy();
        return FALSE;
    case WM_DPICHANGED:
        // The dialog manager scales the template; the size it gets is the one suggested.
        popup_rect = *(const RECT*)lparam;
        set_button_icon(HIWORD(wparam));
        return FALSE;
    case WM_COMMAND:
        switch (LOWORD(wparam)) {
        case IDOK:
            popup_hide();
            return TRUE;
        case IDC_POPUP_MAIL:
            dispatch_event(MailProgramRequest);
            return TRUE;
        case IDC_POPUP_CLOSE:
            dispatch_event(Acknowledge);
            return TRUE;
        }
        return FALSE;
    case WM_LBUTTONUP:
    case WM_RBUTTONUP:
        dispatch_event(Acknowledge);
        return TRUE;
    case WM_CTLCOLORDLG:
        if (settings.USE_SYSTEMCOLOR)
            return FALSE;
        return (INT_PTR)background_brush;
    case WM_CTLCOLORSTATIC:
        if (settings.USE_SYSTEMCOLOR)
            return FALSE;
        SetBkMode((HDC)wparam, TRANSPARENT);
        SetTextColor((HDC)wparam, settings.POPUPDLG_TEXT_COLOR);
        return (INT_PTR)background_brush;
    }
    return FALSE;
}

void popup_create(void)
{
    if (popup)
        return;
    popup =
        CreateDialogParamW(app_instance, MAKEINTRESOURCEW(IDD_POPUP), main_window, popup_proc, 0);
    if (!popup)
        return;
    SetWindowLongPtrW(popup, GWL_EXSTYLE, GetWindowLongPtrW(popup, GWL_EXSTYLE) | WS_EX_TOPMOST);
    set_button_icon(dpi_of_window(popup));
    move_off_screen();
    // Shown without taking the focus from whatever the user is doing.
    ShowWindow(popup, SW_SHOWNOACTIVATE);
}

void popup_destroy(void)
{
    if (popup)
        DestroyWindow(popup);
    popup = NULL;
    if (background_brush)
        DeleteObject(background_brush);
    background_brush = NULL;
    if (button_icon)
        DestroyIcon(button_icon);
    button_icon = NULL;
}

static void set_text_cp932(int id, const char* text)
{
    wide_from_cp932(text, wide_text, WIDE_TEXT_CAPACITY);
    SetDlgItemTextW(popup, id, wide_text);
}

static void place(int id, int x, int y, int width, int height)
{
    RECT r = {x, y, x + width, y + height};
    MapDialogRect(popup, &r);
    SetWindowPos(GetDlgItem(popup, id), NULL, r.left, r.top, r.right - r.left, r.bottom - r.top,
                 SWP_NOZORDER | SWP_NOACTIVATE);
}

// The template's layout without listed lines; with them the popup widens,
// the texts with it, and the buttons, centred, move below the lines.
static void lay_out(int lines)
{
    int width = lines > 0 ? LISTING_WIDTH : BASE_WIDTH;
    int below = LINE_HEIGHT * lines, shift = (width - BASE_WIDTH) / 2;
    place(IDC_POPUP_TITLE, 28, 4, width - 35, 8);
    place(IDC_POPUP_TEXT, 28, 16, width - 35, 8);
    for (int i = 0; i < LINE_SLOTS; i++) {
        place(IDC_POPUP_LINE_FIRST + i, 6, LINES_TOP + LINE_HEIGHT * i, width - 12, 8);
        ShowWindow(GetDlgItem(popup, IDC_POPUP_LINE_FIRST + i), i < lines ? SW_SHOWNA : SW_HIDE);
    }
    place(IDC_POPUP_MAIL, 16 + shift, 28 + below, 44, 16);
    place(IDC_POPUP_CLOSE, 64 + shift, 28 + below, 44, 16);

    RECT client = {0, 0, width, BASE_HEIGHT + below}, inside, outside;
    MapDialogRect(popup, &client);
    GetClientRect(popup, &inside);
    GetWindowRect(popup, &outside);
    int frame_width = (outside.right - outside.left) - inside.right;
    int frame_height = (outside.bottom - outside.top) - inside.bottom;
    SetWindowPos(popup, NULL, 0, 0, client.right + frame_width, client.bottom + frame_height,
                 SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
    GetWindowRect(popup, &popup_rect);
}

static void list_mail(const PopupMail* mail)
{
    int lines = 0;
    for (; lines < mail->count && lines < POPUP_MAIL_LINES; lines++) {
        wide_from_utf8(mail->lines[lines], wide_text, WIDE_TEXT_CAPACITY);
        SetDlgItemTextW(popup, IDC_POPUP_LINE_FIRST + lines, wide_text);
    }
    if (lines > 0 && mail->rest[0] != '\0')
        set_text_cp932(IDC_POPUP_LINE_FIRST + lines++, mail->rest);
    lay_out(lines);
}

// Column 0 is the left edge of the work area, 6 the right edge; rows likewise.
void popup_show(const char* heading, const char* text, const PopupMail* mail)
{
    if (!popup)
        return;
    SendDlgItemMessageW(popup, IDC_POPUP_ICON, STM_SETICON, (WPARAM)state_icons[POPUP_ICON], 0);
    set_text_cp932(IDC_POPUP_TITLE, heading);
    set_text_cp932(IDC_POPUP_TEXT, text);
    // Restored first, still off the screen: a minimised window has no size to lay out.
    ShowWindow(popup, SW_SHOWNOACTIVATE);
    list_mail(mail);

    RECT work;
    SystemParametersInfoW(SPI_GETWORKAREA, 0, &work, 0);
    // The balloon, a toast in the same corner on Windows 10 and 11, would
    // land on the popup's buttons.
    bool balloon = settings.USE_BALOON && shell_version >= 500;
    int dpi = dpi_of_window(popup);
    int toast_width = balloon ? dpi_scale(TOAST_WIDTH, dpi) : 0;
    int toast_height = balloon ? dpi_scale(TOAST_HEIGHT, dpi) : 0;
    ScreenBox place =
        popup_place({work.left, work.top, work.right, work.bottom},
                    popup_rect.right - popup_rect.left, popup_rect.bottom - popup_rect.top,
                    settings.POPUPDLG_X, settings.POPUPDLG_Y, toast_width, toast_height);
    SetWindowPos(popup, HWND_TOPMOST, place.left, place.top, 0, 0, SWP_NOSIZE | SWP_NOACTIVATE);
}

void popup_hide(void)
{
    if (!popup || IsIconic(popup))
        return;
    move_off_screen();
    ShowWindow(popup, SW_MINIMIZE);
    ShowWindow(popup, SW_HIDE);
}

void popup_refresh_colors(void)
{
    replace_brush();
    if (popup)
        InvalidateRect(popup, NULL, TRUE);
}

void popup_enable_for_state(CheckState state)
{
    if (!popup)
        return;
    BOOL enable = state != Checking && state != SettingsOpen && state != Testing &&
                  state != MailProgramRunning;
    EnableWindow(popup, enable);
    EnableWindow(GetDlgItem(popup, IDC_POPUP_MAIL), enable);
    EnableWindow(GetDlgItem(popup, IDC_POPUP_CLOSE), enable);
}
