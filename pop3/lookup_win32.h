// Host-name lookups on a thread of their own: the window's thread never
// waits for the resolver. The answer arrives as WM_LOOKUP_DONE with the
// lookup in wParam.
#pragma once

#include <winsock2.h>
#include <ws2tcpip.h>

struct Lookup;

// Starts looking up every address of host, both families, in the order the
// system's resolver gives; NULL when no thread could be started.
Lookup* lookup_start(const char* host, int port);
// The addresses of a finished lookup, or NULL when the name has none.
const addrinfo* lookup_addresses(const Lookup* lookup);
// Frees a finished lookup; a lookup whose answer is no longer wanted is
// freed when its message arrives.
void lookup_free(Lookup* lookup);
