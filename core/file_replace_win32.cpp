#include <windows.h>

#include <io.h>
#include <stdio.h>

#include "core/file_replace.h"

int file_replace(FILE* temp, const char* temp_path, const char* path)
{
    bool written = fflush(temp) == 0 && _commit(_fileno(temp)) == 0;
    written = fclose(temp) == 0 && written;
    if (written && MoveFileExA(temp_path, path, MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
        return 0;
    DeleteFileA(temp_path);
    return -1;
}

int file_move_over(const char* from, const char* to)
{
    return MoveFileExA(from, to, MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) ? 0 : -1;
}
