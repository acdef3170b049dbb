// Reads the popup menu another process shows, through the menu agent.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

struct MenuItem {
    unsigned id;
    unsigned state; // MFS_ flags
    unsigned type;  // MFT_ flags
    RECT rect;      // screen coordinates
    std::wstring text;
};

// The visible popup menu window (class "#32768"), or null when none is open.
HWND menu_open_window(void);

enum MenuRead { MENU_READ, MENU_GONE, MENU_FAILED };

// Reads the items of the menu that the window shows. MENU_GONE: the menu
// closed meanwhile; MENU_FAILED with a reason.
MenuRead menu_read(HWND menu_window, std::vector<MenuItem>* items, std::string* error);
