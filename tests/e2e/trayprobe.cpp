// trayprobe: stands in for the shell and the user beside the program under
// test, in the same Wine prefix and X display. One command line in on
// standard input, one JSON line out; every command answers at once, and
// waiting for a condition is the harness's job.
//
// It owns the "Shell_TrayWnd" window that Wine's shell32 sends every
// Shell_NotifyIcon call to, so it sees the icon, tip and balloons exactly as
// the shell would; that window lives on a thread of its own, so the program
// never waits on a command. It reads and clicks the program's popup, menu
// and dialogs. Texts leave as UTF-8.
#include <windows.h>

#include <commctrl.h>
#include <fcntl.h>
#include <io.h>
#include <shellapi.h>
#include <winternl.h>

#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <map>
#include <string>
#include <vector>

#include "probe_share.h"

// The reply: a JSON object written field by field.
static std::string out;

static std::string utf8(const std::wstring& text)
{
    std::string bytes(text.size() * 3, '\0');
    bytes.resize((size_t)WideCharToMultiByte(CP_UTF8, 0, text.data(), (int)text.size(), &bytes[0],
                                             (int)bytes.size(), nullptr, nullptr));
    return bytes;
}

static std::wstring wide(const std::string& text)
{
    std::wstring chars(text.size(), L'\0');
    chars.resize((size_t)MultiByteToWideChar(CP_UTF8, 0, text.data(), (int)text.size(), &chars[0],
                                             (int)chars.size()));
    return chars;
}

static void key(const char* name)
{
    if (!out.empty() && out.back() != '{' && out.back() != '[')
        out += ',';
    if (name)
        out += std::string("\"") + name + "\":";
}

static void begin(const char* name, char bracket)
{
    key(name);
    out += bracket;
}

static void finish(char bracket)
{
    out += bracket;
}

static void text(const char* name, const std::wstring& value)
{
    key(name);
    out += '"';
    for (unsigned char c : utf8(value)) {
        char escape[8];
        snprintf(escape, sizeof escape, "\\u%04x", c);
        out += c < 0x20                ? std::string(escape)
               : c == '"' || c == '\\' ? std::string("\\") + (char)c
                                       : std::string(1, (char)c);
    }
    out += '"';
}

static void number(const char* name, long long value)
{
    key(name);
    out += std::to_string(value);
}

static void handle(const char* name, const void* value)
{
    number(name, (long long)(UINT_PTR)value);
}

static void flag(const char* name, bool value)
{
    key(name);
    out += value ? "true" : "false";
}

static void rect(const char* name, RECT r)
{
    begin(name, '[');
    number(nullptr, r.left), number(nullptr, r.top), number(nullptr, r.right);
    number(nullptr, r.bottom);
    finish(']');
}

// The tray. Wine 8.0's shell32 sends each call as WM_COPYDATA: dwData is the
// NIM_ value and the data this record, followed (with NIF_ICON) by the
// icon's mask and colour bits (dlls/shell32/systray.c, struct notify_data).
struct NotifyData {
    LONG hwnd;
    UINT uid, flags, callback;
    WCHAR tip[128];
    DWORD state, state_mask;
    WCHAR info[256];
    UINT timeout;
    WCHAR info_title[64];
    DWORD info_flags;
    GUID guid;
    UINT width, height, planes, bpp;
};
static_assert(sizeof(NotifyData) == 960, "Wine 8.0 notify_data layout");

struct Icon {
    HWND owner;
    std::wstring owner_class; // as it was when the icon came: the owner may be gone
    UINT uid, callback, adds, deletes;
    bool present;
    std::wstring tip;
    int image;                                                   // index into images, -1 for none
    std::vector<std::pair<std::wstring, std::wstring>> balloons; // title, text
};
struct Event {
    DWORD tick;
    UINT flags;
    int image;        // the icon after the call
    std::wstring tip; // the tool tip after the call
};

static CRITICAL_SECTION lock;
static HWND tray;
static std::vector<Icon> icons;
static std::vector<Event> events;
static unsigned refuse_adds;
static std::vector<std::string> images; // each distinct image once
static std::map<int, std::wstring> image_names;
static std::map<UINT, int> captured; // our own icons, by id
static UINT next_uid = 0x10000;

