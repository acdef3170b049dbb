// The connection layer: one POP3 session over a non-blocking TCP socket, in
// clear text or inside TLS, with completions delivered as window messages.
#pragma once

#include <stdint.h>

enum {
    SESSION_TIMEOUT_TICKS = 60, // 30 s of 500 ms ticks, the whole session
    QUIT_CLOSE_WAIT_TICKS = 4,  // for the server's close after QUIT's answer: 1.5 to 2 s
    RECEIVE_CHUNK = 16384       // bytes one read takes: several of a server's writes
};

// Results of the notification handlers.
enum NetResult {
    NET_NOT_MINE = 0, // not for this layer: default processing
    NET_HANDLED = 1,
    NET_SESSION_OVER = 2
};

// Starts a session to SERVER: 0 when under way, -1 when it failed at once.
int net_start(void);
// Cancels a pending lookup and closes the socket; safe to call repeatedly.
void net_close(void);
// Counts a 500 ms tick; the 60th fails the session and returns 1. Returns 1
// as well, the session a success, when QUIT's answer is in and the server
// has not closed within 2 s.
int net_timeout_tick(void);
// Sends bytes on the session's socket, encrypted once TLS is on; nobody
// checks the result.
int net_send(const char* bytes, int length);
// The server accepted STLS: starts the TLS handshake on the same connection.
// Every byte received from then on belongs to TLS; when the handshake has
// succeeded and the certificate passed, the layer calls pop_tls_ready.
void net_start_tls(void);

// Windows Sockets start and end, and the two window-message handlers.
void net_init(void);
void net_cleanup(void);
int net_on_lookup(uintptr_t task, uint32_t status);
int net_on_socket_event(uintptr_t socket, uint32_t event);
