// The POP3 conversation driven by server transcripts: the bytes corvina
// sends, what the session log shows, the SessionResult and the listed ids.
// Every transcript is replayed with the server's replies cut into chunks of
// many sizes, and must give the same result each time.
#include <gtest/gtest.h>

#include <string.h>

#include <string>
#include <vector>

#include "core/controller.h"
#include "core/report.h"
#include "core/text.h"
#include "pop3/receiver.h"
#include "pop3/session.h"
#include "pop3/top.h"
#include "pop3/uidl_store.h"
#include "tray/popup.h"
#include "settings/settings.h"
#include "tests/fakes/fakes.h"
#include "tests/unit/temp_dir.h"

namespace
{

enum { APOP = 1, UIDL = 2, STLS = 4, TLS = 8, HEADERS = 16, SEEN_2_4 = 32 };

struct Transcript {
    const char* name;
    int options;
    std::vector<std::string> replies; // one server turn each, fed after the previous command
    std::string sent, log;
    std::string error_text; // empty: the check succeeded
    int32_t count;
    int64_t size;
    std::vector<std::string> ids; // the listing the store took (UIDL only)
};

const std::string GREETING = "+OK POP3 ready\r\n";
const std::string APOP_GREETING = "+OK POP3 server ready <1896.697170952@dbc.mtview.ca.us>\r\n";
const std::string LOGIN_SENT = "USER bob\r\nPASS secret\r\nSTAT\r\n";
const std::string LOGIN_LOG = GREETING + "USER bob\r\n+OK\r\nPASS *****\r\n+OK\r\nSTAT\r\n";

// A USER/PASS check that ends at its STAT reply: refused, or on to QUIT.
Transcript stat_row(const char* name, const std::string& stat, const std::string& error,
                    int32_t count, int64_t size)
{
    std::string tail = error.empty() ? "QUIT\r\n+OK\r\n" : error;
    return {name,
            0,
            {GREETING, "+OK\r\n", "+OK\r\n", stat, "+OK\r\n"},
            LOGIN_SENT + (error.empty() ? "QUIT\r\n" : ""),
            LOGIN_LOG + stat + tail,
            error,
            count,
            size,
            {}};
}

// A check with unique ids: the listings go unlogged to the store; the one
// refused line, if any, ends the check where it stands.
Transcript listing_row(const char* name, const std::string& list, const std::string& uidl,
                       const std::string& error, int32_t count, int64_t size,
                       std::vector<std::string> ids)
{
    bool list_ok = error != "LISTエラー", ok = error.empty();
    return {name,
            UIDL,
            {GREETING, "+OK\r\n", "+OK\r\n", "+OK 9 9\r\n", "+OK\r\n" + list, "+OK\r\n" + uidl,
             "+OK\r\n"},
            LOGIN_SENT + "LIST\r\n" + (list_ok ? "UIDL\r\n" : "") + (ok ? "QUIT\r\n" : ""),
            LOGIN_LOG + "+OK 9 9\r\nLIST\r\n+OK\r\n" + (list_ok ? "UIDL\r\n+OK\r\n" : "") +
                (ok ? "QUIT\r\n+OK\r\n" : error),
            error,
            count,
            size,
            ids};
}

// A UIDL listing of count ids, "id1" on.
std::string uidl_lines(int count)
{
    std::string lines;
    for (int i = 1; i <= count; i++)
        lines += std::to_string(i) + " id" + std::to_string(i) + "\r\n";
    return lines + ".\r\n";
}

std::vector<std::string> ids(int count)
{
    std::vector<std::string> all;
    for (int i = 1; i <= count; i++)
        all.push_back("id" + std::to_string(i));
    return all;
}

// A header as TOP answers it: its lines, the empty line, the terminator.
std::string top_reply(const std::string& lines)
{
    return "+OK\r\n" + lines + "\r\n.\r\n";
}

std::string summary_log(const std::string& sender, const std::string& subject)
{
    return u8"差出人: " + sender + u8"\r\n件名: " + subject + "\r\n";
}

// Replies to CAPA: Dovecot's, which offers PIPELINING, one without it, and a refusal.
const std::string CAPA_PIPELINING = "+OK\r\nCAPA\r\nTOP\r\nUIDL\r\nRESP-CODES\r\nPIPELINING\r\n"
                                    "AUTH-RESP-CODE\r\nUSER\r\nSASL PLAIN\r\n.\r\n";
const std::string CAPA_ONE_AT_A_TIME = "+OK\r\nTOP\r\nUIDL\r\nPIPELININGS\r\n.\r\n";
const std::string CAPA_REFUSED = "-ERR unknown command\r\n";

// A check of count messages with unique ids ("id1" on, each of 10 bytes)
// that reads the headers of those numbered in tops, each logging its own
// line. With two or more, CAPA comes first, answered by capa: where that
// offers PIPELINING, every TOP and QUIT go in one send and the answers come
// in one turn; else each is answered in turn, and one that is not "+OK" ends
// the series.
Transcript top_row(const char* name, int options, int count, std::vector<int> tops,
                   std::vector<std::string> answers, std::vector<std::string> logged,
                   int32_t unseen, const std::string& capa = CAPA_REFUSED)
{
    std::string list;
    for (int i = 1; i <= count; i++)
        list += std::to_string(i) + " 10\r\n";
    Transcript t = listing_row(name, list + ".\r\n", uidl_lines(count), "", unseen, 10 * unseen,
                               ids(count));
    t.options |= options | HEADERS;
    std::string quit_log = t.log.substr(t.log.size() - 11);
    t.sent.resize(t.sent.size() - 6);
    t.log.resize(t.log.size() - 11);
    t.replies.pop_back();
    if (tops.size() > 1) {
        t.sent += "CAPA\r\n";
        t.log += "CAPA\r\n" + capa;
        t.replies.push_back(capa);
    }
    bool together = tops.size() > 1 && capa.find("PIPELINING\r\n") != std::string::npos;
    std::string commands, answered;
    for (size_t i = 0; i < tops.size(); i++) {
        std::string command = "TOP " + std::to_string(tops[i]) + " 0\r\n";
        std::string log = answers[i].substr(0, answers[i].find("\r\n") + 2) + logged[i];
        commands += command;
        answered += log;
        if (!together) {
            t.log += command + log;
            t.replies.push_back(answers[i]);
        }
    }
    t.sent += commands + "QUIT\r\n";
    if (!together) {
        t.log += quit_log;
        t.replies.push_back("+OK\r\n");
        return t;
    }
    // QUIT goes with the TOPs, and its reply comes with theirs.
    t.log += commands + "QUIT\r\n" + answered + "+OK\r\n";
    std::string turn;
    for (const std::string& answer : answers)
        turn += answer;
    t.replies.push_back(turn + "+OK\r\n");
    return t;
}

std::string filler_lines(int count, size_t length)
{
    std::string lines;
    for (int i = 0; i < count; i++)
        lines += "X: " + std::string(length - 5, 'f') + "\r\n";
    return lines;
}

// Headers of 65536 bytes when the last line is 11 bytes, and one byte more.
const std::string FULL_HEADER = "Subject: s\r\n" + filler_lines(9, 7000) + filler_lines(1, 2513);
const std::string OVER_HEADER = "Subject: s\r\n" + filler_lines(9, 7000) + filler_lines(1, 2514);
const std::string FROM_LINE = "From: l@x\r\n";

// clang-format off
const Transcript TRANSCRIPTS[] = {
    stat_row("runs_of_blanks_and_more_tokens", "+OK  3   12000 octets\r\n", "", 3, 12000),
    stat_row("two_to_the_53_plus_one", "+OK 1 9007199254740993\r\n", "", 1, 9007199254740993LL),
    stat_row("figures_held_at_their_range", "+OK 99999999999 999999999999999999999999\r\n", "",
             INT32_MAX, INT64_MAX),
    stat_row("sign_and_trailing_letters", "+OK +4 12x\r\n", "", 4, 12),
    // A mailbox holds no fewer than no messages: "-1 通のメール" would read as news.
    stat_row("negative_count", "+OK -1 0\r\n", "受信データエラー", -1, 0),
    stat_row("negative_size", "+OK 2 -5\r\n", "受信データエラー", 2, -5),
    stat_row("two_tokens", "+OK 2\r\n", "受信データエラー", 0, 0),
    {"wrong_password", 0, {GREETING, "+OK\r\n", "-ERR [AUTH] Authentication failed.\r\n"},
     "USER bob\r\nPASS secret\r\n",
     GREETING + "USER bob\r\n+OK\r\nPASS *****\r\n-ERR [AUTH] Authentication failed.\r\n",
     "-ERR [AUTH] Authentication failed.\r\n", 0, 0, {}},
    {"negative_reply_cut_at_63_bytes", 0,
     {GREETING, "-ERR 0123456789012345678901234567890123456789012345678901234567890123\r\n"},
     "USER bob\r\n",
     GREETING + "USER bob\r\n-ERR 0123456789012345678901234567890123456789012345678901234567890123\r\n",
     "-ERR 0123456789012345678901234567890123456789012345678901234567", 0, 0, {}},
    {"apop_digest_of_the_time_stamp", APOP,
     {APOP_GREETING, "+OK maildrop has 1 message\r\n", "+OK 1 369\r\n", "+OK\r\n"},
     "APOP bob 3f18b52881e44c0cc6067f46e0ced7bc\r\nSTAT\r\nQUIT\r\n",
     APOP_GREETING + "APOP bob *****\r\n+OK maildrop has 1 message\r\nSTAT\r\n+OK 1 369\r\n"
     "QUIT\r\n+OK\r\n", "", 1, 369, {}},
    {"apop_without_time_stamp_never_tries_user", APOP, {GREETING}, "",
     GREETING + "APOP非対応ｻｰﾊﾞｰまたは受信ﾃﾞｰﾀｴﾗｰ", "APOP非対応ｻｰﾊﾞｰまたは受信ﾃﾞｰﾀｴﾗｰ", 0, 0, {}},
    {"apop_close_bracket_only_before_open", APOP, {"+OK ready> <1896.697170952@dbc\r\n"}, "",
     "+OK ready> <1896.697170952@dbc\r\nAPOP非対応ｻｰﾊﾞｰまたは受信ﾃﾞｰﾀｴﾗｰ",
     "APOP非対応ｻｰﾊﾞｰまたは受信ﾃﾞｰﾀｴﾗｰ", 0, 0, {}},
    // STLS keeps the greeting's time stamp; what follows its "+OK" is not a reply.
    {"stls_keeps_the_time_stamp", APOP | STLS,
     {APOP_GREETING, "+OK\r\n", "+OK\r\n", "+OK 1 369\r\n", "+OK\r\n"},
     "STLS\r\nAPOP bob 3f18b52881e44c0cc6067f46e0ced7bc\r\nSTAT\r\nQUIT\r\n",
     APOP_GREETING + "STLS\r\n+OK\r\nAPOP bob *****\r\n+OK\r\nSTAT\r\n+OK 1 369\r\nQUIT\r\n+OK\r\n",
     "", 1, 369, {}},
    {"stls_drops_what_follows_the_ok", STLS,
     {GREETING, "+OK go\r\n-ERR injected\r\n+OK 9 9\r\n", "+OK\r\n", "+OK\r\n", "+OK 2 320\r\n",
      "+OK\r\n"},
     "STLS\r\n" + LOGIN_SENT + "QUIT\r\n",
     GREETING + "STLS\r\n+OK go\r\n" + LOGIN_LOG.substr(GREETING.size()) +
     "+OK 2 320\r\nQUIT\r\n+OK\r\n", "", 2, 320, {}},
    {"stls_refused", APOP | STLS, {APOP_GREETING, "-ERR not offered\r\n"}, "STLS\r\n",
     APOP_GREETING + "STLS\r\n-ERR not offered\r\nサーバーがSTLSを受け付けません",
     "サーバーがSTLSを受け付けません", 0, 0, {}},
    {"stls_apop_without_time_stamp", APOP | STLS, {GREETING}, "",
     GREETING + "APOP非対応ｻｰﾊﾞｰまたは受信ﾃﾞｰﾀｴﾗｰ", "APOP非対応ｻｰﾊﾞｰまたは受信ﾃﾞｰﾀｴﾗｰ", 0, 0, {}},
    {"tls_mode_sends_no_stls", TLS, {GREETING, "+OK\r\n", "+OK\r\n", "+OK 0 0\r\n", "+OK\r\n"},
     LOGIN_SENT + "QUIT\r\n", LOGIN_LOG + "+OK 0 0\r\nQUIT\r\n+OK\r\n", "", 0, 0, {}},
    // The counts come from the listings, not from STAT; ids are taken whole.
    listing_row("listings_to_the_store", "1 120\r\n2 200\r\n.\r\n",
                "1 whqtswO00WBw418f9t5JxYwZ\r\n2 Qhd PYR:00WBw1Ph7x7\r\n.\r\n", "", 2, 320,
                {"whqtswO00WBw418f9t5JxYwZ", "Qhd PYR:00WBw1Ph7x7"}),
    listing_row("list_size_negative", "1 5\r\n2 -5\r\n.\r\n", "", "LISTエラー", 0, 0, {}),
    listing_row("uidl_line_without_id", "1 10\r\n2 10\r\n.\r\n", "1 a\r\n2\r\n3 c\r\n.\r\n",
                "UIDLエラー", 1, 10, {"a"}),
    // uidl.txt could not give these back as one id each.
    listing_row("uidl_id_with_bare_lf", "1 10\r\n2 10\r\n.\r\n", "1 a\r\n2 b\nc\r\n.\r\n",
                "UIDLエラー", 1, 10, {"a"}),
    listing_row("uidl_id_with_bare_cr", "1 10\r\n.\r\n", "1 b\rc\r\n.\r\n", "UIDLエラー", 0, 0, {}),
    listing_row("uidl_id_ending_in_cr", "1 10\r\n.\r\n", "1 b\r\r\n.\r\n", "UIDLエラー", 0, 0, {}),
    // The store holds 5000 ids: a longer listing is refused.
    listing_row("list_line_5001", uidl_lines(5001), "", "LISTエラー", 0, 0, {}),
    listing_row("uidl_line_5001", "1 10\r\n.\r\n", uidl_lines(5001), "UIDLエラー", 5000, 10, ids(5000)),
    // A UIDL line without its LIST line counts, but adds no size.
    listing_row("uidl_line_without_list_line", "1 3\r\n.\r\n", "1 a\r\n2 b\r\n.\r\n", "", 2, 3,
                {"a", "b"}),
    // Listing lines are neither logged nor judged as replies.
    listing_row("negative_looking_listing_lines", "-ERR 42\r\n.\r\n", "-ERR x\r\n.\r\n", "", 1,
                42, {"x"}),
    // Headers of the unseen messages, newest first; the log names who wrote
    // and about what, never a header line. A leading dot is stuffing.
    top_row("headers_of_the_unseen_newest_first", SEEN_2_4, 5, {5, 3, 1},
            {top_reply("From: e@x\r\nSubject: five\r\n"), top_reply("Subject: three\r\n..\r\n"),
             top_reply("From: a@x\r\n")},
            {summary_log("e@x", "five"), summary_log("", "three"), summary_log("a@x", "")}, 3,
            CAPA_PIPELINING),
    top_row("ten_headers_at_most", 0, 12, {12, 11, 10, 9, 8, 7, 6, 5, 4, 3},
            std::vector<std::string>(10, top_reply("From: z@x\r\n")),
            std::vector<std::string>(10, summary_log("z@x", "")), 12),
    // A server without TOP: the series ends, the check does not fail.
    top_row("top_refused", 0, 3, {3, 2},
            {top_reply("Subject: kept\r\n"), "-ERR unknown command\r\n"},
            {summary_log("", "kept"), "TOPが使えないため、差出人と件名は表示しません\r\n"}, 3,
            CAPA_ONE_AT_A_TIME),
    // Sent together, the TOPs after a refused one are answered all the same:
    // read to their end and dropped, as if never asked.
    top_row("top_refused_among_tops_sent_together", 0, 4, {4, 3, 2, 1},
            {top_reply("Subject: kept\r\n"), "-ERR no such message\r\n",
             top_reply("Subject: dropped\r\n"), "-ERR again\r\n"},
            {summary_log("", "kept"), "TOPが使えないため、差出人と件名は表示しません\r\n", "", ""}, 4,
            CAPA_PIPELINING),
    // A line longer than the receiver's buffer keeps its start, drops the
    // rest up to its line end, CR last in the buffer or not, and fails nothing.
    top_row("header_lines_longer_than_the_buffer", 0, 2, {2, 1},
            {top_reply("X: " + std::string(RECEIVE_LINE_MAX - 4, 'a') + "\r\nFrom: b@x\r\n"),
             top_reply("Subject: " + std::string(20000, 'a') + "\r\r\nFrom: c@x\r\n")},
            {summary_log("b@x", ""), summary_log("c@x", std::string(HEADER_TEXT_CAPACITY - 1, 'a'))},
            2, CAPA_PIPELINING),
    // At most 64 KiB and 1000 lines of a header are kept, the rest read.
    // A line cut at the buffer counts as one.
    top_row("header_caps", 0, 5, {5, 4, 3, 2, 1},
            {top_reply(FULL_HEADER + FROM_LINE), top_reply(OVER_HEADER + FROM_LINE),
             top_reply("Subject: s\r\n" + filler_lines(998, 8) + FROM_LINE),
             top_reply("Subject: s\r\n" + filler_lines(999, 8) + FROM_LINE),
             top_reply("Subject: s\r\n" + filler_lines(1, 9000) + filler_lines(997, 8) + FROM_LINE)},
            {summary_log("l@x", "s"), summary_log("", "s"), summary_log("l@x", "s"),
             summary_log("", "s"), summary_log("l@x", "s")}, 5, CAPA_PIPELINING),
};
// clang-format on

void PrintTo(const Transcript& t, std::ostream* out)
{
    *out << t.name;
}

void prepare(int options, const char* account = "bob", const char* password = "secret")
{
    fakes_reset();
    settings.USEAPOP = (options & APOP) != 0;
    settings.USEUIDL = (options & UIDL) != 0;
    settings.SECURITY = options & STLS ? SECURITY_STLS : options & TLS ? SECURITY_TLS : SECURITY_NONE;
    strcpy(settings.ACCOUNT, account);
    strcpy(settings.plain_password, password);
    settings.SHOW_HEADERS = (options & HEADERS) != 0;
    pop_pipelining_server[0] = '\0'; // what an earlier test's server said of itself
    top_announced(0, 0);
    uidl_store = UidlStore();
    text_copy(program_directory, sizeof program_directory, make_temp_dir("session").c_str());
    write_file(std::string(program_directory) + "uidl.txt", options & SEEN_2_4 ? "id2\r\nid4\r\n" : "");
    if (settings.USEUIDL) {
        // What an earlier check left: STAT must start the counts afresh, and a
        // listing must not take sizes from slots it did not fill.
        session.message_count = 7;
        session.total_size = 7;
        uidl_load();
        for (int64_t& size : uidl_store.generations[0].sizes)
            size = 1000;
        for (int64_t& size : uidl_store.generations[1].sizes)
            size = 1000;
    }
}

// Feeds each reply in chunks of chunk bytes (0: whole), stopping at the first
// failure. Once STLS is accepted the rest of the turn belongs to the
// handshake, as in the connection layer, and the handshake succeeds.
void replay(const std::vector<std::string>& replies, size_t chunk)
{
    for (const std::string& reply : replies) {
        size_t step = chunk == 0 ? reply.size() : chunk;
        for (size_t at = 0;
             at < reply.size() && session.error_kind == 0 && pop_state != POP_TLS_HANDSHAKE;
             at += step)
            pop_receive(reply.data() + at, (int)std::min(step, reply.size() - at));
        if (pop_state == POP_TLS_HANDSHAKE)
            pop_tls_ready();
    }
}

std::vector<std::string> listed_ids()
{
    std::vector<std::string> ids;
    int other = 1 - uidl_store.current;
    for (int i = 0; uidl_store.generations && i < uidl_store.count[other]; i++)
        ids.push_back(uidl_store.generations[other].ids[i]);
    return ids;
}

class SessionTranscript : public testing::TestWithParam<Transcript>
{
};

TEST_P(SessionTranscript, SameResultForEveryChunking)
{
    const Transcript& t = GetParam();
    for (size_t chunk : {0, 1, 2, 3, 5, 7, 13, 64}) {
        SCOPED_TRACE("chunk size " + std::to_string(chunk));
        prepare(t.options);
        replay(t.replies, chunk);
        EXPECT_EQ(t.sent, fake.sent);
        EXPECT_EQ(t.log, fake.log);
        EXPECT_EQ(t.error_text.empty() ? ERROR_NONE : ERROR_FAILED, session.error_kind);
        EXPECT_EQ(t.error_text, session.error_text);
        EXPECT_EQ(t.count, session.message_count);
        EXPECT_EQ(t.size, session.total_size);
        EXPECT_EQ(t.ids, listed_ids());
        bool quit_sent = t.sent.size() >= 6 && t.sent.substr(t.sent.size() - 6) == "QUIT\r\n";
        EXPECT_EQ(quit_sent, pop_quit_sent());
        EXPECT_EQ(quit_sent && (t.options & UIDL), uidl_store.listing_complete);
        EXPECT_EQ((t.options & STLS) && t.error_text.empty() ? 1 : 0, fake.tls_starts);
    }
}

INSTANTIATE_TEST_SUITE_P(Transcripts, SessionTranscript, testing::ValuesIn(TRANSCRIPTS),
                         [](const testing::TestParamInfo<Transcript>& info) {
                             return std::string(info.param.name);
                         });

// The digest covers the stamp's bytes exactly, and the stamp and the password
// are joined in 1499 bytes at most.
TEST(Session, ApopDigestAndItsInputLimit)
{
    prepare(APOP, "mrose", "tanstaaf");
    replay({"+OK <1896.697170952@dbc.mtview.ca.us> <other>\r\n"}, 0);
    EXPECT_EQ("APOP mrose c4c9334bac560ecc979e58001b3e22fb\r\n", fake.sent);
    for (int stamp_length : {1498, 1499}) {
        prepare(APOP, "bob", "p");
        replay({"+OK <" + std::string(stamp_length - 2, 'x') + ">\r\n"}, 0);
        EXPECT_EQ(stamp_length == 1498 ? "" : "受信データエラー", std::string(session.error_text));
        EXPECT_EQ(stamp_length == 1498, fake.sent.rfind("APOP bob ", 0) == 0) << stamp_length;
    }
}

// Without unique ids the headers asked for follow the figures since the
// last announcement: the count's growth, the newest one when only the size
// moved, nothing when nothing did. The popup lists five, the balloon the newest.
TEST(Session, HeadersOfWhatIsAnnounced)
{
    const struct {
        int32_t announced_count;
        int64_t announced_size;
        const char* stat;
        std::vector<int> tops;
        std::vector<std::string> popup;
    } rows[] = {
        {0, 0, "+OK 3 300", {3, 2, 1}, {"s3", "s2", "s1"}},
        {2, 200, "+OK 5 500", {5, 4, 3}, {"s5", "s4", "s3"}},
        {3, 300, "+OK 3 350", {3}, {"s3"}},
        {5, 500, "+OK 2 100", {2}, {"s2"}},
        {3, 300, "+OK 3 300", {}, {}},
        {0, 0, "+OK 0 0", {}, {}},
        {0, 0, "+OK 25 9", {25, 24, 23, 22, 21, 20, 19, 18, 17, 16},
         {"s25", "s24", "s23", "s22", "s21", "ほか 20 通"}},
        {19, 9, "+OK 25 9", {25, 24, 23, 22, 21, 20}, {"s25", "s24", "s23", "s22", "s21", "ほか 1 通"}},
    };
    for (const auto& row : rows) {
        prepare(HEADERS);
        top_announced(row.announced_count, row.announced_size);
        controller.notified_count = row.announced_count;
        controller.notified_size = row.announced_size;
        std::vector<std::string> replies = {GREETING, "+OK\r\n", "+OK\r\n", row.stat + std::string("\r\n")};
        // One header is asked for alone, more after CAPA, together with QUIT.
        bool together = row.tops.size() > 1;
        std::string tops = together ? "CAPA\r\n" : "", answers;
        if (together)
            replies.push_back(CAPA_PIPELINING);
        for (int n : row.tops) {
            tops += "TOP " + std::to_string(n) + " 0\r\n";
            answers += top_reply("Subject: s" + std::to_string(n) + "\r\n");
        }
        replies.push_back(together ? answers + "+OK\r\n" : answers);
        if (!together)
            replies.push_back("+OK\r\n");
        replay(replies, 0);
        EXPECT_EQ(LOGIN_SENT + tops + "QUIT\r\n", fake.sent) << row.stat;

        fake.popup_exists = true;
        settings.USE_POPUPDLG = settings.USE_BALOON = 1;
        controller.state = Idle;
        report_outcome();
        bool announced = !row.tops.empty();
        EXPECT_EQ(row.popup, fake.popup_lines) << row.stat;
        EXPECT_EQ(announced ? 1u : 0u, fake.balloons.size()) << row.stat;
        if (announced) {
            EXPECT_EQ(row.popup[0] + "\n" + fake.popup_text, fake.balloons[0]) << row.stat;
        }
    }
}

// A server that offered PIPELINING is sent its commands together from its
// next check on, without CAPA: the listing's three in one send, the TOPs and
// QUIT in another. For another server, with SHOW_HEADERS off, and after a
// check that ended before QUIT's answer, it goes one command at a time again.
TEST(Session, WhatAServerSaidOfItselfLastTime)
{
    const std::string stat = "+OK 2 20\r\n", list = "+OK\r\n1 10\r\n2 10\r\n.\r\n",
                      uidl = "+OK\r\n" + uidl_lines(2),
                      tops = top_reply("Subject: s2\r\n") + top_reply("Subject: s1\r\n") + "+OK\r\n";
    const std::string listing = LOGIN_SENT + "LIST\r\nUIDL\r\n", headers = "TOP 2 0\r\nTOP 1 0\r\nQUIT\r\n";
    const std::vector<std::string> asks = {GREETING, "+OK\r\n", "+OK\r\n", stat, list, uidl,
                                           CAPA_PIPELINING, tops};
    const std::vector<std::string> knows = {GREETING, "+OK\r\n", "+OK\r\n", stat + list + uidl, tops};
    const struct {
        const char* server;
        bool headers;
        std::vector<std::string> replies;
        std::string sent;
        int sends, read;
    } checks[] = {
        {"a.test", true, asks, listing + "CAPA\r\n" + headers, 7, 2},
        {"a.test", true, knows, listing + headers, 4, 2},
        {"b.test", true, asks, listing + "CAPA\r\n" + headers, 7, 2},
        {"b.test", false, {GREETING, "+OK\r\n", "+OK\r\n", stat, list, uidl, "+OK\r\n"},
         listing + "QUIT\r\n", 6, 0},
        {"b.test", true, {knows.begin(), knows.end() - 1}, listing + headers, 4, 0}, // then closed
        {"b.test", true, asks, listing + "CAPA\r\n" + headers, 7, 2},
    };
    for (size_t chunk : {0, 3}) {
        prepare(UIDL | HEADERS);
        for (const auto& check : checks) {
            SCOPED_TRACE(std::string(check.server) + (check.headers ? " with headers" : "") +
                         ", chunk size " + std::to_string(chunk));
            fake.sent.clear();
            fake.sends = 0;
            strcpy(settings.SERVER, check.server);
            settings.SHOW_HEADERS = check.headers;
            pop_reset();
            replay(check.replies, chunk);
            EXPECT_EQ(check.sent, fake.sent);
            EXPECT_EQ(check.sends, fake.sends);
            EXPECT_EQ(ERROR_NONE, session.error_kind);
            EXPECT_EQ(2, session.message_count);
            EXPECT_EQ(check.read, top_series.read);
        }
    }
}

} // namespace
