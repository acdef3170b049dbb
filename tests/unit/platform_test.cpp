// Facts about the platform the Windows tests run on.
#include <gtest/gtest.h>

#ifdef _WIN32
#include <windows.h>

#include "core/wide_win32.h"

namespace
{

// Every text of the program is code page 932. Under Wine that needs the
// Japanese locale; a wrong one would garble texts quietly, so fail loudly.
TEST(Platform, AnsiCodePageIs932)
{
    EXPECT_EQ(932u, GetACP());
}

// Texts cross to Windows in UTF-16 whatever the ANSI code page, and a cut
// never leaves half a character on either side.
TEST(Platform, TextsCrossToWindowsInWholeCharacters)
{
    const struct {
        const char* cp932;
        int capacity;
        const wchar_t* wide;
    } to_windows[] = {
        {"\x87\x40\x87\x5f\xfb\xfc", 8, L"①㍉髙"}, // NEC and IBM extensions
        {"\x83\x81\x81\x5b\x83", 8, L"メー"},      // a field cut inside a character
        {"\x83\x81\x81\x5b\x83\x8b", 3, L"メー"},  // no room for the last
    };
    for (const auto& row : to_windows) {
        wchar_t out[8];
        wide_from_cp932(row.cp932, out, row.capacity);
        EXPECT_STREQ(row.wide, out) << row.capacity;
    }
    wchar_t pair[3];
    wide_from_utf8("x\xf0\x9f\x98\x80", pair, 3); // no room for both halves of the pair
    EXPECT_STREQ(L"x", pair);

    const struct {
        const wchar_t* wide;
        int capacity;
        const char* cp932;
    } from_windows[] = {
        {L"メール", 7, "\x83\x81\x81\x5b\x83\x8b"},
        {L"メール", 6, "\x83\x81\x81\x5b"}, // the last would not fit whole
        {L"a\U0001F600b", 8, "a?b"},        // one sign for one character outside the code page
        {L"ｱ①", 8, "\xb1\x87\x40"},
    };
    for (const auto& row : from_windows) {
        char out[8];
        cp932_from_wide(row.wide, out, row.capacity);
        EXPECT_STREQ(row.cp932, out) << row.capacity;
    }
}

} // namespace
#endif
