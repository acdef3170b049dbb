// The probe's own task-bar window: it receives every Shell_NotifyIcon call
// of every program in the prefix and keeps what the shell would show.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

struct Balloon {
    std::wstring title;
    std::wstring text;
    unsigned timeout;
    unsigned flags;
};

// One notification icon, keyed by its owner window and id.
struct TrayIcon {
    HWND owner;
    std::wstring owner_class; // as it was when the icon came: the owner may be gone
    unsigned uid;
    bool present;
    std::wstring tip;
    int image; // index into the image table, -1 when the icon has none
    unsigned callback;
    unsigned adds, modifies, deletes;
    std::vector<Balloon> balloons;
};

// One Shell_NotifyIcon call as it arrived, in order.
struct TrayEvent {
    unsigned seq;
    DWORD tick;
    unsigned message; // NIM_ADD, NIM_MODIFY, NIM_DELETE, ...
    HWND owner;
    unsigned uid;
    unsigned flags;
    bool accepted;
    int image;        // the icon after the call
    std::wstring tip; // the tool tip after the call
};

// Creates the window on a thread of its own once Wine's explorer has made
// its task bar, and checks that the shell now finds ours. False with a
// reason when that does not hold.
bool tray_listener_start(std::string* error);

std::vector<TrayIcon> tray_icons(unsigned* last_seq);
std::vector<TrayEvent> tray_events_since(unsigned seq);

// A restarted task bar knows no icons.
void tray_forget_icons(void);
// The next count adds are refused, as by a shell that cannot take them.
void tray_refuse_adds(unsigned count);

// Sends the icon to our own window through Shell_NotifyIconW, so its image
// is taken exactly as the shell receives a program's icon. Returns the image
// index, or -1.
int tray_capture_icon(HICON icon);

// Reference images: a captured image gets a name that state reports.
void tray_name_image(int image, const std::wstring& name);
// The reference name of an image, "other:<checksum>" when it has none, or
// an empty text for no image.
std::wstring tray_image_name(int image);
