// The platform as the fuzz targets see it: the clock, the wire, the log,
// environment references and the temporary folder.
#include <unistd.h>

#include "core/clock.h"
#include "core/env.h"
#include "core/text.h"
#include "pop3/net.h"
#include "settings/settings.h"
#include "tests/fuzz/fuzz.h"
#include "ui/session_log.h"

Wire wire;
uint32_t fuzz_ticks;

uint32_t clock_ticks(void)
{
    return fuzz_ticks;
}

int net_send(const char* bytes, int length)
{
    FUZZ_CHECK(wire.count < WIRE_MAX && length > 0 && length < WIRE_TEXT, "send of %d bytes",
               length);
    memcpy(wire.sent[wire.count], bytes, (size_t)length);
    wire.sent[wire.count][length] = '\0';
    wire.logged[wire.count++][0] = '\0';
    wire.log_pending = true;
    return length;
}

// A handshake never completes here: a conversation that sent STLS waits
// for the security layer until its time runs out.
void net_start_tls(void)
{
}

void log_append(const char* text)
{
    if (wire.log_pending)
        text_copy(wire.logged[wire.count - 1], WIRE_TEXT, text);
    wire.log_pending = false;
}

// %LONG% expands past any path the program keeps; any other text stays, as
// ExpandEnvironmentStrings leaves an unknown reference.
int env_expand(const char* text, char* out, int capacity)
{
    FUZZ_CHECK(strlen(text) < PATH_CAPACITY, "env_expand got %zu bytes", strlen(text));
    static char expanded[PATH_CAPACITY * 400];
    size_t length = 0;
    for (const char* p = text; *p != '\0';) {
        if (strncmp(p, "%LONG%", 6) != 0) {
            expanded[length++] = *p++;
            continue;
        }
        memset(expanded + length, 'L', 300);
        length += 300;
        p += 6;
    }
    expanded[length] = '\0';
    text_copy(out, (size_t)capacity, expanded);
    return length < (size_t)capacity ? 0 : -1;
}

static char folder[200];
static const char* const NAMES[] = {"uidl.txt", "uidl.txt.new", "corvina.ini"};

static const char* path_of(const char* name)
{
    static char path[sizeof folder + 20];
    snprintf(path, sizeof path, "%s%s", folder, name);
    return path;
}

static void remove_folder(void)
{
    for (const char* name : NAMES)
        remove(path_of(name));
    folder[strlen(folder) - 1] = '\0';
    rmdir(folder);
}

const char* fuzz_file(const char* name, const uint8_t* data, size_t size)
{
    if (folder[0] == '\0') {
        const char* base = getenv("TMPDIR");
        snprintf(folder, sizeof folder, "%s/corvina_fuzz_XXXXXX", base && *base ? base : "/tmp");
        FUZZ_CHECK(mkdtemp(folder) != nullptr, "cannot make %s", folder);
        strcat(folder, "/");
        atexit(remove_folder);
    }
    const char* path = path_of(name);
    FILE* file = fopen(path, "wb");
    FUZZ_CHECK(file && fwrite(data, 1, size, file) == size && fclose(file) == 0, "cannot write %s",
               path);
    return path;
}
