// Virus scanners and backup tools open a file for a moment, and a file they
// hold can be neither replaced nor written: such a hold is waited out for
// about a second before a write gives up.
#pragma once

// Call after a failed file operation, with a count that starts at 0: sleeps
// a little and returns true when the failure (GetLastError) is another
// program's hold and the second is not over, so the operation is tried
// again; false when it is not to be tried again.
bool file_wait_while_held(int* waited_ms);

// Writes a failure the user may need to find to the debugger's log.
void file_log_failure(const char* path, unsigned long error);
