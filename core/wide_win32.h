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
// double-byte character. A double-byte character already cut in half at the
// end of a text (a byte-counted field) is left out, not shown as a stray sign.
// A character code page 932 lacks becomes '?'.
int wide_from_cp932(const char* text, wchar_t* out, int capacity);
int wide_from_utf8(const char* text, wchar_t* out, int capacity);
int cp932_from_wide(const wchar_t* text, char* out, int capacity);

// The bytes the first character of text takes in code page 932, as
// cp932_from_wide writes it; *units is set to its length in UTF-16 units.
int cp932_character_size(const wchar_t* text, int* units);

// Paths. The program keeps them in code page 932, which cannot hold every
// name a folder may have (a user's folder named "Hélène", say): the folder's
// name as Windows gives it is registered with its code page 932 form, and a
// path that begins with that form reaches Windows with the real name.
void wide_path_alias(const wchar_t* folder);
int wide_from_path(const char* path, wchar_t* out, int capacity);

// The longest text a window or control of the program is given or read back.
enum { WINDOW_TEXT_MAX = 4095 };

// Window and control texts in code page 932; reading returns the length in
// bytes, cut to capacity as above.
void window_set_text(HWND window, const char* text);
int window_get_text(HWND window, char* out, int capacity);
void dialog_set_text(HWND dialog, int id, const char* text);
int dialog_get_text(HWND dialog, int id, char* out, int capacity);
int message_box(HWND owner, const char* text, const char* caption, UINT type);
