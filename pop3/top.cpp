// The headers of the messages a check announces.
//
// A header is kept up to its caps and the rest of the answer read and
// dropped, so a hostile or broken server costs bounded memory; the
// session's time-out bounds the time. Without unique ids the check knows
// only how the figures moved since the last announcement, and the highest
// numbers are the newest messages.
#include "pop3/top.h"

#include <string.h>

#include "pop3/uidl_store.h"
#include "settings/settings.h"

TopSeries top_series;

static char header[TOP_HEADER_BYTES_MAX];
static int32_t header_length;
static int32_t header_lines;
static bool header_full; // a line did not fit: nothing after it is kept either
static int32_t announced_count;
static int64_t announced_size;

void top_announced(int32_t count, int64_t size)
{
    announced_count = count;
    announced_size = size;
}

static void forget_header(void)
{
    header_length = 0;
    header_lines = 0;
    header_full = false;
}

void top_reset(void)
{
    top_series.new_count = 0;
    top_series.wanted = 0;
    top_series.asked = 0;
    top_series.answered = 0;
    top_series.read = 0;
    top_series.refused = false;
    forget_header();
}

void top_choose(int32_t count, int64_t size)
{
    top_reset();
    if (count <= 0 || (count == announced_count && size == announced_size))
        return;
    if (settings.USEUIDL) {
        top_series.new_count = count;
        top_series.wanted = uidl_newest_unseen(top_series.numbers, TOP_MESSAGES_MAX);
        return;
    }
    int32_t grown = count - announced_count;
    top_series.new_count = grown > 0 ? grown : 1;
    while (top_series.wanted < top_series.new_count && top_series.wanted < TOP_MESSAGES_MAX) {
        top_series.numbers[top_series.wanted] = count - top_series.wanted;
        top_series.wanted++;
    }
}

int32_t top_next(void)
{
    if (top_series.asked >= top_series.wanted)
        return 0;
    forget_header();
    return top_series.numbers[top_series.asked++];
}

bool top_awaiting(void)
{
    return top_series.answered < top_series.asked;
}

void top_refused(void)
{
    top_series.answered++;
    top_series.refused = true;
    top_series.wanted = top_series.asked;
}

void top_header_line(const char* line, int length)
{
    if (header_full || header_lines >= TOP_HEADER_LINES_MAX ||
        length > TOP_HEADER_BYTES_MAX - header_length) {
        header_full = true;
        return;
    }
    memcpy(header + header_length, line, (size_t)length);
    header_length += length;
    header_lines++;
}

const HeaderSummary* top_header_end(void)
{
    top_series.answered++;
    if (top_series.refused) {
        forget_header();
        return nullptr;
    }
    HeaderSummary* summary = &top_series.summaries[top_series.read++];
    header_summarize(header, (size_t)header_length, summary);
    forget_header();
    return summary;
}
