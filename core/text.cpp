#include "core/text.h"

#include <string.h>

void text_copy(char* target, size_t capacity, const char* source)
{
    if (capacity == 0)
        return;
    size_t length = strlen(source);
    if (length > capacity - 1)
        length = capacity - 1;
    memcpy(target, source, length);
    target[length] = '\0';
}

void text_append(char* target, size_t capacity, const char* source)
{
    size_t length = strlen(target);
    if (length < capacity)
        text_copy(target + length, capacity - length, source);
}

static bool is_blank(char c)
{
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

int64_t text_parse_decimal(const char* text)
{
    while (is_blank(*text))
        text++;
    bool negative = false;
    if (*text == '+' || *text == '-')
        negative = *text++ == '-';
    // Accumulate towards the negative side, which holds one more value.
    int64_t value = 0;
    for (; *text >= '0' && *text <= '9'; text++) {
        int digit = *text - '0';
        if (value < (INT64_MIN + digit) / 10)
            value = INT64_MIN; // stays there for the remaining digits
        else
            value = value * 10 - digit;
    }
    if (negative)
        return value;
    return value == INT64_MIN ? INT64_MAX : -value;
}

int32_t text_parse_decimal32(const char* text)
{
    int64_t value = text_parse_decimal(text);
    if (value > INT32_MAX)
        return INT32_MAX;
    if (value < INT32_MIN)
        return INT32_MIN;
    return (int32_t)value;
}

bool text_is_lead_byte(unsigned char byte)
{
    return (byte >= 0x81 && byte <= 0x9F) || (byte >= 0xE0 && byte <= 0xFC);
}
