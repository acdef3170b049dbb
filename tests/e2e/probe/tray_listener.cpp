#include "tray_listener.h"

#include <shellapi.h>

#include <cwchar>
#include <map>

// Wine 8.0's shell32 sends each Shell_NotifyIcon call to the first top-level
// window of class "Shell_TrayWnd" as WM_COPYDATA: dwData is the NIM_ value
// and the data is this record, followed (with NIF_ICON) by the icon's mask
// bits and then its colour bits (dlls/shell32/systray.c, struct notify_data).
struct NotifyData {
    LONG hwnd;
    UINT uid;
    UINT flags;
    UINT callback;
    WCHAR tip[128];
    DWORD state;
    DWORD state_mask;
    WCHAR info[256];
    UINT timeout;
    WCHAR info_title[64];
    DWORD info_flags;
    GUID guid;
    UINT width, height, planes, bpp;
};
static_assert(sizeof(NotifyData) == 960, "Wine 8.0 notify_data layout");

static CRITICAL_SECTION lock;
static HWND window;
static std::vector<TrayIcon> icons;
static std::vector<TrayEvent> events;
static unsigned last_seq;
static unsigned adds_to_refuse;
// Images are few and repeat, so each distinct one is kept once.
static std::vector<std::vector<BYTE>> images;
static std::map<int, std::wstring> image_names;
// Icons our own window sent, by id, waiting for tray_capture_icon.
static std::map<unsigned, int> captured;
static unsigned next_capture_uid = 0x10000;

static const size_t MAX_EVENTS = 20000;

// The image is the size fields and every bit shell32 sent.
static int intern_image(const BYTE* data, size_t size)
{
    std::vector<BYTE> image(data, data + size);
    for (size_t i = 0; i < images.size(); ++i)
        if (images[i] == image)
            return (int)i;
    images.push_back(image);
    return (int)images.size() - 1;
}

static int image_of(const COPYDATASTRUCT* copy)
{
    const size_t size_fields = offsetof(NotifyData, width);
    if (copy->cbData <= sizeof(NotifyData))
        return -1; // NIF_ICON without a usable icon handle
    return intern_image((const BYTE*)copy->lpData + size_fields, copy->cbData - size_fields);
}

static TrayIcon* find_icon(HWND owner, unsigned uid)
{
    for (TrayIcon& icon : icons)
        if (icon.owner == owner && icon.uid == uid)
            return &icon;
    return nullptr;
}

static void apply(TrayIcon* icon, const NotifyData* data, int image)
{
    if (data->flags & NIF_MESSAGE)
        icon->callback = data->callback;
    if (data->flags & NIF_ICON)
        icon->image = image;
    if (data->flags & NIF_TIP)
        icon->tip = data->tip;
    if (data->flags & NIF_INFO)
        icon->balloons.push_back({data->info_title, data->info, data->timeout, data->info_flags});
}

// The answers follow Wine's explorer: a second add of a present icon and a
// change of an absent one fail.
static bool handle_call(DWORD message, const NotifyData* data, int image)
{
    HWND owner = (HWND)LongToHandle(data->hwnd);
    TrayIcon* icon = find_icon(owner, data->uid);
    switch (message) {
    case NIM_ADD:
        if (!icon) {
            wchar_t owner_class[64] = L"";
            GetClassNameW(owner, owner_class, 64);
            icons.push_back({owner, owner_class, data->uid, false, L"", -1, 0, 0, 0, 0, {}});
            icon = &icons.back();
        }
        ++icon->adds; // every attempt counts, refused or not
        if (adds_to_refuse > 0) {
            --adds_to_refuse;
            return false;
        }
        if (icon->present)
            return false;
        icon->present = true;
        icon->tip.clear();
        icon->image = -1;
        icon->callback = 0;
        apply(icon, data, image);
        return true;
    case NIM_MODIFY:
        if (!icon || !icon->present)
            return false;
        ++icon->modifies;
        apply(icon, data, image);
        return true;
    case NIM_DELETE:
        if (!icon || !icon->present)
            return false;
        icon->present = false;
        ++icon->deletes;
        return true;
    default:
        return icon && icon->present;
    }
}

static LRESULT on_copy_data(const COPYDATASTRUCT* copy)
{
    if (copy->cbData < sizeof(NotifyData))
        return FALSE;
    const NotifyData* data = (const NotifyData*)copy->lpData;
    int image = (data->flags & NIF_ICON) ? image_of(copy) : -1;
    EnterCriticalSection(&lock);
    bool accepted = true;
    if ((HWND)LongToHandle(data->hwnd) == window) {
        if (copy->dwData == NIM_ADD)
            captured[data->uid] = image;
    } else {
        accepted = handle_call((DWORD)copy->dwData, data, image);
        TrayIcon* icon = find_icon((HWND)LongToHandle(data->hwnd), data->uid);
        if (events.size() == MAX_EVENTS)
            events.erase(events.begin(), events.begin() + MAX_EVENTS / 2);
        events.push_back({++last_seq, GetTickCount(), (unsigned)copy->dwData,
                          (HWND)LongToHandle(data->hwnd), data->uid, data->flags, accepted,
                          icon ? icon->image : -1, icon ? icon->tip : L""});
    }
    LeaveCriticalSection(&lock);
    return accepted;
}

