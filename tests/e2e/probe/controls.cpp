#include "controls.h"

#include <commctrl.h>

#include <vector>

#include "program_windows.h"

// A control answers at once unless its thread is stuck; this only bounds that.
enum { ANSWER_MS = 2000 };

static bool ask(HWND window, UINT message, WPARAM wparam, LPARAM lparam, DWORD_PTR* result)
{
    return SendMessageTimeoutW(window, message, wparam, lparam, SMTO_ABORTIFHUNG, ANSWER_MS,
                               result) != 0;
}

bool control_text(HWND control, std::wstring* text)
{
    DWORD_PTR length = 0;
    if (!ask(control, WM_GETTEXTLENGTH, 0, 0, &length))
        return false;
    std::vector<wchar_t> buffer(length + 1);
    DWORD_PTR copied = 0;
    if (!ask(control, WM_GETTEXT, buffer.size(), (LPARAM)buffer.data(), &copied))
        return false;
    text->assign(buffer.data(), copied < buffer.size() ? copied : buffer.size() - 1);
    return true;
}

bool button_check(HWND button, LRESULT* state)
{
    DWORD_PTR answer = 0;
    if (!ask(button, BM_GETCHECK, 0, 0, &answer))
        return false;
    *state = (LRESULT)answer;
    return true;
}

// Memory inside the program's process: the tab messages take pointers, and
// Wine passes the pointer of a message above WM_USER on unchanged, so it
// must be valid in the program, not in the probe.
class RemoteBuffer
{
  public:
    RemoteBuffer(HWND owner, size_t size)
    {
        DWORD process_id = 0;
        GetWindowThreadProcessId(owner, &process_id);
        process_ = OpenProcess(PROCESS_VM_OPERATION | PROCESS_VM_READ | PROCESS_VM_WRITE, FALSE,
                               process_id);
        if (process_)
            base_ = (BYTE*)VirtualAllocEx(process_, nullptr, size, MEM_COMMIT | MEM_RESERVE,
                                          PAGE_READWRITE);
    }
    RemoteBuffer(const RemoteBuffer&) = delete;
    RemoteBuffer& operator=(const RemoteBuffer&) = delete;
    ~RemoteBuffer()
    {
        if (base_)
            VirtualFreeEx(process_, base_, 0, MEM_RELEASE);
        if (process_)
            CloseHandle(process_);
    }
    bool ready() const
    {
        return base_ != nullptr;
    }
    BYTE* at(size_t offset) const
    {
        return base_ + offset;
    }
    bool write(size_t offset, const void* data, size_t size) const
    {
        return WriteProcessMemory(process_, base_ + offset, data, size, nullptr) != 0;
    }
    bool read(size_t offset, void* data, size_t size) const
    {
        return ReadProcessMemory(process_, base_ + offset, data, size, nullptr) != 0;
    }

  private:
    HANDLE process_ = nullptr;
    BYTE* base_ = nullptr;
};

enum { TAB_TEXT_CAPACITY = 128, TAB_RECT_AT = 0, TAB_ITEM_AT = 64, TAB_TEXT_AT = 256 };

static bool tab_item(const RemoteBuffer& remote, HWND tab, int index, RECT* rect,
                     std::wstring* text)
{
    DWORD_PTR answer = 0;
    if (!ask(tab, TCM_GETITEMRECT, (WPARAM)index, (LPARAM)remote.at(TAB_RECT_AT), &answer) ||
        !answer || !remote.read(TAB_RECT_AT, rect, sizeof *rect))
        return false;
    MapWindowPoints(tab, nullptr, (POINT*)rect, 2);
    TCITEMW item = {};
    item.mask = TCIF_TEXT;
    item.pszText = (LPWSTR)remote.at(TAB_TEXT_AT);
    item.cchTextMax = TAB_TEXT_CAPACITY;
    wchar_t buffer[TAB_TEXT_CAPACITY] = {};
    if (!remote.write(TAB_ITEM_AT, &item, sizeof item) ||
        !remote.write(TAB_TEXT_AT, buffer, sizeof buffer) ||
        !ask(tab, TCM_GETITEMW, (WPARAM)index, (LPARAM)remote.at(TAB_ITEM_AT), &answer) ||
        !answer || !remote.read(TAB_TEXT_AT, buffer, sizeof buffer))
        return false;
    buffer[TAB_TEXT_CAPACITY - 1] = L'\0';
    *text = buffer;
    return true;
}

// The tab strip of a dialog (a property sheet): which tab is chosen, and
// each tab's text and screen rectangle, so that a test can click it.
bool cmd_tabs(const Args& args, Json& reply, std::string* error)
{
    HWND dialog = (HWND)(UINT_PTR)args.number(1);
    HWND tab = FindWindowExW(dialog, nullptr, WC_TABCONTROLW, nullptr);
    if (!tab) {
        *error = "the window has no tab strip";
        return false;
    }
    DWORD_PTR count = 0, current = 0;
    if (!ask(tab, TCM_GETITEMCOUNT, 0, 0, &count) || !ask(tab, TCM_GETCURSEL, 0, 0, &current)) {
        *error = "the tab strip does not answer";
        return false;
    }
    RemoteBuffer remote(tab, 4096);
    if (!remote.ready()) {
        *error = "cannot reach the program's memory";
        return false;
    }
    reply.number("hwnd", (long long)(UINT_PTR)tab);
    reply.boolean("enabled", IsWindowEnabled(tab) != FALSE).number("current", (int)current);
    reply.begin_array("items");
    for (int i = 0; i < (int)count; ++i) {
        RECT rect;
        std::wstring text;
        if (!tab_item(remote, tab, i, &rect, &text)) {
            *error = "cannot read a tab";
            return false;
        }
        reply.begin_object().text("text", text).rect("rect", rect).end_object();
    }
    reply.end_array();
    return true;
}

static void window_fields(Json& reply, const char* key, HWND window)
{
    wchar_t class_name[64] = L"";
    if (window)
        GetClassNameW(window, class_name, 64);
    reply.begin_object(key).number("hwnd", (long long)(UINT_PTR)window);
    reply.number("id", window ? GetDlgCtrlID(window) : 0).text("class", class_name);
    reply.end_object();
}

// Where the program's keystrokes go: the focus and the active window of its
// user-interface thread (the thread of its main window).
bool cmd_focus(const Args&, Json& reply, std::string* error)
{
    HWND main = program_main_window();
    GUITHREADINFO info = {};
    info.cbSize = sizeof info;
    if (!main || !GetGUIThreadInfo(GetWindowThreadProcessId(main, nullptr), &info)) {
        *error = "cannot read the program's input state";
        return false;
    }
    window_fields(reply, "focus", info.hwndFocus);
    window_fields(reply, "active", info.hwndActive);
    window_fields(reply, "foreground", GetForegroundWindow());
    return true;
}
