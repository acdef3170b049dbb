// Process-wide handles of the Windows program, owned by the entry point.
#pragma once

#include <windows.h>

// Private window messages of the hidden main window.
enum {
    WM_LOOKUP_DONE = WM_APP + 1,   // a host-name lookup finished
    WM_SOCKET_NOTIFY = WM_APP + 2, // the session's socket has data or was closed
    WM_TRAYNOTIFY = WM_APP + 3     // a mouse message on the tray icon
};

// The account page's "自動設定" asks the main window, as its test button
// asks with the tray menu's IDM_CHECK.
enum { IDM_FIND_SETTINGS = 2004 };

extern HINSTANCE app_instance;
extern HWND main_window;
