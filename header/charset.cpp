// Charset labels, the choice for raw 8-bit fields, UTF-8 and the Western
// single-byte sets. The Japanese sets are in japanese.cpp.
#include "header/charset.h"

#include <string.h>

struct Label {
    const char* name;
    int charset;
};

// The labels mail uses. US-ASCII and ISO-8859-1 read as Windows-1252, as
// browsers and mail readers do: a message labelled either with bytes in
// 80-9F was written on Windows.
static const Label LABELS[] = {
    {"utf-8", CHARSET_UTF8},
    {"utf8", CHARSET_UTF8},
    {"us-ascii", CHARSET_WINDOWS_1252},
    {"ascii", CHARSET_WINDOWS_1252},
    {"iso-8859-1", CHARSET_WINDOWS_1252},
    {"iso8859-1", CHARSET_WINDOWS_1252},
    {"iso_8859-1", CHARSET_WINDOWS_1252},
    {"latin1", CHARSET_WINDOWS_1252},
    {"windows-1252", CHARSET_WINDOWS_1252},
    {"cp1252", CHARSET_WINDOWS_1252},
    {"iso-8859-15", CHARSET_ISO_8859_15},
    {"iso8859-15", CHARSET_ISO_8859_15},
    {"iso_8859-15", CHARSET_ISO_8859_15},
    {"latin-9", CHARSET_ISO_8859_15},
    {"shift_jis", CHARSET_CP932},
    {"shift-jis", CHARSET_CP932},
    {"sjis", CHARSET_CP932},
    {"x-sjis", CHARSET_CP932},
    {"ms932", CHARSET_CP932},
    {"ms_kanji", CHARSET_CP932},
    {"cp932", CHARSET_CP932},
    {"windows-31j", CHARSET_CP932},
    {"csshiftjis", CHARSET_CP932},
    {"euc-jp", CHARSET_EUC_JP},
    {"eucjp", CHARSET_EUC_JP},
    {"x-euc-jp", CHARSET_EUC_JP},
    {"iso-2022-jp", CHARSET_ISO_2022_JP},
    {"iso-2022-jp-1", CHARSET_ISO_2022_JP},
    {"iso-2022-jp-2", CHARSET_ISO_2022_JP},
    {"iso-2022-jp-3", CHARSET_ISO_2022_JP},
    {"iso-2022-jp-2004", CHARSET_ISO_2022_JP},
    {"iso2022jp", CHARSET_ISO_2022_JP},
    {"csiso2022jp", CHARSET_ISO_2022_JP},
};

static unsigned char lower_case(unsigned char c)
{
    return c >= 'A' && c <= 'Z' ? (unsigned char)(c + 'a' - 'A') : c;
}

int charset_from_label(const char* label, size_t length)
{
    for (const Label& known : LABELS) {
        if (strlen(known.name) != length)
            continue;
        size_t i = 0;
        while (i < length && lower_case((unsigned char)label[i]) == (unsigned char)known.name[i])
            i++;
        if (i == length)
            return known.charset;
    }
    return CHARSET_UNKNOWN;
}

// The sequence a UTF-8 first byte begins: how many bytes follow, and the
// range of the next one (which rules out overlong forms, surrogates and
// values beyond U+10FFFF). False for a byte that begins nothing.
static bool utf8_first_byte(unsigned char byte, int* needed, unsigned char* lower,
                            unsigned char* upper)
{
    *lower = 0x80, *upper = 0xBF;
    if (byte >= 0xC2 && byte <= 0xDF)
        *needed = 1;
    else if (byte >= 0xE0 && byte <= 0xEF)
        *needed = 2, *lower = byte == 0xE0 ? 0xA0 : 0x80, *upper = byte == 0xED ? 0x9F : 0xBF;
    else if (byte >= 0xF0 && byte <= 0xF4)
        *needed = 3, *lower = byte == 0xF0 ? 0x90 : 0x80, *upper = byte == 0xF4 ? 0x8F : 0xBF;
    else
        return false;
    return true;
}

static bool valid_utf8(const unsigned char* bytes, size_t length)
{
    size_t i = 0;
    while (i < length) {
        unsigned char byte = bytes[i++], lower, upper;
        int needed;
        if (byte < 0x80)
            continue;
        if (!utf8_first_byte(byte, &needed, &lower, &upper))
            return false;
        for (; needed > 0; needed--, lower = 0x80, upper = 0xBF) {
            if (i >= length || bytes[i] < lower || bytes[i] > upper)
                return false;
            i++;
        }
    }
    return true;
}

