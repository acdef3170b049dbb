// What the user can do about a failed check: one line for the connection
// test's log, in the words of the guide's section on failure texts.
#pragma once

#include <stddef.h>

// The advice for a failure text; a text the program does not know is the
// server's own negative reply.
const char* hint_for(const char* failure);

// Appends the advice for the session's failure to the log on a line of its
// own; nothing when the session did not fail.
void hint_log(void);