static int image_of(const COPYDATASTRUCT* copy)
{
    const size_t at = offsetof(NotifyData, width);
    if (copy->cbData <= sizeof(NotifyData))
        return -1; // NIF_ICON without a usable icon
    std::string image((const char*)copy->lpData + at, copy->cbData - at);
    for (size_t i = 0; i < images.size(); ++i)
        if (images[i] == image)
            return (int)i;
    images.push_back(image);
    return (int)images.size() - 1;
}

static void apply(Icon* icon, const NotifyData* data, int image)
{
    if (data->flags & NIF_MESSAGE)
        icon->callback = data->callback;
    if (data->flags & NIF_ICON)
        icon->image = image;
    if (data->flags & NIF_TIP)
        icon->tip = data->tip;
    if (data->flags & NIF_INFO)
        icon->balloons.push_back({data->info_title, data->info});
}

// The answers follow Wine's explorer: a second add of a present icon and a
// change of an absent one fail.
static bool notify(DWORD message, const NotifyData* data, int image)
{
    HWND owner = (HWND)LongToHandle(data->hwnd);
    Icon* icon = nullptr;
    for (Icon& each : icons)
        if (each.owner == owner && each.uid == data->uid)
            icon = &each;
    bool accepted = icon && icon->present;
    if (message == NIM_ADD) {
        if (!icon) {
            wchar_t name[64] = L"";
            GetClassNameW(owner, name, 64);
            icons.push_back({owner, name, data->uid, 0, 0, 0, false, L"", -1, {}});
            icon = &icons.back();
        }
        ++icon->adds; // every attempt counts, refused or not
        accepted = !icon->present && !(refuse_adds > 0 && refuse_adds--);
        if (accepted)
            *icon = {owner, icon->owner_class, data->uid, 0, icon->adds, icon->deletes, true, L"",
                     -1,    icon->balloons};
    } else if (message == NIM_DELETE && accepted) {
        icon->present = false;
        ++icon->deletes;
    }
    if (accepted && (message == NIM_ADD || message == NIM_MODIFY))
        apply(icon, data, image);
    if (icon)
        events.push_back({GetTickCount(), data->flags, icon->image, icon->tip});
    return accepted;
}

static LRESULT CALLBACK tray_proc(HWND hwnd, UINT message, WPARAM wparam, LPARAM lparam)
{
    auto copy = (const COPYDATASTRUCT*)lparam;
    if (message != WM_COPYDATA || copy->cbData < sizeof(NotifyData))
        return DefWindowProcW(hwnd, message, wparam, lparam);
    auto data = (const NotifyData*)copy->lpData;
    int image = (data->flags & NIF_ICON) ? image_of(copy) : -1;
    EnterCriticalSection(&lock);
    bool accepted = true;
    if ((HWND)LongToHandle(data->hwnd) != tray)
        accepted = notify((DWORD)copy->dwData, data, image);
    else if (copy->dwData == NIM_ADD)
        captured[data->uid] = image;
    LeaveCriticalSection(&lock);
    return accepted;
}

static DWORD WINAPI tray_thread(LPVOID ready)
{
    WNDCLASSW window_class = {};
    window_class.lpfnWndProc = tray_proc;
    window_class.lpszClassName = L"Shell_TrayWnd";
    RegisterClassW(&window_class);
    tray = CreateWindowExW(WS_EX_TOOLWINDOW, L"Shell_TrayWnd", L"trayprobe", WS_POPUP, 0, 0, 0, 0,
                           nullptr, nullptr, nullptr, nullptr);
    SetEvent((HANDLE)ready);
    MSG message;
    while (GetMessageW(&message, nullptr, 0, 0) > 0)
        DispatchMessageW(&message);
    return 0;
}

// Sends an icon (or only a tip) to our own window through the shell, so that
// it is taken exactly as a program's icon is. Returns the image, or -2 when
// nothing came.
static int capture(HICON icon)
{
    NOTIFYICONDATAW data = {};
    data.cbSize = sizeof data;
    data.hWnd = tray;
    data.uID = next_uid++;
    data.uFlags = icon ? NIF_ICON : NIF_TIP;
    data.hIcon = icon;
    if (!Shell_NotifyIconW(NIM_ADD, &data))
        return -2;
    Shell_NotifyIconW(NIM_DELETE, &data);
    EnterCriticalSection(&lock);
    int image = captured.count(data.uID) ? captured[data.uID] : -2;
    LeaveCriticalSection(&lock);
    return image;
}

