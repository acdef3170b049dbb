// Shift_JIS, EUC-JP and ISO-2022-JP, all read through code page 932's table.
//
// The three share JIS X 0208's rows and cells: EUC-JP sets the high bit of
// both bytes, ISO-2022-JP shifts them in with an escape sequence, and
// Shift_JIS folds two rows into one lead byte. Mapping a row and cell to its
// Shift_JIS bytes therefore reads all three as Windows does, NEC row 13 (①,
// ㍉) and the NEC-selected IBM extensions of rows 89 to 92 (髙) included.
#include "header/charset.h"
#include "header/cp932_table.h"

enum {
    ESC = 0x1B,
    SHIFT_OUT = 0x0E, // half-width katakana on, as some Windows mailers write it
    SHIFT_IN = 0x0F,
    HALF_WIDTH_KATAKANA = 0xFF61 // what byte A1 (EUC-JP, Shift_JIS) or 21 (ISO-2022-JP) stands for
};

enum JisMode {
    JIS_ASCII,        // ESC ( B, and ESC ( J: its yen sign and overline read as backslash and tilde
    JIS_KATAKANA,     // ESC ( I
    JIS_X0208,        // ESC $ @, ESC $ B, and JIS X 0213's first plane, which extends it
    JIS_OTHER_DOUBLE  // Chinese, Korean or JIS X 0212 (ISO-2022-JP-2): two bytes no table here holds
};

// The character of a Shift_JIS double byte, or 0.
static uint32_t cp932_character(unsigned char lead, unsigned char trail)
{
    if (trail < 0x40 || trail == 0x7F || trail > 0xFC || lead < 0x81)
        return 0;
    unsigned cell = trail - 0x40 - (trail > 0x7F);
    if (lead >= 0xF0 && lead <= 0xF9) // the user-defined area, which Windows puts in the private use area
        return 0xE000 + (lead - 0xF0) * CP932_TRAILS + cell;
    unsigned char row = cp932_row_of_lead[lead - 0x80];
    return row == CP932_NO_ROW ? 0 : cp932_rows[row][cell];
}

// The character at JIS X 0208 row and cell bytes (each 21 to 7E), or 0.
static uint32_t jis_character(unsigned char first, unsigned char second)
{
    unsigned char lead = (unsigned char)((first + 1) / 2 + (first <= 0x5E ? 0x70 : 0xB0));
    unsigned char trail = (unsigned char)(second + (first & 1 ? (second < 0x60 ? 0x1F : 0x20) : 0x7E));
    return cp932_character(lead, trail);
}

static void put_or_replace(Utf8Text* out, uint32_t code)
{
    utf8_put(out, code ? code : REPLACEMENT_CHARACTER);
}

// A lead byte without a fitting trail is U+FFFD; an ASCII trail is then read
// on its own, so a broken character cannot swallow the text after it.
void cp932_read(CharsetReader* reader, unsigned char byte, Utf8Text* out)
{
    if (reader->lead) {
        unsigned char lead = reader->lead;
        reader->lead = 0;
        uint32_t code = cp932_character(lead, byte);
        if (code) {
            utf8_put(out, code);
            return;
        }
        utf8_put(out, REPLACEMENT_CHARACTER);
        if (byte >= 0x80)
            return;
    }
    if (byte < 0x80)
        utf8_put(out, byte);
    else if (byte >= 0xA1 && byte <= 0xDF)
        utf8_put(out, HALF_WIDTH_KATAKANA + byte - 0xA1);
    else if ((byte >= 0x81 && byte <= 0x9F) || (byte >= 0xE0 && byte <= 0xFC))
        reader->lead = byte;
    else
        utf8_put(out, REPLACEMENT_CHARACTER);
}

static bool euc_byte(unsigned char byte)
{
    return byte >= 0xA1 && byte <= 0xFE;
}

