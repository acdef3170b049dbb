// trayprobe: the shell and the user beside the program under test. One command
// line in, one JSON line out (null: it failed), at once: waiting is the
// harness's job. Its "Shell_TrayWnd" window, which Wine's shell32 sends every
// Shell_NotifyIcon call to, lives on a thread of its own.
#include <windows.h>

#include <commctrl.h>
#include <shellapi.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <iterator>
#include <map>
#include <sstream>
#include <string>
#include <vector>

typedef std::string Json;

static Json str(const std::wstring& text)
{
    std::string bytes(text.size() * 3, '\0'), quoted = "\"";
    bytes.resize((size_t)WideCharToMultiByte(CP_UTF8, 0, text.data(), (int)text.size(), &bytes[0],
                                             (int)bytes.size(), nullptr, nullptr));
    for (unsigned char c : bytes) {
        char escape[8];
        snprintf(escape, sizeof escape, "\\u%04x", c);
        quoted += c < 0x20 || c == '"' || c == '\\' ? Json(escape) : Json(1, (char)c);
    }
    return quoted + "\"";
}

static Json num(long long value)
{
    return std::to_string(value);
}

static Json list(const std::vector<Json>& items)
{
    Json out = "[";
    for (const Json& item : items)
        out += (out.size() > 1 ? "," : "") + item;
    return out + "]";
}

static Json box(RECT r)
{
    return list({num(r.left), num(r.top), num(r.right), num(r.bottom)});
}

static Json obj(std::initializer_list<std::pair<const char*, Json>> fields)
{
    Json out = "{";
    for (const auto& field : fields)
        out += (out.size() > 1 ? ",\"" : "\"") + Json(field.first) + "\":" + field.second;
    return out + "}";
}

// Wine's shell32 sends each call as WM_COPYDATA: dwData is the NIM_ value and
// the data this record, then with NIF_ICON the icon's mask and colour bits
// (dlls/shell32/systray.c, struct notify_data). Wine 9 put width to bpp after
// callback and a balloon icon's after guid: the probe puts them back.
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
    UINT uid, callback, adds, deletes;
    bool present;
    std::wstring tip;
    std::string image; // the bits as the shell received them
    UINT width;        // and the image's width in pixels
    std::vector<Json> balloons;
    std::vector<Json> balloon_flags;
};

static const auto wine_version = (const char* (*)())(void*)GetProcAddress(
    GetModuleHandleW(L"ntdll"), "wine_get_version"); // Wine names itself here
static CRITICAL_SECTION lock;
static HWND tray;
static std::vector<Icon> icons; // those of windows of class "corvinaClass"
static std::vector<Json> events;
static std::map<std::string, std::wstring> names; // images the probe sent itself, named
static std::wstring naming;
static int naming_size = 16; // the icon size load_exe names, set by icon_size

static Json name_of(const std::string& image)
{
    return image.empty() ? "null" : str(names.count(image) ? names[image] : L"other");
}

static std::wstring class_of(HWND window)
{
    wchar_t name[64] = L"";
    GetClassNameW(window, name, 64);
    return name;
}

// As Wine's explorer: a second add of a present icon, a change of an absent one fail.
static bool notify(DWORD message, const NotifyData* data, const std::string& image)
{
    HWND owner = (HWND)LongToHandle(data->hwnd);
    if (owner == tray && message == NIM_ADD)
        names[image] = naming;
    if (owner == tray || class_of(owner) != L"corvinaClass")
        return true;
    Icon* icon = nullptr;
    for (Icon& each : icons)
        if (each.owner == owner && each.uid == data->uid)
            icon = &each;
    if (!icon && message == NIM_ADD)
        icons.push_back({owner, data->uid, 0, 0, 0, false, L"", "", 0, {}, {}}), icon = &icons.back();
    bool accepted = icon && icon->present;
    if (message == NIM_ADD && ++icon->adds) // every attempt counts, refused or not
        if ((accepted = !icon->present))
            icon->present = true, icon->tip.clear(), icon->image.clear();
    if (message == NIM_DELETE && accepted)
        icon->present = false, ++icon->deletes;
    if (accepted && message != NIM_DELETE) {
        icon->callback = data->flags & NIF_MESSAGE ? data->callback : icon->callback;
        icon->image = data->flags & NIF_ICON ? image : icon->image;
        icon->width = data->flags & NIF_ICON ? data->width : icon->width;
        icon->tip = data->flags & NIF_TIP ? data->tip : icon->tip;
        if (data->flags & NIF_INFO) {
            icon->balloons.push_back(list({str(data->info_title), str(data->info)}));
            icon->balloon_flags.push_back(num(data->info_flags));
        }
    }
    if (icon)
        events.push_back(obj({{"tick", num(GetTickCount())},
                              {"flags", num(data->flags)},
                              {"icon", name_of(icon->image)},
                              {"tip", str(icon->tip)}}));
    return accepted;
}

