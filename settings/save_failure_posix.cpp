// Why a save failed, read from the C library: the POSIX build's side of
// the settings' file failures.
#include <errno.h>
#include <sys/stat.h>

#include "settings/ini.h"
#include "settings/save_result.h"

// The owner's write bit stands for the read-only mark: root ignores it, the
// program does not.
int ini_write_refusal(const char* path)
{
    struct stat status;
    if (stat(path, &status) != 0)
        return 0;
    if (S_ISDIR(status.st_mode))
        return SAVE_IS_FOLDER;
    return status.st_mode & S_IWUSR ? 0 : SAVE_READ_ONLY;
}

int ini_last_failure(void)
{
    switch (errno) {
    case EACCES:
    case EPERM:
    case EROFS:
        return SAVE_DENIED;
    case ENOENT:
    case ENOTDIR:
        return SAVE_NO_FOLDER;
    case ENOSPC:
        return SAVE_DISK_FULL;
    default:
        return SAVE_FAILED;
    }
}
