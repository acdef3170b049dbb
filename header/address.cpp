// Taking a From field apart: quoted strings, comments, the angle address
// and the comma that ends the first mailbox, all found in the raw bytes.
#include "header/address.h"

#include "header/charset.h"

struct Buffer {
    char* bytes;
    size_t capacity;
    size_t* length;
};

static void append(Buffer* buffer, char c)
{
    if (buffer && *buffer->length < buffer->capacity)
        buffer->bytes[(*buffer->length)++] = c;
}

static bool is_space(char c)
{
    return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

// The charset of the field's raw 8-bit bytes, whose characters may hold a
// quote, a backslash or a parenthesis that is no delimiter.
static int raw_charset;

// Copies the unit of the raw charset at value[at] into buffer when it is
// more than one byte; returns its length, 0 for a plain byte.
static size_t copy_raw_unit(const char* value, size_t length, size_t at, Buffer* buffer)
{
    size_t unit = charset_raw_unit(value, length, at, raw_charset);
    if (unit == 1)
        return 0;
    for (size_t i = 0; i < unit; i++)
        append(buffer, value[at + i]);
    return unit;
}

// Reads the quoted string at value[at] == '"' into buffer without its quotes
// and backslashes; returns the offset after it.
static size_t read_quoted(const char* value, size_t length, size_t at, Buffer* buffer)
{
    for (at++; at < length && value[at] != '"'; at++) {
        if (size_t unit = copy_raw_unit(value, length, at, buffer)) {
            at += unit - 1;
            continue;
        }
        if (value[at] == '\\' && at + 1 < length)
            at++;
        append(buffer, value[at]);
    }
    return at < length ? at + 1 : at;
}

// Reads the comment at value[at] == '(' (comments nest) into buffer, without
// its outer parentheses; returns the offset after it.
static size_t read_comment(const char* value, size_t length, size_t at, Buffer* buffer)
{
    int depth = 1;
    for (at++; at < length; at++) {
        char c = value[at];
        if (size_t unit = copy_raw_unit(value, length, at, buffer)) {
            at += unit - 1;
            continue;
        }
        if (c == '\\' && at + 1 < length) {
            append(buffer, value[++at]);
            continue;
        }
        if (c == '(')
            depth++;
        else if (c == ')' && --depth == 0)
            return at + 1;
        append(buffer, c);
    }
    return at;
}

// Reads the angle address at value[at] == '<' into buffer, leaving out white
// space and comments; returns the offset after it.
static size_t read_angle(const char* value, size_t length, size_t at, Buffer* buffer)
{
    for (at++; at < length && value[at] != '>';) {
        if (value[at] == '"') {
            append(buffer, '"');
            size_t end = read_quoted(value, length, at, buffer);
            append(buffer, '"');
            at = end;
        } else if (value[at] == '(') {
            at = read_comment(value, length, at, nullptr);
        } else {
            if (!is_space(value[at]))
                append(buffer, value[at]);
            at++;
        }
    }
    return at < length ? at + 1 : at;
}

void address_first_mailbox(const char* value, size_t length, Mailbox* out)
{
    // The phrase gathers everything outside comments and angles: the display
    // name when an angle address follows, else the address itself.
    char comment[MAILBOX_NAME_CAPACITY];
    size_t comment_length = 0;
    bool angle = false;
    Buffer phrase = {out->name, sizeof out->name, &out->name_length};
    Buffer first_comment = {comment, sizeof comment, &comment_length};
    Buffer address = {out->address, sizeof out->address, &out->address_length};
    out->name_length = out->address_length = 0;
    raw_charset = charset_of_raw((const unsigned char*)value, length);
    size_t blank = 0; // the phrase's first bytes, known to be white space
    size_t at = 0;
    while (at < length && !angle) {
        char c = value[at];
        if (size_t unit = copy_raw_unit(value, length, at, &phrase)) {
            at += unit;
        } else if (c == '"') {
            at = read_quoted(value, length, at, &phrase);
        } else if (c == '(') {
            at = read_comment(value, length, at, comment_length == 0 ? &first_comment : nullptr);
            append(&phrase, ' ');
        } else if (c == '<') {
            at = read_angle(value, length, at, &address);
            angle = true;
        } else if (c == ',' || c == ';') { // the end of a mailbox, or of an empty list element
            while (blank < out->name_length && is_space(out->name[blank]))
                blank++;
            if (blank < out->name_length)
                break;
            at++;
        } else if (c == ':') { // a group's name: its first member follows
            out->name_length = comment_length = blank = 0;
            at++;
        } else {
            append(&phrase, c);
            at++;
        }
    }
    if (!angle) {
        for (size_t i = 0; i < out->name_length; i++)
            if (!is_space(out->name[i]))
                append(&address, out->name[i]);
        out->name_length = 0;
        for (size_t i = 0; i < comment_length; i++)
            append(&phrase, comment[i]);
    }
}
