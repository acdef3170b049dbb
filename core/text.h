// Byte-string helpers shared by every module.
//
// All texts are NUL-terminated byte strings in code page 932 with a fixed
// capacity that includes the NUL. A text that does not fit is cut at the
// capacity, counted in bytes, so a double-byte character may be cut in half.
#pragma once

#include <stddef.h>
#include <stdint.h>

// Copies at most capacity - 1 bytes of source and always terminates.
void text_copy(char* target, size_t capacity, const char* source);

// Appends source behind target's text, cut the same way.
void text_append(char* target, size_t capacity, const char* source);

// Reads a decimal integer the way atoi does (leading white space, one sign,
// digits up to the first non-digit, 0 without digits) but never overflows:
// a value beyond the 64-bit range is held at INT64_MAX or INT64_MIN.
int64_t text_parse_decimal(const char* text);

// The same reading held to the signed 32-bit range.
int32_t text_parse_decimal32(const char* text);

// True when byte is the first byte of a double-byte character in code page 932.
bool text_is_lead_byte(unsigned char byte);
