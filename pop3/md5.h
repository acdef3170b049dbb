// MD5 (RFC 1321) of a byte string, written as 32 lower-case hex digits.
// Used by the APOP login and by the password encoding's check section.
#pragma once

enum { MD5_HEX_CAPACITY = 33 }; // 32 digits + NUL

// Digests the bytes of text up to its NUL, taken as unsigned bytes unchanged.
void md5_hex(char out[MD5_HEX_CAPACITY], const char* text);
