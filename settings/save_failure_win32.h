// Why a file could not be written, as the settings sheet tells the user:
// shared by the INI file and the startup shortcut.
#pragma once

#include <windows.h>

// SAVE_IS_FOLDER or SAVE_READ_ONLY when the path itself refuses a write,
// else SAVE_DONE.
int save_refusal_wide(const wchar_t* path);

// The SaveResult for a Windows error code.
int save_result_of_error(DWORD error);
