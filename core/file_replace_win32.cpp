#include <windows.h>

#include <io.h>
#include <stdio.h>

#include "core/file_hold_win32.h"
#include "core/file_replace.h"

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

int file_replace(FILE* temp, const char* temp_path, const char* path)
{
    bool written = fflush(temp) == 0 && _commit(_fileno(temp)) == 0;
    written = fclose(temp) == 0 && written;
    if (!written) {
        DeleteFileA(temp_path);
        return -1;
    }
    int waited_ms = 0;
    do {
        if (MoveFileExA(temp_path, path, MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
            return 0;
    } while (file_wait_while_held(&waited_ms));
    file_log_failure(path, GetLastError());
    DeleteFileA(temp_path);
    return -1;
}