int charset_of_raw(const unsigned char* bytes, size_t length)
{
    // Raw ISO-2022-JP is 7-bit, so it is valid UTF-8 too: its ESC decides.
    bool eight_bit = false, escape = false;
    for (size_t i = 0; i < length; i++)
        eight_bit |= bytes[i] >= 0x80, escape |= bytes[i] == 0x1B;
    if (eight_bit && valid_utf8(bytes, length))
        return CHARSET_UTF8;
    if (escape)
        return CHARSET_ISO_2022_JP;
    return eight_bit ? CHARSET_CP932 : CHARSET_UTF8;
}

static bool escape_to_ascii(const char* text, size_t length, size_t at)
{
    return at + 2 < length && text[at] == 0x1B && text[at + 1] == '(' &&
           (text[at + 2] == 'B' || text[at + 2] == 'J');
}

size_t charset_raw_unit(const char* text, size_t length, size_t at, int charset)
{
    unsigned char byte = (unsigned char)text[at];
    if (charset == CHARSET_CP932 && ((byte >= 0x81 && byte <= 0x9F) || (byte >= 0xE0 && byte <= 0xFC))) {
        unsigned char trail = at + 1 < length ? (unsigned char)text[at + 1] : 0;
        return trail >= 0x40 && trail <= 0xFC && trail != 0x7F ? 2 : 1;
    }
    if (charset != CHARSET_ISO_2022_JP || byte != 0x1B)
        return 1;
    if (escape_to_ascii(text, length, at))
        return 3;
    size_t end = at + 1;
    while (end < length && !escape_to_ascii(text, length, end))
        end++;
    return end < length ? end + 3 - at : end - at;
}

void charset_begin(CharsetReader* reader, int charset)
{
    memset(reader, 0, sizeof *reader);
    reader->charset = charset;
}

// WHATWG's UTF-8 decoder: a broken sequence is one U+FFFD, and the byte
// that broke it starts afresh.
static void utf8_read(CharsetReader* reader, unsigned char byte, Utf8Text* out)
{
    if (reader->needed == 0) {
        if (byte < 0x80)
            utf8_put(out, byte);
        else if (utf8_first_byte(byte, &reader->needed, &reader->lower, &reader->upper))
            reader->code = byte & (0x3F >> reader->needed);
        else
            utf8_put(out, REPLACEMENT_CHARACTER);
        return;
    }
    if (byte < reader->lower || byte > reader->upper) {
        reader->needed = 0;
        utf8_put(out, REPLACEMENT_CHARACTER);
        utf8_read(reader, byte, out);
        return;
    }
    reader->code = reader->code << 6 | (byte & 0x3F);
    reader->lower = 0x80, reader->upper = 0xBF;
    if (--reader->needed == 0)
        utf8_put(out, reader->code);
}

// Windows-1252's 80-9F; 0 where it has no character.
static const unsigned short WINDOWS_1252_HIGH[32] = {
    0x20AC, 0,      0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
    0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0,      0x017D, 0,
    0,      0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
    0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0,      0x017E, 0x0178,
};

static uint32_t windows_1252(unsigned char byte)
{
    if (byte < 0x80 || byte >= 0xA0)
        return byte;
    uint32_t code = WINDOWS_1252_HIGH[byte - 0x80];
    return code ? code : REPLACEMENT_CHARACTER;
}

// ISO-8859-15 is ISO-8859-1 with eight letters and the euro sign changed.
static uint32_t iso_8859_15(unsigned char byte)
{
    switch (byte) {
    case 0xA4: return 0x20AC;
    case 0xA6: return 0x0160;
    case 0xA8: return 0x0161;
    case 0xB4: return 0x017D;
    case 0xB8: return 0x017E;
    case 0xBC: return 0x0152;
    case 0xBD: return 0x0153;
    case 0xBE: return 0x0178;
    default: return byte;
    }
}

void charset_read(CharsetReader* reader, unsigned char byte, Utf8Text* out)
{
    switch (reader->charset) {
    case CHARSET_UTF8: utf8_read(reader, byte, out); break;
    case CHARSET_WINDOWS_1252: utf8_put(out, windows_1252(byte)); break;
    case CHARSET_ISO_8859_15: utf8_put(out, iso_8859_15(byte)); break;
    case CHARSET_CP932: cp932_read(reader, byte, out); break;
    case CHARSET_EUC_JP: euc_jp_read(reader, byte, out); break;
    case CHARSET_ISO_2022_JP: iso_2022_jp_read(reader, byte, out); break;
    default: utf8_put(out, REPLACEMENT_CHARACTER); break;
    }
}

void charset_end(CharsetReader* reader, Utf8Text* out)
{
    if (reader->needed > 0 || reader->lead != 0 || reader->escape_length > 0)
        utf8_put(out, REPLACEMENT_CHARACTER);
    charset_begin(reader, reader->charset);
}
