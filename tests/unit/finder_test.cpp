// "自動設定" driven through the controller as the account page drives it:
// each attempt a session whose server is played turn by turn. What goes on
// the wire, what the page is given and what the log says are checked;
// nothing secret may ever be sent.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "core/controller.h"
#include "pop3/finder.h"
#include "pop3/net.h"
#include "pop3/receiver.h"
#include "pop3/session.h"
#include "settings/settings.h"
#include "tests/fakes/fakes.h"

namespace
{

// One attempt's server: its turns in order. "<tls>" is a handshake that goes
// through, "<cert:T>" one whose certificate fails with T, "<fail:T>" the
// connection layer failing with T, "<timeout>" 30 s of silence, "<abort>"
// the user's "中止"; an attempt whose first turn is "<refused>" fails at once.
struct FindRow {
    const char* name;
    std::vector<std::vector<std::string>> attempts;
    std::string sent;
    int security, apop; // what the page is given, -1: nothing
    std::vector<std::string> log_lines;
};

const std::string TLS_OK = "<tls>";
const std::string REFUSED = "<refused>";

// clang-format off
const FindRow ROWS[] = {
    {"tls_on_995_is_enough",
     {{TLS_OK, "+OK Dovecot ready.\r\n", "+OK\r\nTOP\r\nUIDL\r\nSASL PLAIN\r\n.\r\n", "+OK\r\n"}},
     "CAPA\r\nQUIT\r\n", SECURITY_TLS, 0,
     {"暗号化は「TLS (995)」にしました", "証明書は信頼でき、サーバー名とも一致しています。",
      "このサーバーは APOP に対応していません。",
      "サーバーの機能: TOP, UIDL, SASL PLAIN", "UIDL に対応しています"}},
    // The certificate is reported, not a reason to go down to clear text;
    // CAPA refused leaves UIDL unknown.
    {"tls_with_a_certificate_not_trusted",
     {{"<cert:サーバー証明書が信頼できません>", TLS_OK, "+OK ready <1.2@x>\r\n", "-ERR what\r\n",
       "+OK\r\n"}},
     "CAPA\r\nQUIT\r\n", SECURITY_TLS, 0,
     {"証明書が信頼できません: サーバー証明書が信頼できません",
      "対処: 自己署名の証明書なら、その証明書を Windows に信頼させてください。",
      "APOP にも対応していますが", "UIDL に対応しているかはわかりません"}},
    // After STLS the capabilities are asked again and the second list counts.
    {"stls_on_110",
     {{REFUSED},
      {"+OK ready <a@b>\r\n", "+OK\r\nSTLS\r\nUIDL\r\n.\r\n", "+OK begin\r\n", TLS_OK,
       "+OK\r\nSASL PLAIN\r\n.\r\n", "+OK\r\n"}},
     "CAPA\r\nSTLS\r\nCAPA\r\nQUIT\r\n", SECURITY_STLS, 0,
     {"サーバへの接続失敗", "■ ポート 110", "暗号化は「STLS (110)」", "サーバーの機能: SASL PLAIN",
      "UIDL に対応していません"}},
    {"clear_text_with_apop_after_a_silent_995",
     {{"<timeout>"},
      {"+OK <1896.697170952@dbc.mtview.ca.us>\r\n", "+OK\r\nUIDL\r\nTOP\r\n.\r\n", "+OK\r\n"}},
     "CAPA\r\nQUIT\r\n", SECURITY_NONE, 1,
     {"タイムアウト発生", "暗号化は「なし」", "安全ではありません", "APOP に対応しています。"}},
    // Without CAPA, STLS is tried all the same.
    {"stls_refused_without_capa",
     {{REFUSED}, {"+OK hi\r\n", "-ERR\r\n", "-ERR no\r\n", "+OK\r\n"}},
     "CAPA\r\nSTLS\r\nQUIT\r\n", SECURITY_NONE, 0, {"STLS は断られました。"}},
    {"stls_handshake_fails",
     {{REFUSED}, {"+OK hi\r\n", "+OK\r\nSTLS\r\n.\r\n", "+OK\r\n", "<fail:TLSハンドシェイク失敗>"}},
     "CAPA\r\nSTLS\r\n", SECURITY_NONE, 0,
     {"STLS のあとの TLS の接続に失敗しました: TLSハンドシェイク失敗"}},
    // A server that will not talk POP3 on 995 is no answer; 110 is tried.
    {"negative_greeting_on_995",
     {{TLS_OK, "-ERR busy\r\n"}, {"+OK hi\r\n", "+OK\r\nUIDL\r\n.\r\n", "+OK\r\n"}},
     "QUIT\r\nCAPA\r\nQUIT\r\n", SECURITY_NONE, 0, {"暗号化は「なし」"}},
    {"nothing_listening",
     {{REFUSED}, {REFUSED}}, "", -1, -1,
     {"サーバへの接続失敗\r\n■ 結果\r\nサーバーはポート 995 にも 110 にも POP3 で応答しませんでした。"}},
    {"stopped_by_the_user",
     {{"<abort>"}}, "", -1, -1, {"処理を中止しました\r\n"}},
};
// clang-format on

void PrintTo(const FindRow& row, std::ostream* out)
{
    *out << row.name;
}

// The connection layer's verdict when the server closes.
void server_closes(void)
{
    if (session.error_kind == ERROR_NONE && !pop_quit_sent()) {
        set_error_text("通信エラー発生");
        session.error_kind = ERROR_FAILED;
    }
    dispatch_event(SessionOver);
}

void fail_with(const std::string& text)
{
    set_error_text(text.c_str());
    session.error_kind = ERROR_FAILED;
    dispatch_event(SessionOver);
}

void play(const std::vector<std::string>& turns)
{
    for (const std::string& turn : turns) {
        if (turn == TLS_OK)
            pop_tls_ready();
        else if (turn.rfind("<cert:", 0) == 0)
            pop_certificate_refused(turn.substr(6, turn.size() - 7).c_str());
        else if (turn.rfind("<fail:", 0) == 0)
            return fail_with(turn.substr(6, turn.size() - 7));
        else if (turn == "<timeout>") {
            for (int i = 0; i < SESSION_TIMEOUT_TICKS; i++)
                dispatch_event(Tick);
            return;
        } else if (turn == "<abort>")
            return dispatch_event(CheckCommand);
        else
            pop_receive(turn.data(), (int)turn.size());
    }
    server_closes();
}

class Finder : public testing::TestWithParam<FindRow>
{
};

TEST_P(Finder, AttemptsWireAndResult)
{
    const FindRow& row = GetParam();
    fakes_reset();
    settings.SECURITY = SECURITY_NONE;
    settings.USEAPOP = 1;
    enter_state(SettingsOpen);
    for (const std::vector<std::string>& turns : row.attempts)
        fake.start_errors.push_back(turns[0] == REFUSED ? "サーバへの接続失敗" : "");
    find_settings();
    size_t attempt = 0;
    while (controller.state == Testing) {
        while (attempt < row.attempts.size() && row.attempts[attempt][0] == REFUSED)
            attempt++; // failed as it started
        ASSERT_LT(attempt, row.attempts.size()) << fake.log;
        play(row.attempts[attempt++]);
    }
    EXPECT_EQ(row.attempts.size(), (size_t)fake.net_starts);
    EXPECT_EQ(row.sent, fake.sent);
    EXPECT_EQ(row.security, fake.found_security);
    EXPECT_EQ(row.apop, fake.found_apop);
    for (const std::string& line : row.log_lines)
        EXPECT_NE(std::string::npos, fake.log.find(line)) << line << "\n" << fake.log;
    // Everything as it was but the page: the settings, the conversation, the controls.
    EXPECT_EQ(SettingsOpen, controller.state);
    EXPECT_EQ(SECURITY_NONE, settings.SECURITY);
    EXPECT_EQ(1, settings.USEAPOP);
    EXPECT_EQ(CONVERSATION_CHECK, pop_conversation);
    EXPECT_EQ(1, fake.account_controls_enabled);
    EXPECT_EQ(1, fake.sheet_buttons_enabled);
}

INSTANTIATE_TEST_SUITE_P(Rows, Finder, testing::ValuesIn(ROWS),
                         [](const testing::TestParamInfo<FindRow>& info) {
                             return std::string(info.param.name);
                         });

// Only an open sheet with no test running starts a search, and only with a server.
TEST(FinderStart, OnlyFromTheOpenSheetWithAServer)
{
    fakes_reset();
    settings.SERVER[0] = '\0';
    enter_state(SettingsOpen);
    find_settings();
    EXPECT_EQ(0, fake.net_starts);
    EXPECT_EQ("ｻｰﾊﾞｰ名を設定してください。\r\n対処: 「アカウント設定」でサーバー名を入れてください。\r\n",
              fake.log);
    for (CheckState state : {Idle, Checking, Testing, RetryWait}) {
        fakes_reset();
        enter_state(state);
        find_settings();
        EXPECT_EQ(0, fake.net_starts) << state;
        EXPECT_EQ(state, controller.state);
    }
}

} // namespace
