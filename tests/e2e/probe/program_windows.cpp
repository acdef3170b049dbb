#include "program_windows.h"

#include <winternl.h>

#include "controls.h"
#include "input.h"

static const wchar_t MAIN_CLASS[] = L"corvinaClass";
enum {
    POPUP_HEADING = 1033,
    POPUP_TEXT = 1003,
    POPUP_MAIL = 1031,
    POPUP_CLOSE = 1032,
    POPUP_ICON = 1035
};

HWND program_main_window(void)
{
    return FindWindowW(MAIN_CLASS, nullptr);
}

static DWORD process_of(HWND window)
{
    DWORD process_id = 0;
    if (window)
        GetWindowThreadProcessId(window, &process_id);
    return process_id;
}

static bool has_class(HWND window, const wchar_t* name)
{
    wchar_t class_name[64];
    return GetClassNameW(window, class_name, 64) && lstrcmpW(class_name, name) == 0;
}

// Another process's window text comes from the window server, without a
// message to a program that may be busy.
static std::wstring text_of(HWND window)
{
    wchar_t text[1024];
    int length = GetWindowTextW(window, text, 1024);
    return std::wstring(text, length > 0 ? (size_t)length : 0);
}

bool cmd_process(const Args&, Json& reply, std::string*)
{
    int windows = 0;
    for (HWND w = nullptr; (w = FindWindowExW(nullptr, w, MAIN_CLASS, nullptr)) != nullptr;)
        ++windows;
    HWND main = program_main_window();
    reply.boolean("running", main != nullptr).number("windows", windows);
    reply.number("hwnd", (long long)(UINT_PTR)main).number("pid", process_of(main));
    return true;
}

bool cmd_command(const Args& args, Json& reply, std::string* error)
{
    HWND main = program_main_window();
    if (!main) {
        *error = "no corvinaClass window";
        return false;
    }
    PostMessageW(main, WM_COMMAND, (WPARAM)args.number(1), 0);
    reply.number("hwnd", (long long)(UINT_PTR)main);
    return true;
}

struct PopupSearch {
    HWND owner;
    HWND found;
};

static BOOL CALLBACK find_popup(HWND window, LPARAM param)
{
    auto search = (PopupSearch*)param;
    if (GetWindow(window, GW_OWNER) == search->owner && has_class(window, L"#32770") &&
        GetDlgItem(window, POPUP_HEADING)) {
        search->found = window;
        return FALSE;
    }
    return TRUE;
}

// The popup: a "#32770" dialog owned by the main window, with a heading.
static HWND popup_window(void)
{
    PopupSearch search = {program_main_window(), nullptr};
    if (search.owner)
        EnumWindows(find_popup, (LPARAM)&search);
    return search.found;
}

static RECT rect_of(HWND window)
{
    RECT rect = {};
    GetWindowRect(window, &rect);
    return rect;
}

static void control_fields(Json& reply, const char* key, HWND control)
{
    reply.begin_object(key).text("text", text_of(control));
    reply.boolean("enabled", IsWindowEnabled(control) != FALSE);
    reply.boolean("visible", IsWindowVisible(control) != FALSE);
    reply.rect("rect", rect_of(control)).end_object();
}

bool cmd_popup(const Args&, Json& reply, std::string*)
{
    HWND popup = popup_window();
    reply.boolean("exists", popup != nullptr);
    RECT work_area;
    SystemParametersInfoW(SPI_GETWORKAREA, 0, &work_area, 0);
    reply.rect("work_area", work_area);
    if (!popup)
        return true;
    reply.number("hwnd", (long long)(UINT_PTR)popup);
    reply.text("heading", text_of(GetDlgItem(popup, POPUP_HEADING)));
    reply.text("text", text_of(GetDlgItem(popup, POPUP_TEXT)));
    reply.rect("rect", rect_of(popup));
    reply.boolean("visible", IsWindowVisible(popup) != FALSE);
    reply.boolean("iconic", IsIconic(popup) != FALSE);
    reply.boolean("enabled", IsWindowEnabled(popup) != FALSE);
    reply.boolean("topmost", (GetWindowLongW(popup, GWL_EXSTYLE) & WS_EX_TOPMOST) != 0);
    reply.boolean("foreground", GetForegroundWindow() == popup);
    control_fields(reply, "mail_button", GetDlgItem(popup, POPUP_MAIL));
    control_fields(reply, "close_button", GetDlgItem(popup, POPUP_CLOSE));
    control_fields(reply, "icon", GetDlgItem(popup, POPUP_ICON));
    return true;
}