static LRESULT CALLBACK tray_window_proc(HWND hwnd, UINT message, WPARAM wparam, LPARAM lparam)
{
    if (message == WM_COPYDATA)
        return on_copy_data((const COPYDATASTRUCT*)lparam);
    return DefWindowProcW(hwnd, message, wparam, lparam);
}

static DWORD WINAPI tray_thread(LPVOID ready)
{
    WNDCLASSW window_class = {};
    window_class.lpfnWndProc = tray_window_proc;
    window_class.hInstance = GetModuleHandleW(nullptr);
    window_class.lpszClassName = L"Shell_TrayWnd";
    if (RegisterClassW(&window_class))
        window = CreateWindowExW(WS_EX_TOOLWINDOW, L"Shell_TrayWnd", L"trayprobe", WS_POPUP, 0, 0,
                                 0, 0, nullptr, nullptr, window_class.hInstance, nullptr);
    SetEvent((HANDLE)ready);
    MSG message;
    while (GetMessageW(&message, nullptr, 0, 0) > 0)
        DispatchMessageW(&message);
    return 0;
}

// Wine starts its desktop process (explorer) with the first window of the
// prefix; its task bar window appears shortly after. Ours must come later,
// so that it is the newest, and so the first that shell32 finds.
static bool wait_for_explorer_tray(void)
{
    GetDesktopWindow();
    DWORD start = GetTickCount();
    while (!FindWindowW(L"Shell_TrayWnd", nullptr)) {
        if (GetTickCount() - start > 30000)
            return false;
        Sleep(20);
    }
    return true;
}

// A tool tip sent through the shell to our own window must come back to it.
static bool round_trip_works(void)
{
    NOTIFYICONDATAW data = {};
    data.cbSize = sizeof data;
    data.hWnd = window;
    data.uID = next_capture_uid++;
    data.uFlags = NIF_TIP;
    lstrcpyW(data.szTip, L"trayprobe");
    if (!Shell_NotifyIconW(NIM_ADD, &data))
        return false;
    EnterCriticalSection(&lock);
    bool arrived = captured.erase(data.uID) == 1;
    LeaveCriticalSection(&lock);
    Shell_NotifyIconW(NIM_DELETE, &data);
    return arrived;
}

bool tray_listener_start(std::string* error)
{
    InitializeCriticalSection(&lock);
    if (!wait_for_explorer_tray()) {
        *error = "Wine's explorer made no Shell_TrayWnd within 30 s";
        return false;
    }
    HANDLE ready = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    CloseHandle(CreateThread(nullptr, 0, tray_thread, ready, 0, nullptr));
    WaitForSingleObject(ready, INFINITE);
    CloseHandle(ready);
    if (!window) {
        *error = "could not create the Shell_TrayWnd window";
        return false;
    }
    if (FindWindowW(L"Shell_TrayWnd", nullptr) != window) {
        *error = "FindWindow(\"Shell_TrayWnd\") finds another window than the probe's";
        return false;
    }
    if (!round_trip_works()) {
        *error = "a Shell_NotifyIconW call did not reach the probe's window";
        return false;
    }
    return true;
}

std::vector<TrayIcon> tray_icons(unsigned* seq)
{
    EnterCriticalSection(&lock);
    std::vector<TrayIcon> copy = icons;
    *seq = last_seq;
    LeaveCriticalSection(&lock);
    return copy;
}

std::vector<TrayEvent> tray_events_since(unsigned seq)
{
    std::vector<TrayEvent> out;
    EnterCriticalSection(&lock);
    for (const TrayEvent& event : events)
        if (event.seq > seq)
            out.push_back(event);
    LeaveCriticalSection(&lock);
    return out;
}

void tray_forget_icons(void)
{
    EnterCriticalSection(&lock);
    for (TrayIcon& icon : icons)
        icon.present = false;
    LeaveCriticalSection(&lock);
}

void tray_refuse_adds(unsigned count)
{
    EnterCriticalSection(&lock);
    adds_to_refuse = count;
    LeaveCriticalSection(&lock);
}

int tray_capture_icon(HICON icon)
{
    NOTIFYICONDATAW data = {};
    data.cbSize = sizeof data;
    data.hWnd = window;
    data.uID = next_capture_uid++;
    data.uFlags = NIF_ICON;
    data.hIcon = icon;
    if (!Shell_NotifyIconW(NIM_ADD, &data))
        return -1;
    EnterCriticalSection(&lock);
    int image = captured.count(data.uID) ? captured[data.uID] : -1;
    captured.erase(data.uID);
    LeaveCriticalSection(&lock);
    Shell_NotifyIconW(NIM_DELETE, &data);
    return image;
}

void tray_name_image(int image, const std::wstring& name)
{
    EnterCriticalSection(&lock);
    image_names[image] = name;
    LeaveCriticalSection(&lock);
}

// FNV-1a: a short, stable name for an image no reference matches.
static unsigned checksum(const std::vector<BYTE>& bytes)
{
    unsigned hash = 2166136261u;
    for (BYTE b : bytes)
        hash = (hash ^ b) * 16777619u;
    return hash;
}

std::wstring tray_image_name(int image)
{
    if (image < 0)
        return L"";
    EnterCriticalSection(&lock);
    std::wstring name;
    if (image_names.count(image)) {
        name = image_names[image];
    } else {
        wchar_t other[32];
        swprintf(other, 32, L"other:%08x", checksum(images[(size_t)image]));
        name = other;
    }
    LeaveCriticalSection(&lock);
    return name;
}