// Wine's explorer makes its task bar shortly after the prefix's first
// window; ours must come later, to be the newest and so the one found.
static const char* start_tray(void)
{
    InitializeCriticalSection(&lock);
    GetDesktopWindow();
    for (DWORD start = GetTickCount(); !FindWindowW(L"Shell_TrayWnd", nullptr); Sleep(20))
        if (GetTickCount() - start > 30000)
            return "Wine's explorer made no Shell_TrayWnd within 30 s";
    HANDLE ready = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    CloseHandle(CreateThread(nullptr, 0, tray_thread, ready, 0, nullptr));
    WaitForSingleObject(ready, INFINITE);
    if (!tray || FindWindowW(L"Shell_TrayWnd", nullptr) != tray)
        return "the shell does not find the probe's Shell_TrayWnd";
    return capture(nullptr) == -2 ? "a Shell_NotifyIconW call did not reach the probe" : nullptr;
}

static std::wstring image_name(int image)
{
    if (image_names.count(image))
        return image_names[image];
    unsigned hash = 2166136261u; // FNV-1a: a short, stable name for any other image
    for (unsigned char b : images[(size_t)image])
        hash = (hash ^ b) * 16777619u;
    wchar_t name[32];
    swprintf(name, 32, L"other:%08x", hash);
    return name;
}

static void icon_field(const char* name, int image)
{
    if (image < 0) {
        key(name);
        out += "null";
    } else {
        text(name, image_name(image));
    }
}

static bool name_icon(HANDLE icon, const std::wstring& name)
{
    int image = icon ? capture((HICON)icon) : -2;
    if (icon)
        DestroyIcon((HICON)icon);
    if (image >= 0)
        image_names[image] = name;
    return image >= 0;
}

// The program and its windows.
static HWND main_window(void)
{
    return FindWindowW(L"corvinaClass", nullptr);
}

static DWORD process_of(HWND window)
{
    DWORD id = 0;
    GetWindowThreadProcessId(window, &id);
    return window ? id : 0;
}

static std::wstring class_of(HWND window)
{
    wchar_t name[64] = L"";
    GetClassNameW(window, name, 64);
    return name;
}

// Another process's window text from the window server, without a message.
static std::wstring title(HWND window)
{
    wchar_t buffer[1024];
    int length = GetWindowTextW(window, buffer, 1024);
    return std::wstring(buffer, length > 0 ? (size_t)length : 0);
}

static RECT rect_of(HWND window)
{
    RECT r = {};
    GetWindowRect(window, &r);
    return r;
}

// A message bounded by a time-out: a stuck program cannot hang the probe.
static bool ask(HWND window, UINT message, WPARAM wparam, LPARAM lparam, DWORD_PTR* result)
{
    return SendMessageTimeoutW(window, message, wparam, lparam, SMTO_ABORTIFHUNG, 2000, result);
}

static void click(POINT at)
{
    SetCursorPos(at.x, at.y);
    INPUT inputs[2] = {};
    inputs[0].type = inputs[1].type = INPUT_MOUSE;
    inputs[0].mi.dwFlags = MOUSEEVENTF_LEFTDOWN;
    inputs[1].mi.dwFlags = MOUSEEVENTF_LEFTUP;
    SendInput(2, inputs, sizeof(INPUT));
}

static BOOL CALLBACK find_popup(HWND window, LPARAM found)
{
    if (GetWindow(window, GW_OWNER) == main_window() && class_of(window) == L"#32770" &&
        GetDlgItem(window, 1033))
        *(HWND*)found = window;
    return !*(HWND*)found;
}

// The popup: a dialog owned by the main window, with a heading (1033).
static HWND popup_window(void)
{
    HWND found = nullptr;
    if (main_window())
        EnumWindows(find_popup, (LPARAM)&found);
    return found;
}

