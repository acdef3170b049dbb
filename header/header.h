// The sender and subject of one message, read from its header for the
// announcement. Everything a Japanese mailbox gets is decoded: RFC 2047
// encoded words (split characters joined, ISO-2022-JP as Windows mailers
// write it, Shift_JIS under every label), and raw 8-bit fields. The result
// is UTF-8, since a subject may hold what code page 932 cannot (an emoji);
// the display converts it to UTF-16.
#pragma once

#include <stddef.h>

enum {
    HEADER_TEXT_CAPACITY = 512 // bytes of UTF-8 kept of each field, NUL included
};

struct HeaderSummary {
    char sender[HEADER_TEXT_CAPACITY];  // the decoded display name, or the address without one
    char subject[HEADER_TEXT_CAPACITY]; // decoded; "" when the message has none
};

// Reads From and Subject from a message's header: its lines as received
// (CR LF or LF, folded or not, dot-stuffing already undone), up to the end of
// the header or of the bytes given. A field longer than the capacity is cut
// at a character boundary. Never fails: what cannot be decoded is shown as
// written, or as U+FFFD where a byte fits no reading.
void header_summarize(const char* header, size_t length, HeaderSummary* out);
