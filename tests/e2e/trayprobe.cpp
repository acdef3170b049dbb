// trayprobe: stands in for the shell and the user beside the program under
// test, in the same Wine prefix and X display.
//
// It owns the "Shell_TrayWnd" window that Wine's shell32 sends every
// Shell_NotifyIcon call to, so it sees the tray icon, tool tip and balloons
// exactly as the shell would; it reads the program's popup, menus and
// message boxes and clicks them. The harness talks to it over standard
// input and output: one command line in, one JSON line out. Every command
// answers at once; waiting for a condition is the harness's job.
//
// Two threads: the tray window's thread only receives the shell's messages,
// so that the program never waits on the probe while a command runs; the
// main thread reads commands.
#include <windows.h>

#include <fcntl.h>
#include <io.h>
#include <shellapi.h>

#include <cstdio>
#include <iostream>

#include "probe/command.h"
#include "probe/controls.h"
#include "probe/input.h"
#include "probe/menu_reader.h"
#include "probe/program_windows.h"
#include "probe/tray_listener.h"

static void icon_fields(Json& reply, const TrayIcon& icon)
{
    reply.begin_object().number("owner", (long long)(UINT_PTR)icon.owner);
    reply.text("owner_class", icon.owner_class).number("uid", icon.uid);
    reply.boolean("present", icon.present).text("tip", icon.tip);
    if (icon.image < 0)
        reply.null("icon");
    else
        reply.text("icon", tray_image_name(icon.image));
    reply.number("callback", icon.callback).number("adds", icon.adds);
    reply.number("modifies", icon.modifies).number("deletes", icon.deletes);
    reply.begin_array("balloons");
    for (const Balloon& balloon : icon.balloons) {
        reply.begin_object().text("title", balloon.title).text("text", balloon.text);
        reply.number("timeout", balloon.timeout).number("flags", balloon.flags).end_object();
    }
    reply.end_array().end_object();
}

static bool cmd_state(const Args&, Json& reply, std::string*)
{
    unsigned seq = 0;
    std::vector<TrayIcon> icons = tray_icons(&seq);
    reply.number("seq", seq).begin_array("icons");
    for (const TrayIcon& icon : icons)
        icon_fields(reply, icon);
    reply.end_array();
    return true;
}

static const char* message_name(unsigned message)
{
    switch (message) {
    case NIM_ADD:
        return "add";
    case NIM_MODIFY:
        return "modify";
    case NIM_DELETE:
        return "delete";
    case NIM_SETFOCUS:
        return "setfocus";
    case NIM_SETVERSION:
        return "setversion";
    default:
        return "other";
    }
}

static bool cmd_events(const Args& args, Json& reply, std::string*)
{
    reply.begin_array("events");
    for (const TrayEvent& event : tray_events_since((unsigned)args.number(1))) {
        reply.begin_object().number("seq", event.seq).number("tick", event.tick);
        reply.text("message", message_name(event.message));
        reply.number("owner", (long long)(UINT_PTR)event.owner).number("uid", event.uid);
        reply.number("flags", event.flags).boolean("accepted", event.accepted);
        if (event.image < 0)
            reply.null("icon");
        else
            reply.text("icon", tray_image_name(event.image));
        reply.text("tip", event.tip).end_object();
    }
    reply.end_array();
    return true;
}

static bool name_icon(HICON icon, const std::wstring& name)
{
    if (!icon)
        return false;
    int image = tray_capture_icon(icon);
    DestroyIcon(icon);
    if (image < 0)
        return false;
    tray_name_image(image, name);
    return true;
}

