// The POP3 conversation driven by server transcripts: the bytes corvina
// sends, what the session log shows and the SessionResult at the end. Every
// transcript is replayed with the server's replies cut into chunks of many
// sizes, and must give the same result each time.
#include <gtest/gtest.h>

#include <string.h>

#include <string>
#include <vector>

#include "core/text.h"
#include "pop3/receiver.h"
#include "pop3/session.h"
#include "pop3/uidl_store.h"
#include "settings/settings.h"
#include "tests/fakes/fakes.h"
#include "tests/unit/temp_dir.h"

namespace
{

struct Transcript {
    const char* name;
    bool apop;
    bool uidl;
    std::vector<std::string> replies; // one server turn each, fed after the previous command
    std::string sent;
    std::string log;
    int error_kind;
    std::string error_text;
    int32_t message_count;
    int64_t total_size;
    int32_t security = SECURITY_NONE;
};

struct Outcome {
    std::string sent, log;
    int error_kind;
    std::string error_text;
    int32_t message_count;
    int64_t total_size;
};

void prepare(bool apop, bool uidl, const char* account = "bob", const char* password = "secret",
             int32_t security = SECURITY_NONE)
{
    fakes_reset();
    settings_reset();
    settings.USEAPOP = apop;
    settings.USEUIDL = uidl;
    settings.SECURITY = security;
    strcpy(settings.ACCOUNT, account);
    strcpy(settings.plain_password, password);
    session = SessionResult();
    pop_reset();
}

// Feeds each reply in chunks of chunk bytes (0: whole), stopping at the first
// failure. Once STLS is accepted the rest of the turn belongs to the
// handshake, as the connection layer has it, and the handshake succeeds.
Outcome replay(const std::vector<std::string>& replies, size_t chunk)
{
    for (const std::string& reply : replies) {
        size_t step = chunk == 0 ? reply.size() : chunk;
        for (size_t at = 0;
             at < reply.size() && session.error_kind == 0 && pop_state != POP_TLS_HANDSHAKE;
             at += step) {
            size_t count = std::min(step, reply.size() - at);
            pop_receive(reply.data() + at, (int)count);
        }
        if (pop_state == POP_TLS_HANDSHAKE)
            pop_tls_ready();
        if (session.error_kind != 0)
            break;
    }
    return {
        fake.sent,         fake.log, session.error_kind, session.error_text, session.message_count,
        session.total_size};
}

const std::string GREETING = "+OK POP3 ready\r\n";
const std::string APOP_GREETING = "+OK POP3 server ready <1896.697170952@dbc.mtview.ca.us>\r\n";

// A transcript per row.
// clang-format off
const Transcript TRANSCRIPTS[] = {
    {"user_pass_two_messages", false, false,
     {GREETING, "+OK\r\n", "+OK logged in\r\n", "+OK 2 320\r\n", "+OK bye\r\n"},
     "USER bob\r\nPASS secret\r\nSTAT\r\nQUIT\r\n",
     GREETING + "USER bob\r\n+OK\r\nPASS *****\r\n+OK logged in\r\nSTAT\r\n+OK 2 320\r\n"
     "QUIT\r\n+OK bye\r\n",
     0, "", 2, 320},
    {"empty_mailbox", false, false,
     {GREETING, "+OK\r\n", "+OK\r\n", "+OK 0 0\r\n", "+OK\r\n"},
     "USER bob\r\nPASS secret\r\nSTAT\r\nQUIT\r\n",
     GREETING + "USER bob\r\n+OK\r\nPASS *****\r\n+OK\r\nSTAT\r\n+OK 0 0\r\nQUIT\r\n+OK\r\n",
     0, "", 0, 0},
    {"apop_digest_of_the_time_stamp", true, false,
     {APOP_GREETING, "+OK maildrop has 1 message (369 octets)\r\n", "+OK 1 369\r\n", "+OK\r\n"},
     "APOP bob 3f18b52881e44c0cc6067f46e0ced7bc\r\nSTAT\r\nQUIT\r\n",
     APOP_GREETING + "APOP bob *****\r\n+OK maildrop has 1 message (369 octets)\r\n"
     "STAT\r\n+OK 1 369\r\nQUIT\r\n+OK\r\n",
     0, "", 1, 369},
    {"stat_runs_of_blanks_and_more_tokens", false, false,
     {GREETING, "+OK\r\n", "+OK\r\n", "+OK  3   12000 octets\r\n", "+OK\r\n"},
     "USER bob\r\nPASS secret\r\nSTAT\r\nQUIT\r\n",
     GREETING + "USER bob\r\n+OK\r\nPASS *****\r\n+OK\r\nSTAT\r\n+OK  3   12000 octets\r\n"
     "QUIT\r\n+OK\r\n",
     0, "", 3, 12000},
    {"stat_over_two_gibibytes", false, false,
     {GREETING, "+OK\r\n", "+OK\r\n", "+OK 5 3221225472\r\n", "+OK\r\n"},
     "USER bob\r\nPASS secret\r\nSTAT\r\nQUIT\r\n",
     GREETING + "USER bob\r\n+OK\r\nPASS *****\r\n+OK\r\nSTAT\r\n+OK 5 3221225472\r\n"
     "QUIT\r\n+OK\r\n",
     0, "", 5, 3221225472LL},
    {"stat_at_two_to_the_53", false, false,
     {GREETING, "+OK\r\n", "+OK\r\n", "+OK 1 9007199254740993\r\n", "+OK\r\n"},
     "USER bob\r\nPASS secret\r\nSTAT\r\nQUIT\r\n",
     GREETING + "USER bob\r\n+OK\r\nPASS *****\r\n+OK\r\nSTAT\r\n+OK 1 9007199254740993\r\n"
     "QUIT\r\n+OK\r\n",
     0, "", 1, 9007199254740993LL},
    {"stat_figures_held_at_their_range", false, false,
     {GREETING, "+OK\r\n", "+OK\r\n", "+OK 99999999999 999999999999999999999999\r\n", "+OK\r\n"},
     "USER bob\r\nPASS secret\r\nSTAT\r\nQUIT\r\n",
     GREETING + "USER bob\r\n+OK\r\nPASS *****\r\n+OK\r\nSTAT\r\n"
     "+OK 99999999999 999999999999999999999999\r\nQUIT\r\n+OK\r\n",
     0, "", INT32_MAX, INT64_MAX},
    {"stat_sign_and_trailing_letters", false, false,
     {GREETING, "+OK\r\n", "+OK\r\n", "+OK +4 12x\r\n", "+OK\r\n"},
     "USER bob\r\nPASS secret\r\nSTAT\r\nQUIT\r\n",
     GREETING + "USER bob\r\n+OK\r\nPASS *****\r\n+OK\r\nSTAT\r\n+OK +4 12x\r\nQUIT\r\n+OK\r\n",
     0, "", 4, 12},
    {"stat_negative_count", false, false,
     {GREETING, "+OK\r\n", "+OK\r\n", "+OK -1 0\r\n"},
     "USER bob\r\nPASS secret\r\nSTAT\r\n",
     GREETING + "USER bob\r\n+OK\r\nPASS *****\r\n+OK\r\nSTAT\r\n+OK -1 0\r\n受信データエラー",
     1, "受信データエラー", -1, 0},
    {"stat_negative_size", false, false,
     {GREETING, "+OK\r\n", "+OK\r\n", "+OK 2 -5\r\n"},
     "USER bob\r\nPASS secret\r\nSTAT\r\n",
     GREETING + "USER bob\r\n+OK\r\nPASS *****\r\n+OK\r\nSTAT\r\n+OK 2 -5\r\n受信データエラー",
     1, "受信データエラー", 2, -5},
    {"stat_with_two_tokens", false, false,
     {GREETING, "+OK\r\n", "+OK\r\n", "+OK 2\r\n"},
     "USER bob\r\nPASS secret\r\nSTAT\r\n",
     GREETING + "USER bob\r\n+OK\r\nPASS *****\r\n+OK\r\nSTAT\r\n+OK 2\r\n受信データエラー",
     1, "受信データエラー", 0, 0},
    {"stat_with_only_ok", false, false,
     {GREETING, "+OK\r\n", "+OK\r\n", "+OK\r\n"},
     "USER bob\r\nPASS secret\r\nSTAT\r\n",
     GREETING + "USER bob\r\n+OK\r\nPASS *****\r\n+OK\r\nSTAT\r\n+OK\r\n受信データエラー",
     1, "受信データエラー", 0, 0},
    {"wrong_password", false, false,
     {GREETING, "+OK\r\n", "-ERR [AUTH] Authentication failed.\r\n"},
     "USER bob\r\nPASS secret\r\n",
     GREETING + "USER bob\r\n+OK\r\nPASS *****\r\n-ERR [AUTH] Authentication failed.\r\n",
     1, "-ERR [AUTH] Authentication failed.\r\n", 0, 0},
    {"negative_reply_cut_at_63_bytes", false, false,
     {GREETING, "-ERR 0123456789012345678901234567890123456789012345678901234567890123\r\n"},
     "USER bob\r\n",
     GREETING +
     "USER bob\r\n-ERR 0123456789012345678901234567890123456789012345678901234567890123\r\n",
     1, "-ERR 0123456789012345678901234567890123456789012345678901234567", 0, 0},
    {"lower_case_ok_is_negative", false, false,
     {"+ok hello\r\n"},
     "",
     "+ok hello\r\n",
     1, "+ok hello\r\n", 0, 0},
    {"negative_reply_to_quit", false, false,
     {GREETING, "+OK\r\n", "+OK\r\n", "+OK 0 0\r\n", "-ERR some deleted messages not removed\r\n"},
     "USER bob\r\nPASS secret\r\nSTAT\r\nQUIT\r\n",
     GREETING + "USER bob\r\n+OK\r\nPASS *****\r\n+OK\r\nSTAT\r\n+OK 0 0\r\nQUIT\r\n"
     "-ERR some deleted messages not removed\r\n",
     1, "-ERR some deleted messages not removed\r\n", 0, 0},
    {"apop_without_time_stamp_never_tries_user", true, false,
     {GREETING},
     "",
     GREETING + "APOP非対応ｻｰﾊﾞｰまたは受信ﾃﾞｰﾀｴﾗｰ",
     1, "APOP非対応ｻｰﾊﾞｰまたは受信ﾃﾞｰﾀｴﾗｰ", 0, 0},
    {"apop_close_bracket_only_before_open", true, false,
     {"+OK ready> <1896.697170952@dbc\r\n"},
     "",
     "+OK ready> <1896.697170952@dbc\r\nAPOP非対応ｻｰﾊﾞｰまたは受信ﾃﾞｰﾀｴﾗｰ",
     1, "APOP非対応ｻｰﾊﾞｰまたは受信ﾃﾞｰﾀｴﾗｰ", 0, 0},
    {"apop_refused", true, false,
     {APOP_GREETING, "-ERR authentication failed\r\n"},
     "APOP bob 3f18b52881e44c0cc6067f46e0ced7bc\r\n",
     APOP_GREETING + "APOP bob *****\r\n-ERR authentication failed\r\n",
     1, "-ERR authentication failed\r\n", 0, 0},
    {"stls_keeps_the_greeting_time_stamp", true, false,
     {APOP_GREETING, "+OK\r\n", "+OK\r\n", "+OK 1 369\r\n", "+OK\r\n"},
     "STLS\r\nAPOP bob 3f18b52881e44c0cc6067f46e0ced7bc\r\nSTAT\r\nQUIT\r\n",
     APOP_GREETING + "STLS\r\n+OK\r\nAPOP bob *****\r\n+OK\r\nSTAT\r\n+OK 1 369\r\nQUIT\r\n+OK\r\n",
     0, "", 1, 369, SECURITY_STLS},
    {"stls_then_user_pass_dropping_what_follows_the_ok", false, false,
     {GREETING, "+OK go\r\n-ERR injected\r\n+OK 9 9\r\n", "+OK\r\n", "+OK\r\n", "+OK 2 320\r\n",
      "+OK\r\n"},
     "STLS\r\nUSER bob\r\nPASS secret\r\nSTAT\r\nQUIT\r\n",
     GREETING + "STLS\r\n+OK go\r\nUSER bob\r\n+OK\r\nPASS *****\r\n+OK\r\nSTAT\r\n"
     "+OK 2 320\r\nQUIT\r\n+OK\r\n",
     0, "", 2, 320, SECURITY_STLS},
    {"stls_refused", true, false,
     {APOP_GREETING, "-ERR not offered\r\n"},
     "STLS\r\n",
     APOP_GREETING + "STLS\r\n-ERR not offered\r\nサーバーがSTLSを受け付けません",
     1, "サーバーがSTLSを受け付けません", 0, 0, SECURITY_STLS},
    {"stls_with_apop_needs_the_time_stamp_first", true, false,
     {GREETING},
     "",
     GREETING + "APOP非対応ｻｰﾊﾞｰまたは受信ﾃﾞｰﾀｴﾗｰ",
     1, "APOP非対応ｻｰﾊﾞｰまたは受信ﾃﾞｰﾀｴﾗｰ", 0, 0, SECURITY_STLS},
    {"tls_mode_sends_no_stls", false, false,
     {GREETING, "+OK\r\n", "+OK\r\n", "+OK 0 0\r\n", "+OK\r\n"},
     "USER bob\r\nPASS secret\r\nSTAT\r\nQUIT\r\n",
     GREETING + "USER bob\r\n+OK\r\nPASS *****\r\n+OK\r\nSTAT\r\n+OK 0 0\r\nQUIT\r\n+OK\r\n",
     0, "", 0, 0, SECURITY_TLS},
};
// clang-format on

void PrintTo(const Transcript& t, std::ostream* out)
{
    *out << t.name;
}

class SessionTranscript : public testing::TestWithParam<Transcript>
{
};

TEST_P(SessionTranscript, SameResultForEveryChunking)
{
    const Transcript& t = GetParam();
    for (size_t chunk : {0, 1, 2, 3, 5, 7, 13, 64}) {
        SCOPED_TRACE("chunk size " + std::to_string(chunk));
        prepare(t.apop, t.uidl, "bob", "secret", t.security);
        Outcome out = replay(t.replies, chunk);
        EXPECT_EQ(t.sent, out.sent);
        EXPECT_EQ(t.log, out.log);
        EXPECT_EQ(t.error_kind, out.error_kind);
        EXPECT_EQ(t.error_text, out.error_text);
        EXPECT_EQ(t.message_count, out.message_count);
        EXPECT_EQ(t.total_size, out.total_size);
        bool quit_sent = t.sent.size() >= 6 && t.sent.substr(t.sent.size() - 6) == "QUIT\r\n";
        EXPECT_EQ(quit_sent, pop_quit_sent());
        bool stls_accepted = t.security == SECURITY_STLS && t.error_kind == 0;
        EXPECT_EQ(stls_accepted ? 1 : 0, fake.tls_starts);
    }
}

INSTANTIATE_TEST_SUITE_P(Transcripts, SessionTranscript, testing::ValuesIn(TRANSCRIPTS),
                         [](const testing::TestParamInfo<Transcript>& info) {
                             return std::string(info.param.name);
                         });

TEST(Session, ApopDigestOfRfc1939Example)
{
    prepare(true, false, "mrose", "tanstaaf");
    replay({"+OK POP3 server ready <1896.697170952@dbc.mtview.ca.us>\r\n"}, 0);
    EXPECT_EQ("APOP mrose c4c9334bac560ecc979e58001b3e22fb\r\n", fake.sent);
    EXPECT_EQ(std::string::npos, fake.log.find("c4c9334b")) << fake.log;
}

// The time stamp and the password are joined in 1499 bytes at most.
TEST(Session, ApopTimeStampAndPasswordLimit)
{
    for (int stamp_length : {1498, 1499}) {
        SCOPED_TRACE(stamp_length);
        prepare(true, false, "bob", "p");
        std::string greeting = "+OK <" + std::string(stamp_length - 2, 'x') + ">\r\n";
        replay({greeting}, 0);
        if (stamp_length + 1 <= 1499) {
            EXPECT_EQ(0, session.error_kind);
            EXPECT_EQ(0u, fake.sent.rfind("APOP bob ", 0));
            EXPECT_EQ(POP_AUTH_SENT, pop_state);
        } else {
            EXPECT_EQ(1, session.error_kind);
            EXPECT_STREQ("受信データエラー", session.error_text);
            EXPECT_EQ("", fake.sent);
        }
    }
}

// The digest covers the stamp's bytes exactly, non-ASCII and spaces included.
TEST(Session, ApopStampIsDigestedAsReceived)
{
    prepare(true, false, "bob", "tanstaaf");
    replay({"+OK <1896.697170952@dbc.mtview.ca.us> <other>\r\n"}, 0);
    EXPECT_EQ("APOP bob c4c9334bac560ecc979e58001b3e22fb\r\n", fake.sent);
}

// The ids of the running check's listing, as the seen-message store holds them.
std::vector<std::string> listed_ids()
{
    std::vector<std::string> ids;
    int other = 1 - uidl_store.current;
    for (int i = 0; i < uidl_store.count[other]; i++)
        ids.push_back(uidl_store.generations[other].ids[i]);
    return ids;
}

void load_empty_store()
{
    uidl_free();
    std::string dir = make_temp_dir("session");
    text_copy(program_directory, sizeof program_directory, dir.c_str());
    uidl_load();
}

TEST(Session, UniqueIdListingsGoToTheStore)
{
    prepare(false, true);
    load_empty_store();
    Outcome out = replay({GREETING, "+OK\r\n", "+OK\r\n", "+OK 2 320\r\n",
                          "+OK 2 messages\r\n1 120\r\n2 200\r\n.\r\n",
                          "+OK\r\n1 whqtswO00WBw418f9t5JxYwZ\r\n2 Qhd PYR:00WBw1Ph7x7\r\n.\r\n",
                          "+OK bye\r\n"},
                         0);
    EXPECT_EQ("USER bob\r\nPASS secret\r\nSTAT\r\nLIST\r\nUIDL\r\nQUIT\r\n", out.sent);
    EXPECT_EQ(GREETING + "USER bob\r\n+OK\r\nPASS *****\r\n+OK\r\nSTAT\r\n+OK 2 320\r\n"
                         "LIST\r\n+OK 2 messages\r\nUIDL\r\n+OK\r\nQUIT\r\n+OK bye\r\n",
              out.log);
    EXPECT_EQ((std::vector<std::string>{"whqtswO00WBw418f9t5JxYwZ", "Qhd PYR:00WBw1Ph7x7"}),
              listed_ids());
    EXPECT_TRUE(uidl_store.listing_complete);
    EXPECT_EQ(0, out.error_kind);
    // The counts come from the listings, not from STAT.
    EXPECT_EQ(2, out.message_count);
    EXPECT_EQ(320, out.total_size);
    uidl_free();
}

TEST(Session, EmptyMailboxWithUniqueIds)
{
    prepare(true, true);
    load_empty_store();
    Outcome out = replay(
        {APOP_GREETING, "+OK\r\n", "+OK 0 0\r\n", "+OK\r\n.\r\n", "+OK\r\n.\r\n", "+OK\r\n"}, 1);
    EXPECT_EQ(0, out.error_kind);
    EXPECT_EQ(0, out.message_count);
    EXPECT_TRUE(listed_ids().empty());
    EXPECT_TRUE(uidl_store.listing_complete);
    EXPECT_TRUE(pop_quit_sent());
    uidl_free();
}

TEST(Session, RefusedListingLinesFailTheCheck)
{
    const struct {
        const char* list;
        const char* uidl;
        const char* text;
    } rows[] = {
        {"+OK\r\n1 10\r\n2\r\n3 10\r\n.\r\n", "", "LISTエラー"},
        {"+OK\r\n1 10\r\n2 10\r\n.\r\n", "+OK\r\n1 a\r\n2\r\n3 c\r\n.\r\n", "UIDLエラー"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.text);
        prepare(false, true);
        load_empty_store();
        Outcome out =
            replay({GREETING, "+OK\r\n", "+OK\r\n", "+OK 3 30\r\n", row.list, row.uidl}, 0);
        EXPECT_EQ(1, out.error_kind);
        EXPECT_EQ(row.text, out.error_text);
        EXPECT_EQ(row.text, out.log.substr(out.log.size() - strlen(row.text)));
        EXPECT_FALSE(uidl_store.listing_complete);
        // Nothing follows the refused line: no further command.
        EXPECT_EQ(std::string::npos, out.sent.find("QUIT"));
        uidl_free();
    }
}

// Whatever offset a reply is split at, the two parts give what the whole gives.
TEST(Session, ReplySplitAtEveryOffset)
{
    const std::vector<std::string> replies = {APOP_GREETING,
                                              "+OK logged in\r\n",
                                              "+OK 2 320\r\n",
                                              "+OK 2 messages\r\n1 120\r\n2 200\r\n.\r\n",
                                              "+OK\r\n1 aaa\r\n2 b b\r\n.\r\n",
                                              "+OK bye\r\n"};
    prepare(true, true);
    load_empty_store();
    const Outcome whole = replay(replies, 0);
    ASSERT_EQ(0, whole.error_kind);
    for (size_t turn = 0; turn < replies.size(); turn++) {
        for (size_t offset = 1; offset < replies[turn].size(); offset++) {
            prepare(true, true);
            load_empty_store();
            for (size_t i = 0; i < replies.size(); i++) {
                const std::string& reply = replies[i];
                size_t cut = i == turn ? offset : reply.size();
                pop_receive(reply.data(), (int)cut);
                pop_receive(reply.data() + cut, (int)(reply.size() - cut));
            }
            ASSERT_EQ(whole.sent, fake.sent) << "turn " << turn << ", offset " << offset;
            ASSERT_EQ(whole.log, fake.log) << "turn " << turn << ", offset " << offset;
            ASSERT_EQ(whole.message_count, session.message_count);
            ASSERT_EQ(whole.total_size, session.total_size);
            ASSERT_EQ((std::vector<std::string>{"aaa", "b b"}), listed_ids());
        }
    }
    uidl_free();
}

TEST(Session, SetErrorTextLogsWholeAndKeepsSixtyThreeBytes)
{
    prepare(false, false);
    std::string text(100, 'e');
    session.error_kind = 0;
    set_error_text(text.c_str());
    EXPECT_EQ(text, fake.log);
    EXPECT_EQ(std::string(63, 'e'), session.error_text);
    EXPECT_EQ(0, session.error_kind);
}

TEST(Session, ResetWaitsForAGreetingAgain)
{
    prepare(false, false);
    replay({GREETING, "+OK\r\n"}, 0);
    ASSERT_EQ(POP_AUTH_SENT, pop_state);
    pop_reset();
    EXPECT_EQ(POP_GREETING, pop_state);
    EXPECT_EQ(0, line_length);
    EXPECT_FALSE(pop_quit_sent());
}

} // namespace
