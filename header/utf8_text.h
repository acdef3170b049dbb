// A fixed buffer the decoders write UTF-8 into, one character at a time.
// It fills up to a character boundary and then ignores the rest, so a long
// field costs no more than its capacity once the buffer is full.
#pragma once

#include <stddef.h>
#include <stdint.h>

const uint32_t REPLACEMENT_CHARACTER = 0xFFFD;

struct Utf8Text {
    char* text;      // always NUL-terminated
    size_t capacity; // bytes, NUL included
    size_t length;
    bool full;       // a character did not fit: everything after it is dropped
};

void utf8_begin(Utf8Text* out, char* text, size_t capacity);

// Appends one character. The text is shown on one line: tabs and line
// breaks become spaces, other control characters and anything that is not
// a Unicode scalar value become U+FFFD.
void utf8_put(Utf8Text* out, uint32_t code);

// Drops trailing spaces.
void utf8_trim_end(Utf8Text* out);
