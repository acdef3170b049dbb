// Replacing a file in one step, so that a failed or interrupted write never
// leaves a part of it behind.
#pragma once

#include <stdio.h>

// temp is open for writing and holds the whole new content. Flushes it to
// the disk, closes it, and renames temp_path over path. Returns 0, or -1
// with path as it was (temp is closed and removed either way).
int file_replace(FILE* temp, const char* temp_path, const char* path);

// Renames from over to in one step (replacing it). Returns 0 or -1.
int file_move_over(const char* from, const char* to);
