// The stored form of the POP3 password.
//
// The password is spread one bit per Base64-alphabet character under a
// pseudo-random mask, followed by its MD5 as a check, and shuffled. There is
// no key: everything the decoder needs is in the text. It keeps the password
// from being read off the INI file at a glance and detects damaged text.
#pragma once

#include <stdint.h>

enum {
    PLAIN_PASSWORD_MAX = 64,                           // bytes
    ENCODED_PASSWORD_MAX = 36 + 8 * PLAIN_PASSWORD_MAX // 548 characters
};

// plain: 1 to 64 bytes. out: at least ENCODED_PASSWORD_MAX + 1 bytes.
void password_encode(const char* plain, char* out);

// out: at least PLAIN_PASSWORD_MAX + 1 bytes; empty when the text fails its check.
void password_decode(const char* stored, char* out);

// The M-sequence generator over x^521 + x^32 + 1 that the encoding draws from.
void mseq_seed(uint32_t seed);
uint32_t mseq_next(void);
void mseq_refresh(void);

// Value 0..63 of a Base64 alphabet character; 0 for any other byte.
int symbol_index(char c);