// EUC-JP: A1-FE pairs are JIS X 0208 (rows 13 and 89-92 as NEC wrote them),
// 8E before a byte is half-width katakana, 8F begins a JIS X 0212 character,
// which code page 932 lacks.
void euc_jp_read(CharsetReader* reader, unsigned char byte, Utf8Text* out)
{
    if (reader->lead) {
        unsigned char lead = reader->lead;
        bool fits = lead == 0x8E ? byte >= 0xA1 && byte <= 0xDF : euc_byte(byte);
        if (!fits) {
            reader->lead = 0, reader->needed = 0;
            utf8_put(out, REPLACEMENT_CHARACTER);
            euc_jp_read(reader, byte, out);
            return;
        }
        if (lead == 0x8F && reader->needed > 1) {
            reader->needed--;
            return;
        }
        reader->lead = 0, reader->needed = 0;
        if (lead == 0x8E)
            utf8_put(out, HALF_WIDTH_KATAKANA + byte - 0xA1);
        else if (lead == 0x8F)
            utf8_put(out, REPLACEMENT_CHARACTER);
        else
            put_or_replace(out, jis_character(lead - 0x80, byte - 0x80));
        return;
    }
    if (byte < 0x80) {
        utf8_put(out, byte);
    } else if (byte == 0x8E || byte == 0x8F || euc_byte(byte)) {
        reader->lead = byte;
        reader->needed = byte == 0x8F ? 2 : 1;
    } else {
        utf8_put(out, REPLACEMENT_CHARACTER);
    }
}

struct Designation {
    const char* bytes; // ESC and what follows it
    int mode;
};

static const Designation DESIGNATIONS[] = {
    {"\x1B(B", JIS_ASCII},         {"\x1B(J", JIS_ASCII},         {"\x1B(I", JIS_KATAKANA},
    {"\x1B$@", JIS_X0208},         {"\x1B$B", JIS_X0208},         {"\x1B$(B", JIS_X0208},
    {"\x1B$(O", JIS_X0208},        {"\x1B$(Q", JIS_X0208},        {"\x1B$A", JIS_OTHER_DOUBLE},
    {"\x1B$(C", JIS_OTHER_DOUBLE}, {"\x1B$(D", JIS_OTHER_DOUBLE},
};

// Takes one more byte of an escape sequence: switches the mode when the
// sequence is complete, waits when it may still become one, and otherwise
// shows the ESC as U+FFFD and reads the bytes after it as text.
static void jis_escape_byte(CharsetReader* reader, unsigned char byte, Utf8Text* out)
{
    reader->escape[reader->escape_length++] = byte;
    bool prefix = false;
    for (const Designation& known : DESIGNATIONS) {
        int i = 0;
        while (i < reader->escape_length && (unsigned char)known.bytes[i] == reader->escape[i])
            i++;
        if (i < reader->escape_length)
            continue;
        if (known.bytes[i] == '\0') {
            reader->mode = known.mode;
            reader->escape_length = 0;
            return;
        }
        prefix = true;
    }
    if (prefix)
        return;
    unsigned char after[sizeof reader->escape];
    int count = reader->escape_length - 1;
    for (int i = 0; i < count; i++)
        after[i] = reader->escape[i + 1];
    reader->escape_length = 0;
    utf8_put(out, REPLACEMENT_CHARACTER);
    for (int i = 0; i < count; i++)
        iso_2022_jp_read(reader, after[i], out);
}

void iso_2022_jp_read(CharsetReader* reader, unsigned char byte, Utf8Text* out)
{
    if (reader->escape_length > 0) {
        jis_escape_byte(reader, byte, out);
        return;
    }
    bool text_byte = byte >= 0x21 && byte <= 0x7E;
    if (reader->lead && !text_byte) { // a control byte cut a double-byte character
        reader->lead = 0;
        utf8_put(out, REPLACEMENT_CHARACTER);
    }
    if (byte == ESC) {
        jis_escape_byte(reader, byte, out);
    } else if (byte == SHIFT_OUT) {
        reader->mode = JIS_KATAKANA;
    } else if (byte == SHIFT_IN) {
        reader->mode = JIS_ASCII;
    } else if (!text_byte || reader->mode == JIS_ASCII) {
        utf8_put(out, byte < 0x80 ? byte : REPLACEMENT_CHARACTER);
    } else if (reader->mode == JIS_KATAKANA) {
        utf8_put(out, byte <= 0x5F ? HALF_WIDTH_KATAKANA + byte - 0x21 : REPLACEMENT_CHARACTER);
    } else if (!reader->lead) {
        reader->lead = byte;
    } else {
        uint32_t code = reader->mode == JIS_X0208 ? jis_character(reader->lead, byte) : 0;
        reader->lead = 0;
        put_or_replace(out, code);
    }
}
