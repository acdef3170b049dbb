// Splitting SERVER into host and port.
#include "pop3/server_address.h"

#include <string.h>

#include "core/text.h"
#include "settings/settings.h"

int server_default_port(int32_t security)
{
    return security == SECURITY_TLS ? POP3S_PORT : POP3_PORT;
}

int server_split(const char* server, int default_port, char* host, size_t capacity)
{
    text_copy(host, capacity, server);
    const char* colon = strchr(server, ':');
    if (!colon || colon != strrchr(server, ':') || colon == server || colon[1] == '\0')
        return default_port;
    int port = 0;
    for (const char* p = colon + 1; *p != '\0'; p++) {
        if (*p < '0' || *p > '9')
            return default_port;
        port = port * 10 + (*p - '0');
        if (port > 65535)
            return default_port;
    }
    if (port == 0)
        return default_port;
    size_t length = (size_t)(colon - server);
    if (length < capacity)
        host[length] = '\0';
    return port;
}
