// The common colour and open-file dialogs as the settings pages use them.
// Both are owned by the hidden main window, not by the sheet.
#include <windows.h>

#include <commdlg.h>

#include "core/app_win32.h"
#include "core/wide_win32.h"
#include "ui/pages_win32.h"

enum { CUSTOM_COLOR_COUNT = 16, CHOSEN_FILE_CAPACITY = 260, FILTER_CAPACITY = 64 };

// One table for the whole run, shared by both colour buttons; never saved.
static COLORREF custom_colors[CUSTOM_COLOR_COUNT];

bool choose_color(uint32_t* color)
{
    CHOOSECOLORW chooser = {};
    chooser.lStructSize = sizeof chooser;
    chooser.hwndOwner = main_window;
    chooser.rgbResult = *color;
    chooser.lpCustColors = custom_colors;
    chooser.Flags = CC_RGBINIT;
    if (!ChooseColorW(&chooser))
        return false;
    *color = chooser.rgbResult;
    return true;
}

bool choose_file(HWND edit, const char* filter)
{
    // The filter's name and pattern, each converted on its own.
    wchar_t wide_filter[FILTER_CAPACITY] = L"";
    int name = wide_from_cp932(filter, wide_filter, FILTER_CAPACITY);
    int pattern = wide_from_cp932(filter + lstrlenA(filter) + 1, wide_filter + name + 1,
                                  FILTER_CAPACITY - name - 2);
    wide_filter[name + 1 + pattern + 1] = L'\0';

    wchar_t file[CHOSEN_FILE_CAPACITY] = L"";
    OPENFILENAMEW chooser = {};
    chooser.lStructSize = OPENFILENAME_SIZE_VERSION_400W;
    chooser.hwndOwner = main_window;
    chooser.lpstrFilter = wide_filter;
    chooser.nFilterIndex = 1;
    chooser.lpstrFile = file;
    chooser.nMaxFile = CHOSEN_FILE_CAPACITY;
    chooser.Flags = OFN_PATHMUSTEXIST | OFN_FILEMUSTEXIST;
    if (!GetOpenFileNameW(&chooser))
        return false;
    SetWindowTextW(edit, file);
    return true;
}
