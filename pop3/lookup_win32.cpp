// Host-name lookups on a thread of their own.
//
// The thread owns its lookup until the message is posted; from then on the
// window's thread does, and frees it. Should the window be gone, the thread
// frees it itself.
#include "pop3/lookup_win32.h"

#include <windows.h>

#include <stdio.h>
#include <stdlib.h>

#include "core/app_win32.h"
#include "core/text.h"
#include "settings/settings.h"

struct Lookup {
    char host[NAME_CAPACITY];
    char port[8];
    addrinfo* addresses;
};

static DWORD WINAPI lookup_thread(void* parameter)
{
    Lookup* lookup = (Lookup*)parameter;
    addrinfo hints = {};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_protocol = IPPROTO_TCP;
    if (getaddrinfo(lookup->host, lookup->port, &hints, &lookup->addresses) != 0)
        lookup->addresses = NULL;
    if (!PostMessageA(main_window, WM_LOOKUP_DONE, (WPARAM)lookup, 0))
        lookup_free(lookup);
    return 0;
}

Lookup* lookup_start(const char* host, int port)
{
    Lookup* lookup = (Lookup*)calloc(1, sizeof(Lookup));
    if (!lookup)
        return NULL;
    text_copy(lookup->host, sizeof lookup->host, host);
    snprintf(lookup->port, sizeof lookup->port, "%d", port);
    HANDLE thread = CreateThread(NULL, 0, lookup_thread, lookup, 0, NULL);
    if (!thread) {
        free(lookup);
        return NULL;
    }
    CloseHandle(thread);
    return lookup;
}

const addrinfo* lookup_addresses(const Lookup* lookup)
{
    return lookup->addresses;
}

void lookup_free(Lookup* lookup)
{
    if (lookup->addresses)
        freeaddrinfo(lookup->addresses);
    free(lookup);
}
