// INI key I/O without the Windows profile functions, for the native build.
//
// It keeps their rules: lines are trimmed of white space; "[name]" opens a
// section; "key=value" lines belong to the section above them; section and
// key names compare without case; the first section of a name is the one
// used; a value enclosed whole in one pair of quotes loses them; an integer
// is read as the profile reader does (base prefixes 0x, 0o and 0b, wrapping
// modulo 2^32). Writing edits the key's line in place or adds it at the end
// of its section, so the rest of the file is kept; removing a key takes out
// its line and leaves a file without it untouched; a file too large to be
// held whole, or one the new line would push past that, is left as it is.
#include <stdio.h>
#include <string.h>

#include "settings/ini.h"

enum {
    INI_FILE_MAX = 64 * 1024, // a larger file is read up to here and never written
    INT_VALUE_CAPACITY = 30   // the profile reader's own buffer for integers
};

static char file_text[INI_FILE_MAX + 1]; // the byte past the limit tells a larger file
static size_t file_length;

struct Span {
    size_t start, end; // bytes [start, end) of file_text
};

// Where a key stands in the file; absent parts have start == end == the insertion point.
struct KeyPlace {
    bool section_found;
    bool key_found;
    bool has_value;
    Span line;        // the key's whole line, line end included
    Span value;       // trimmed value
    size_t insert_at; // where a missing key or section goes
};

// Returns false when the file is larger than the limit and only its start
// was read.
static bool read_file(const char* path)
{
    file_length = 0;
    FILE* file = fopen(path, "rb");
    if (!file)
        return true;
    file_length = fread(file_text, 1, sizeof file_text, file);
    fclose(file);
    if (file_length <= INI_FILE_MAX)
        return true;
    file_length = INI_FILE_MAX;
    return false;
}

static bool is_space(char c)
{
    return c == ' ' || (c >= '\t' && c <= '\r') || c == 0x1a;
}

static Span trimmed(Span span)
{
    while (span.start < span.end && is_space(file_text[span.start]))
        span.start++;
    while (span.end > span.start && is_space(file_text[span.end - 1]))
        span.end--;
    return span;
}

// The program's section and key names are upper case: the file's may be any case.
static bool same_name(Span span, const char* name)
{
    size_t length = strlen(name);
    if (span.end - span.start != length)
        return false;
    for (size_t i = 0; i < length; i++) {
        char a = file_text[span.start + i];
        if (a >= 'a' && a <= 'z')
            a = (char)(a - 'a' + 'A');
        if (a != name[i])
            return false;
    }
    return true;
}

static KeyPlace find_key(const char* section, const char* key)
{
    KeyPlace place = {};
    place.insert_at = file_length;
    bool in_section = false;
    bool section_done = false;
    for (size_t at = 0; at < file_length && !section_done;) {
        Span line = {at, at};
        while (line.end < file_length && file_text[line.end] != '\n')
            line.end++;
        at = line.end < file_length ? line.end + 1 : line.end;
        Span text = trimmed(line);
        if (text.start == text.end)
            continue;

        if (file_text[text.start] == '[') {
            size_t close = text.end - 1;
            while (close > text.start && file_text[close] != ']')
                close--;
            if (close > text.start) {
                if (in_section) {
                    section_done = true;
                    break;
                }
                in_section = same_name({text.start + 1, close}, section);
                if (in_section) {
                    place.section_found = true;
                    place.insert_at = at;
                }
                continue;
            }
        }
        if (!in_section)
            continue;
        place.insert_at = at;

        Span name = text;
        size_t equals = text.start;
        while (equals < text.end && file_text[equals] != '=')
            equals++;
        name.end = equals;
        if (same_name(trimmed(name), key)) {
            place.key_found = true;
            place.has_value = equals < text.end;
            place.line = {line.start, at};
            place.value = place.has_value ? trimmed({equals + 1, text.end}) : Span{0, 0};
            return place;
        }
    }
    return place;
}

