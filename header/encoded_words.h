// Decoding a header text: RFC 2047 encoded words and raw 8-bit bytes.
#pragma once

#include <stddef.h>

#include "header/utf8_text.h"

// Decodes an unfolded or still folded field text into out. Adjacent encoded
// words in one charset are joined as bytes, and the white space between them
// is dropped; white space beside plain text is kept, line breaks of folding
// are removed, and leading and trailing white space is dropped. A word that
// is malformed, or names an unknown charset, stays as written. Plain text is
// read as the field's raw charset (charset_of_raw). With encoded_words
// false, the text is read as plain text throughout (an address).
void header_decode_text(const char* text, size_t length, bool encoded_words, Utf8Text* out);
