// The shell's own answer to "may a program interrupt the user now?".
//
// The end-to-end tests build this file a second time with
// CORVINA_BUSY_STAND_IN, into an exe of their own: Wine always answers
// "accepts notifications", so there the user also counts as busy while the
// file named by %CORVINA_BUSY_FILE% exists. The program itself only asks
// the shell.
#include <windows.h>

#include <shellapi.h>

#include "core/busy.h"

static bool shell_says_busy(void)
{
    QUERY_USER_NOTIFICATION_STATE state;
    if (FAILED(SHQueryUserNotificationState(&state)))
        return false;
    return state == QUNS_BUSY || state == QUNS_RUNNING_D3D_FULL_SCREEN ||
           state == QUNS_PRESENTATION_MODE || state == QUNS_QUIET_TIME;
}

#ifdef CORVINA_BUSY_STAND_IN
static bool stand_in_says_busy(void)
{
    char file[MAX_PATH];
    DWORD length = GetEnvironmentVariableA("CORVINA_BUSY_FILE", file, sizeof file);
    return length > 0 && length < sizeof file &&
           GetFileAttributesA(file) != INVALID_FILE_ATTRIBUTES;
}
#endif

bool user_is_busy(void)
{
#ifdef CORVINA_BUSY_STAND_IN
    if (stand_in_says_busy())
        return true;
#endif
    return shell_says_busy();
}