void ini_read_text(const char* path, const char* section, const char* key, char* out, int capacity)
{
    if (capacity <= 0)
        return;
    out[0] = '\0';
    read_file(path);
    KeyPlace place = find_key(section, key);
    if (!place.key_found || !place.has_value)
        return;

    Span value = place.value;
    size_t length = value.end - value.start;
    char first = length > 0 ? file_text[value.start] : '\0';
    if (length >= 2 && (first == '"' || first == '\'') && file_text[value.end - 1] == first) {
        value.start++;
        value.end--;
        length -= 2;
    }
    if (length > (size_t)capacity - 1)
        length = (size_t)capacity - 1;
    memcpy(out, file_text + value.start, length);
    out[length] = '\0';
}

bool ini_key_present(const char* path, const char* section, const char* key)
{
    read_file(path);
    return find_key(section, key).key_found;
}

int32_t ini_read_int(const char* path, const char* section, const char* key, int32_t fallback)
{
    char text[INT_VALUE_CAPACITY];
    ini_read_text(path, section, key, text, sizeof text);
    if (text[0] == '\0')
        return fallback;

    const char* p = text;
    while (*p != '\0' && (unsigned char)*p <= ' ')
        p++;
    bool negative = false;
    if (*p == '+' || *p == '-')
        negative = *p++ == '-';
    unsigned base = 10;
    if (p[0] == '0' && (p[1] == 'x' || p[1] == 'o' || p[1] == 'b')) {
        base = p[1] == 'x' ? 16 : p[1] == 'o' ? 8 : 2;
        p += 2;
    }
    uint32_t total = 0;
    for (;; p++) {
        unsigned digit;
        if (*p >= '0' && *p <= '9')
            digit = (unsigned)(*p - '0');
        else if (*p >= 'a' && *p <= 'z')
            digit = (unsigned)(*p - 'a' + 10);
        else if (*p >= 'A' && *p <= 'Z')
            digit = (unsigned)(*p - 'A' + 10);
        else
            break;
        if (digit >= base)
            break;
        total = total * base + digit;
    }
    return (int32_t)(negative ? 0u - total : total);
}

// The new file text, built from the old one with the key's line replaced.
static char written[INI_FILE_MAX];
static size_t written_length;
static bool written_overflow;

static void append(const char* bytes, size_t count)
{
    if (written_overflow || count > sizeof written - written_length) {
        written_overflow = true;
        return;
    }
    memcpy(written + written_length, bytes, count);
    written_length += count;
}

static void append_text(const char* text)
{
    append(text, strlen(text));
}

int ini_write_text(const char* path, const char* section, const char* key, const char* value)
{
    if (!read_file(path))
        return -1;
    KeyPlace place = find_key(section, key);
    if (!value && !place.key_found)
        return 0;

    written_length = 0;
    written_overflow = false;
    size_t cut_from = place.key_found ? place.line.start : place.insert_at;
    size_t resume_at = place.key_found ? place.line.end : place.insert_at;
    append(file_text, cut_from);
    if (value) { // a removed key's line goes with nothing in its place
        if (!place.section_found) {
            if (cut_from > 0 && file_text[cut_from - 1] != '\n')
                append_text("\r\n");
            append_text("[");
            append_text(section);
            append_text("]\r\n");
        } else if (!place.key_found && cut_from > 0 && file_text[cut_from - 1] != '\n') {
            append_text("\r\n");
        }
        while (is_space(*value))
            value++;
        append_text(key);
        append_text("=");
        append_text(value);
        append_text("\r\n");
    }
    append(file_text + resume_at, file_length - resume_at);
    if (written_overflow)
        return -1;

    FILE* file = fopen(path, "wb");
    if (!file)
        return -1;
    bool whole = fwrite(written, 1, written_length, file) == written_length;
    return fclose(file) == 0 && whole ? 0 : -1;
}
