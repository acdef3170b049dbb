// The platform as the fuzz targets see it: the clock, the wire, the log,
// environment references and the temporary folder.
#include <filesystem>
#include <string>

#include "core/clock.h"
#include "core/env.h"
#include "core/text.h"
#include "pop3/net.h"
#include "settings/settings.h"
#include "tests/fuzz/fuzz.h"
#include "ui/session_log.h"
#include "ui/sheet.h"

Wire wire;

uint32_t clock_ticks(void)
{
    return 0;
}

int net_send(const char* bytes, int length)
{
    FUZZ_CHECK(length > 0, "send of %d bytes", length);
    for (int at = 0; at < length;) {
        const char* end = (const char*)memmem(bytes + at, (size_t)(length - at), "\r\n", 2);
        int line = end ? (int)(end - bytes) + 2 - at : length - at;
        FUZZ_CHECK(wire.count < WIRE_MAX && line < WIRE_TEXT, "send of %d bytes", length);
        memcpy(wire.sent[wire.count], bytes + at, (size_t)line);
        wire.sent[wire.count][line] = '\0';
        wire.together[wire.count++] = line < length;
        at += line;
    }
    return length;
}

// The conversation target plays the handshake itself.
void net_start_tls(void)
{
}

void log_append(const char*)
{
}

void log_append_utf8(const char*)
{
}

// Searches for a server's settings show what they found on a page the
// targets do not have.
void account_show_found(int, int)
{
}

// %LONG% expands past any path the program keeps; any other text stays, as
// ExpandEnvironmentStrings leaves an unknown reference.
int env_expand(const char* text, char* out, int capacity)
{
    std::string expanded = text;
    for (size_t at; (at = expanded.find("%LONG%")) != std::string::npos;)
        expanded.replace(at, 6, 300, 'L');
    text_copy(out, (size_t)capacity, expanded.c_str());
    return expanded.size() < (size_t)capacity ? 0 : -1;
}

static char folder[200];

static void remove_folder(void)
{
    std::filesystem::remove_all(folder);
}

const char* fuzz_file(const char* name, const uint8_t* data, size_t size)
{
    if (folder[0] == '\0') {
        const char* base = getenv("TMPDIR");
        snprintf(folder, sizeof folder, "%s/corvina_fuzz_XXXXXX", base && *base ? base : "/tmp");
        FUZZ_CHECK(mkdtemp(folder) != nullptr, "cannot make %s", folder);
        atexit(remove_folder);
    }
    static char path[sizeof folder + 20];
    snprintf(path, sizeof path, "%s/%s", folder, name);
    FILE* file = fopen(path, "wb");
    FUZZ_CHECK(file && fwrite(data, 1, size, file) == size && fclose(file) == 0, "cannot write %s",
               path);
    return path;
}