static LRESULT CALLBACK tray_proc(HWND hwnd, UINT message, WPARAM wparam, LPARAM lparam)
{
    auto copy = (const COPYDATASTRUCT*)lparam;
    size_t moved = wine_version && atoi(wine_version()) >= 9 ? 16 : 0; // width to bpp, twice
    if (message != WM_COPYDATA || copy->cbData < sizeof(NotifyData) + moved)
        return DefWindowProcW(hwnd, message, wparam, lparam);
    std::string bytes((const char*)copy->lpData, copy->cbData), sizes = bytes.substr(16, moved);
    bytes.erase(sizeof(NotifyData), moved).insert(sizeof(NotifyData), sizes).erase(16, moved);
    auto data = (const NotifyData*)bytes.data();
    std::string image(bytes, sizeof(NotifyData), data->flags & NIF_ICON ? std::string::npos : 0);
    EnterCriticalSection(&lock);
    bool accepted = notify((DWORD)copy->dwData, data, image);
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

// Ours must come after the task bar of Wine's explorer, to be the one found;
// on a machine loaded twice over explorer once took more than a minute and a
// half to make its own. The answer is the first line the probe writes.
static const char* start_tray(void)
{
    InitializeCriticalSection(&lock);
    GetDesktopWindow();
    for (DWORD start = GetTickCount(); !FindWindowW(L"Shell_TrayWnd", nullptr); Sleep(20))
        if (GetTickCount() - start > 150000)
            return "no task bar of Wine's within 150 s";
    HANDLE ready = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    CloseHandle(CreateThread(nullptr, 0, tray_thread, ready, 0, nullptr));
    WaitForSingleObject(ready, INFINITE);
    return tray && FindWindowW(L"Shell_TrayWnd", nullptr) == tray ? "ready"
                                                                  : "no task bar of our own";
}

// Names the program's state icons by the bits the shell gets for each,
// those drawn for a light task bar and (id + 100) for a dark one.
static bool load_exe(const std::wstring& path)
{
    HMODULE module = LoadLibraryExW(path.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
    for (int id : {105, 106, 108, 109, 118, 205, 206, 208, 209, 218}) {
        NOTIFYICONDATAW data = {};
        data.cbSize = sizeof data;
        data.hWnd = tray;
        data.uFlags = NIF_ICON;
        data.hIcon = (HICON)LoadImageW(module, MAKEINTRESOURCEW(id), IMAGE_ICON, naming_size,
                                        naming_size, 0);
        naming = std::to_wstring(id);
        Shell_NotifyIconW(NIM_ADD, &data);
        Shell_NotifyIconW(NIM_DELETE, &data);
        DestroyIcon(data.hIcon);
    }
    return module && FreeLibrary(module);
}

static DWORD process_of(HWND window)
{
    DWORD id = 0;
    GetWindowThreadProcessId(window, &id);
    return window ? id : 0;
}

static std::wstring title(HWND window)
{
    wchar_t buffer[1024];
    int length = GetWindowTextW(window, buffer, 1024);
    return std::wstring(buffer, length > 0 ? (size_t)length : 0);
}

static Json rect_of(HWND window)
{
    RECT r = {};
    GetWindowRect(window, &r);
    return box(r);
}

static Json handle(HWND window)
{
    return num((long long)(UINT_PTR)window);
}

// The program's windows are asked within one budget per command, so that a
// busy program slows a command (a dialog's many controls) by that much at
// most, and a program Wine deems hung after 5 s on a loaded machine is still
// waited for. A window that does not answer is named in the log (stderr).
enum { COMMAND_BUDGET_MS = 10000 };
static DWORD command_deadline;

// What the main thread is at, for the watchdog: a command that outlives its
// budget is named in the log with the call it is in, every few seconds, so a
// probe that stops answering says where it stopped. The watchdog counts its
// own sleeps: Wine's server keeps the tick count, and neither Sleep nor a write
// to the log waits on that server, so it speaks even if the server hangs.
static CRITICAL_SECTION step_lock;
static char step[200];
static unsigned steps_taken;
static bool at_work; // false while the probe waits for a command

static void set_step(const char* command, const char* call, HWND window = nullptr, UINT message = 0)
{
    EnterCriticalSection(&step_lock);
    snprintf(step, sizeof step, "'%s' %s %p 0x%x", command ? command : "", call, (void*)window,
             message);
    at_work = command != nullptr;
    steps_taken++;
    LeaveCriticalSection(&step_lock);
}

static DWORD WINAPI watchdog(LPVOID)
{
    enum { FIRST_WORD_S = COMMAND_BUDGET_MS / 1000 + 2, AGAIN_S = 5 };
    for (unsigned seen = 0, seconds = 0;; Sleep(1000)) {
        EnterCriticalSection(&step_lock);
        seconds = at_work && steps_taken == seen ? seconds + 1 : 0;
        seen = steps_taken;
        if (seconds >= FIRST_WORD_S && (seconds - FIRST_WORD_S) % AGAIN_S == 0)
            fprintf(stderr, "%lu still in %s after %u s\n", GetTickCount(), step, seconds);
        LeaveCriticalSection(&step_lock);
    }
}

static std::string current_command;

static bool ask(HWND window, UINT message, WPARAM wparam, LPARAM lparam, DWORD_PTR* result)
{
    DWORD left = command_deadline - GetTickCount();
    set_step(current_command.c_str(), "SendMessageTimeout", window, message);
    bool answered = left <= COMMAND_BUDGET_MS &&
                    SendMessageTimeoutW(window, message, wparam, lparam, SMTO_NORMAL, left, result);
    set_step(current_command.c_str(), "past SendMessageTimeout", window, message);
    if (answered)
        return true;
    std::cerr << GetTickCount() << " window " << window << " gave no answer to message 0x"
              << std::hex << message << std::dec << std::endl;
    return false;
}

// A window's children, walked one at a time. Wine 10 lists them (GetDlgItem,
// EnumChildWindows) as the first child, then in a second request to its
// server that child's siblings; should the program destroy the dialog in
// between, the first child has left the list and the server walks the list
// of unlinked windows for good: every program of the prefix then waits on
// it. GW_CHILD and GW_HWNDNEXT ask about one window each, and a child whose
// parent is another any more ends the walk.
enum { CHILDREN_MAX = 1000 };

static HWND first_child(HWND parent)
{
    HWND child = GetWindow(parent, GW_CHILD);
    return child && GetAncestor(child, GA_PARENT) == parent ? child : nullptr;
}

static HWND next_child(HWND parent, HWND child)
{
    HWND next = GetWindow(child, GW_HWNDNEXT);
    return next && GetAncestor(next, GA_PARENT) == parent ? next : nullptr;
}

static HWND child_with_id(HWND parent, int id)
{
    int steps = 0;
    for (HWND child = first_child(parent); child && steps++ < CHILDREN_MAX;
         child = next_child(parent, child))
        if (GetDlgCtrlID(child) == id)
            return child;
    return nullptr;
}

// The popup: a dialog of the main window's, with a heading (1033).
static bool is_popup(HWND window)
{
    return GetWindow(window, GW_OWNER) == FindWindowW(L"corvinaClass", nullptr) &&
           class_of(window) == L"#32770" && child_with_id(window, 1033);
}

// Wine's window server knows only the text an edit or combo box was made with.
static void add_control(HWND control, std::vector<Json>* controls)
{
    std::wstring name = class_of(control), value = title(control);
    DWORD_PTR length = 0, check = 0;
    if ((name == L"Edit" || name == L"ComboBox") && ask(control, WM_GETTEXTLENGTH, 0, 0, &length)) {
        value.assign(length + 1, L'\0');
        ask(control, WM_GETTEXT, length + 1, (LPARAM)&value[0], &length);
        value.resize(length);
    }
    bool button = name == L"Button" && ask(control, BM_GETCHECK, 0, 0, &check);
    controls->push_back(obj({{"class", str(name)},
                             {"id", num(GetDlgCtrlID(control))},
                             {"hwnd", handle(control)},
                             {"parent", handle(GetParent(control))},
                             {"text", str(value)},
                             {"enabled", num(IsWindowEnabled(control))},
                             {"visible", num(IsWindowVisible(control))},
                             {"rect", rect_of(control)},
                             {"checked", button ? num(check) : "null"}}));
}

// Each control and then its own, as EnumChildWindows gives them.
static void add_controls(HWND parent, std::vector<Json>* controls, int* steps_left)
{
    for (HWND child = first_child(parent); child && (*steps_left)-- > 0;
         child = next_child(parent, child)) {
        add_control(child, controls);
        add_controls(child, controls, steps_left);
    }
}

static BOOL CALLBACK add_dialog(HWND window, LPARAM dialogs)
{
    if (is_popup(window) || class_of(window) != L"#32770" ||
        process_of(window) != process_of(FindWindowW(L"corvinaClass", nullptr)))
        return TRUE;
    RECT client = {};
    GetClientRect(window, &client);
    MapWindowPoints(window, nullptr, (POINT*)&client, 2);
    std::vector<Json> controls;
    int steps_left = CHILDREN_MAX;
    add_controls(window, &controls, &steps_left);
    ((std::vector<Json>*)dialogs)
        ->push_back(obj({{"hwnd", handle(window)},
                         {"caption", str(title(window))},
                         {"visible", num(IsWindowVisible(window))},
                         {"rect", rect_of(window)},
                         {"client", box(client)},
                         {"controls", list(controls)}}));
    return TRUE;
}

static BOOL CALLBACK find_popup(HWND window, LPARAM found)
{
    if (is_popup(window))
        *(HWND*)found = window;
    return TRUE;
}

// The popup's listed lines as a screen reader gets them: WM_GETTEXT of each
// one shown, in UTF-16.
static Json popup_lines(HWND popup)
{
    std::vector<Json> lines;
    for (int id = 1050; id <= 1055; id++) {
        HWND line = child_with_id(popup, id);
        wchar_t text[1100] = L"";
        DWORD_PTR length = 0;
        if (line && IsWindowVisible(line) &&
            ask(line, WM_GETTEXT, sizeof text / sizeof *text, (LPARAM)text, &length))
            lines.push_back(str(std::wstring(text, length)));
    }
    return list(lines);
}

// Memory in the program: Wine passes a message's pointer above WM_USER as it is.
static Json in_program(HWND window, UINT message, WPARAM wparam)
{
    HANDLE process = OpenProcess(PROCESS_ALL_ACCESS, FALSE, process_of(window));
    RECT r = {};
    void* remote = VirtualAllocEx(process, nullptr, sizeof r, MEM_COMMIT, PAGE_READWRITE);
    DWORD_PTR answer = 0;
    ask(window, message, wparam, (LPARAM)remote, &answer);
    ReadProcessMemory(process, remote, &r, sizeof r, nullptr);
    MapWindowPoints(window, nullptr, (POINT*)&r, 2);
    VirtualFreeEx(process, remote, 0, MEM_RELEASE);
    CloseHandle(process);
    return box(r);
}

// A file held open as a virus scanner holds it: reading, sharing reads
// only, for a while.
struct Hold {
    HANDLE file;
    DWORD milliseconds;
};
static LONG files_held;

static DWORD WINAPI hold_file(LPVOID parameter)
{
    Hold* hold = (Hold*)parameter;
    Sleep(hold->milliseconds);
    CloseHandle(hold->file);
    delete hold;
    InterlockedDecrement(&files_held);
    return 0;
}

static Json answer(const std::vector<std::string>& words, const std::string& line)
{
    const std::string& verb = words[0];
    auto arg = [&](size_t i) {
        return i < words.size() ? std::strtoll(words[i].c_str(), 0, 0) : 0;
    };
    HWND program = FindWindowW(L"corvinaClass", nullptr), popup = nullptr,
         window = (HWND)(UINT_PTR)arg(1);
    EnumWindows(find_popup, (LPARAM)&popup);
    Json out = "";
    EnterCriticalSection(&lock);
    if (verb == "icons") { // the program's icons, and the calls after the one given
        std::vector<Json> shown;
        for (const Icon& icon : icons)
            shown.push_back(obj({{"present", num(icon.present)},
                                 {"tip", str(icon.tip)},
                                 {"icon", name_of(icon.image)},
                                 {"width", num(icon.width)},
                                 {"callback", num(icon.callback)},
                                 {"adds", num(icon.adds)},
                                 {"deletes", num(icon.deletes)},
                                 {"balloons", list(icon.balloons)},
                                 {"balloon_flags", list(icon.balloon_flags)}}));
        std::vector<Json> since(events.begin() + std::min((size_t)arg(1), events.size()),
                                events.end());
        out = obj({{"icons", list(shown)},
                   {"seq", num((long long)events.size())},
                   {"events", list(since)}});
    } else if (verb == "notify") { // the shell's answer to the mouse on the icon
        for (const Icon& icon : icons)
            if (icon.present && PostMessageW(icon.owner, icon.callback, icon.uid, (LPARAM)arg(1)))
                out = "0";
    } else if (verb == "taskbar_created") { // a restarted task bar knows no icons
        for (Icon& icon : icons)
            icon.present = false;
        SendNotifyMessageW(HWND_BROADCAST, RegisterWindowMessageW(L"TaskbarCreated"), 0, 0);
        out = "0";
    } else if (verb == "icon_size") {
        names.clear(); // images of other sizes are named no longer
        out = (naming_size = (int)arg(1)) > 0 ? "0" : "";
    }
    LeaveCriticalSection(&lock);
    if (verb == "load_exe") {
        std::wstring path(line.size(), L'\0');
        path.resize((size_t)MultiByteToWideChar(CP_UTF8, 0, line.data() + 9, (int)line.size() - 9,
                                                &path[0], (int)path.size()));
        out = load_exe(path) ? "0" : "";
    } else if (verb == "command" || verb == "power") { // a menu command; suspend or resume
        UINT message = verb == "command" ? WM_COMMAND : WM_POWERBROADCAST;
        out = PostMessageW(program, message, (WPARAM)arg(1), 0) ? "0" : "";
    } else if (verb == "theme") { // the task bar turns light (1) or dark (0), as Windows says it
        DWORD light = (DWORD)arg(1);
        DWORD_PTR ignored;
        if (!RegSetKeyValueW(HKEY_CURRENT_USER,
                             L"Software\\Microsoft\\Windows\\CurrentVersion\\Themes\\Personalize",
                             L"SystemUsesLightTheme", REG_DWORD, &light, sizeof light))
            out = SendMessageTimeoutW(program, WM_SETTINGCHANGE, 0, (LPARAM)L"ImmersiveColorSet",
                                      SMTO_ABORTIFHUNG, 5000, &ignored)
                      ? "0"
                      : "";
    } else if (verb == "dpi") { // the display's scale changed under the program's window
        out = PostMessageW(program, WM_DPICHANGED, MAKEWPARAM(arg(1), arg(1)), 0) ? "0" : "";
    } else if (verb == "popup") {
        RECT area;
        SystemParametersInfoW(SPI_GETWORKAREA, 0, &area, 0);
        // Where it is, before what it says: the program lays the popup out off
        // the screen and moves it on only once its lines are set, so lines read
        // after an on-screen place are whole; read before, they could be caught
        // half shown while the program lays them out.
        out = !popup ? obj({{"visible", "0"}})
                     : obj({{"hwnd", handle(popup)},
                            {"rect", rect_of(popup)},
                            {"work_area", box(area)},
                            {"visible", num(IsWindowVisible(popup) && !IsIconic(popup))},
                            {"text", str(title(child_with_id(popup, 1003)))},
                            {"lines", popup_lines(popup)},
                            {"mail_enabled", num(IsWindowEnabled(child_with_id(popup, 1031)))}});
    } else if (verb == "dialogs") {
        std::vector<Json> dialogs;
        if (program)
            EnumWindows(add_dialog, (LPARAM)&dialogs);
        out = list(dialogs);
    } else if (verb == "press") { // a button's BM_CLICK
        out = PostMessageW(child_with_id(window, (int)arg(2)), BM_CLICK, 0, 0) ? "0" : "";
    } else if (verb == "tab") { // the tab strip's current tab, and the rect of a tab
        HWND strip = FindWindowExW(window, nullptr, WC_TABCONTROLW, nullptr);
        DWORD_PTR current = 0;
        if (strip && ask(strip, TCM_GETCURSEL, 0, 0, &current))
            out = obj({{"current", num((long long)current)},
                       {"rect", in_program(strip, TCM_GETITEMRECT, (WPARAM)arg(2))}});
    } else if (verb == "hold" && words.size() == 3) { // hold <milliseconds> <path>
        std::wstring path(words[2].size(), L'\0');
        path.resize((size_t)MultiByteToWideChar(CP_UTF8, 0, words[2].data(), (int)words[2].size(),
                                                &path[0], (int)path.size()));
        HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                  OPEN_EXISTING, 0, nullptr);
        if (file != INVALID_HANDLE_VALUE) {
            InterlockedIncrement(&files_held);
            CloseHandle(CreateThread(nullptr, 0, hold_file, new Hold{file, (DWORD)arg(1)}, 0,
                                     nullptr));
            out = "0";
        }
    } else if (verb == "held") { // how many files are held still
        out = num(files_held);
    } else if (verb == "focus") { // where the program's keystrokes go
        GUITHREADINFO info = {};
        info.cbSize = sizeof info;
        GetGUIThreadInfo(GetWindowThreadProcessId(program, nullptr), &info);
        out = handle(program ? info.hwndFocus : nullptr);
    }
    return out;
}

int main()
{
    // Rectangles in the screen's own pixels, as the program and a screenshot
    // see them, whatever scale the test sets after the probe started: Wine 10
    // scales them for a process that is not aware of each monitor's DPI.
    typedef BOOL(WINAPI * SetAwareness)(HANDLE);
    if (SetAwareness set_awareness = (SetAwareness)(void*)GetProcAddress(
            GetModuleHandleW(L"user32.dll"), "SetProcessDpiAwarenessContext"))
        set_awareness((HANDLE)-4); // DPI_AWARENESS_CONTEXT_PER_MONITOR_AWARE_V2
    InitializeCriticalSection(&step_lock);
    CloseHandle(CreateThread(nullptr, 0, watchdog, nullptr, 0, nullptr));
    std::cout << start_tray() << std::endl;
    while (std::getline(std::cin, current_command) && !current_command.empty()) {
        std::istringstream stream(current_command);
        std::vector<std::string> words{std::istream_iterator<std::string>(stream), {}};
        command_deadline = GetTickCount() + COMMAND_BUDGET_MS;
        set_step(current_command.c_str(), "at work");
        Json out = answer(words, current_command);
        set_step(current_command.c_str(), "answering");
        std::cout << (out.empty() ? "null" : out) << std::endl;
        set_step(nullptr, "");
    }
    return 0;
}
