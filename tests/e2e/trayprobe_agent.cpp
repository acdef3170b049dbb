// The menu agent: a DLL the probe loads into the process that shows a menu.
//
// Wine keeps a menu's items in the memory of the process that made it and
// refuses to read another process's menu ("other process menu"), so the
// items are read from inside: the probe starts LoadLibraryW in that process
// with this file's path, DllMain fills the shared block, and returns FALSE,
// which unloads the agent at once and leaves the program as it was.
#include <windows.h>

#include <cwchar>

#include "probe_share.h"

static void read_menu(MenuShare* share)
{
    HMENU menu = (HMENU)(UINT_PTR)share->menu;
    int count = GetMenuItemCount(menu);
    if (count < 0) {
        share->status = -1;
        return;
    }
    share->count = count;
    for (int i = 0; i < count && i < MENU_SHARE_MAX_ITEMS; ++i) {
        MenuShareItem* item = &share->items[i];
        MENUITEMINFOW info = {};
        info.cbSize = sizeof info;
        info.fMask = MIIM_ID | MIIM_STATE | MIIM_FTYPE | MIIM_STRING;
        info.dwTypeData = item->text;
        info.cch = MENU_SHARE_TEXT;
        GetMenuItemInfoW(menu, (UINT)i, TRUE, &info);
        item->id = info.wID;
        item->state = info.fState;
        item->type = info.fType;
        GetMenuItemRect(nullptr, menu, (UINT)i, &item->rect);
    }
    share->status = 1;
}

BOOL WINAPI DllMain(HINSTANCE, DWORD reason, LPVOID)
{
    if (reason != DLL_PROCESS_ATTACH)
        return TRUE;
    wchar_t name[64];
    swprintf(name, 64, MENU_SHARE_NAME, GetCurrentProcessId());
    HANDLE mapping = OpenFileMappingW(FILE_MAP_ALL_ACCESS, FALSE, name);
    if (mapping) {
        void* view = MapViewOfFile(mapping, FILE_MAP_ALL_ACCESS, 0, 0, sizeof(MenuShare));
        if (view) {
            read_menu((MenuShare*)view);
            UnmapViewOfFile(view);
        }
        CloseHandle(mapping);
    }
    return FALSE;
}
