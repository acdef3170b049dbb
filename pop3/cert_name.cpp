// The certificate name match; see cert_name.h. Certificate names are ASCII
// (IDNs are held in their xn-- form), so only ASCII letters fold.
#include "pop3/cert_name.h"

#include <string.h>

// The length without one final dot.
static size_t name_length(const char* name)
{
    size_t length = strlen(name);
    return length > 0 && name[length - 1] == '.' ? length - 1 : length;
}

static bool same_text(const char* a, const char* b, size_t length)
{
    for (size_t i = 0; i < length; i++) {
        unsigned char x = (unsigned char)a[i], y = (unsigned char)b[i];
        if (x >= 'A' && x <= 'Z')
            x = (unsigned char)(x - 'A' + 'a');
        if (y >= 'A' && y <= 'Z')
            y = (unsigned char)(y - 'A' + 'a');
        if (x != y)
            return false;
    }
    return true;
}

bool cert_name_matches(const char* pattern, const char* host)
{
    size_t pattern_length = name_length(pattern), host_length = name_length(host);
    if (host_length == 0)
        return false;
    if (pattern[0] != '*')
        return pattern_length == host_length && memchr(pattern, '*', pattern_length) == NULL &&
               same_text(pattern, host, host_length);

    // "*." and then at least two labels: a dot inside the rest, not at its start.
    const char* rest = pattern + 1;
    size_t rest_length = pattern_length - 1;
    if (rest_length < 4 || rest[0] != '.' || rest[1] == '.' ||
        memchr(rest + 1, '.', rest_length - 2) == NULL || memchr(rest, '*', rest_length) != NULL)
        return false;
    // The wildcard stands for one whole label of at least one byte.
    const char* host_rest = (const char*)memchr(host, '.', host_length);
    return host_rest != NULL && host_rest != host &&
           (size_t)(host + host_length - host_rest) == rest_length &&
           same_text(rest, host_rest, rest_length);
}
