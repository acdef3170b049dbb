#include <windows.h>

#include <mmsystem.h>

#include "core/sound.h"
#include "core/wide_win32.h"

void sound_play(const char* file)
{
    wchar_t path[MAX_PATH + 1];
    wide_from_cp932(file, path, MAX_PATH + 1);
    PlaySoundW(path, NULL, SND_ASYNC | SND_FILENAME);
}
