// Splitting SERVER into host and port.
#include "pop3/server_address.h"

#include <string.h>

#include "core/text.h"
#include "settings/settings.h"

int server_default_port(int32_t security)
{
    return security == SECURITY_TLS ? POP3S_PORT : POP3_PORT;
}

// A number from 1 to 65535 and nothing else, or 0.
static int parse_port(const char* digits)
{
    int port = 0;
    for (const char* p = digits; *p != '\0'; p++) {
        if (*p < '0' || *p > '9')
            return 0;
        port = port * 10 + (*p - '0');
        if (port > 65535)
            return 0;
    }
    return port;
}

static void copy_host(char* host, size_t capacity, const char* from, size_t length)
{
    text_copy(host, capacity, from);
    if (length < capacity)
        host[length] = '\0';
}

int server_split(const char* server, int default_port, char* host, size_t capacity)
{
    text_copy(host, capacity, server);
    // An IPv6 address in brackets, alone or before a port.
    const char* close = strchr(server, ']');
    if (server[0] == '[' && close && close > server + 1) {
        int port = close[1] == '\0' ? default_port : close[1] == ':' ? parse_port(close + 2) : 0;
        if (port != 0)
            copy_host(host, capacity, server + 1, (size_t)(close - server - 1));
        return port != 0 ? port : default_port;
    }
    // More than one colon: an IPv6 address without a port.
    const char* colon = strchr(server, ':');
    if (!colon || colon != strrchr(server, ':') || colon == server)
        return default_port;
    int port = parse_port(colon + 1);
    if (port == 0)
        return default_port;
    copy_host(host, capacity, server, (size_t)(colon - server));
    return port;
}
