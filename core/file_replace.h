// Files by the program's own names, in code page 932, and replacing a file
// in one step, so that a failed or interrupted write never leaves a part of
// it behind.
#pragma once

#include <stdio.h>

// fopen for a path in code page 932, whatever the system's code page.
FILE* file_open(const char* path, const char* mode);

// temp is open for writing and holds the whole new content. Flushes it to
// the disk, closes it, and renames temp_path over path. Returns 0, or -1
// with path as it was (temp is closed and removed either way).
int file_replace(FILE* temp, const char* temp_path, const char* path);

// Renames from over to in one step (replacing it). Returns 0 or -1.
int file_move_over(const char* from, const char* to);

// Deletes the file. Returns 0 or -1.
int file_remove(const char* path);
