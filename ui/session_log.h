// The session log on the account page. Both calls do nothing while the page
// does not exist.
#pragma once

// Appends text unchanged; callers supply their own line ends.
void log_append(const char* text);
// The same for a text in UTF-8: a message's sender and subject.
void log_append_utf8(const char* text);
void log_clear(void);
