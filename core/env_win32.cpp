#include <string.h>
#include <windows.h>

#include "core/env.h"
#include "core/text.h"

int env_expand(const char* text, char* out, int capacity)
{
    // The longest expansion the system makes.
    static char expanded[32768];
    DWORD needed = ExpandEnvironmentStringsA(text, expanded, sizeof expanded);
    if (needed == 0 || needed > sizeof expanded) {
        text_copy(out, (size_t)capacity, text);
        return -1;
    }
    text_copy(out, (size_t)capacity, expanded);
    // The count returned is in characters on some systems, not in bytes.
    return strlen(expanded) < (size_t)capacity ? 0 : -1;
}
