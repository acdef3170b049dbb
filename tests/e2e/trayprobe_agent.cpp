// The menu agent: a DLL the probe loads into the process that shows a menu.
// Wine keeps a menu's items in the memory of the process that made it and
// refuses to read another process's menu, so the items are read from inside:
// the probe starts LoadLibraryW in that process with this file's path;
// DllMain writes the items into the block the probe named after the process
// (the menu's handle in, a line per item out) and returns FALSE, which
// unloads the agent at once and leaves the program as it was.
#include <windows.h>

#include <cwchar>

BOOL WINAPI DllMain(HINSTANCE, DWORD reason, LPVOID)
{
    wchar_t name[64];
    swprintf(name, 64, L"trayprobe-menu-%lu", GetCurrentProcessId());
    HANDLE mapping =
        reason == DLL_PROCESS_ATTACH ? OpenFileMappingW(FILE_MAP_ALL_ACCESS, FALSE, name) : nullptr;
    auto view = mapping ? (UINT64*)MapViewOfFile(mapping, FILE_MAP_ALL_ACCESS, 0, 0, 0) : nullptr;
    if (!view)
        return reason != DLL_PROCESS_ATTACH;
    HMENU menu = (HMENU)(UINT_PTR)view[0];
    wchar_t* out = (wchar_t*)(view + 1);
    for (int i = 0, count = GetMenuItemCount(menu); i < count; ++i) {
        wchar_t text[128] = L"";
        MENUITEMINFOW info = {};
        info.cbSize = sizeof info;
        info.fMask = MIIM_ID | MIIM_STATE | MIIM_STRING;
        info.dwTypeData = text;
        info.cch = 128;
        RECT r = {};
        GetMenuItemInfoW(menu, (UINT)i, TRUE, &info);
        GetMenuItemRect(nullptr, menu, (UINT)i, &r);
        out += swprintf(out, 256, L"%u\t%d\t%d\t%ld\t%ld\t%ld\t%ld\t%ls\n", info.wID,
                        !!(info.fState & MFS_GRAYED), !!(info.fState & MFS_CHECKED), r.left, r.top,
                        r.right, r.bottom, text);
    }
    UnmapViewOfFile(view);
    CloseHandle(mapping);
    return FALSE;
}
