// Why a save failed, read from Windows: the Windows build's side of the
// settings' file failures, shared with the startup shortcut.
#include <windows.h>

#include <errno.h>

#include "core/wide_win32.h"
#include "settings/ini.h"
#include "settings/save_failure_win32.h"
#include "settings/save_result.h"

int save_refusal_wide(const wchar_t* path)
{
    DWORD attributes = GetFileAttributesW(path);
    if (attributes == INVALID_FILE_ATTRIBUTES)
        return SAVE_DONE;
    if (attributes & FILE_ATTRIBUTE_DIRECTORY)
        return SAVE_IS_FOLDER;
    return attributes & FILE_ATTRIBUTE_READONLY ? SAVE_READ_ONLY : SAVE_DONE;
}

int save_result_of_error(DWORD error)
{
    switch (error) {
    case ERROR_ACCESS_DENIED:
    case ERROR_WRITE_PROTECT:
    case ERROR_SHARING_VIOLATION:
        return SAVE_DENIED;
    case ERROR_PATH_NOT_FOUND:
    case ERROR_INVALID_DRIVE:
    case ERROR_BAD_NETPATH:
        return SAVE_NO_FOLDER;
    case ERROR_DISK_FULL:
    case ERROR_HANDLE_DISK_FULL:
        return SAVE_DISK_FULL;
    default:
        return SAVE_FAILED;
    }
}

int ini_write_refusal(const char* path)
{
    wchar_t wide_path[MAX_PATH + 1];
    wide_from_path(path, wide_path, MAX_PATH + 1);
    return save_refusal_wide(wide_path);
}

// The writer tells a file too large for it by errno alone; every other
// failure is a file call's, which Windows names.
int ini_last_failure(void)
{
    return errno == EFBIG ? SAVE_FAILED : save_result_of_error(GetLastError());
}
