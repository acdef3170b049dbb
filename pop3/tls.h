// TLS for the connection layer: the handshake, the check of the server's
// certificate, and records both ways. Only the connection layer calls it.
#pragma once

#include <stdint.h>

// Starts the handshake on a connected socket; host is the name or address
// the certificate must carry (a final dot is dropped). 0 when under way, -1 when it failed
// (the check then has its error text).
int tls_begin(uintptr_t socket, const char* host);

// Reads once from the socket and handles every complete record: handshake
// messages, or plaintext, which goes to the response receiver. When the
// handshake completes and the certificate passes, logs the protocol and
// calls pop_tls_ready. Returns 1 when bytes were read, 0 when the server
// ended the stream (TCP close or close_notify), -1 when nothing could be
// read. A failure sets the check's error; the caller looks at error_kind.
int tls_read(void);

// Encrypts and sends; the byte count, or -1.
int tls_send(const char* bytes, int length);

bool tls_is_on(void);
// The first handshake is under way: a failure now is the handshake's.
bool tls_in_handshake(void);

// Ends an established stream with a close_notify and forgets the session's
// TLS state; safe to call at any time.
void tls_end(void);
