#include <windows.h>

#include <io.h>
#include <stdio.h>

#include "core/file_hold_win32.h"
#include "core/file_replace.h"
#include "core/wide_win32.h"

enum { MODE_MAX = 7 };

enum { HOLD_WAIT_MS = 1000, HOLD_RETRY_MS = 50 };

bool file_wait_while_held(int* waited_ms)
{
    DWORD error = GetLastError();
    if ((error != ERROR_SHARING_VIOLATION && error != ERROR_LOCK_VIOLATION &&
         error != ERROR_ACCESS_DENIED) ||
        *waited_ms >= HOLD_WAIT_MS)
        return false;
    Sleep(HOLD_RETRY_MS);
    *waited_ms += HOLD_RETRY_MS;
    return true;
}

void file_log_failure(const char* path, unsigned long error)
{
    char line[MAX_PATH + 64];
    snprintf(line, sizeof line, "corvina: %s not written, error %lu\n", path, error);
    OutputDebugStringA(line);
}

// The INI file is read whole and written whole: a hold is waited out here.
FILE* file_open(const char* path, const char* mode)
{
    wchar_t wide_path[MAX_PATH + 1];
    wchar_t wide_mode[MODE_MAX + 1];
    wide_from_path(path, wide_path, MAX_PATH + 1);
    wide_from_cp932(mode, wide_mode, MODE_MAX + 1);
    int waited_ms = 0;
    FILE* file;
    while (!(file = _wfopen(wide_path, wide_mode)) && file_wait_while_held(&waited_ms))
        ;
    return file;
}

// Renames from over path, waiting out another program's hold on path.
static bool move_over(const wchar_t* from, const wchar_t* to, const char* path)
{
    int waited_ms = 0;
    do {
        if (MoveFileExW(from, to, MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
            return true;
    } while (file_wait_while_held(&waited_ms));
    file_log_failure(path, GetLastError());
    return false;
}

int file_replace(FILE* temp, const char* temp_path, const char* path)
{
    wchar_t wide_temp_path[MAX_PATH + 1];
    wchar_t wide_path[MAX_PATH + 1];
    wide_from_path(temp_path, wide_temp_path, MAX_PATH + 1);
    wide_from_path(path, wide_path, MAX_PATH + 1);
    bool written = fflush(temp) == 0 && _commit(_fileno(temp)) == 0;
    written = fclose(temp) == 0 && written;
    if (written && move_over(wide_temp_path, wide_path, path))
        return 0;
    DeleteFileW(wide_temp_path);
    return -1;
}

int file_move_over(const char* from, const char* to)
{
    wchar_t wide_from[MAX_PATH + 1];
    wchar_t wide_to[MAX_PATH + 1];
    wide_from_path(from, wide_from, MAX_PATH + 1);
    wide_from_path(to, wide_to, MAX_PATH + 1);
    return move_over(wide_from, wide_to, to) ? 0 : -1;
}

int file_remove(const char* path)
{
    wchar_t wide_path[MAX_PATH + 1];
    wide_from_path(path, wide_path, MAX_PATH + 1);
    return DeleteFileW(wide_path) ? 0 : -1;
}