// Controls: an edit keeps its own text, so Wine's window server knows only
// the text it was created with; it is asked itself ("stale": no answer).
static BOOL CALLBACK add_control(HWND control, LPARAM)
{
    std::wstring name = class_of(control), value = title(control);
    DWORD_PTR length = 0, check = 0;
    bool stale = false;
    if (lstrcmpiW(name.c_str(), L"Edit") == 0) {
        std::vector<wchar_t> buffer;
        stale = !ask(control, WM_GETTEXTLENGTH, 0, 0, &length);
        if (!stale) {
            buffer.resize(length + 1);
            stale = !ask(control, WM_GETTEXT, length + 1, (LPARAM)buffer.data(), &length);
        }
        if (!stale)
            value.assign(buffer.data(), length);
    }
    begin(nullptr, '{');
    text("class", name), number("id", GetDlgCtrlID(control)), handle("hwnd", control);
    handle("parent", GetParent(control)), text("text", value), flag("stale", stale);
    flag("enabled", IsWindowEnabled(control)), flag("visible", IsWindowVisible(control));
    rect("rect", rect_of(control));
    if (lstrcmpiW(name.c_str(), L"Button") == 0 && ask(control, BM_GETCHECK, 0, 0, &check))
        number("checked", (long long)check);
    else
        key("checked"), out += "null";
    finish('}');
    return TRUE;
}

static BOOL CALLBACK add_dialog(HWND window, LPARAM popup)
{
    if (window == (HWND)popup || process_of(window) != process_of(main_window()) ||
        class_of(window) != L"#32770")
        return TRUE;
    RECT client = {};
    GetClientRect(window, &client);
    MapWindowPoints(window, nullptr, (POINT*)&client, 2);
    begin(nullptr, '{');
    handle("hwnd", window), text("caption", title(window));
    flag("visible", IsWindowVisible(window)), handle("owner", GetWindow(window, GW_OWNER));
    flag("topmost", GetWindowLongW(window, GWL_EXSTYLE) & WS_EX_TOPMOST);
    rect("rect", rect_of(window)), rect("client", client);
    flag("enabled", IsWindowEnabled(window));
    begin("controls", '[');
    EnumChildWindows(window, add_control, 0);
    finish(']'), finish('}');
    return TRUE;
}

// Memory in another process: Wine passes the pointer of a message above
// WM_USER unchanged, and runs LoadLibraryW there for the menu agent.
static void* remote_memory(HANDLE process, size_t size)
{
    return VirtualAllocEx(process, nullptr, size, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE);
}

// The tab strip of a property sheet: the chosen tab, each tab's text and rect.
static const char* tabs(HWND dialog)
{
    HWND strip = FindWindowExW(dialog, nullptr, WC_TABCONTROLW, nullptr);
    DWORD_PTR count = 0, current = 0, answer = 0;
    if (!strip || !ask(strip, TCM_GETITEMCOUNT, 0, 0, &count) ||
        !ask(strip, TCM_GETCURSEL, 0, 0, &current))
        return "no tab strip answers";
    HANDLE process = OpenProcess(PROCESS_ALL_ACCESS, FALSE, process_of(strip));
    auto remote = (BYTE*)remote_memory(process, 4096);
    flag("enabled", IsWindowEnabled(strip)), number("current", (long long)current);
    begin("items", '[');
    for (int i = 0; remote && i < (int)count; ++i) {
        RECT r = {};
        wchar_t buffer[128] = {};
        TCITEMW item = {};
        item.mask = TCIF_TEXT;
        item.pszText = (LPWSTR)(remote + 256);
        item.cchTextMax = 127;
        WriteProcessMemory(process, remote + 64, &item, sizeof item, nullptr);
        WriteProcessMemory(process, remote + 256, buffer, sizeof buffer, nullptr);
        ask(strip, TCM_GETITEMRECT, (WPARAM)i, (LPARAM)remote, &answer);
        ask(strip, TCM_GETITEMW, (WPARAM)i, (LPARAM)(remote + 64), &answer);
        ReadProcessMemory(process, remote, &r, sizeof r, nullptr);
        ReadProcessMemory(process, remote + 256, buffer, sizeof buffer - 2, nullptr);
        MapWindowPoints(strip, nullptr, (POINT*)&r, 2);
        begin(nullptr, '{'), text("text", buffer), rect("rect", r), finish('}');
    }
    finish(']');
    if (remote)
        VirtualFreeEx(process, remote, 0, MEM_RELEASE);
    CloseHandle(process);
    return remote ? nullptr : "cannot reach the program's memory";
}

// The open menu's items, read inside the menu's process by the agent DLL:
// Wine refuses to read another process's menu. kernel32 lies at the same
// address in every process of the prefix, so our LoadLibraryW is theirs.
static BOOL CALLBACK find_menu(HWND window, LPARAM found)
{
    if (IsWindowVisible(window) && class_of(window) == L"#32768")
        *(HWND*)found = window;
    return !*(HWND*)found;
}

