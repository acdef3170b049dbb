#include "menu_reader.h"

#include <cwchar>

#include "menu_share.h"

static BOOL CALLBACK find_visible_menu(HWND window, LPARAM found)
{
    wchar_t class_name[16];
    if (IsWindowVisible(window) && GetClassNameW(window, class_name, 16) &&
        lstrcmpW(class_name, L"#32768") == 0) {
        *(HWND*)found = window;
        return FALSE;
    }
    return TRUE;
}

HWND menu_open_window(void)
{
    HWND found = nullptr;
    EnumWindows(find_visible_menu, (LPARAM)&found);
    return found;
}

static std::wstring agent_path(void)
{
    wchar_t path[MAX_PATH];
    DWORD length = GetModuleFileNameW(nullptr, path, MAX_PATH);
    std::wstring folder(path, length);
    return folder.substr(0, folder.find_last_of(L"\\/") + 1) + MENU_AGENT_FILE;
}

// LoadLibraryW runs in the target on a thread of its own. kernel32 lies at
// the same address in every process of the prefix, so our address of
// LoadLibraryW is the target's too.
static bool run_agent(DWORD process_id, std::string* error)
{
    HANDLE process = OpenProcess(PROCESS_CREATE_THREAD | PROCESS_QUERY_INFORMATION |
                                     PROCESS_VM_OPERATION | PROCESS_VM_WRITE,
                                 FALSE, process_id);
    if (!process) {
        *error = "cannot open the menu's process";
        return false;
    }
    std::wstring path = agent_path();
    SIZE_T bytes = (path.size() + 1) * sizeof(wchar_t);
    void* remote_path =
        VirtualAllocEx(process, nullptr, bytes, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE);
    bool ran = false;
    if (remote_path && WriteProcessMemory(process, remote_path, path.c_str(), bytes, nullptr)) {
        auto load = (LPTHREAD_START_ROUTINE)(void*)GetProcAddress(GetModuleHandleW(L"kernel32.dll"),
                                                                  "LoadLibraryW");
        HANDLE thread = CreateRemoteThread(process, nullptr, 0, load, remote_path, 0, nullptr);
        if (thread) {
            ran = WaitForSingleObject(thread, 10000) == WAIT_OBJECT_0;
            CloseHandle(thread);
        }
    }
    if (!ran)
        *error = "could not run the menu agent in the menu's process";
    if (remote_path)
        VirtualFreeEx(process, remote_path, 0, MEM_RELEASE);
    CloseHandle(process);
    return ran;
}

MenuRead menu_read(HWND menu_window, std::vector<MenuItem>* items, std::string* error)
{
    DWORD_PTR menu = 0;
    if (!SendMessageTimeoutW(menu_window, MN_GETHMENU, 0, 0, SMTO_ABORTIFHUNG, 5000, &menu)) {
        if (!IsWindowVisible(menu_window))
            return MENU_GONE; // closed since it was found
        *error = "the menu window does not answer";
        return MENU_FAILED;
    }
    if (!menu)
        return MENU_GONE; // the window outlives its menu for a moment when it closes
    DWORD process_id = 0;
    GetWindowThreadProcessId(menu_window, &process_id);
    wchar_t name[64];
    swprintf(name, 64, MENU_SHARE_NAME, process_id);
    HANDLE mapping = CreateFileMappingW(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0,
                                        sizeof(MenuShare), name);
    if (!mapping) {
        *error = "cannot create the shared block";
        return MENU_FAILED;
    }
    auto share = (MenuShare*)MapViewOfFile(mapping, FILE_MAP_ALL_ACCESS, 0, 0, sizeof(MenuShare));
    MenuRead result = MENU_FAILED;
    if (share) {
        ZeroMemory(share, sizeof *share);
        share->menu = menu;
        if (!run_agent(process_id, error))
            result = MENU_FAILED;
        else if (share->status == 0)
            *error = "the menu agent did not run";
        else if (share->status < 0)
            result = MENU_GONE;
        else
            result = MENU_READ;
        for (LONG i = 0; result == MENU_READ && i < share->count && i < MENU_SHARE_MAX_ITEMS; ++i) {
            const MenuShareItem& item = share->items[i];
            items->push_back({item.id, item.state, item.type, item.rect, item.text});
        }
        UnmapViewOfFile(share);
    }
    CloseHandle(mapping);
    return result;
}
