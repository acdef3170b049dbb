// RFC 2047 encoded words in a header text, and the plain text around them.
//
// A word is found anywhere it starts, even without white space around it,
// since mailers write them that way. Finding a word reads at most up to the
// third '?' after its start, and a failed start is passed over two bytes at
// a time, so no byte is read more than a few times: the time stays linear
// however many broken words a hostile header repeats.
#include "header/encoded_words.h"

#include "header/charset.h"

struct EncodedWord {
    int charset;
    bool base64;
    const char* data; // the encoded text between the third '?' and "?="
    size_t data_length;
    size_t end;       // offset just after "?="
};

static bool is_space(char c)
{
    return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

static int hex_digit(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    return -1;
}

static int base64_digit(char c)
{
    if (c >= 'A' && c <= 'Z')
        return c - 'A';
    if (c >= 'a' && c <= 'z')
        return c - 'a' + 26;
    if (c >= '0' && c <= '9')
        return c - '0' + 52;
    if (c == '+')
        return 62;
    if (c == '/')
        return 63;
    return -1;
}

// Base64 with its padding optional: digits, then at most two '=' that
// complete a group, and never a single digit left over (it holds no byte).
static bool base64_valid(const char* data, size_t length)
{
    size_t digits = 0;
    while (digits < length && base64_digit(data[digits]) >= 0)
        digits++;
    size_t padding = length - digits;
    for (size_t i = digits; i < length; i++)
        if (data[i] != '=')
            return false;
    if (digits % 4 == 1 || padding > 2)
        return false;
    return padding == 0 || (digits + padding) % 4 == 0;
}

static bool q_valid(const char* data, size_t length)
{
    for (size_t i = 0; i < length; i++)
        if (data[i] == '=' && (i + 2 >= length || hex_digit(data[i + 1]) < 0 ||
                               hex_digit(data[i + 2]) < 0))
            return false;
    return true;
}

// Reads "=?charset?E?data?=" at text + at; false when no valid word starts there.
static bool find_word(const char* text, size_t length, size_t at, EncodedWord* word)
{
    if (at + 1 >= length || text[at] != '=' || text[at + 1] != '?')
        return false;
    size_t label = at + 2, i = label;
    while (i < length && text[i] != '?' && !is_space(text[i]))
        i++;
    size_t label_end = i;
    if (i + 2 >= length || text[i] != '?' || text[i + 2] != '?')
        return false;
    char encoding = text[i + 1];
    size_t data = i + 3;
    i = data;
    while (i < length && text[i] != '?' && !is_space(text[i]))
        i++;
    if (i + 1 >= length || text[i] != '?' || text[i + 1] != '=')
        return false;
    size_t language = label; // RFC 2231: "charset*language"
    while (language < label_end && text[language] != '*')
        language++;
    word->charset = charset_from_label(text + label, language - label);
    word->base64 = encoding == 'B' || encoding == 'b';
    word->data = text + data;
    word->data_length = i - data;
    word->end = i + 2;
    if (word->charset == CHARSET_UNKNOWN || label == language)
        return false;
    if (word->base64)
        return base64_valid(word->data, word->data_length);
    return (encoding == 'Q' || encoding == 'q') && q_valid(word->data, word->data_length);
}

static void read_word(const EncodedWord* word, CharsetReader* reader, Utf8Text* out)
{
    const char* data = word->data;
    size_t length = word->data_length;
    if (word->base64) {
        uint32_t bits = 0;
        int count = 0;
        for (size_t i = 0; i < length && data[i] != '='; i++) {
            bits = bits << 6 | (uint32_t)base64_digit(data[i]);
            count += 6;
            if (count >= 8) {
                count -= 8;
                charset_read(reader, (unsigned char)(bits >> count), out);
            }
        }
        return;
    }
    for (size_t i = 0; i < length; i++) {
        if (data[i] == '=') {
            charset_read(reader, (unsigned char)(hex_digit(data[i + 1]) << 4 | hex_digit(data[i + 2])), out);
            i += 2;
        } else {
            charset_read(reader, data[i] == '_' ? ' ' : (unsigned char)data[i], out);
        }
    }
}

// Where the plain text starting at 'at' ends: at white space or at the next
// "=?" outside a unit of the raw charset (raw ISO-2022-JP text may happen to
// read "=?" or hold a space).
static size_t plain_end(const char* text, size_t length, size_t at, int raw)
{
    size_t i = at;
    if (i + 1 < length && text[i] == '=' && text[i + 1] == '?')
        i += 2; // a start that held no word
    while (i < length) {
        size_t unit = charset_raw_unit(text, length, i, raw);
        if (unit == 1 && (is_space(text[i]) || (text[i] == '=' && i + 1 < length && text[i + 1] == '?')))
            break;
        i += unit;
    }
    return i;
}

static void put_space(const char* text, size_t from, size_t to, Utf8Text* out)
{
    for (size_t i = from; i < to; i++)
        if (text[i] == ' ' || text[i] == '\t')
            utf8_put(out, ' ');
}

void header_decode_text(const char* text, size_t length, bool encoded_words, Utf8Text* out)
{
    int raw = charset_of_raw((const unsigned char*)text, length);
    CharsetReader words, plain;
    charset_begin(&words, CHARSET_UNKNOWN);
    charset_begin(&plain, raw);
    bool after_word = false, started = false;
    size_t space = 0, space_end = 0; // white space not yet written
    size_t at = 0;
    while (at < length && !out->full) {
        if (is_space(text[at])) {
            while (at < length && is_space(text[at]))
                at++;
            space_end = at;
            continue;
        }
        EncodedWord word;
        if (encoded_words && find_word(text, length, at, &word)) {
            if (!after_word && started)
                put_space(text, space, space_end, out);
            if (word.charset != words.charset) {
                charset_end(&words, out);
                charset_begin(&words, word.charset);
            }
            read_word(&word, &words, out);
            at = word.end;
            after_word = true;
        } else {
            charset_end(&words, out);
            if (started)
                put_space(text, space, space_end, out);
            size_t end = plain_end(text, length, at, raw);
            for (; at < end; at++)
                charset_read(&plain, (unsigned char)text[at], out);
            charset_end(&plain, out);
            after_word = false;
        }
        started = true;
        space = space_end = at;
    }
    charset_end(&words, out);
}
