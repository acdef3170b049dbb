// The headers of the messages a check is about to announce. With
// SHOW_HEADERS on, the check asks "TOP n 0" for each after the listing,
// newest first, and keeps each sender and subject for the popup and the
// balloon: in memory only, never on disk, and never a message's body.
#pragma once

#include <stdint.h>

#include "header/header.h"

enum {
    TOP_MESSAGES_MAX = 10,            // headers asked per check
    TOP_HEADER_BYTES_MAX = 64 * 1024, // kept of one header; the rest is read and dropped
    TOP_HEADER_LINES_MAX = 1000
};

struct TopSeries {
    int32_t new_count; // messages new to this announcement, asked for or not
    int32_t wanted;    // message numbers chosen, newest first
    int32_t numbers[TOP_MESSAGES_MAX];
    int32_t asked;    // TOP commands sent
    int32_t answered; // replies read to their end, header or refusal
    int32_t read;     // headers summarized, in the order asked
    bool refused;     // the server cannot answer TOP: no later header is kept
    HeaderSummary summaries[TOP_MESSAGES_MAX];
};

extern TopSeries top_series;

// What the last announcement showed, given as each check starts.
void top_announced(int32_t count, int64_t size);

// Forgets the last check's choice and headers.
void top_reset(void);

// Chooses after the listing what the announcement will be about, from the
// figures the check found: without unique ids the highest numbers, as many
// as the count grew by since the last announcement, or the newest one when
// only the size changed; with them the newest unseen messages. Nothing when
// the figures are those announced already: no announcement follows.
void top_choose(int32_t count, int64_t size);

// The next message number to ask for, or 0 when the series is over.
int32_t top_next(void);
// True while TOPs sent together still have replies to come.
bool top_awaiting(void);
// A TOP was refused: the server cannot answer TOP and the series ends. The
// replies to TOPs already sent are still read, and their headers dropped.
void top_refused(void);

// One line of the header being read, dot-stuffing undone, line end included.
void top_header_line(const char* line, int length);
// The header's terminating dot: its sender and subject are summarized, or
// nothing (null) after a refusal.
const HeaderSummary* top_header_end(void);
