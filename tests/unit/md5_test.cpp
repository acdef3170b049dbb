#include <gtest/gtest.h>

#include <string>

#include "pop3/md5.h"

namespace
{

std::string alphabet_run(int length)
{
    std::string text;
    for (int i = 0; i < length; i++)
        text += (char)('a' + i % 26);
    return text;
}

TEST(Md5, Digests)
{
    std::string every_byte;
    for (int b = 1; b < 256; b++)
        every_byte += (char)b;
    const struct {
        std::string input;
        const char* digest;
    } rows[] = {
        // The test suite of RFC 1321.
        {"", "d41d8cd98f00b204e9800998ecf8427e"},
        {"abc", "900150983cd24fb0d6963f7d28e17f72"},
        // Lengths around the 56-byte padding boundary need one or two final blocks.
        {alphabet_run(55), "0d7ae056b2f015cd7dc67494efd658f1"},
        {alphabet_run(56), "31fcfb5165169eb55898e7e4cf34d19a"},
        // High bytes are digested unsigned.
        {every_byte, "2a43f79ceb44831d96f6e456839744e4"},
    };
    for (const auto& row : rows) {
        char digest[MD5_HEX_CAPACITY];
        md5_hex(digest, row.input.c_str());
        EXPECT_STREQ(row.digest, digest) << "input of " << row.input.size() << " bytes";
    }
}

} // namespace
