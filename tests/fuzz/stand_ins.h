// The platform as the fuzz targets see it. The wire and the log line that
// follows each command are recorded for the checks; the clock answers what
// a target sets; environment references expand as Windows would expand them.
#pragma once

#include <stdint.h>

enum {
    WIRE_COMMANDS_MAX = 32,
    WIRE_TEXT_CAPACITY = 256 // more than any command the conversation can form
};

struct WireRecord {
    int count;                                          // net_send calls
    int length[WIRE_COMMANDS_MAX];                      // bytes each call sent
    char sent[WIRE_COMMANDS_MAX][WIRE_TEXT_CAPACITY];   // its first bytes
    char logged[WIRE_COMMANDS_MAX][WIRE_TEXT_CAPACITY]; // the next log_append text
    bool log_pending;                                   // no log_append since the send
};

extern WireRecord wire;
extern uint32_t stand_in_ticks;

void stand_ins_reset(void);