static const char* read_menu(HWND* window, MenuShare* items)
{
    *window = nullptr;
    EnumWindows(find_menu, (LPARAM)window);
    DWORD_PTR menu = 0;
    if (!*window || !ask(*window, MN_GETHMENU, 0, 0, &menu) || !menu)
        return nullptr; // no menu, or one closing
    wchar_t path[MAX_PATH], name[64];
    GetModuleFileNameW(nullptr, path, MAX_PATH);
    lstrcpyW(wcsrchr(path, L'\\') + 1, MENU_AGENT_FILE);
    swprintf(name, 64, MENU_SHARE_NAME, process_of(*window));
    HANDLE mapping = CreateFileMappingW(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0,
                                        sizeof(MenuShare), name);
    auto share = (MenuShare*)MapViewOfFile(mapping, FILE_MAP_ALL_ACCESS, 0, 0, sizeof(MenuShare));
    HANDLE process = OpenProcess(PROCESS_ALL_ACCESS, FALSE, process_of(*window));
    void* remote = remote_memory(process, sizeof path);
    ZeroMemory(share, sizeof *share);
    share->menu = menu;
    WriteProcessMemory(process, remote, path, sizeof path, nullptr);
    HANDLE thread = CreateRemoteThread(process, nullptr, 0,
                                       (LPTHREAD_START_ROUTINE)(void*)GetProcAddress(
                                           GetModuleHandleW(L"kernel32"), "LoadLibraryW"),
                                       remote, 0, nullptr);
    WaitForSingleObject(thread, 10000);
    *items = *share;
    CloseHandle(thread);
    VirtualFreeEx(process, remote, 0, MEM_RELEASE);
    CloseHandle(process);
    UnmapViewOfFile(share);
    CloseHandle(mapping);
    if (items->status == 0)
        return "the menu agent did not run";
    if (items->status < 0)
        *window = nullptr; // the menu went while it was read
    return nullptr;
}

// Wine 8.0's GetProcessHandleCount answers 0 and GetGuiResources is a stub:
// handles are counted in the system's list, GDI objects in the table the
// PEB points to (0xF8: 0x10000 entries of 24 bytes, in use when byte 14 is set).
static void resources(DWORD id)
{
    typedef NTSTATUS(NTAPI * System)(SYSTEM_INFORMATION_CLASS, PVOID, ULONG, PULONG);
    typedef NTSTATUS(NTAPI * Process)(HANDLE, PROCESSINFOCLASS, PVOID, ULONG, PULONG);
    HMODULE ntdll = GetModuleHandleW(L"ntdll");
    auto query_system = (System)(void*)GetProcAddress(ntdll, "NtQuerySystemInformation");
    auto query_process = (Process)(void*)GetProcAddress(ntdll, "NtQueryInformationProcess");
    struct Entry {
        ULONG process;
        BYTE type, flags;
        USHORT value;
        PVOID object;
        ACCESS_MASK access;
    };
    std::vector<BYTE> list(1 << 16);
    while (query_system(SystemHandleInformation, list.data(), (ULONG)list.size(), nullptr) ==
           (NTSTATUS)0xC0000004) // STATUS_INFO_LENGTH_MISMATCH
        list.resize(list.size() * 2);
    auto entries = (const Entry*)(list.data() + sizeof(ULONG_PTR));
    long long handles = 0, gdi = 0;
    for (ULONG i = 0; i < *(ULONG*)list.data(); ++i)
        handles += entries[i].process == id;
    HANDLE process = OpenProcess(PROCESS_QUERY_INFORMATION | PROCESS_VM_READ, FALSE, id);
    PROCESS_BASIC_INFORMATION basic = {};
    UINT64 table = 0;
    std::vector<BYTE> bytes(0x10000 * 24);
    if (query_process(process, ProcessBasicInformation, &basic, sizeof basic, nullptr) == 0 &&
        ReadProcessMemory(process, (BYTE*)basic.PebBaseAddress + 0xF8, &table, 8, nullptr) &&
        ReadProcessMemory(process, (void*)(UINT_PTR)table, bytes.data(), bytes.size(), nullptr))
        for (size_t i = 0; i < 0x10000; ++i)
            gdi += bytes[i * 24 + 14] != 0;
    CloseHandle(process);
    number("handles", handles), number("gdi", gdi);
}

