// Reading From and Subject out of a message's header.
//
// The header is read in place: a field's value runs from its colon to the
// end of its last continuation line, and the decoder treats the line breaks
// of folding as the white space they unfold to. Only the first From and the
// first Subject count.
#include <string.h>

#include "header/address.h"
#include "header/encoded_words.h"
#include "header/header.h"

struct Span {
    const char* text;
    size_t length;
};

static Mailbox mailbox; // 9 KB: kept out of the caller's stack

// True when the field name at line, up to its colon, is name in any case.
static bool field_is(const char* line, size_t colon, const char* name)
{
    size_t end = colon;
    while (end > 0 && (line[end - 1] == ' ' || line[end - 1] == '\t'))
        end--; // obsolete syntax allows white space before the colon
    if (end != strlen(name))
        return false;
    for (size_t i = 0; i < end; i++)
        if ((line[i] | 0x20) != name[i])
            return false;
    return true;
}

static void find_fields(const char* header, size_t length, Span* from, Span* subject)
{
    Span* current = nullptr;
    size_t at = 0;
    while (at < length) {
        const char* newline = (const char*)memchr(header + at, '\n', length - at);
        size_t end = newline ? (size_t)(newline - header) : length;
        size_t content_end = end;
        while (content_end > at && header[content_end - 1] == '\r')
            content_end--; // CR LF, and stray CRs before it, end the line
        if (content_end == at)
            break; // the empty line that ends the header
        const char* line = header + at;
        if (line[0] == ' ' || line[0] == '\t') {
            if (current)
                current->length = (size_t)(header + content_end - current->text);
        } else {
            current = nullptr;
            const char* colon = (const char*)memchr(line, ':', content_end - at);
            if (colon) {
                size_t name_length = (size_t)(colon - line);
                if (!from->text && field_is(line, name_length, "from"))
                    current = from;
                else if (!subject->text && field_is(line, name_length, "subject"))
                    current = subject;
                if (current) {
                    current->text = colon + 1;
                    current->length = (size_t)(header + content_end - current->text);
                }
            }
        }
        at = end + 1;
    }
}

void header_summarize(const char* header, size_t length, HeaderSummary* out)
{
    Span from = {nullptr, 0}, subject = {nullptr, 0};
    find_fields(header, length, &from, &subject);
    if (!from.text)
        from.text = "";
    if (!subject.text)
        subject.text = "";

    Utf8Text text;
    utf8_begin(&text, out->subject, sizeof out->subject);
    header_decode_text(subject.text, subject.length, true, &text);
    utf8_trim_end(&text);

    address_first_mailbox(from.text, from.length, &mailbox);
    utf8_begin(&text, out->sender, sizeof out->sender);
    header_decode_text(mailbox.name, mailbox.name_length, true, &text);
    utf8_trim_end(&text);
    if (text.length == 0) {
        utf8_begin(&text, out->sender, sizeof out->sender);
        header_decode_text(mailbox.address, mailbox.address_length, false, &text);
    }
}