// A point of the popup's own surface: inside it and on none of its controls.
static bool surface_point(HWND popup, POINT* screen_point)
{
    RECT client;
    GetClientRect(popup, &client);
    for (LONG y = client.bottom - 2; y >= client.top; y -= 2)
        for (LONG x = client.right - 2; x >= client.left; x -= 2) {
            POINT point = {x, y};
            if (ChildWindowFromPointEx(popup, point, CWP_SKIPINVISIBLE) == popup) {
                ClientToScreen(popup, &point);
                *screen_point = point;
                return true;
            }
        }
    return false;
}

static POINT centre_of(HWND window)
{
    RECT rect = rect_of(window);
    return {(rect.left + rect.right) / 2, (rect.top + rect.bottom) / 2};
}

// "mouse" clicks as a user does; "post" sends the button its BM_CLICK, or
// the popup the button messages of a click on its surface.
bool cmd_popup_click(const Args& args, Json& reply, std::string* error)
{
    HWND popup = popup_window();
    if (!popup) {
        *error = "no popup";
        return false;
    }
    bool post = args.word(2) == "post";
    POINT point = {};
    if (args.word(1) == "surface") {
        if (!surface_point(popup, &point)) {
            *error = "the popup has no free surface";
            return false;
        }
        if (post) {
            POINT client = point;
            ScreenToClient(popup, &client);
            PostMessageW(popup, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(client.x, client.y));
            PostMessageW(popup, WM_LBUTTONUP, 0, MAKELPARAM(client.x, client.y));
        }
    } else {
        HWND button = GetDlgItem(popup, (int)args.number(1));
        if (!button) {
            *error = "the popup has no such control";
            return false;
        }
        point = centre_of(button);
        if (post)
            PostMessageW(button, BM_CLICK, 0, 0);
    }
    if (!post)
        input_click(point);
    reply.number("x", point.x).number("y", point.y);
    return true;
}

struct DialogList {
    DWORD process_id;
    HWND popup;
    Json* reply;
};

// An edit's text is asked of the edit itself (see controls.h); "stale" says
// it did not answer and the text is the window server's.
static void control_text_fields(Json& reply, HWND control, const wchar_t* class_name)
{
    std::wstring text;
    bool current = lstrcmpiW(class_name, L"Edit") != 0 || control_text(control, &text);
    reply.text("text", lstrcmpiW(class_name, L"Edit") == 0 && current ? text : text_of(control));
    reply.boolean("stale", !current);
}

static BOOL CALLBACK add_control(HWND control, LPARAM param)
{
    auto reply = (Json*)param;
    wchar_t class_name[64] = L"";
    GetClassNameW(control, class_name, 64);
    reply->begin_object().text("class", class_name).number("id", GetDlgCtrlID(control));
    reply->number("hwnd", (long long)(UINT_PTR)control);
    reply->number("parent", (long long)(UINT_PTR)GetParent(control));
    control_text_fields(*reply, control, class_name);
    reply->boolean("enabled", IsWindowEnabled(control) != FALSE);
    reply->boolean("visible", IsWindowVisible(control) != FALSE);
    reply->rect("rect", rect_of(control));
    LRESULT state;
    if (lstrcmpiW(class_name, L"Button") == 0 && button_check(control, &state))
        reply->number("checked", state);
    else
        reply->null("checked");
    reply->end_object();
    return TRUE;
}

// The client area in screen coordinates: where a window's own drawing starts.
static RECT client_rect_of(HWND window)
{
    RECT rect = {};
    GetClientRect(window, &rect);
    MapWindowPoints(window, nullptr, (POINT*)&rect, 2);
    return rect;
}

static BOOL CALLBACK add_dialog(HWND window, LPARAM param)
{
    auto list = (DialogList*)param;
    if (window == list->popup || process_of(window) != list->process_id ||
        !has_class(window, L"#32770"))
        return TRUE;
    Json& reply = *list->reply;
    reply.begin_object().number("hwnd", (long long)(UINT_PTR)window);
    reply.text("caption", text_of(window)).boolean("visible", IsWindowVisible(window) != FALSE);
    reply.boolean("topmost", (GetWindowLongW(window, GWL_EXSTYLE) & WS_EX_TOPMOST) != 0);
    reply.number("owner", (long long)(UINT_PTR)GetWindow(window, GW_OWNER));
    reply.rect("rect", rect_of(window)).rect("client", client_rect_of(window));
    reply.boolean("enabled", IsWindowEnabled(window) != FALSE);
    reply.begin_array("controls");
    EnumChildWindows(window, add_control, (LPARAM)&reply);
    reply.end_array().end_object();
    return TRUE;
}

