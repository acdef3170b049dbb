// The names a certificate may carry for the host a check connects to.
#include <gtest/gtest.h>

#include "pop3/cert_name.h"

namespace
{

TEST(CertName, WildcardsCoverOneLabelUnderAtLeastTwo)
{
    const struct {
        const char* pattern;
        const char* host;
        bool matches;
    } rows[] = {
        {"mail.example.jp", "MAIL.Example.JP", true},
        {"mail.example.jp.", "mail.example.jp", true},
        {"mail.example.jp", "mail.example.jp.", true},
        {"mail.example.jp", "mail.example.j", false},
        {"nail.example.jp", "mail.example.jp", false},
        {"mail.example.jq", "mail.example.jp", false},
        {"Zz.example.jp", "zZ.EXAMPLE.jp", true},
        {"a", "A", true},
        {".", ".", false},
        {"mail.example.j", "mail.example.jp", false},
        {"*.example.test", "pop.example.test", true},
        {"*.EXAMPLE.test", "pop.example.TEST.", true},
        {"*.example.test", "example.test", false},
        {"*.example.test", "a.pop.example.test", false},
        {"*.example.test", ".example.test", false},
        {"*.a.b", "x.A.b", true},
        {"*.test", "example.test", false},
        {"*.test.", "example.test", false},
        {"*", "localhost", false},
        {"*.", "localhost", false},
        {"*..test", "a..test", false},
        {"f*.example.test", "foo.example.test", false},
        {"*.*.test", "a.b.test", false},
        {"*example.test", "myexample.test", false},
        {"", "", false},
        {"localhost", "", false},
    };
    for (const auto& row : rows)
        EXPECT_EQ(row.matches, cert_name_matches(row.pattern, row.host))
            << row.pattern << " for " << row.host;
}

} // namespace
