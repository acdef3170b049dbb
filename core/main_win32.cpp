// Entry point. For now it finds its INI file and loads the settings; the
// tray icon, the check controller and the settings sheet come next.
#include <windows.h>

#include "settings/settings.h"

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int)
{
    char program_file[MAX_PATH + 1];
    DWORD length = GetModuleFileNameA(NULL, program_file, MAX_PATH);
    program_file[length] = '\0';
    settings_locate(program_file);
    settings_reset();
    if (GetFileAttributesA(ini_path) != INVALID_FILE_ATTRIBUTES)
        settings_load();
    return 0;
}
