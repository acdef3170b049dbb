// INI key I/O through the Windows profile functions.
#include <windows.h>

#include "settings/ini.h"
#include "settings/save_result.h"

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
    return WritePrivateProfileStringA(section, key, value, path) ? 0 : -1;
}

int ini_write_refusal(const char* path)
{
    DWORD attributes = GetFileAttributesA(path);
    if (attributes == INVALID_FILE_ATTRIBUTES)
        return 0;
    if (attributes & FILE_ATTRIBUTE_DIRECTORY)
        return SAVE_IS_FOLDER;
    return attributes & FILE_ATTRIBUTE_READONLY ? SAVE_READ_ONLY : 0;
}

int ini_last_failure(void)
{
    switch (GetLastError()) {
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
