// The platform as the benchmarks need it: a wire that only counts, a log
// that keeps nothing, no account page, and a clock that stands still.
#include "core/clock.h"
#include "pop3/net.h"
#include "ui/session_log.h"
#include "ui/sheet.h"

int net_send(const char*, int length)
{
    return length;
}

void net_start_tls(void)
{
}

void log_append(const char*)
{
}

void log_append_utf8(const char*)
{
}

void log_clear(void)
{
}

void account_show_found(int, int)
{
}

uint32_t clock_ticks(void)
{
    return 0x1234;
}
