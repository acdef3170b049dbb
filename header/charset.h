// The character sets mail headers arrive in, read byte by byte into UTF-8.
//
// A reader keeps what a character split across calls needs (a lead byte,
// part of an escape sequence, the ISO-2022-JP shift state), so adjacent
// encoded words fed one after the other decode as one text.
#pragma once

#include <stddef.h>

#include "header/utf8_text.h"

enum Charset {
    CHARSET_UNKNOWN,
    CHARSET_UTF8,
    CHARSET_WINDOWS_1252, // also US-ASCII and ISO-8859-1, as mail readers take them
    CHARSET_ISO_8859_15,
    CHARSET_CP932,        // Shift_JIS under every label
    CHARSET_EUC_JP,
    CHARSET_ISO_2022_JP   // as Windows writes it: NEC and IBM extensions, half-width kana
};

struct CharsetReader {
    int charset;
    // UTF-8: the character so far, the bytes it still needs, the range of the next one.
    uint32_t code;
    int needed;
    unsigned char lower, upper;
    // The Japanese sets: a first byte waiting for its second (EUC-JP's 0x8F
    // three-byte form counts its bytes in needed).
    unsigned char lead;
    // ISO-2022-JP: the set shifted in, and an escape sequence being read.
    int mode;
    unsigned char escape[4];
    int escape_length;
};

// The charset a MIME label names (any case, an RFC 2231 language suffix
// already cut off), or CHARSET_UNKNOWN.
int charset_from_label(const char* label, size_t length);

// The charset of a field sent as raw 8-bit bytes: UTF-8 when the bytes are
// valid UTF-8 with 8-bit bytes, ISO-2022-JP when they hold ESC, code page
// 932 otherwise (and ASCII as UTF-8).
int charset_of_raw(const unsigned char* bytes, size_t length);

// How many bytes from text + at form one unit of a raw field in charset,
// which no byte inside may end or quote: a double-byte character of code
// page 932 (whose second byte may be a backslash), or ISO-2022-JP from an
// escape into a double-byte or katakana set up to the escape back to ASCII
// (whose bytes may be anything printable). 1 for any other byte.
size_t charset_raw_unit(const char* text, size_t length, size_t at, int charset);

void charset_begin(CharsetReader* reader, int charset);
void charset_read(CharsetReader* reader, unsigned char byte, Utf8Text* out);
// Ends the text: an unfinished character becomes U+FFFD, the shift state is reset.
void charset_end(CharsetReader* reader, Utf8Text* out);

// The Japanese sets, in japanese.cpp.
void cp932_read(CharsetReader* reader, unsigned char byte, Utf8Text* out);
void euc_jp_read(CharsetReader* reader, unsigned char byte, Utf8Text* out);
void iso_2022_jp_read(CharsetReader* reader, unsigned char byte, Utf8Text* out);
