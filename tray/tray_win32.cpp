// The notification-area icon.
//
// One icon record lives for the whole run and every change is written into
// it before it is sent, so after the task bar restarts the icon comes back
// with the image and tool tip it had. The record uses the first-version
// layout; only the balloon needs the second.
//
// The built-in state icons follow the task bar: drawn for a light or a dark
// one as Windows says it is (SystemUsesLightTheme), at the small-icon size
// of the display's scale, both taken again when they change.
#include <windows.h>

#include <shlwapi.h>
#include <string.h>

#include "core/app_win32.h"
#include "core/dpi_win32.h"
#include "core/text.h"
#include "core/wide_win32.h"
#include "res/resource.h"
#include "settings/settings.h"
#include "tray/tray.h"
#include "tray/tray_win32.h"

HICON state_icons[ICON_SLOT_COUNT];
int shell_version;

static NOTIFYICONDATAW tray_record;
static IconSlot shown_slot;
static int icons_dpi;      // the scale the icons are loaded for; 0 before the first load
static bool dark_task_bar; // the tray icons are the ones drawn for a dark task bar

enum { TRAY_ICON_ID = 1, TIP_MAX = 63, BALLOON_TEXT_MAX = 255, BALLOON_TITLE_MAX = 63 };
static char tip_shown[TIP_MAX + 1]; // as the program gave it, cut; the record holds it wide

static const int ICON_RESOURCES[ICON_SLOT_COUNT] = {IDI_CORVINA, IDI_NORMAL,  IDI_CHECK,
                                                    IDI_ARRIVE,  IDI_FAILURE, IDI_WAIT};

// The popup's icon is the program's own, one drawing for any background.
int icon_resource(IconSlot slot)
{
    int id = ICON_RESOURCES[slot];
    return dark_task_bar && slot != POPUP_ICON ? id + DARK_ICON_OFFSET : id;
}

// The system's icon sizes, 32 and 16 pixels at 96 DPI and more above it:
// the tray asks for the small one at the scale of the display.
int icon_size(IconSlot slot)
{
    if (icons_dpi == 0)
        icons_dpi = dpi_of_window(main_window);
    return dpi_metric(slot == POPUP_ICON ? SM_CXICON : SM_CXSMICON, icons_dpi);
}

// Windows 10 1903 and later say whether the task bar is light; without the
// value (Wine, older Windows) the icons stay the ones drawn for a light one.
static bool task_bar_is_dark(void)
{
    DWORD light = 1, size = sizeof light;
    if (RegGetValueA(
            HKEY_CURRENT_USER, "Software\\Microsoft\\Windows\\CurrentVersion\\Themes\\Personalize",
            "SystemUsesLightTheme", RRF_RT_REG_DWORD, NULL, &light, &size) != ERROR_SUCCESS)
        return false;
    return light == 0;
}

int query_shell_version(void)
{
    int version = 400;
    HMODULE shell = LoadLibraryA("shell32.dll");
    if (!shell)
        return version;
    DLLGETVERSIONPROC get_version =
        (DLLGETVERSIONPROC)(void*)GetProcAddress(shell, "DllGetVersion");
    DLLVERSIONINFO info = {};
    info.cbSize = sizeof info;
    if (get_version && SUCCEEDED(get_version(&info)))
        version = (int)(info.dwMajorVersion * 100 + info.dwMinorVersion);
    FreeLibrary(shell);
    return version;
}

static void replace_icon(int slot, HICON icon)
{
    if (state_icons[slot])
        DestroyIcon(state_icons[slot]);
    state_icons[slot] = icon;
}

void load_default_icons(void)
{
    dark_task_bar = task_bar_is_dark();
    for (int slot = 0; slot < ICON_SLOT_COUNT; slot++) {
        int size = icon_size((IconSlot)slot);
        replace_icon(slot, (HICON)LoadImageA(app_instance,
                                             MAKEINTRESOURCEA(icon_resource((IconSlot)slot)),
                                             IMAGE_ICON, size, size, LR_DEFAULTSIZE));
    }
}

// An icon file that cannot be loaded leaves the slot's icon as it is.
void load_custom_icons(void)
{
    for (int slot = 0; slot < ICON_SLOT_COUNT; slot++) {
        const char* file = settings.icon_file[slot];
        if (file[0] == '\0')
            continue;
        int size = icon_size((IconSlot)slot);
        wchar_t path[MAX_PATH + 1];
        wide_from_cp932(file, path, MAX_PATH + 1);
        HICON icon =
            (HICON)LoadImageW(NULL, path, IMAGE_ICON, size, size, LR_LOADFROMFILE | LR_DEFAULTSIZE);
        if (icon)
            replace_icon(slot, icon);
    }
}

void free_icons(void)
{
    for (int slot = 0; slot < ICON_SLOT_COUNT; slot++) {
        if (state_icons[slot])
            DestroyIcon(state_icons[slot]);
        state_icons[slot] = NULL;
    }
}

static BOOL send_record(DWORD action, UINT flags)
{
    tray_record.uFlags = flags;
    return Shell_NotifyIconW(action, &tray_record);
}

