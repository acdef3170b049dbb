// The entry point, the hidden main window and the message loop.
//
// One thread does everything: every timer, menu command, tray mouse message
// and socket notification arrives here as a window message and becomes a
// check-controller event. The order of start-up and shutdown for all
// modules is fixed here.
#include <windows.h>

#include <commctrl.h>

#include "core/app_win32.h"
#include "core/cmdline.h"
#include "core/controller.h"
#include "core/dpi_win32.h"
#include "core/mail_program.h"
#include "core/main_window.h"
#include "core/wide_win32.h"
#include "pop3/net.h"
#include "pop3/uidl_store.h"
#include "res/resource.h"
#include "settings/settings.h"
#include "tray/menu.h"
#include "tray/popup.h"
#include "tray/tray.h"
#include "tray/tray_win32.h"
#include "ui/pages_win32.h"
#include "ui/sheet.h"

HINSTANCE app_instance;
HWND main_window;

static const wchar_t MUTEX_NAME[] = L"CORVINA IS ALREADY RUNNING!";
static const wchar_t CLASS_NAME[] = L"corvinaClass";
static const wchar_t WINDOW_TITLE[] = L"corvina";

// The longest command line Windows passes, in bytes of code page 932.
enum { COMMAND_LINE_CAPACITY = 2 * 32768 };

static HANDLE single_instance_mutex;
static UINT taskbar_created_message;
static OSVERSIONINFOW os_version;

unsigned main_window_set_timer(unsigned id, unsigned milliseconds)
{
    return (unsigned)SetTimer(main_window, id, milliseconds, NULL);
}

void main_window_kill_timer(unsigned id)
{
    KillTimer(main_window, id);
}

void main_window_hide(void)
{
    ShowWindow(main_window, SW_MINIMIZE);
    ShowWindow(main_window, SW_HIDE);
}

void heap_compact(void)
{
    if (os_version.dwPlatformId == VER_PLATFORM_WIN32_NT)
        HeapCompact(GetProcessHeap(), 0);
}

void main_window_error_box(const char* text, const char* caption)
{
    message_box(main_window, text, caption, MB_OK | MB_ICONERROR | MB_TOPMOST);
}

