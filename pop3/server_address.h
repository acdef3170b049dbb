// Where a check connects: SERVER is a host name or an address, IPv4 or IPv6,
// with an optional ":port" after it (after an IPv6 address in brackets);
// without one, the port follows the security mode.
#pragma once

#include <stddef.h>
#include <stdint.h>

enum {
    POP3_PORT = 110,
    POP3S_PORT = 995 // TLS from the first byte
};

// The port a security mode uses when SERVER names none.
int server_default_port(int32_t security);

// Copies the host part of server into host, without brackets, and returns
// the port. Only a number from 1 to 65535 after the one colon, or after
// "]:", is a port; otherwise the whole text is the host, which then fails
// its lookup as any wrong name does.
int server_split(const char* server, int default_port, char* host, size_t capacity);
