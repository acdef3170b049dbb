#include <stdio.h>
#include <unistd.h>

#include "core/file_replace.h"

FILE* file_open(const char* path, const char* mode)
{
    return fopen(path, mode);
}

int file_replace(FILE* temp, const char* temp_path, const char* path)
{
    bool written = fflush(temp) == 0 && fsync(fileno(temp)) == 0;
    written = fclose(temp) == 0 && written;
    if (written && rename(temp_path, path) == 0)
        return 0;
    remove(temp_path);
    return -1;
}

int file_move_over(const char* from, const char* to)
{
    return rename(from, to) == 0 ? 0 : -1;
}

int file_remove(const char* path)
{
    return remove(path) == 0 ? 0 : -1;
}
