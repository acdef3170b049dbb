// The common colour and open-file dialogs as the settings pages use them.
// Both are owned by the hidden main window, not by the sheet.
#include <windows.h>

#include <commdlg.h>

#include "core/app_win32.h"
#include "ui/pages_win32.h"

enum { CUSTOM_COLOR_COUNT = 16, CHOSEN_FILE_CAPACITY = 260 };

// One table for the whole run, shared by both colour buttons; never saved.
static COLORREF custom_colors[CUSTOM_COLOR_COUNT];

bool choose_color(uint32_t* color)
{
    CHOOSECOLORA chooser = {};
    chooser.lStructSize = sizeof chooser;
    chooser.hwndOwner = main_window;
    chooser.rgbResult = *color;
    chooser.lpCustColors = custom_colors;
    chooser.Flags = CC_RGBINIT;
    if (!ChooseColorA(&chooser))
        return false;
    *color = chooser.rgbResult;
    return true;
}

bool choose_file(HWND edit, const char* filter)
{
    char file[CHOSEN_FILE_CAPACITY] = "";
    OPENFILENAMEA chooser = {};
    chooser.lStructSize = OPENFILENAME_SIZE_VERSION_400A;
    chooser.hwndOwner = main_window;
    chooser.lpstrFilter = filter;
    chooser.nFilterIndex = 1;
    chooser.lpstrFile = file;
    chooser.nMaxFile = sizeof file;
    chooser.Flags = OFN_PATHMUSTEXIST | OFN_FILEMUSTEXIST;
    if (!GetOpenFileNameA(&chooser))
        return false;
    SetWindowTextA(edit, file);
    return true;
}
