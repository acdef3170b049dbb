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
#include "pop3/net.h"
#include "pop3/uidl_store.h"
#include "res/resource.h"
#include "settings/settings.h"
#include "tray/menu.h"
#include "tray/popup.h"
#include "tray/tray.h"
#include "tray/tray_win32.h"
#include "ui/pages_win32.h"

HINSTANCE app_instance;
HWND main_window;

static const char MUTEX_NAME[] = "CORVINA IS ALREADY RUNNING!";
static const char CLASS_NAME[] = "corvinaClass";
static const char WINDOW_TITLE[] = "corvina";

static HANDLE single_instance_mutex;
static UINT taskbar_created_message;
static OSVERSIONINFOA os_version;

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
    MessageBoxA(main_window, text, caption, MB_OK | MB_ICONERROR | MB_TOPMOST);
}

static bool ini_file_exists(void)
{
    DWORD attributes = GetFileAttributesA(ini_path);
    return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

// Returns false to make the window's creation fail, which ends the program.
static bool on_create(HWND window)
{
    main_window = window;
    taskbar_created_message = RegisterWindowMessageA("TaskbarCreated");
    load_default_icons();
    menu_create();
    if (tray_add(state_icons[WAIT_ICON]) != 0)
        return false;
    if (!ini_file_exists()) {
        // A file named on the command line must exist; without one this is
        // the first start, and the settings sheet opens on the defaults.
        if (ini_path_given) {
            tray_remove(); // the program ends silently, leaving no icon behind
            return false;
        }
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
        case IDM_EXIT:
            SendMessageA(window, WM_CLOSE, 0, 0);
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
    return DefWindowProcA(window, message, wparam, lparam);
}

static HWND create_main_window(void)
{
    WNDCLASSA window_class = {};
    window_class.style = CS_HREDRAW | CS_VREDRAW;
    window_class.lpfnWndProc = main_window_proc;
    window_class.hInstance = app_instance;
    window_class.hIcon = LoadIconA(app_instance, MAKEINTRESOURCEA(IDI_CORVINA));
    window_class.hCursor = LoadCursorA(NULL, IDC_ARROW);
    window_class.hbrBackground = (HBRUSH)(COLOR_MENU + 1);
    window_class.lpszClassName = CLASS_NAME;
    if (!RegisterClassA(&window_class))
        return NULL;
    // Never shown: a zero-size pop-up without the visible style.
    return CreateWindowExA(0, CLASS_NAME, WINDOW_TITLE, WS_POPUP, CW_USEDEFAULT, CW_USEDEFAULT, 0,
                           0, NULL, NULL, app_instance, NULL);
}

static void locate_program(void)
{
    char program_file[MAX_PATH + 1];
    DWORD length = GetModuleFileNameA(NULL, program_file, MAX_PATH);
    program_file[length < MAX_PATH ? length : MAX_PATH] = '\0';
    settings_locate(program_file);
}

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR command_line, int)
{
    // A second copy ends silently, without a window or a message.
    SetLastError(ERROR_SUCCESS);
    single_instance_mutex = CreateMutexA(NULL, TRUE, MUTEX_NAME);
    if (!single_instance_mutex || GetLastError() != ERROR_SUCCESS)
        return 0;

    app_instance = instance;
    os_version.dwOSVersionInfoSize = sizeof os_version;
    if (!GetVersionExA(&os_version))
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
    parse_command_line(command_line);

    if (!create_main_window())
        return 0;
    if (settings.USEUIDL)
        uidl_load();

    MSG message;
    while (GetMessageA(&message, NULL, 0, 0) > 0) {
        if (!IsDialogMessageA(main_window, &message)) {
            TranslateMessage(&message);
            DispatchMessageA(&message);
        }
    }
    return (int)message.wParam;
}
