// Fuzz target: header_summarize on any header, as the session keeps it (at most 64 KB).
// Both fields are UTF-8 of one line within their capacity, and nothing after the
// empty line that ends the header changes them.
#include "header/header.h"
#include "tests/fuzz/fuzz.h"

enum { HEADER_MAX = 64 * 1024 };

static const char AFTER_HEADER[] = "\r\n\r\nSubject: body\r\nFrom: body@example.com\r\n";

static char header[HEADER_MAX + sizeof AFTER_HEADER];

// True when text is well-formed UTF-8 (no surrogates, nothing beyond U+10FFFF)
// without control characters.
static bool one_line_of_utf8(const char* text)
{
    const unsigned char* p = (const unsigned char*)text;
    while (*p) {
        unsigned char c = *p++;
        if (c < 0x20 || c == 0x7F)
            return false;
        if (c < 0x80)
            continue;
        int needed = c >= 0xF0 ? 3 : c >= 0xE0 ? 2 : 1;
        if (c < 0xC2 || c > 0xF4)
            return false;
        uint32_t code = c & (0x3F >> needed);
        for (int i = 0; i < needed; i++, p++) {
            if ((*p & 0xC0) != 0x80)
                return false;
            code = code << 6 | (*p & 0x3F);
        }
        if ((needed == 2 && code < 0x800) || (needed == 3 && (code < 0x10000 || code > 0x10FFFF)) ||
            (code >= 0xD800 && code < 0xE000) || (code >= 0x80 && code < 0xA0))
            return false;
    }
    return true;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size > HEADER_MAX)
        return 0;
    static HeaderSummary summary, ended;
    memset(&summary, 0x7F, sizeof summary);
    header_summarize((const char*)data, size, &summary); // libFuzzer's copy: a read past it is caught
    FUZZ_CHECK(fuzz_terminated(summary.sender, sizeof summary.sender), "sender is not terminated");
    FUZZ_CHECK(fuzz_terminated(summary.subject, sizeof summary.subject), "subject is not terminated");
    FUZZ_CHECK(one_line_of_utf8(summary.sender), "sender is not one line of UTF-8: %s", summary.sender);
    FUZZ_CHECK(one_line_of_utf8(summary.subject), "subject is not one line of UTF-8: %s", summary.subject);

    memcpy(header, data, size);
    memcpy(header + size, AFTER_HEADER, sizeof AFTER_HEADER - 1);
    header_summarize(header, size + sizeof AFTER_HEADER - 1, &ended);
    FUZZ_CHECK(strcmp(summary.sender, ended.sender) == 0, "sender %s, with the header ended %s",
               summary.sender, ended.sender);
    FUZZ_CHECK(strcmp(summary.subject, ended.subject) == 0, "subject %s, with the header ended %s",
               summary.subject, ended.subject);
    return 0;
}
