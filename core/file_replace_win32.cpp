#include <windows.h>

#include <io.h>
#include <stdio.h>

#include "core/file_replace.h"
#include "core/wide_win32.h"

enum { MODE_MAX = 7 };

FILE* file_open(const char* path, const char* mode)
{
    wchar_t wide_path[MAX_PATH + 1];
    wchar_t wide_mode[MODE_MAX + 1];
    wide_from_path(path, wide_path, MAX_PATH + 1);
    wide_from_cp932(mode, wide_mode, MODE_MAX + 1);
    return _wfopen(wide_path, wide_mode);
}

int file_replace(FILE* temp, const char* temp_path, const char* path)
{
    wchar_t wide_temp_path[MAX_PATH + 1];
    wchar_t wide_path[MAX_PATH + 1];
    wide_from_path(temp_path, wide_temp_path, MAX_PATH + 1);
    wide_from_path(path, wide_path, MAX_PATH + 1);
    bool written = fflush(temp) == 0 && _commit(_fileno(temp)) == 0;
    written = fclose(temp) == 0 && written;
    if (written &&
        MoveFileExW(wide_temp_path, wide_path, MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
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
    return MoveFileExW(wide_from, wide_to, MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) ? 0
                                                                                             : -1;
}

int file_remove(const char* path)
{
    wchar_t wide_path[MAX_PATH + 1];
    wide_from_path(path, wide_path, MAX_PATH + 1);
    return DeleteFileW(wide_path) ? 0 : -1;
}