// The state icons as the program loads them from its resources: 16 x 16,
// and icon 101 also 32 x 32 (named "101@32").
static bool cmd_load_exe(const Args& args, Json& reply, std::string* error)
{
    std::wstring path = from_utf8(args.rest_from(1));
    HMODULE module = LoadLibraryExW(path.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
    if (!module) {
        *error = "cannot load the program file as data";
        return false;
    }
    struct Reference {
        int id, size;
        const wchar_t* name;
    };
    static const Reference references[] = {
        {101, 16, L"101"}, {101, 32, L"101@32"}, {105, 16, L"105"}, {106, 16, L"106"},
        {108, 16, L"108"}, {109, 16, L"109"},    {118, 16, L"118"}};
    reply.begin_array("loaded");
    std::vector<std::wstring> missing;
    for (const Reference& reference : references) {
        HANDLE icon = LoadImageW(module, MAKEINTRESOURCEW(reference.id), IMAGE_ICON, reference.size,
                                 reference.size, 0);
        if (name_icon((HICON)icon, reference.name))
            reply.text(nullptr, reference.name);
        else
            missing.push_back(reference.name);
    }
    reply.end_array().begin_array("missing");
    for (const std::wstring& name : missing)
        reply.text(nullptr, name);
    reply.end_array();
    FreeLibrary(module);
    return true;
}

// An icon file as the program loads one named in its settings.
static bool cmd_load_ico(const Args& args, Json& reply, std::string* error)
{
    std::wstring name = from_utf8(args.word(1));
    int size = (int)args.number(2);
    std::wstring path = from_utf8(args.rest_from(3));
    HANDLE icon = LoadImageW(nullptr, path.c_str(), IMAGE_ICON, size, size, LR_LOADFROMFILE);
    if (!name_icon((HICON)icon, name)) {
        *error = "cannot load the icon file";
        return false;
    }
    reply.text("loaded", name);
    return true;
}

static bool cmd_refuse_adds(const Args& args, Json&, std::string*)
{
    tray_refuse_adds((unsigned)args.number(1));
    return true;
}

// The program's icon: owned by its main window and in the tray.
static bool program_icon(TrayIcon* found)
{
    unsigned seq;
    for (const TrayIcon& icon : tray_icons(&seq)) {
        if (icon.present && icon.owner_class == L"corvinaClass") {
            *found = icon;
            return true;
        }
    }
    return false;
}

// What the shell does when the mouse acts on the icon: post the icon's
// callback message with its id and the mouse message.
static bool cmd_tray_notify(const Args& args, Json& reply, std::string* error)
{
    TrayIcon icon;
    if (!program_icon(&icon)) {
        *error = "the program has no icon in the tray";
        return false;
    }
    PostMessageW(icon.owner, icon.callback, icon.uid, (LPARAM)args.number(1));
    reply.number("owner", (long long)(UINT_PTR)icon.owner).number("uid", icon.uid);
    reply.number("callback", icon.callback);
    return true;
}

// A restarted task bar knows no icons ("forget") and tells every top-level
// window so.
static bool cmd_taskbar_created(const Args& args, Json&, std::string*)
{
    if (args.word(1) == "forget")
        tray_forget_icons();
    SendNotifyMessageW(HWND_BROADCAST, RegisterWindowMessageW(L"TaskbarCreated"), 0, 0);
    return true;
}

static bool cmd_menu(const Args&, Json& reply, std::string* error)
{
    HWND window = menu_open_window();
    std::vector<MenuItem> items;
    MenuRead read = window ? menu_read(window, &items, error) : MENU_GONE;
    if (read == MENU_FAILED)
        return false;
    POINT cursor;
    GetCursorPos(&cursor);
    reply.boolean("open", read == MENU_READ);
    reply.begin_array("cursor").number(nullptr, cursor.x).number(nullptr, cursor.y).end_array();
    if (read != MENU_READ)
        return true;
    RECT rect;
    GetWindowRect(window, &rect);
    reply.number("hwnd", (long long)(UINT_PTR)window).rect("rect", rect);
    reply.begin_array("items");
    for (const MenuItem& item : items) {
        reply.begin_object().number("id", item.id).text("text", item.text);
        reply.boolean("grayed", (item.state & MF_GRAYED) != 0);
        reply.boolean("disabled", (item.state & MF_DISABLED) != 0);
        reply.boolean("checked", (item.state & MFS_CHECKED) != 0);
        reply.boolean("separator", (item.type & MFT_SEPARATOR) != 0);
        reply.rect("rect", item.rect).end_object();
    }
    reply.end_array();
    return true;
}

// Clicks the item with the mouse, as a user chooses it.
static bool cmd_menu_choose(const Args& args, Json& reply, std::string* error)
{
    HWND window = menu_open_window();
    std::vector<MenuItem> items;
    MenuRead read = window ? menu_read(window, &items, error) : MENU_GONE;
    if (read == MENU_GONE)
        *error = "no menu is open";
    if (read != MENU_READ)
        return false;
    for (const MenuItem& item : items)
        if (item.id == (unsigned)args.number(1)) {
            POINT centre = {(item.rect.left + item.rect.right) / 2,
                            (item.rect.top + item.rect.bottom) / 2};
            input_click(centre);
            reply.number("x", centre.x).number("y", centre.y);
            return true;
        }
    *error = "the menu has no such item";
    return false;
}

static bool cmd_menu_close(const Args&, Json&, std::string*)
{
    input_key(VK_ESCAPE);
    return true;
}

static bool cmd_mouse_move(const Args& args, Json&, std::string*)
{
    SetCursorPos((int)args.number(1), (int)args.number(2));
    return true;
}

struct Command {
    const char* name;
    Handler handler;
};

static const Command commands[] = {
    {"state", cmd_state},
    {"events", cmd_events},
    {"load_exe", cmd_load_exe},
    {"load_ico", cmd_load_ico},
    {"refuse_adds", cmd_refuse_adds},
    {"tray_notify", cmd_tray_notify},
    {"taskbar_created", cmd_taskbar_created},
    {"process", cmd_process},
    {"command", cmd_command},
    {"popup", cmd_popup},
    {"popup_click", cmd_popup_click},
    {"menu", cmd_menu},
    {"menu_choose", cmd_menu_choose},
    {"menu_close", cmd_menu_close},
    {"dialogs", cmd_dialogs},
    {"press", cmd_press},
    {"tabs", cmd_tabs},
    {"focus", cmd_focus},
    {"resources", cmd_resources},
    {"mouse_move", cmd_mouse_move},
};

static Args parse(const std::string& line)
{
    Args args;
    args.line = line;
    size_t i = 0;
    while (i < line.size()) {
        while (i < line.size() && line[i] == ' ')
            ++i;
        if (i == line.size())
            break;
        size_t end = line.find(' ', i);
        if (end == std::string::npos)
            end = line.size();
        args.starts.push_back(i);
        args.words.push_back(line.substr(i, end - i));
        i = end;
    }
    return args;
}

static void answer(const Args& args)
{
    for (const Command& command : commands)
        if (args.word(0) == command.name) {
            Json reply;
            reply.begin_object();
            std::string error;
            if (command.handler(args, reply, &error)) {
                reply.boolean("ok", true).end_object().send();
                return;
            }
            Json()
                .begin_object()
                .boolean("ok", false)
                .text("error", error.c_str())
                .end_object()
                .send();
            return;
        }
    Json().begin_object().boolean("ok", false).text("error", "unknown command").end_object().send();
}

int main()
{
    _setmode(_fileno(stdout), _O_BINARY);
    std::string error;
    if (!tray_listener_start(&error)) {
        Json()
            .begin_object()
            .boolean("ready", false)
            .text("error", error.c_str())
            .end_object()
            .send();
        return 1;
    }
    Json()
        .begin_object()
        .boolean("ready", true)
        .number("pid", GetCurrentProcessId())
        .number("tray", (long long)(UINT_PTR)FindWindowW(L"Shell_TrayWnd", nullptr))
        .end_object()
        .send();
    std::string line;
    while (std::getline(std::cin, line)) {
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        if (line == "quit")
            break;
        if (!line.empty())
            answer(parse(line));
    }
    return 0;
}
