// The shortcut in the user's Startup folder that starts the program at
// log-on. Failures are silent.
#pragma once

// Creates (or overwrites) the shortcut, or deletes it. Returns 0 when the
// Startup folder cannot be found, otherwise 1.
int shortcut_set(bool create);

// True when the shortcut exists and points at this very program file.
bool shortcut_exists(void);
