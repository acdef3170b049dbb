// The block the probe and its menu agent share: the probe names the menu,
// the agent (running inside the menu's process) fills in its items.
#pragma once

#include <windows.h>

#define MENU_SHARE_NAME L"trayprobe-menu-%lu" // the menu process's id
#define MENU_AGENT_FILE L"trayprobe_agent.dll"

enum { MENU_SHARE_MAX_ITEMS = 32, MENU_SHARE_TEXT = 128 };

struct MenuShareItem {
    UINT id;
    UINT state; // MFS_ flags
    UINT type;  // MFT_ flags
    RECT rect;  // screen coordinates
    WCHAR text[MENU_SHARE_TEXT];
};

struct MenuShare {
    UINT64 menu; // HMENU, in
    LONG status; // out: 0 agent did not run, 1 read, -1 not a menu
    LONG count;
    MenuShareItem items[MENU_SHARE_MAX_ITEMS];
};
