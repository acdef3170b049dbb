#include <windows.h>

#include <mmsystem.h>

#include "core/sound.h"

void sound_play(const char* file)
{
    PlaySoundA(file, NULL, SND_ASYNC | SND_FILENAME);
}
