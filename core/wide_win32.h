// Text on its way to and from Windows. The program keeps its own texts in
// code page 932 and a message's sender and subject in UTF-8; Windows is
// always handed UTF-16 through the wide API, converted here, so what the user
// reads never depends on the system's ANSI code page (a Windows whose locale
// is not Japanese, or one set to use UTF-8).
#pragma once

#include <windows.h>

// Each converts a NUL-terminated text into out, capacity counted in units of
// out with the NUL, and returns the length written. A text that does not fit
// is cut at a character boundary: never inside a surrogate pair or a
// double-byte character.
int wide_from_cp932(const char* text, wchar_t* out, int capacity);
int wide_from_utf8(const char* text, wchar_t* out, int capacity);
int cp932_from_wide(const wchar_t* text, char* out, int capacity);
