// The shortcut in the user's Startup folder that starts the program at
// log-on.
#pragma once

// Creates (or overwrites) the shortcut, or deletes it. Returns a SaveResult:
// SAVE_DONE, or why the shortcut could not be written or removed, and then
// shortcut_file names it (empty when the Startup folder cannot be found).
int shortcut_set(bool create);
const char* shortcut_file(void);

// True when the shortcut exists and points at this very program file.
bool shortcut_exists(void);
