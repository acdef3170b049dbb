#include "tests/fuzz/stand_ins.h"

#include <string.h>

#include "core/clock.h"
#include "core/env.h"
#include "core/text.h"
#include "pop3/net.h"
#include "settings/settings.h"
#include "tests/fuzz/fuzz_check.h"
#include "ui/session_log.h"

WireRecord wire;
uint32_t stand_in_ticks;

void stand_ins_reset(void)
{
    wire.count = 0;
    wire.log_pending = false;
}

uint32_t clock_ticks(void)
{
    return stand_in_ticks;
}

int net_send(const char* bytes, int length)
{
    FUZZ_CHECK(wire.count < WIRE_COMMANDS_MAX, "more than %d commands", WIRE_COMMANDS_MAX);
    FUZZ_CHECK(length >= 0, "net_send of %d bytes", length);
    int slot = wire.count++;
    wire.length[slot] = length;
    memcpy(wire.sent[slot], bytes,
           length < WIRE_TEXT_CAPACITY ? (size_t)length : WIRE_TEXT_CAPACITY);
    wire.logged[slot][0] = '\0';
    wire.log_pending = true;
    return length;
}

// The conversation runs without STLS here; a handshake never completes.
void net_start_tls(void)
{
}

void log_append(const char* text)
{
    if (wire.log_pending)
        text_copy(wire.logged[wire.count - 1], WIRE_TEXT_CAPACITY, text);
    wire.log_pending = false;
}

// What %LONG% expands to: longer than any path the program keeps.
static const char LONG_VALUE[] =
    "C:\\Documents and Settings\\a user with a long name\\Application Data\\corvina\\"
    "profiles\\0123456789abcdef0123456789abcdef\\0123456789abcdef0123456789abcdef\\"
    "0123456789abcdef0123456789abcdef\\0123456789abcdef0123456789abcdef\\"
    "0123456789abcdef0123456789abcdef\\0123456789abcdef";
static_assert(sizeof LONG_VALUE > PATH_CAPACITY, "%LONG% outgrows a path");

// Known names: %LONG%, %SHORT% and %EMPTY%. As ExpandEnvironmentStrings
// does, an unknown or unclosed reference stays as written; the result is
// cut at the capacity and -1 tells that it did not fit.
int env_expand(const char* text, char* out, int capacity)
{
    // The command line hands on at most 260 bytes of a value, which keeps
    // every expansion inside the buffer below.
    FUZZ_CHECK(strlen(text) <= PATH_CAPACITY - 1, "env_expand got %zu bytes", strlen(text));
    static const struct {
        const char* reference;
        const char* value;
    } NAMES[] = {{"%LONG%", LONG_VALUE}, {"%SHORT%", "C:\\x"}, {"%EMPTY%", ""}};
    static char expanded[32768];
    size_t length = 0;
    for (const char* p = text; *p != '\0';) {
        const char* value = nullptr;
        size_t skip = 1;
        for (const auto& name : NAMES) {
            if (strncmp(p, name.reference, strlen(name.reference)) == 0) {
                value = name.value;
                skip = strlen(name.reference);
            }
        }
        if (!value)
            expanded[length++] = *p;
        else
            for (const char* v = value; *v != '\0'; v++)
                expanded[length++] = *v;
        p += skip;
    }
    expanded[length] = '\0';
    text_copy(out, (size_t)capacity, expanded);
    return length < (size_t)capacity ? 0 : -1;
}