int tray_add(HICON icon)
{
    tray_record = NOTIFYICONDATAW();
    tray_record.cbSize = NOTIFYICONDATAW_V1_SIZE;
    tray_record.hWnd = main_window;
    tray_record.uID = TRAY_ICON_ID;
    tray_record.uCallbackMessage = WM_TRAYNOTIFY;
    tray_record.hIcon = icon;
    text_copy(tip_shown, TIP_MAX + 1, "corvina");
    wide_from_cp932(tip_shown, tray_record.szTip, TIP_MAX + 1);

    // A busy shell answers with a time-out although it may have taken the
    // icon; a modify tells whether it did. A refusal that sets no error must
    // not read the time-out of an earlier attempt.
    for (int attempt = 0; attempt < 3; attempt++) {
        SetLastError(ERROR_SUCCESS);
        if (send_record(NIM_ADD, NIF_MESSAGE | NIF_ICON | NIF_TIP))
            return 0;
        if (GetLastError() != ERROR_TIMEOUT)
            break;
        Sleep(1000);
        if (send_record(NIM_MODIFY, NIF_MESSAGE | NIF_ICON | NIF_TIP))
            return 0;
    }
    message_box(main_window, "corvinaのエラー\r\nアイコンの登録ができませんでした。\r\n",
                "corvina : エラー発生", MB_ICONERROR);
    return -1;
}

void tray_set_icon(IconSlot slot)
{
    shown_slot = slot;
    tray_record.hIcon = state_icons[slot];
    send_record(NIM_MODIFY, NIF_ICON);
}

IconSlot tray_icon_shown(void)
{
    return shown_slot;
}

const char* tray_tip_shown(void)
{
    return tip_shown;
}

void tray_set_tip(const char* text)
{
    if (!text)
        return;
    strncpy(tip_shown, text, TIP_MAX);
    tip_shown[TIP_MAX] = '\0';
    for (int i = 0; i < TIP_MAX; i++) {
        if (tip_shown[i] == '\r' || tip_shown[i] == '\n') {
            tip_shown[i] = '\0';
            break;
        }
    }
    wide_from_cp932(tip_shown, tray_record.szTip, TIP_MAX + 1);
    send_record(NIM_MODIFY, NIF_TIP);
}

void tray_readd(void)
{
    send_record(NIM_ADD, NIF_MESSAGE | NIF_ICON | NIF_TIP);
}

void tray_remove(void)
{
    Shell_NotifyIconW(NIM_DELETE, &tray_record);
}

// The newest message's sender and subject (UTF-8), when there are any, on a
// line of their own before the count; they give way so that the count always
// fits. UTF-16, since a subject may hold what code page 932 cannot.
void tray_balloon(const char* text, const char* headline)
{
    char cut[BALLOON_TEXT_MAX + 1];
    text_copy(cut, sizeof cut, text);
    wchar_t count[BALLOON_TEXT_MAX + 1];
    int count_length = wide_from_cp932(cut, count, BALLOON_TEXT_MAX + 1);
    wchar_t whole[BALLOON_TEXT_MAX + 1];
    int length = 0;
    if (headline[0] != '\0' && count_length < BALLOON_TEXT_MAX) {
        length = wide_from_utf8(headline, whole, BALLOON_TEXT_MAX - count_length);
        whole[length++] = L'\n';
    }
    lstrcpynW(whole + length, count, BALLOON_TEXT_MAX + 1 - length);
    tray_balloon_wide(whole);
}

// A separate second-version record: the balloon is never part of what
// tray_readd sends again.
void tray_balloon_wide(const wchar_t* text)
{
    if (shell_version < 500)
        return;
    NOTIFYICONDATAW balloon = {};
    balloon.cbSize = NOTIFYICONDATAW_V2_SIZE;
    balloon.hWnd = main_window;
    balloon.uID = TRAY_ICON_ID;
    balloon.uFlags = NIF_INFO;
    balloon.uCallbackMessage = WM_TRAYNOTIFY;
    lstrcpynW(balloon.szInfo, text, BALLOON_TEXT_MAX + 1);
    if (IS_HIGH_SURROGATE(balloon.szInfo[BALLOON_TEXT_MAX - 1]))
        balloon.szInfo[BALLOON_TEXT_MAX - 1] = L'\0'; // half a character is none
    wide_from_cp932("新着メールがあります", balloon.szInfoTitle, BALLOON_TITLE_MAX + 1);
    balloon.uTimeout = 30000;
    // Windows keeps it back itself while the user is busy or in quiet time.
    balloon.dwInfoFlags = NIIF_INFO | NIIF_RESPECT_QUIET_TIME;
    Shell_NotifyIconW(NIM_MODIFY, &balloon);
}

// Looked up at run time: Windows Vista's shell has no such call.
bool tray_icon_rect(RECT* rect)
{
    typedef HRESULT(WINAPI * GetRect)(const NOTIFYICONIDENTIFIER*, RECT*);
    HMODULE shell = GetModuleHandleW(L"shell32.dll");
    GetRect get_rect = shell ? (GetRect)(void*)GetProcAddress(shell, "Shell_NotifyIconGetRect")
                             : NULL;
    if (!get_rect)
        return false;
    NOTIFYICONIDENTIFIER icon = {};
    icon.cbSize = sizeof icon;
    icon.hWnd = main_window;
    icon.uID = TRAY_ICON_ID;
    return SUCCEEDED(get_rect(&icon, rect)) && rect->right > rect->left;
}

// Every icon again, built-in and from files, and the tray's image re-sent:
// the icons own no scale or colour of their own once loaded.
static void reload_icons(void)
{
    load_default_icons();
    load_custom_icons();
    tray_set_icon(shown_slot);
}

bool tray_follow_theme(void)
{
    if (task_bar_is_dark() == dark_task_bar)
        return false;
    reload_icons();
    return true;
}

bool tray_follow_dpi(int dpi)
{
    if (dpi <= 0 || dpi == icons_dpi)
        return false;
    icons_dpi = dpi;
    reload_icons();
    return true;
}
