#include <gtest/gtest.h>

#include <string.h>

#include <string>

#include "core/text.h"
#include "settings/settings.h"

namespace
{

TEST(Text, DecimalParsingNeverOverflows)
{
    const struct {
        const char* text;
        int64_t value;
    } rows[] = {
        {"320", 320},
        {"  \t42", 42},
        {"+7", 7},
        {"-5", -5},
        {"12x", 12},
        {"", 0},
        {"3221225472\r", 3221225472LL},
        {"9007199254740993", 9007199254740993LL},
        {"9223372036854775808", INT64_MAX},
        {"99999999999999999999999", INT64_MAX},
        {"-99999999999999999999999", INT64_MIN},
        {"-9223372036854775807", -INT64_MAX},
    };
    for (const auto& row : rows)
        EXPECT_EQ(row.value, text_parse_decimal(row.text)) << '"' << row.text << '"';
}

TEST(Text, CopyCutsAtTheCapacity)
{
    char target[5], one[1];
    text_copy(target, sizeof target, "abcde");
    EXPECT_STREQ("abcd", target);
    text_copy(one, sizeof one, "x");
    EXPECT_STREQ("", one);
}

// The literals of the program are code page 932 bytes, not UTF-8.
TEST(Text, LiteralsAreCodePage932)
{
    const unsigned char expected[] = {0x90, 0x56, 0x92, 0x85, 0x83, 0x81, 0x81, 0x5b,
                                      0x83, 0x8b, 0x82, 0xcd, 0x82, 0xa0, 0x82, 0xe8,
                                      0x82, 0xdc, 0x82, 0xb9, 0x82, 0xf1, 0x00};
    EXPECT_EQ(0, memcmp(expected, "新着メールはありません", sizeof expected));
}

TEST(Text, ProgramDirectoryAndIniPath)
{
    const struct {
        const char* program;
        const char* directory;
    } rows[] = {
        {"C:\\Program Files\\corvina\\corvina.exe", "C:\\Program Files\\corvina\\"},
        {"corvina.exe", ""},
        {"\\\\server\\share\\corvina.exe", "\\\\server\\share\\"},
        // ソ is 83 5C in code page 932: its second byte is not a separator.
        {"C:\\ソフト\\表\\corvina.exe", "C:\\ソフト\\表\\"},
        {"C:\\ソ", "C:\\"},
        {"C:\\\xFC\\x.exe", "C:\\"}, // FC, the last lead byte
        {"C:\\x\\\x83", "C:\\x\\"},   // a path cut inside a character
    };
    for (const auto& row : rows) {
        settings_locate(row.program);
        EXPECT_STREQ(row.directory, program_directory) << row.program;
        EXPECT_EQ(std::string(row.directory) + "corvina.ini", ini_path);
    }
}

} // namespace
