// UTF-8 output of the header decoder.
#include "header/utf8_text.h"

void utf8_begin(Utf8Text* out, char* text, size_t capacity)
{
    out->text = text;
    out->capacity = capacity;
    out->length = 0;
    out->full = capacity == 0;
    if (capacity > 0)
        text[0] = '\0';
}

// What a character becomes on one line of the display.
static uint32_t shown_as(uint32_t code)
{
    if (code == '\t' || code == '\r' || code == '\n')
        return ' ';
    if (code < 0x20 || (code >= 0x7F && code < 0xA0))
        return REPLACEMENT_CHARACTER;
    if ((code >= 0xD800 && code < 0xE000) || code > 0x10FFFF)
        return REPLACEMENT_CHARACTER;
    return code;
}

void utf8_put(Utf8Text* out, uint32_t code)
{
    if (out->full)
        return;
    code = shown_as(code);
    unsigned char bytes[4];
    size_t count;
    if (code < 0x80) {
        bytes[0] = (unsigned char)code;
        count = 1;
    } else if (code < 0x800) {
        bytes[0] = (unsigned char)(0xC0 | code >> 6);
        bytes[1] = (unsigned char)(0x80 | (code & 0x3F));
        count = 2;
    } else if (code < 0x10000) {
        bytes[0] = (unsigned char)(0xE0 | code >> 12);
        bytes[1] = (unsigned char)(0x80 | (code >> 6 & 0x3F));
        bytes[2] = (unsigned char)(0x80 | (code & 0x3F));
        count = 3;
    } else {
        bytes[0] = (unsigned char)(0xF0 | code >> 18);
        bytes[1] = (unsigned char)(0x80 | (code >> 12 & 0x3F));
        bytes[2] = (unsigned char)(0x80 | (code >> 6 & 0x3F));
        bytes[3] = (unsigned char)(0x80 | (code & 0x3F));
        count = 4;
    }
    if (out->length + count >= out->capacity) {
        out->full = true;
        return;
    }
    for (size_t i = 0; i < count; i++)
        out->text[out->length++] = (char)bytes[i];
    out->text[out->length] = '\0';
}

void utf8_trim_end(Utf8Text* out)
{
    while (out->length > 0 && out->text[out->length - 1] == ' ')
        out->length--;
    if (out->capacity > 0)
        out->text[out->length] = '\0';
}
