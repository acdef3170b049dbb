// Asynchronous playback of a sound file by its name.
#pragma once

// The system may play its default sound when the file cannot be played.
void sound_play(const char* file);
