#include <gtest/gtest.h>

#include <string.h>
#include <time.h>
#ifdef _WIN32
#include <windows.h>
#endif

#include <string>
#include <vector>

#include "header/header.h"

// Expected texts are UTF-8 and written u8"...": every other literal is code
// page 932 in this build. Raw header bytes are written as escapes.
namespace
{

struct Row {
    const char* pitfall;
    const char* header;
    const char* sender;
    const char* subject;
};

const Row ROWS[] = {
    // From the test suites of mail libraries: CPython's email package (Asian
    // codecs, RFC 2047 examples), Mozilla's MIME header tests, Go's mime package.
    {"library",
     "Subject: Hello World! =?iso-2022-jp?b?GyRCJU8lbSE8JW8hPCVrJUkhKhsoQg==?=\r\n"
     " =?iso-8859-1?q?Gr=FC=DF_Gott!?=",
     "", u8"Hello World! ハローワールド！Grüß Gott!"},
    {"library",
     "Subject: =?iso-2022-jp?b?dGVzdC1qYSAbJEIkWEVqOUYkNSRsJD8lYSE8JWskTztKGyhC?=\r\n"
     " =?iso-2022-jp?b?GyRCMnE8VCROPjVHJyRyQlQkQyRGJCQkXiQ5GyhC?=",
     "", u8"test-ja へ投稿されたメールは司会者の承認を待っています"},
    {"library",
     "Subject: Japanese =?iso-2022-jp?b?GyRCRnxLXDhsGyhC?= =?iso-2022-jp?b?GyRCRnxLXDhsGyhC?=\r\n"
     " =?iso-2022-jp?b?GyRCRnxLXDhsGyhC?=",
     "", u8"Japanese 日本語日本語日本語"},
    {"library",
     "Subject: =?UTF-8?B?4oiAICDiiIEgIOKIgiAg4oiDICDiiIQgIOKIhSAg4oiGICDiiIcgIOKIiCAg?=\n"
     " =?UTF-8?B?4oiJICDiiIogIOKIiyAg4oiMICDiiI0gIOKIjiAg4oiP?=",
     "", u8"∀  ∁  ∂  ∃  ∄  ∅  ∆  ∇  ∈  ∉  ∊  ∋  ∌  ∍  ∎  ∏"},
    {"library", "Subject: AAA =?UTF-8?Q?bbb?= CCC =?UTF-8?Q?ddd?= EEE =?UTF-8?Q?fff?= GGG", "",
     "AAA bbb CCC ddd EEE fff GGG"},
    {"library", "Subject: =?utf-8?q?=C2=A1Hola,_se=C3=B1or!?=", "", u8"¡Hola, señor!"},
    {"library", "Subject: =?utf-8?q?=C2=A1Hola,?= =?utf-8?q?_se=C3=B1or!?=", "", u8"¡Hola, señor!"},
    {"library", "Subject: =?ISO-8859-1?Q?Rapha=EBl_Dupont?=", "", u8"Raphaël Dupont"},
    {"library", "Subject: =?ISO-8859-1?Q?a?= \r\n\t =?ISO-8859-1?Q?b?= c", "", "ab c"},
    {"library", "Subject: =?ISO-8859-15?Q?f=F5=F6?=  =?windows-1252?Q?b=E0r?=", "", u8"fõöbàr"},
    {"library", "Subject: =?UTF-8?A?Test?= =?UTF-8?Q?A=B?= =?utf-8?Q?=?=", "",
     "=?UTF-8?A?Test?= =?UTF-8?Q?A=B?= =?utf-8?Q?=?="},
    {"library", "Subject: =?UTF-8?Q?A?", "", "=?UTF-8?Q?A?"},
    {"library", "Subject: =?UTF-8?=", "", "=?UTF-8?="},
    {"library", "From: =?utf-8?q?=C3=89ric?= <eric@example.org>, =?utf-8?q?Ana=C3=AFs?= <anais@example.org>",
     u8"Éric", ""},
    {"library", "From: =?utf-8?b?IkFudG9uaW8gSm9zw6kiIDxqb3NlQGV4YW1wbGUub3JnPg==?= <x@example.com>",
     u8"\"Antonio José\" <jose@example.org>", ""},

    // A character split across adjacent words comes out whole.
    {"split", "Subject: =?UTF-8?B?8J+S?= =?UTF-8?B?qQ==?=", "", u8"\U0001F4A9"},
    {"split", "Subject: =?utf-8?Q?=C4?==?utf-8?Q?=97?=", "", u8"\u0117"},
    {"split", "Subject: =?UTF-8?B?8J+S?= =?ISO-8859-1?B?qQ==?=", "", u8"\uFFFD\u00A9"},
    {"split", "Subject: =?UTF-8?Q?=E6=97?=\r\n =?UTF-8?Q?=A5=E6=9C=AC?=", "", u8"日本"},
    {"split", "Subject: =?shift_jis?B?k/qW?=\r\n\t=?shift_jis?B?ew==?=", "", u8"日本"},
    {"split", "Subject: =?UTF-8?Q?=E6=97?= x =?UTF-8?Q?=A5?=", "", u8"\uFFFD x \uFFFD"},

    // ISO-2022-JP words joined as bytes, the shift state carried between them.
    {"joined jis",
     "Subject: =?ISO-2022-JP?B?GyRCRnxLXDhsJEhGfEtcOGwkSEZ8S1w4bCROJUElJyVDGyhC?=\r\n"
     " =?ISO-2022-JP?B?GyRCJS8bKEI=?=",
     "", u8"日本語と日本語と日本語のチェック"},
    {"joined jis", "Subject: =?ISO-2022-JP?B?GyRCRnw=?= =?ISO-2022-JP?B?S1wbKEI=?=", "", u8"日本"},
    {"joined jis", "Subject: =?iso-2022-JP?Q?=1B$B$F$Q=1B(B_end?=", "", u8"てぱ end"},
    {"joined jis", "Subject: =?ISO-2022-JP?B?GyRCRnw=?= |b", "", u8"日 |b"},
    {"joined jis", "Subject: =?ISO-2022-JP?Q?=1B$@$=3D$&$+$J=1B(J?=", "", u8"そうかな"},
    {"joined jis", "Subject: =?ISO-2022-JP?B?GyhJMTIbKEI=?=", "", u8"ｱｲ"},
    {"joined jis", "Subject: =?ISO-2022-JP?Q?=1B$BF|_K\\=1B(B?=", "", u8"日 本"},
    {"joined jis", "Subject: =?ISO-2022-JP?Q?a=1B?=", "", u8"a\uFFFD"},

    // NEC row 13, NEC-selected and IBM extensions, under every Japanese label.
    {"extension", "Subject: =?ISO-2022-JP?B?GyRCLSEtQHxiGyhC?=", "", u8"①㍉髙"},
    {"extension", "Subject: =?x-sjis?B?h0CHX+7g+/z6QA==?=", "", u8"①㍉髙髙ⅰ"},
    {"extension", "Subject: =?EUC-JP?B?xvzL3K2hjrE=?=", "", u8"日本①ｱ"},

    // Labels.
    {"label", "Subject: =?cp932?Q?=93=FA?=", "", u8"日"},
    {"label", "Subject: =?Windows-31J?Q?=93=FA?=", "", u8"日"},
    {"label", "Subject: =?SHIFT-JIS?Q?=93=FA?=", "", u8"日"},
    {"label", "Subject: =?ms932?Q?=93=FA?=", "", u8"日"},
    {"label", "Subject: =?csShiftJIS?Q?=93=FA?=", "", u8"日"},
    {"label", "Subject: =?sjis?Q?=93=FA?=", "", u8"日"},
    {"label", "Subject: =?eucjp?Q?=C6=FC?=", "", u8"日"},
    {"label", "Subject: =?x-euc-jp?Q?=C6=FC?=", "", u8"日"},
    {"label", "Subject: =?iso-2022-jp-2?Q?=1B$BF|=1B(B?=", "", u8"日"},
    {"label", "Subject: =?ISO-2022-JP-3?Q?=1B$BF|=1B(B?=", "", u8"日"},
    {"label", "Subject: =?iso-2022-jp-2004?Q?=1B$(QF|=1B(B?=", "", u8"日"},
    {"label", "Subject: =?UTF-8*ja?B?5pel5pys6Kqe?=", "", u8"日本語"},
    {"label", "Subject: =?us-ascii?Q?caf=E9?=", "", u8"café"},
    {"label", "Subject: =?ISO-8859-1?Q?=A4=80?=", "", u8"¤€"},
    {"label", "Subject: =?iso-8859-15?Q?=A4=BD?=", "", u8"€œ"},
    {"label", "Subject: =?windows-1252?Q?=93q=94=81?=", "", u8"“q”\uFFFD"},
    {"label", "Subject: =?x-unknown?Q?abc?= =?utf-8?q?d?=", "", "=?x-unknown?Q?abc?= d"},

    // Bytes at the edges of each set's ranges.
    {"ranges", "Subject: =?shift_jis?Q?=93=20x=93=FDx=A1=DF=F0=40=F9=FC=EF=40?=", "",
     u8"\uFFFD x\uFFFDx｡ﾟ\uE000\uE757\uFFFD@"},
    {"ranges", "Subject: =?shift_jis?Q?=81=40=84=BE=87=9C=88=9F=EA=A4=ED=40=FC=4B?=", "",
     u8"\u3000╂∪亜熙纊黑"},
    {"ranges", "Subject: =?euc-jp?Q?=8F=A2=AF=A4=A2x=8E=E0x=C6x=A1=A1=F4=A6=FE=FE?=", "",
     u8"\uFFFDあx\uFFFD\uFFFDx\uFFFDx\u3000熙\uFFFD"},
    {"ranges", "Subject: =?iso-2022-jp?Q?=1B(I=21=5F=60=0E=31=0F=31=1B$(DF|=1B$AF|=1B(B=A1?=", "",
     u8"｡ﾟ\uFFFDｱ1\uFFFD\uFFFD\uFFFD"},
    {"ranges", "Subject: =?utf-8?q?=C0=80x=ED=9F=BFx=ED=A0=80x=F0=90=80=80x=F4=8F=BF=BFx=F4=90=80=80?=",
     "", u8"\uFFFD\uFFFDx\uD7FFx\uFFFD\uFFFD\uFFFDx\U00010000x\U0010FFFFx\uFFFD\uFFFD\uFFFD\uFFFD"},
    {"ranges", "Subject: =?utf-8?q?=C2=80=C2=9F=C2=A0=DF=BF=E0=A0=80=7F?=", "",
     u8"\uFFFD\uFFFD\u00A0\u07FF\u0800\uFFFD"},
    {"ranges", "Subject: =?windows-1252?Q?=7F=80=9F=A0=FF?= =?iso-8859-15?Q?=A3=A4=A5=A6=A8=B4=B8=BC=BE=BF?=",
     "", u8"\uFFFD€Ÿ\u00A0ÿ£€¥ŠšŽžŒŸ¿"},

    // Fields sent as raw 8-bit bytes.
    {"raw", u8"Subject: 日本語 テスト", "", u8"日本語 テスト"},
    {"raw", "Subject: \x93\xfa\x96\x7b \xb1\xb2", "", u8"日本 ｱｲ"},
    {"raw", "Subject: \x1b$@$=$&$+$J\x1b(J", "", u8"そうかな"},
    {"raw", "Subject: \x1b$B=?=?\x1b(B", "", u8"戎戎"},
    {"raw", "Subject: \x93\xfa\xff\x80", "", u8"日\uFFFD\uFFFD"},
    {"raw", "Subject: \x93\xfa =?utf-8?q?=E2=91=A0?=", "", u8"日 ①"},

    // Malformed words stay as written; the rest is still decoded.
    {"malformed", "Subject: =?utf-8?B?####?= =?utf-8?q?ok?=", "", "=?utf-8?B?####?= ok"},
    {"malformed", "Subject: =?utf-8?Q?abc", "", "=?utf-8?Q?abc"},
    {"malformed", "Subject: =?utf-8?b?.GFi?=", "", "=?utf-8?b?.GFi?="},
    {"malformed", "Subject: =?UTF-8?", "", "=?UTF-8?"},
    {"malformed", "Subject: =?utf-8?q?=ZZ?=", "", "=?utf-8?q?=ZZ?="},
    {"malformed", "Subject: =?utf-8?q?a b?=", "", "=?utf-8?q?a b?="},
    {"malformed", "Subject: =?utf-8?x?abc?=", "", "=?utf-8?x?abc?="},
    {"malformed", "Subject: =??q?abc?=", "", "=??q?abc?="},
    {"malformed", "Subject: =?=?=?=?utf-8?q?x?=", "", "=?=?=?x"},
    {"malformed", "Subject: =?iso-8859-1?b?d?=", "", "=?iso-8859-1?b?d?="},
    {"malformed", "Subject: =?iso-8859-1?b?dm?= =?iso-8859-1?b?dmE=?=", "", "vva"},
    {"malformed", "Subject: =?iso-8859-1?b?dm=?=", "", "=?iso-8859-1?b?dm=?="},
    {"malformed", "Subject: =?iso-8859-1?b?dmE=dmE=?=", "", "=?iso-8859-1?b?dmE=dmE=?="},
    {"malformed", "Subject: =?utf-8?q?a=FFb=00?=", "", u8"a\uFFFDb\uFFFD"},
    {"malformed", "Subject: Sm=?ISO-8859-1?B?9g==?=rg=?ISO-8859-1?B?5Q==?=sbord", "", u8"Smörgåsbord"},
    {"malformed", "Subject: =?ISO-2022-JP?Q?=1B$BF=1B(B?=", "", u8"\uFFFD"},
    {"malformed", "Subject: =?ISO-2022-JP?Q?=1B$ZF|?=", "", u8"\uFFFD$ZF|"},

    // Folding and white space.
    {"folding", "Subject: a\r\n b\r\n\tc\r\n", "", "a b c"},
    {"folding", "Subject: a\n  b\nFrom: x@y\n", "x@y", "a  b"},
    {"folding", "Subject:   Re: =?utf-8?q?x?=  tail  \r\n", "", "Re: x  tail"},
    {"folding", "Subject: =?utf-8?q?a?=\r\n =?utf-8?q?b?= c", "", "ab c"},
    {"folding", "Subject: =?utf-8?q?a_?= =?iso-8859-1?q?_b?=", "", "a  b"},
    {"folding", "SUBJECT\t : hi\r\nsubject: second\r\n", "", "hi"},
    {"folding", "X-Subject: no\r\nSubject: yes\r\n", "", "yes"},
    {"folding", "Subject: head\r\n\r\nFrom: body@example.com\r\n", "", "head"},
    {"folding", " Subject: stray\r\nReceived: x\r\n Subject: folded\r\n", "", ""},

    // Addresses: decoded only after the address is found.
    {"address", "From: =?ISO-2022-JP?B?GyRCRnxLXBsoQg==?= <a@example.jp>", u8"日本", ""},
    {"address", "From: =?utf-8?q?Doe=2C_John?= <john@example.com>", "Doe, John", ""},
    {"address", "From: =?utf-8?q?=22a=22_=3Cb@c=3E?= <x@example.com>", "\"a\" <b@c>", ""},
    {"address", "From: \"Doe, John\" <john@example.com>, other@example.com", "Doe, John", ""},
    {"address", "From: \"a \\\"b\\\"\" <x@y>", "a \"b\"", ""},
    {"address", "From: \"=?utf-8?b?5pel5pys?=\" <a@b>", u8"日本", ""},
    {"address", "From: john@example.com", "john@example.com", ""},
    {"address", "From: <john@example.com>", "john@example.com", ""},
    {"address", "From: \"\" <john@example.com>", "john@example.com", ""},
    {"address", "From: john@example.com (John (Jr) Doe)", "John (Jr) Doe", ""},
    {"address", "From: Taro (work)\r\n <taro@example.jp>", "Taro", ""},
    {"address", "From: Team: a@example.com, b@example.com;", "a@example.com", ""},
    {"address", "From: , , c@example.com", "c@example.com", ""},
    {"address", "From:john@example.com", "john@example.com", ""},
    {"address", "From:\"Doe, John\"<j@example.com>", "Doe, John", ""},
    {"address", "From: Taro(work)<t@example.jp>", "Taro", ""},
    {"address", "From: a@b (x\\", "x\\", ""},
    {"address", "From: =?utf-8?q?_?= <a@b>\r\nSubject: =?utf-8?q?_?=", "a@b", ""},
    {"address", "From: <\"john doe\"@example.com (work)>", "\"john doe\"@example.com", ""},
    {"address", "From: john @ example.com (John \\) Doe) (second)", "John ) Doe", ""},
    {"address", "From: =?utf-8?q?x?=@example.com", "=?utf-8?q?x?=@example.com", ""},
    {"address", "From: \x93\xfa\x96\x7b <a@b>", u8"日本", ""},
    {"address", "From: a@b\r\nFrom: c@d", "a@b", ""},
    {"address", "From: \"\x83\x5c\" <a@b>", u8"ソ", ""},
    {"address", "From: \"\x83\" <a@b>", u8"\uFFFD", ""},
    {"address", "From: \x1b$B$\"$(\x1b(B <a@b>", u8"あえ", ""},
    {"address", "From: (\x1b$B$)\x1b(B) a@b", u8"ぉ", ""},
};

TEST(Header, DecodesEveryPitfallOfJapaneseMail)
{
    for (const Row& row : ROWS) {
        // Without a NUL after it, a read past the header's end is caught.
        const std::vector<char> header(row.header, row.header + strlen(row.header));
        HeaderSummary summary;
        memset(&summary, 0x7F, sizeof summary);
        header_summarize(header.data(), header.size(), &summary);
        EXPECT_STREQ(row.sender, summary.sender) << row.pitfall << ": " << row.header;
        EXPECT_STREQ(row.subject, summary.subject) << row.pitfall << ": " << row.header;
    }
}

// A field is cut at a character boundary: 511 bytes of text and the NUL.
TEST(Header, CutsAtTheCapacityBetweenCharacters)
{
    const struct {
        size_t ascii;
        const char* after;
        size_t kept;
    } rows[] = {
        {HEADER_TEXT_CAPACITY - 1, "", HEADER_TEXT_CAPACITY - 1},
        {HEADER_TEXT_CAPACITY, "", HEADER_TEXT_CAPACITY - 1},
        {HEADER_TEXT_CAPACITY - 4, u8"日", HEADER_TEXT_CAPACITY - 1},
        {HEADER_TEXT_CAPACITY - 3, u8"日", HEADER_TEXT_CAPACITY - 3},
        {HEADER_TEXT_CAPACITY - 3, "=?utf-8?b?8J+SqQ==?=", HEADER_TEXT_CAPACITY - 3},
    };
    for (const auto& row : rows) {
        std::string text = std::string(row.ascii, 'a') + row.after;
        std::string header = "From: " + text + " <a@b>\r\nSubject: " + text + "\r\n";
        HeaderSummary summary;
        header_summarize(header.data(), header.size(), &summary);
        EXPECT_EQ(text.substr(0, row.kept), summary.subject) << row.ascii << row.after;
        EXPECT_EQ(text.substr(0, row.kept), summary.sender) << row.ascii << row.after;
    }
}

// Seconds of processor time this process has used: a busy machine must not
// fail the test (the C library's clock() is wall time on Windows).
double processor_seconds()
{
#ifdef _WIN32
    FILETIME created, exited, kernel, user;
    GetProcessTimes(GetCurrentProcess(), &created, &exited, &kernel, &user);
    return ((double)kernel.dwLowDateTime + (double)user.dwLowDateTime +
            4294967296.0 * (kernel.dwHighDateTime + user.dwHighDateTime)) / 1e7;
#else
    return (double)clock() / CLOCKS_PER_SEC;
#endif
}

std::string repeat(const char* text, size_t count)
{
    std::string repeated = text;
    while (repeated.size() < strlen(text) * count)
        repeated += repeated;
    repeated.resize(strlen(text) * count);
    return repeated;
}

// Hostile headers cost time in proportion to their size.
TEST(Header, LongAndRepetitiveHeadersEndQuickly)
{
    const std::string empty_words = repeat("=?UTF-8?Q?" "?= ", 10000);
    const std::string broken_words = repeat("=?x?y?", 200000);
    const std::string header = "X-Long: " + std::string(1 << 20, 'a') + "\r\n" +
                               "Subject: " + empty_words + "=?UTF-8?B?5pel?=\r\n" +
                               "From: " + std::string(1 << 20, '(') + "\r\n" +
                               "Comments: " + broken_words + "\r\n";
    const std::string broken = "Subject: " + broken_words + "\r\nFrom: " + broken_words + "\r\n";
    const std::string commas = "From: " + std::string(8192, ' ') + std::string(1 << 20, ',') + "\r\n";
    double start = processor_seconds();
    HeaderSummary summary, broken_summary, commas_summary;
    header_summarize(header.data(), header.size(), &summary);
    header_summarize(broken.data(), broken.size(), &broken_summary);
    header_summarize(commas.data(), commas.size(), &commas_summary);
    EXPECT_LT(processor_seconds() - start, 0.5);
    EXPECT_STREQ(u8"日", summary.subject);
    EXPECT_EQ(std::string(HEADER_TEXT_CAPACITY - 1, '('), summary.sender); // a comment never closed
    EXPECT_EQ(broken_words.substr(0, HEADER_TEXT_CAPACITY - 1), broken_summary.subject);
    EXPECT_EQ(broken_words.substr(0, HEADER_TEXT_CAPACITY - 1), broken_summary.sender);
    EXPECT_STREQ("", commas_summary.sender);
}

} // namespace
