// The stored password: round trips, the layout of the stored text, and the
// check that makes damaged text decode to nothing.
#include <gtest/gtest.h>

#include <string.h>

#include <string>

#include "settings/password.h"
#include "tests/fakes/fakes.h"

namespace
{

std::string encode(const std::string& plain, uint32_t ticks)
{
    fake.ticks = ticks;
    char out[ENCODED_PASSWORD_MAX + 1];
    memset(out, 0x55, sizeof out);
    password_encode(plain.c_str(), out);
    return out;
}

std::string decode(const std::string& stored)
{
    char out[PLAIN_PASSWORD_MAX + 1 + 8];
    memset(out, 0x55, sizeof out);
    password_decode(stored.c_str(), out);
    for (size_t i = PLAIN_PASSWORD_MAX + 1; i < sizeof out; i++)
        EXPECT_EQ(0x55, (unsigned char)out[i]) << "written beyond the field";
    return out;
}

// Passwords of every length with double-byte and high bytes in them.
std::string high_password(size_t length, int variant)
{
    std::string plain;
    for (size_t i = 0; i < length; i++)
        plain += (char)(0x80 + (i * 37 + variant * 11) % 0x80);
    return plain;
}

const char ALPHABET[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

TEST(Password, RoundTripEveryLength)
{
    for (size_t length = 1; length <= PLAIN_PASSWORD_MAX; length++) {
        for (int variant = 0; variant < 3; variant++) {
            std::string plain = high_password(length, variant);
            std::string stored = encode(plain, 1000u * (uint32_t)length + (uint32_t)variant);
            ASSERT_EQ(36 + 8 * length, stored.size()); // 44 to 548 characters
            ASSERT_EQ(std::string::npos, stored.find_first_not_of(ALPHABET)) << stored;
            ASSERT_EQ(plain, decode(stored)) << "length " << length;
        }
    }
}

// Texts written by earlier versions must keep decoding, and the encoder must
// keep writing them: the generator's multiplier and the layout never change.
TEST(Password, KnownTextsOfThisEncoding)
{
    const struct {
        const char* plain;
        uint32_t ticks;
        const char* stored;
    } rows[] = {
        {"tanstaaf", 0x1234,
         "EzCxzepi8u2xaDD0YnSDRR0Gj6ZS380g43fam63d12fA0F7312W+"
         "0zocccSk81l0bCDfze2wM7a5Dlfrf7e7a5AbHb"
         "05bbf9408R"},
        {"パスワード", 0xBEEF,
         "/e+bQ31bb66Pi154Oh9nPYg/h433PXeeuobGdRRa1frkZ6PgvV10Mreja1piTVOhaRa5kaSH5YJnU19sp4391t1z"
         "D2rubs8cu939d4ddt8aC14Qdfc48"},
    };
    for (const auto& row : rows) {
        EXPECT_EQ(row.stored, encode(row.plain, row.ticks));
        EXPECT_EQ(row.plain, decode(row.stored));
    }
}

// A character outside the alphabet reads as 'A', the value zero.
TEST(Password, ForeignCharactersCountAsZero)
{
    int replaced = 0;
    for (uint32_t ticks = 0; ticks < 1000 && replaced < 5; ticks++) {
        std::string stored = encode("secret", ticks);
        size_t at = stored.find('A', 4);
        for (char foreign : {'#', '=', (char)0x83}) {
            if (at == std::string::npos)
                break;
            stored[at] = foreign;
            EXPECT_EQ("secret", decode(stored)) << stored;
        }
        replaced += at != std::string::npos;
    }
    EXPECT_EQ(5, replaced);
}

TEST(Password, ShortAndOverlongTextsDecodeToNothing)
{
    std::string stored = encode("x", 99);
    for (size_t length = 0; length < 44; length++)
        EXPECT_EQ("", decode(stored.substr(0, length))) << length;
    // A text of 64 bytes' worth plus one more character could never come from
    // the encoder; its bit section would not fit the plain password.
    std::string longest = encode(std::string(64, 'q'), 5);
    EXPECT_EQ("", decode(longest + "AAAAAAAA"));
}

} // namespace
