// The session log on the account page. Both calls do nothing while the page
// does not exist.
#pragma once

// Appends text unchanged; callers supply their own line ends.
void log_append(const char* text);
void log_clear(void);