// Message boxes and every other dialog of the program's process but the popup.
bool cmd_dialogs(const Args&, Json& reply, std::string*)
{
    DialogList list = {process_of(program_main_window()), popup_window(), &reply};
    reply.begin_array("dialogs");
    if (list.process_id)
        EnumWindows(add_dialog, (LPARAM)&list);
    reply.end_array();
    return true;
}

bool cmd_press(const Args& args, Json& reply, std::string* error)
{
    HWND button = GetDlgItem((HWND)(UINT_PTR)args.number(1), (int)args.number(2));
    if (!button) {
        *error = "no such button";
        return false;
    }
    PostMessageW(button, BM_CLICK, 0, 0);
    reply.number("button", (long long)(UINT_PTR)button);
    return true;
}

// GetGuiResources is a stub in Wine 8.0. Wine keeps each process's GDI
// handles in a table the PEB points to (GdiSharedHandleTable, at 0xF8 in a
// 64-bit PEB): 0x10000 entries of 24 bytes, an entry in use when its type
// byte (offset 14) is not zero.
static long long gdi_objects(HANDLE process)
{
    typedef NTSTATUS(NTAPI * Query)(HANDLE, PROCESSINFOCLASS, PVOID, ULONG, PULONG);
    auto query =
        (Query)(void*)GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "NtQueryInformationProcess");
    PROCESS_BASIC_INFORMATION basic = {};
    if (!query || query(process, ProcessBasicInformation, &basic, sizeof basic, nullptr) != 0)
        return -1;
    UINT64 table = 0;
    if (!ReadProcessMemory(process, (BYTE*)basic.PebBaseAddress + 0xF8, &table, sizeof table,
                           nullptr) ||
        !table)
        return -1;
    const size_t entries = 0x10000, entry_size = 24, type_offset = 14;
    std::vector<BYTE> bytes(entries * entry_size);
    if (!ReadProcessMemory(process, (void*)(UINT_PTR)table, bytes.data(), bytes.size(), nullptr))
        return -1;
    long long used = 0;
    for (size_t i = 0; i < entries; ++i)
        used += bytes[i * entry_size + type_offset] != 0;
    return used;
}

// Wine 8.0's GetProcessHandleCount always answers 0; the system's list of
// every open handle, with the process holding each, is complete.
static long long kernel_handles(DWORD process_id)
{
    typedef NTSTATUS(NTAPI * Query)(SYSTEM_INFORMATION_CLASS, PVOID, ULONG, PULONG);
    auto query =
        (Query)(void*)GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "NtQuerySystemInformation");
    struct Entry {
        ULONG process_id;
        BYTE type, flags;
        USHORT value;
        PVOID object;
        ACCESS_MASK access;
    };
    std::vector<BYTE> buffer(1 << 16);
    NTSTATUS status;
    while ((status = query(SystemHandleInformation, buffer.data(), (ULONG)buffer.size(),
                           nullptr)) == (NTSTATUS)0xC0000004) // STATUS_INFO_LENGTH_MISMATCH
        buffer.resize(buffer.size() * 2);
    if (status != 0)
        return -1;
    ULONG count = *(ULONG*)buffer.data();
    auto entries = (const Entry*)(buffer.data() + sizeof(ULONG_PTR));
    long long held = 0;
    for (ULONG i = 0; i < count; ++i)
        held += entries[i].process_id == process_id;
    return held;
}

bool cmd_resources(const Args& args, Json& reply, std::string* error)
{
    DWORD process_id =
        args.words.size() > 1 ? (DWORD)args.number(1) : process_of(program_main_window());
    HANDLE process = OpenProcess(PROCESS_QUERY_INFORMATION | PROCESS_VM_READ, FALSE, process_id);
    if (!process) {
        *error = "cannot open the process";
        return false;
    }
    long long gdi = gdi_objects(process);
    CloseHandle(process);
    reply.number("pid", process_id).number("handles", kernel_handles(process_id));
    reply.number("gdi", gdi);
    return true;
}
