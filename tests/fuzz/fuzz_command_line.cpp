// Fuzz target: parse_command_line on any command line.
//
// Input: the command line, up to a NUL. Environment references expand as
// the stand-in says; %LONG% outgrows any path.
#include <stdint.h>
#include <string.h>

#include "core/cmdline.h"
#include "core/text.h"
#include "settings/settings.h"
#include "tests/fuzz/fuzz_check.h"

enum {
    LINE_MAX = 32 * 1024, // the longest command line Windows passes
    PATH_POISON = 0x7F
};

static const char DEFAULT_INI_PATH[] = "C:\\Program Files\\corvina\\corvina.ini";

// True when the line names the option anywhere: without that, nothing may change.
static bool names_ini_option(const char* line)
{
    for (const char* p = strchr(line, '/'); p; p = strchr(p + 1, '/'))
        if (p[1] == 'I' || p[1] == 'i')
            return true;
    return false;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size > LINE_MAX)
        return 0;
    static char line[LINE_MAX + 1];
    memcpy(line, data, size);
    line[size] = '\0';

    memset(ini_path, PATH_POISON, sizeof ini_path);
    text_copy(ini_path, sizeof ini_path, DEFAULT_INI_PATH);
    ini_path_given = false;
    parse_command_line(line);

    FUZZ_CHECK(fuzz_terminated(ini_path, sizeof ini_path), "ini_path is not terminated");
    if (!ini_path_given)
        FUZZ_CHECK(strcmp(ini_path, DEFAULT_INI_PATH) == 0, "ini_path changed to %s, not given",
                   ini_path);
    else
        FUZZ_CHECK(names_ini_option(line), "ini_path given by a line without /I");
    return 0;
}
