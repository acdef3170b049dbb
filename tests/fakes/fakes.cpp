#include "tests/fakes/fakes.h"

#include "core/clock.h"
#include "pop3/net.h"
#include "pop3/uidl_store.h"
#include "ui/session_log.h"

FakeWorld fake;

void fakes_reset(void)
{
    fake = FakeWorld();
    fake.refuse_list_line_at = -1;
    fake.refuse_uidl_line_at = -1;
}

void log_append(const char* text)
{
    fake.log += text;
}

void log_clear(void)
{
    fake.log.clear();
}

int net_send(const char* bytes, int length)
{
    fake.sent.append(bytes, (size_t)length);
    return length;
}

uint32_t clock_ticks(void)
{
    return fake.ticks;
}

void uidl_begin_listing(void)
{
    fake.listings_begun++;
}

int uidl_on_list_line(const char* line)
{
    fake.list_lines.push_back(line);
    return (int)fake.list_lines.size() - 1 == fake.refuse_list_line_at ? -1 : 0;
}

int uidl_on_uidl_line(const char* line)
{
    fake.uidl_lines.push_back(line);
    return (int)fake.uidl_lines.size() - 1 == fake.refuse_uidl_line_at ? -1 : 0;
}

void uidl_end_listing(void)
{
    fake.listings_ended++;
}
