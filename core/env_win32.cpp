#include <string.h>
#include <windows.h>

#include "core/env.h"
#include "core/text.h"
#include "core/wide_win32.h"

// The longest expansion the system makes, in characters and in bytes.
enum { EXPANDED_MAX = 32767 };

int env_expand(const char* text, char* out, int capacity)
{
    static wchar_t wide_text[EXPANDED_MAX + 1];
    static wchar_t wide_expanded[EXPANDED_MAX + 1];
    static char expanded[2 * EXPANDED_MAX + 1];
    wide_from_cp932(text, wide_text, EXPANDED_MAX + 1);
    DWORD needed = ExpandEnvironmentStringsW(wide_text, wide_expanded, EXPANDED_MAX + 1);
    if (needed == 0 || needed > EXPANDED_MAX + 1) {
        text_copy(out, (size_t)capacity, text);
        return -1;
    }
    // The length that counts is the expansion's in bytes of code page 932.
    cp932_from_wide(wide_expanded, expanded, sizeof expanded);
    text_copy(out, (size_t)capacity, expanded);
    return strlen(expanded) < (size_t)capacity ? 0 : -1;
}
