// Fuzz target: parse_command_line on any command line, up to a NUL.
// Environment references expand as the stand-in says; %LONG% outgrows any path.
#include "core/cmdline.h"
#include "core/text.h"
#include "settings/settings.h"
#include "tests/fuzz/fuzz.h"

enum { LINE_MAX = 32 * 1024 }; // the longest command line Windows passes

static const char DEFAULT_INI_PATH[] = "C:\\Program Files\\corvina\\corvina.ini";

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size > LINE_MAX)
        return 0;
    static char line[LINE_MAX + 1];
    memcpy(line, data, size);
    line[size] = '\0';
    memset(ini_path, 0x7F, sizeof ini_path);
    text_copy(ini_path, sizeof ini_path, DEFAULT_INI_PATH);
    ini_path_given = false;
    parse_command_line(line);

    FUZZ_CHECK(fuzz_terminated(ini_path, sizeof ini_path), "ini_path is not terminated");
    // Without /I or /i anywhere, nothing may change.
    bool named = false;
    for (const char* p = strchr(line, '/'); p && !named; p = strchr(p + 1, '/'))
        named = p[1] == 'I' || p[1] == 'i';
    FUZZ_CHECK(ini_path_given ? named : strcmp(ini_path, DEFAULT_INI_PATH) == 0,
               "ini_path %s, given %d", ini_path, ini_path_given);
    return 0;
}
