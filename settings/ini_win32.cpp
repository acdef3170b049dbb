// INI key I/O through the Windows profile functions.
#include <windows.h>

#include "core/file_hold_win32.h"
#include "settings/ini.h"

void ini_read_text(const char* path, const char* section, const char* key, char* out, int capacity)
{
    GetPrivateProfileStringA(section, key, "", out, (DWORD)capacity, path);
}

bool ini_key_present(const char* path, const char* section, const char* key)
{
    // A missing key gives the default, an empty value gives nothing.
    char value[2];
    GetPrivateProfileStringA(section, key, "\x7f", value, sizeof value, path);
    return value[0] != '\x7f';
}

int32_t ini_read_int(const char* path, const char* section, const char* key, int32_t fallback)
{
    return (int32_t)GetPrivateProfileIntA(section, key, fallback, path);
}

int ini_write_text(const char* path, const char* section, const char* key, const char* value)
{
    int waited_ms = 0;
    do {
        if (WritePrivateProfileStringA(section, key, value, path))
            return 0;
    } while (file_wait_while_held(&waited_ms));
    file_log_failure(path, GetLastError());
    return -1;
}
