// What the portable core asks of the hidden main window and the process.
#pragma once

enum { TICK_TIMER_ID = 1, TICK_TIMER_MS = 500, MINUTE_TIMER_ID = 2, MINUTE_TIMER_MS = 60000 };

// Starts the window timer; returns its id, or 0 when it could not be started.
unsigned main_window_set_timer(unsigned id, unsigned milliseconds);
void main_window_kill_timer(unsigned id);

// Minimises and then hides the (never shown) main window.
void main_window_hide(void);

// Returns unused heap memory to the system on the NT platform; nothing elsewhere.
void heap_compact(void);

// A modal, topmost message box with the error icon, owned by the main window.
void main_window_error_box(const char* text, const char* caption);
