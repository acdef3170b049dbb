// Key I/O on an INI file, with the rules of the Windows profile functions:
// missing file, section or key give the default; a value enclosed whole in
// one pair of quotes loses them; writing a key keeps the rest of the file and
// creates the file and the section when they are missing. The section and
// key names given are upper case; the file's compare without case.
#pragma once

#include <stdint.h>

// Copies the value into out (at most capacity - 1 bytes); empty when missing.
void ini_read_text(const char* path, const char* section, const char* key, char* out, int capacity);

// Whether the key is in the section at all, with a value or an empty one.
bool ini_key_present(const char* path, const char* section, const char* key);

// Reads the value as an integer; fallback when the key is missing or empty.
int32_t ini_read_int(const char* path, const char* section, const char* key, int32_t fallback);

// A null value removes the key; a file without the key is then left as it is.
// 0 when done, -1 when the file could not be written.
int ini_write_text(const char* path, const char* section, const char* key, const char* value);
