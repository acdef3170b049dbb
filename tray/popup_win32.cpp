// The new-mail popup: a modeless dialog without a caption, always on top,
// kept alive while the option is on. Between announcements it waits
// minimised, hidden and off the screen.
//
// The dialog's template scales with its font at the display's DPI; what is
// given in pixels (the button's icon, the place off the screen) is scaled
// by the DPI of the popup's monitor, and taken anew when that changes.
#include <windows.h>

#include "core/app_win32.h"
#include "core/controller.h"
#include "core/dpi_win32.h"
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
    HICON icon = (HICON)LoadImageA(app_instance, MAKEINTRESOURCEA(IDI_CORVINA), IMAGE_ICON, size,
                                   size, 0);
    SendDlgItemMessageA(popup, IDC_POPUP_MAIL, BM_SETIMAGE, IMAGE_ICON, (LPARAM)icon);
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
        CreateDialogParamA(app_instance, MAKEINTRESOURCEA(IDD_POPUP), main_window, popup_proc, 0);
    if (!popup)
        return;
    SetWindowLongPtrA(popup, GWL_EXSTYLE, GetWindowLongPtrA(popup, GWL_EXSTYLE) | WS_EX_TOPMOST);
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

// Column 0 is the left edge of the work area, 6 the right edge; rows likewise.
void popup_show(const char* heading, const char* text)
{
    if (!popup)
        return;
    SendDlgItemMessageA(popup, IDC_POPUP_ICON, STM_SETICON, (WPARAM)state_icons[POPUP_ICON], 0);
    SetDlgItemTextA(popup, IDC_POPUP_TITLE, heading);
    SetDlgItemTextA(popup, IDC_POPUP_TEXT, text);

    RECT work;
    SystemParametersInfoA(SPI_GETWORKAREA, 0, &work, 0);
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

    ShowWindow(popup, SW_SHOWNOACTIVATE);
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
