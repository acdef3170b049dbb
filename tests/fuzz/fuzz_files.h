// Files of the fuzz targets: one temporary directory per process, removed at
// exit, so that parallel runs never share a uidl.txt or an INI file.
#pragma once

#include <stddef.h>
#include <stdint.h>

// The directory's path with a trailing separator; made at the first call.
const char* fuzz_temp_dir(void);

// Replaces the file name in the temporary directory with the given bytes;
// writes the full path into path (capacity bytes).
void fuzz_write_file(const char* name, const uint8_t* data, size_t size, char* path,
                     size_t capacity);

// Removes the file name from the temporary directory, if it is there.
void fuzz_remove_file(const char* name);
