// The response receiver: assembles CR LF lines from received chunks, logs and
// judges each reply, and hands accepted lines to the conversation.
#pragma once

#include <stdint.h>

enum {
    LINE_BUFFER_SIZE = 8192,
    RECEIVE_LINE_MAX = LINE_BUFFER_SIZE - 1 // bytes of one line, CR LF included
};

extern char line_buffer[LINE_BUFFER_SIZE];
extern int32_t line_length;
extern bool line_dropping; // the rest of a header line too long to keep

// Feeds one received chunk (length may be 0). Returns -1 when the receiver
// itself failed the session, else 0; the caller looks at error_kind.
int pop_receive(const char* data, int length);
