// Advice after a failure. Most failure texts are logged without a line end
// (set_error_text), so the advice starts a line of its own; the receiver's
// own failures leave the log at the start of a line: a server's negative
// reply was logged whole with its CR LF, and the overflow text is not logged.
#include "pop3/failure_hint.h"

#include <string.h>

#include "pop3/session.h"
#include "ui/session_log.h"

struct Hint {
    const char* failure;
    const char* advice;
};

static const char NETWORK_ADVICE[] = "対処: corvina を起動し直すか、Windows を再起動してください。";
static const char NOT_POP3_ADVICE[] = "対処: サーバー名とポートが POP3 のものか確かめてください。";
static const char LOOKUP_ADVICE[] = "対処: サーバー名の綴りとインターネット接続を確かめてください。";
static const char LISTING_ADVICE[] = "対処: 「メールをサーバーに残す」のチェックを外してください。";
static const char OVERFLOW_TEXT[] = "受信バッファオーバーフロー";
// A negative reply: the server's own words, mostly about the login.
static const char SERVER_REPLY_ADVICE[] =
    "対処: ユーザー名とパスワード（アプリ パスワードが要るか）を確かめてください。";

static const Hint HINTS[] = {
    {"ｻｰﾊﾞｰ名を設定してください。", "対処: 「アカウント設定」でサーバー名を入れてください。"},
    {"ﾕｰｻﾞｰ名を設定してください。", "対処: 「アカウント設定」でユーザー名を入れてください。"},
    {"ﾊﾟｽﾜｰﾄﾞを設定してください。", "対処: 「アカウント設定」でパスワードを入れてください。"},
    {"ﾕｰｻﾞｰ名かﾊﾟｽﾜｰﾄﾞに改行が含まれています。", "対処: ユーザー名とパスワードを入れ直してください。"},
    {"ｻｰﾊﾞIPｱﾄﾞﾚｽの取得失敗", LOOKUP_ADVICE},
    {"ｻｰﾊﾞIPｱﾄﾞﾚｽ取得失敗", LOOKUP_ADVICE},
    {"サーバへの接続失敗", "対処: サーバー名、暗号化の選択とポート、ファイアウォールを確かめてください。"},
    {"タイムアウト発生", "対処: 暗号化の選択がサーバーのポートと合っているか確かめてください。"},
    {"通信エラー発生", "対処: しばらくしてからやり直してください。"},
    {"ソケット作成失敗", NETWORK_ADVICE},
    {"WSAAsyncSelect() ｴﾗｰ", NETWORK_ADVICE},
    {"ｿｹｯﾄｲﾍﾞﾝﾄ通知ｴﾗｰ", NETWORK_ADVICE},
    {"サーバー証明書が信頼できません", "対処: 自己署名の証明書なら、その証明書を Windows に信頼させてください。"},
    {"証明書の名前がサーバー名と一致しません", "対処: プロバイダーの案内どおりのサーバー名を入れてください。"},
    {"サーバー証明書の有効期限切れ", "対処: パソコンの日付を確かめ、サーバーの管理者に知らせてください。"},
    {"サーバー証明書は失効しています", "対処: この接続は安全ではありません。サーバーの管理者に知らせてください。"},
    {"TLSハンドシェイク失敗", "対処: 暗号化の選択とポートを確かめてください（「自動設定」が調べます）。"},
    {"サーバーがSTLSを受け付けません", "対処: 「TLS (995)」を試すか、「自動設定」を使ってください。"},
    {"APOP非対応ｻｰﾊﾞｰまたは受信ﾃﾞｰﾀｴﾗｰ", "対処: 「APOPを使用する」のチェックを外してください。"},
    {"受信データエラー", NOT_POP3_ADVICE},
    {OVERFLOW_TEXT, NOT_POP3_ADVICE},
    {"LISTエラー", LISTING_ADVICE},
    {"UIDLエラー", LISTING_ADVICE},
};

static const Hint* find_hint(const char* failure)
{
    for (const Hint& hint : HINTS) {
        if (strcmp(hint.failure, failure) == 0)
            return &hint;
    }
    return NULL;
}

const char* hint_for(const char* failure)
{
    const Hint* hint = find_hint(failure);
    return hint ? hint->advice : SERVER_REPLY_ADVICE;
}

void hint_log(void)
{
    if (session.error_kind != ERROR_FAILED)
        return;
    const Hint* hint = find_hint(session.error_text);
    if (hint && hint->failure != OVERFLOW_TEXT)
        log_append("\r\n");
    log_append(hint_for(session.error_text));
    log_append("\r\n");
}