// One command: its words, the reply's fields; an error text, or nullptr.
static const char* answer(const std::vector<std::string>& words, const std::string& line)
{
    const std::string& verb = words[0];
    auto arg = [&](size_t i) {
        return i < words.size() ? std::strtoll(words[i].c_str(), 0, 0) : 0;
    };
    auto rest = [&](size_t i) { // a path, spaces kept
        size_t at = 0;
        for (size_t w = 0; w < i; ++w)
            at = line.find(' ', line.find_first_not_of(' ', at)) + 1;
        return wide(line.substr(at));
    };
    HWND program = main_window(), popup = popup_window();
    if (verb == "state" || verb == "events") {
        EnterCriticalSection(&lock);
        number("seq", (long long)events.size());
        begin(verb == "state" ? "icons" : "events", '[');
        for (size_t i = verb == "state" ? 0 : (size_t)arg(1); verb == "events" && i < events.size();
             ++i) {
            begin(nullptr, '{'), number("tick", events[i].tick), number("flags", events[i].flags);
            icon_field("icon", events[i].image), text("tip", events[i].tip), finish('}');
        }
        for (size_t i = 0; verb == "state" && i < icons.size(); ++i) {
            const Icon& icon = icons[i];
            begin(nullptr, '{'), handle("owner", icon.owner), text("owner_class", icon.owner_class);
            number("uid", icon.uid), flag("present", icon.present), text("tip", icon.tip);
            icon_field("icon", icon.image), number("callback", icon.callback);
            number("adds", icon.adds), number("deletes", icon.deletes);
            begin("balloons", '[');
            for (const auto& balloon : icon.balloons)
                begin(nullptr, '{'), text("title", balloon.first), text("text", balloon.second),
                    finish('}');
            finish(']'), finish('}');
        }
        finish(']');
        LeaveCriticalSection(&lock);
    } else if (verb == "load_exe") { // the state icons as the program loads them
        HMODULE module = LoadLibraryExW(rest(1).c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
        if (!module)
            return "cannot load the program file as data";
        static const int ids[] = {105, 106, 108, 109, 118};
        for (int id : ids)
            name_icon(LoadImageW(module, MAKEINTRESOURCEW(id), IMAGE_ICON, 16, 16, 0),
                      std::to_wstring(id));
        FreeLibrary(module);
    } else if (verb == "load_ico") { // an icon file as the program loads one
        int size = (int)arg(2);
        if (!name_icon(
                LoadImageW(nullptr, rest(3).c_str(), IMAGE_ICON, size, size, LR_LOADFROMFILE),
                wide(words[1])))
            return "cannot load the icon file";
    } else if (verb == "refuse_adds") {
        EnterCriticalSection(&lock);
        refuse_adds = (unsigned)arg(1);
        LeaveCriticalSection(&lock);
    } else if (verb == "tray_notify") { // the shell's answer to the mouse on the icon
        EnterCriticalSection(&lock);
        const Icon* found = nullptr;
        for (const Icon& icon : icons)
            if (icon.present && icon.owner_class == L"corvinaClass")
                found = &icon;
        if (found)
            PostMessageW(found->owner, found->callback, found->uid, (LPARAM)arg(1));
        LeaveCriticalSection(&lock);
        if (!found)
            return "the program has no icon in the tray";
    } else if (verb == "taskbar_created") { // a restarted task bar knows no icons
        EnterCriticalSection(&lock);
        for (Icon& icon : icons)
            icon.present = false;
        LeaveCriticalSection(&lock);
        SendNotifyMessageW(HWND_BROADCAST, RegisterWindowMessageW(L"TaskbarCreated"), 0, 0);
    } else if (verb == "process") {
        flag("running", program), number("pid", process_of(program));
    } else if (verb == "command") {
        if (!program)
            return "no corvinaClass window";
        PostMessageW(program, WM_COMMAND, (WPARAM)arg(1), 0);
    } else if (verb == "popup") {
        RECT area;
        SystemParametersInfoW(SPI_GETWORKAREA, 0, &area, 0);
        flag("exists", popup), rect("work_area", area);
        if (popup) {
            text("heading", title(GetDlgItem(popup, 1033)));
            text("text", title(GetDlgItem(popup, 1003))), rect("rect", rect_of(popup));
            flag("visible", IsWindowVisible(popup)), flag("iconic", IsIconic(popup));
            flag("enabled", IsWindowEnabled(popup));
            flag("topmost", GetWindowLongW(popup, GWL_EXSTYLE) & WS_EX_TOPMOST);
            flag("foreground", GetForegroundWindow() == popup);
            begin("mail_button", '{'), flag("enabled", IsWindowEnabled(GetDlgItem(popup, 1031)));
            finish('}');
        }
    } else if (verb == "popup_click") { // a button's BM_CLICK, or a click on the surface
        if (!popup)
            return "no popup";
        if (words[1] == "surface") {
            RECT client;
            GetClientRect(popup, &client);
            POINT at = {client.right - 2, client.bottom - 2}; // on none of its controls
            PostMessageW(popup, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(at.x, at.y));
            PostMessageW(popup, WM_LBUTTONUP, 0, MAKELPARAM(at.x, at.y));
        } else {
            PostMessageW(GetDlgItem(popup, (int)arg(1)), BM_CLICK, 0, 0);
        }
    } else if (verb == "menu" || verb == "menu_choose") {
        HWND window;
        MenuShare menu;
        if (const char* error = read_menu(&window, &menu))
            return error;
        POINT cursor;
        GetCursorPos(&cursor);
        flag("open", window), begin("cursor", '['), number(nullptr, cursor.x);
        number(nullptr, cursor.y), finish(']');
        if (window)
            rect("rect", rect_of(window));
        begin("items", '[');
        bool chosen = false;
        for (LONG i = 0; window && i < menu.count && i < MENU_SHARE_MAX_ITEMS; ++i) {
            const MenuShareItem& item = menu.items[i];
            if (verb == "menu_choose" && item.id == (UINT)arg(1) && !chosen)
                click({(item.rect.left + item.rect.right) / 2,
                       (item.rect.top + item.rect.bottom) / 2}),
                    chosen = true;
            begin(nullptr, '{'), number("id", item.id), text("text", item.text);
            flag("grayed", item.state & MF_GRAYED), flag("checked", item.state & MFS_CHECKED);
            rect("rect", item.rect), finish('}');
        }
        finish(']');
        if (verb == "menu_choose" && !chosen)
            return window ? "the menu has no such item" : "no menu is open";
    } else if (verb == "dialogs") { // the program's dialogs and message boxes but the popup
        begin("dialogs", '[');
        if (program)
            EnumWindows(add_dialog, (LPARAM)popup);
        finish(']');
    } else if (verb == "press") {
        HWND button = GetDlgItem((HWND)(UINT_PTR)arg(1), (int)arg(2));
        if (!button)
            return "no such button";
        PostMessageW(button, BM_CLICK, 0, 0);
    } else if (verb == "tabs") {
        return tabs((HWND)(UINT_PTR)arg(1));
    } else if (verb == "focus") { // where the program's keystrokes go
        GUITHREADINFO info = {};
        info.cbSize = sizeof info;
        if (!program || !GetGUIThreadInfo(GetWindowThreadProcessId(program, nullptr), &info))
            return "cannot read the program's input state";
        begin("focus", '{'), handle("hwnd", info.hwndFocus), finish('}');
    } else if (verb == "resources") {
        resources(words.size() > 1 ? (DWORD)arg(1) : process_of(program));
    } else if (verb == "mouse_move") {
        SetCursorPos((int)arg(1), (int)arg(2));
    } else {
        return "unknown command";
    }
    return nullptr;
}

int main()
{
    _setmode(_fileno(stdout), _O_BINARY);
    if (const char* error = start_tray()) {
        std::cout << "{\"ready\":false,\"error\":\"" << error << "\"}" << std::endl;
        return 1;
    }
    std::cout << "{\"ready\":true}" << std::endl;
    std::string line;
    while (std::getline(std::cin, line)) {
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        std::vector<std::string> words;
        for (size_t at = line.find_first_not_of(' '); at != std::string::npos;
             at = line.find_first_not_of(' ', line.find(' ', at)))
            words.push_back(line.substr(at, line.find(' ', at) - at));
        if (words.empty() || words[0] == "quit")
            break;
        out = "{";
        const char* failed = answer(words, line);
        if (failed)
            out = "{\"error\":\"" + std::string(failed) + "\"";
        flag("ok", !failed);
        finish('}');
        std::cout << out << std::endl;
    }
    return 0;
}
