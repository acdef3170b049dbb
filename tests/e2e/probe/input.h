// Real input, as a user's mouse and keyboard make it: through the window
// system's input queue, not as messages posted to a window.
#pragma once

#include <windows.h>

void input_click(POINT screen_point);
void input_key(WORD virtual_key);