static bool ini_file_exists(void)
{
    wchar_t path[MAX_PATH + 1];
    wide_from_path(ini_path, path, MAX_PATH + 1);
    DWORD attributes = GetFileAttributesW(path);
    return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

// Returns false to make the window's creation fail, which ends the program.
static bool on_create(HWND window)
{
    main_window = window;
    taskbar_created_message = RegisterWindowMessageW(L"TaskbarCreated");
    load_default_icons();
    menu_create();
    if (tray_add(state_icons[WAIT_ICON]) != 0)
        return false;
    if (!ini_file_exists()) {
        // A file named on the command line must exist; without one this is
        // the first start, and the settings sheet opens on the account page
        // with what serves most mailboxes today proposed over the defaults.
        if (ini_path_given) {
            tray_remove(); // the program ends silently, leaving no icon behind
            return false;
        }
        settings_first_start();
        sheet_start_on_account();
        open_settings();
    } else {
        settings_load();
    }
    enter_startup_wait();
    load_custom_icons();
    tray_set_icon(WAIT_ICON);
    if (settings.USE_POPUPDLG)
        popup_create();
    return true;
}

// The mail program keeps running; the seen ids are written only on acknowledge.
static void on_destroy(void)
{
    menu_destroy();
    close_mail_program_handles();
    popup_destroy();
    if (controller.tick_timer != 0) {
        KillTimer(main_window, controller.tick_timer);
        controller.tick_timer = 0;
    }
    if (controller.minute_timer != 0) {
        KillTimer(main_window, controller.minute_timer);
        controller.minute_timer = 0;
    }
    tray_remove();
    free_icons();
    net_cleanup();
    uidl_free();
    ReleaseMutex(single_instance_mutex);
    CloseHandle(single_instance_mutex);
    PostQuitMessage(0);
}

// Socket handler results: 2 ends the session, 1 is handled, 0 is not ours.
static bool session_message_handled(int result)
{
    if (result == NET_SESSION_OVER)
        dispatch_event(SessionOver);
    return result != NET_NOT_MINE;
}

static LRESULT CALLBACK main_window_proc(HWND window, UINT message, WPARAM wparam, LPARAM lparam)
{
    switch (message) {
    case WM_CREATE:
        return on_create(window) ? 0 : -1;
    case WM_DESTROY:
        on_destroy();
        return 0;
    case WM_CLOSE:
        DestroyWindow(window);
        return 0;
    case WM_COMMAND:
        switch (LOWORD(wparam)) {
        case IDM_SETTINGS:
            dispatch_event(SettingsCommand);
            return 0;
        case IDM_CHECK:
            dispatch_event(CheckCommand);
            return 0;
        case IDM_PAUSE:
            toggle_pause();
            return 0;
        case IDM_FIND_SETTINGS:
            find_settings();
            return 0;
        case IDM_EXIT:
            SendMessageW(window, WM_CLOSE, 0, 0);
            return 0;
        }
        break;
    case WM_TIMER:
        if (wparam == controller.tick_timer && wparam != 0) {
            dispatch_event(Tick);
            return 0;
        }
        if (wparam == controller.minute_timer && wparam != 0) {
            dispatch_event(MinuteTick);
            return 0;
        }
        break;
    case WM_LOOKUP_DONE:
        if (session_message_handled(net_on_lookup((uintptr_t)wparam, (uint32_t)lparam)))
            return 0;
        break;
    case WM_SOCKET_NOTIFY:
        if (session_message_handled(net_on_socket_event((uintptr_t)wparam, (uint32_t)lparam)))
            return 0;
        break;
    case WM_POWERBROADCAST:
        // Every wake is announced as automatic; the one that follows a
        // user's input comes after it and changes nothing then.
        if (wparam == PBT_APMSUSPEND)
            controller_suspend();
        else if (wparam == PBT_APMRESUMEAUTOMATIC || wparam == PBT_APMRESUMESUSPEND)
            controller_resume();
        return TRUE;
    case WM_TRAYNOTIFY:
        switch (lparam) {
        case WM_LBUTTONUP:
            dispatch_event(Acknowledge);
            return 0;
        case WM_LBUTTONDBLCLK:
            dispatch_event(MailProgramRequest);
            return 0;
        case WM_RBUTTONUP:
            menu_show();
            return 0;
        }
        break;
    case WM_SETTINGCHANGE:
        // "ImmersiveColorSet" names a change of light or dark; reading the
        // one value is cheaper than trusting the text's form.
        if (tray_follow_theme())
            icon_page_reload_previews();
        break;
    case WM_DPICHANGED:
        // The window is never shown, so the size Windows suggests is of no use.
        if (tray_follow_dpi(LOWORD(wparam)))
            icon_page_reload_previews();
        return 0;
    case WM_DISPLAYCHANGE:
        if (tray_follow_dpi(dpi_of_window(window)))
            icon_page_reload_previews();
        break;
    default:
        // The task bar was restarted: the icon must be registered again.
        if (message == taskbar_created_message && message != 0) {
            tray_readd();
            return 0;
        }
        break;
    }
    return DefWindowProcW(window, message, wparam, lparam);
}

static HWND create_main_window(void)
{
    WNDCLASSW window_class = {};
    window_class.style = CS_HREDRAW | CS_VREDRAW;
    window_class.lpfnWndProc = main_window_proc;
    window_class.hInstance = app_instance;
    window_class.hIcon = LoadIconW(app_instance, MAKEINTRESOURCEW(IDI_CORVINA));
    window_class.hCursor = LoadCursorA(NULL, IDC_ARROW); // an id, no text
    window_class.hbrBackground = (HBRUSH)(COLOR_MENU + 1);
    window_class.lpszClassName = CLASS_NAME;
    if (!RegisterClassW(&window_class))
        return NULL;
    // Never shown: a zero-size pop-up without the visible style.
    return CreateWindowExW(0, CLASS_NAME, WINDOW_TITLE, WS_POPUP, CW_USEDEFAULT, CW_USEDEFAULT, 0,
                           0, NULL, NULL, app_instance, NULL);
}

static void locate_program(void)
{
    wchar_t wide_file[MAX_PATH + 1];
    DWORD length = GetModuleFileNameW(NULL, wide_file, MAX_PATH);
    wide_file[length < MAX_PATH ? length : MAX_PATH] = L'\0';
    char program_file[2 * MAX_PATH + 1];
    cp932_from_wide(wide_file, program_file, sizeof program_file);
    settings_locate(program_file);
    // The INI file and uidl.txt live in the program's folder, whatever its name.
    wchar_t* name = wide_file + lstrlenW(wide_file);
    while (name > wide_file && name[-1] != L'\\')
        name--;
    *name = L'\0';
    wide_path_alias(wide_file);
}

// What follows the program's name on the command line, as the C run-time
// finds it for WinMain: a quoted name runs to its closing quote.
static const char* read_command_line(void)
{
    static char command_line[COMMAND_LINE_CAPACITY];
    const wchar_t* text = GetCommandLineW();
    if (*text == L'"') {
        for (text++; *text != L'\0' && *text != L'"'; text++) {
        }
        if (*text == L'"')
            text++;
    } else {
        while (*text != L'\0' && *text != L' ' && *text != L'\t')
            text++;
    }
    while (*text == L' ' || *text == L'\t')
        text++;
    cp932_from_wide(text, command_line, sizeof command_line);
    return command_line;
}

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int)
{
    // A second copy ends silently, without a window or a message.
    SetLastError(ERROR_SUCCESS);
    single_instance_mutex = CreateMutexW(NULL, TRUE, MUTEX_NAME);
    if (!single_instance_mutex || GetLastError() != ERROR_SUCCESS)
        return 0;

    app_instance = instance;
    os_version.dwOSVersionInfoSize = sizeof os_version;
    if (!GetVersionExW(&os_version))
        os_version.dwPlatformId = 0;
    locate_program();
    ini_path_given = false;
    init_controller();
    main_window_not_yet_hidden = true;
    controller.tick_timer = controller.minute_timer = 0;
    shell_version = query_shell_version();

    INITCOMMONCONTROLSEX controls = {sizeof controls, 0xFF};
    InitCommonControlsEx(&controls);
    net_init();
    settings_reset();
    parse_command_line(read_command_line());

    if (!create_main_window())
        return 0;
    if (settings.USEUIDL)
        uidl_load();

    MSG message;
    while (GetMessageW(&message, NULL, 0, 0) > 0) {
        if (!IsDialogMessageW(main_window, &message)) {
            TranslateMessage(&message);
            DispatchMessageW(&message);
        }
    }
    return (int)message.wParam;
}
