// Command-line parsing.
//
// Only "/" followed by I or S means something; everything else is skipped.
// An /I value is quoted (up to the next quote) or runs to the next white
// space; only its first 260 characters count, and its environment
// variables are expanded. A later /I overrides an earlier one.
#include "core/cmdline.h"

#include <string.h>

#include "core/env.h"
#include "settings/settings.h"

bool ini_path_given;

enum { VALUE_MAX = 260 };

static bool is_white(char c)
{
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

// Takes the value that starts at text and returns where scanning resumes.
static const char* take_ini_path(const char* text)
{
    const char* start = text;
    const char* end;
    const char* resume;
    if (*text == '"') {
        start = text + 1;
        end = strchr(start, '"');
        if (end) {
            resume = end + 1;
        } else {
            end = start + strlen(start);
            resume = end;
        }
    } else {
        end = start;
        while (*end != '\0' && !is_white(*end))
            end++;
        resume = end;
    }

    size_t length = (size_t)(end - start);
    if (length > VALUE_MAX)
        length = VALUE_MAX;
    if (length > 0) {
        char value[VALUE_MAX + 1];
        memcpy(value, start, length);
        value[length] = '\0';
        env_expand(value, ini_path, sizeof ini_path);
        ini_path_given = true;
    }
    return resume;
}

void parse_command_line(const char* text)
{
    const char* p = text;
    while (*p != '\0') {
        if (*p != '/') {
            p++;
            continue;
        }
        char option = p[1];
        if (option == 'I' || option == 'i')
            p = take_ini_path(p + 2);
        else if (option == 'S' || option == 's')
            p += 2;
        else
            p++;
    }
}
