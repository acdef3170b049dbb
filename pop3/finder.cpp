// Finding a server's settings from its name alone.
//
// The first attempt is TLS on 995; a server that greets there is the
// answer. Otherwise port 110: the greeting and CAPA in clear text, then STLS
// where CAPA offers it (or where CAPA itself is unknown), and CAPA again
// once TLS is on, since a server may offer more behind it. A server on 110
// that refuses STLS, or whose handshake fails, still answered in clear text:
// that is the last choice, and the log says it is not safe.
//
// A certificate that does not pass ends no attempt here: the server did
// answer, and what the user must do about the certificate is part of the
// result. Nothing secret is sent over such a connection: only CAPA, STLS
// and QUIT, never USER, PASS or APOP.
#include "pop3/finder.h"

#include <stdio.h>
#include <string.h>

#include "core/text.h"
#include "pop3/failure_hint.h"
#include "pop3/net.h"
#include "settings/settings.h"
#include "ui/session_log.h"
#include "ui/sheet.h"

enum Attempt { ATTEMPT_TLS, ATTEMPT_PORT_110, ATTEMPT_COUNT };

enum FindState {
    FIND_GREETING,
    FIND_CAPA_SENT,
    FIND_CAPA_LIST,
    FIND_STLS_SENT,
    FIND_TLS_HANDSHAKE,
    FIND_QUIT_SENT
};

enum { CAPABILITIES_CAPACITY = 256 };

static int attempt;
static FindState find_state;
static bool stopped;
static int32_t kept_security;

// What the attempt under way has learnt.
static bool greeted;           // a positive greeting
static bool has_time_stamp;    // the greeting offers APOP
static bool tls_up;            // the handshake went through
static bool capa_answered;
static bool offers_stls, offers_uidl;
static bool stls_refused;
static char capabilities[CAPABILITIES_CAPACITY]; // the CAPA lines, joined by ", "
static char certificate_failure[ERROR_TEXT_CAPACITY];
static char stls_failure[ERROR_TEXT_CAPACITY]; // why TLS after STLS did not come up

// The settings found: -1 while none.
static int32_t found_security;

static PopStep send_command(const char* command, FindState next)
{
    net_send(command, (int)strlen(command));
    log_append(command);
    find_state = next;
    return POP_STOP;
}

static void log_line(const char* text)
{
    log_append(text);
    log_append("\r\n");
}

void find_begin(void)
{
    kept_security = settings.SECURITY;
    attempt = -1;
    stopped = false;
    found_security = -1;
    if (settings.SERVER[0] == '\0') {
        static const char NO_SERVER[] = "ｻｰﾊﾞｰ名を設定してください。";
        log_line(NO_SERVER);
        log_line(hint_for(NO_SERVER));
        stopped = true;
    }
}

bool find_next_attempt(void)
{
    if (stopped || found_security >= 0 || attempt + 1 >= ATTEMPT_COUNT)
        return false;
    attempt++;
    pop_conversation = CONVERSATION_FIND;
    find_state = FIND_GREETING;
    greeted = has_time_stamp = tls_up = capa_answered = false;
    offers_stls = offers_uidl = stls_refused = false;
    capabilities[0] = certificate_failure[0] = stls_failure[0] = '\0';
    settings.SECURITY = attempt == ATTEMPT_TLS ? SECURITY_TLS : SECURITY_STLS;
    log_append(attempt == ATTEMPT_TLS ? "■ TLS (995) を試します\r\n"
                                      : "■ ポート 110 を試します (STLS、なければ暗号化なし)\r\n");
    return true;
}

void find_attempt_over(void)
{
    // Failure texts stand in the log without a line end.
    if (session.error_kind != ERROR_NONE) {
        log_append("\r\n");
        if (find_state == FIND_TLS_HANDSHAKE)
            text_copy(stls_failure, sizeof stls_failure, session.error_text);
    }
    if (!greeted)
        return;
    if (attempt == ATTEMPT_TLS)
        found_security = SECURITY_TLS;
    else
        found_security = tls_up ? SECURITY_STLS : SECURITY_NONE;
}

void find_stop(void)
{
    stopped = true;
}

static void note_capability(const char* line)
{
    offers_stls |= pop_capability_is(line, "STLS");
    offers_uidl |= pop_capability_is(line, "UIDL");
    char name[CAPABILITIES_CAPACITY];
    text_copy(name, sizeof name, line);
    name[strcspn(name, "\r\n")] = '\0';
    if (capabilities[0] != '\0')
        text_append(capabilities, sizeof capabilities, ", ");
    text_append(capabilities, sizeof capabilities, name);
}

// CAPA is over (or refused): STLS on port 110 while the connection is clear,
// else QUIT.
static PopStep after_capabilities(void)
{
    if (attempt == ATTEMPT_PORT_110 && !tls_up && (offers_stls || !capa_answered))
        return send_command("STLS\r\n", FIND_STLS_SENT);
    return send_command("QUIT\r\n", FIND_QUIT_SENT);
}

PopStep find_handle_line(const char* line)
{
    bool positive = strncmp(line, "+OK", 3) == 0;
    log_append(line);
    switch (find_state) {
    case FIND_GREETING: {
        if (!positive)
            return send_command("QUIT\r\n", FIND_QUIT_SENT);
        greeted = true;
        const char* open = strchr(line, '<');
        has_time_stamp = open && strchr(open, '>');
        return send_command("CAPA\r\n", FIND_CAPA_SENT);
    }
    case FIND_CAPA_SENT:
        capa_answered = positive;
        if (!positive)
            return after_capabilities();
        // After STLS the list starts afresh.
        capabilities[0] = '\0';
        offers_stls = offers_uidl = false;
        find_state = FIND_CAPA_LIST;
        return POP_CONTINUE;
    case FIND_CAPA_LIST:
        if (line[0] == '.' && (line[1] == '\r' || line[1] == '\0'))
            return after_capabilities();
        note_capability(line);
        return POP_CONTINUE;
    case FIND_STLS_SENT:
        if (!positive) {
            stls_refused = true;
            return send_command("QUIT\r\n", FIND_QUIT_SENT);
        }
        find_state = FIND_TLS_HANDSHAKE;
        net_start_tls();
        return POP_STOP;
    case FIND_TLS_HANDSHAKE:
        return POP_STOP;
    case FIND_QUIT_SENT:
        return POP_CONTINUE;
    }
    return POP_CONTINUE;
}

// With TLS from the first byte the greeting follows the handshake; after
// STLS the capabilities are asked again.
void find_tls_ready(void)
{
    tls_up = true;
    if (find_state == FIND_TLS_HANDSHAKE)
        send_command("CAPA\r\n", FIND_CAPA_SENT);
}

bool find_quit_sent(void)
{
    return find_state == FIND_QUIT_SENT;
}

void find_note_certificate(const char* failure)
{
    text_copy(certificate_failure, sizeof certificate_failure, failure);
}

static void log_choice(void)
{
    switch (found_security) {
    case SECURITY_TLS:
        log_line("暗号化は「TLS (995)」にしました: ポート 995 で TLS の接続ができました。");
        break;
    case SECURITY_STLS:
        log_line("暗号化は「STLS (110)」にしました: ポート 995 には応答がなく、110 で STLS が使えました。");
        break;
    default:
        log_line("暗号化は「なし」にしました: このサーバーは TLS にも STLS にも応えません。");
        log_line("通信は暗号化されず、安全ではありません。プロバイダーに暗号化の方法を問い合わせてください。");
        if (stls_refused)
            log_line("STLS は断られました。");
        else if (stls_failure[0] != '\0') {
            char line[128];
            snprintf(line, sizeof line, "STLS のあとの TLS の接続に失敗しました: %s", stls_failure);
            log_line(line);
        }
        break;
    }
}

void find_end(void)
{
    pop_conversation = CONVERSATION_CHECK;
    settings.SECURITY = kept_security;
    if (stopped)
        return;
    log_append("■ 結果\r\n");
    if (found_security < 0) {
        log_line("サーバーはポート 995 にも 110 にも POP3 で応答しませんでした。"
                 "サーバー名とインターネット接続を確かめてください。");
        return;
    }
    log_choice();
    if (found_security != SECURITY_NONE && certificate_failure[0] != '\0') {
        char line[128];
        snprintf(line, sizeof line, "証明書が信頼できません: %s", certificate_failure);
        log_line(line);
        log_line(hint_for(certificate_failure));
    } else if (found_security != SECURITY_NONE) {
        log_line("証明書は信頼でき、サーバー名とも一致しています。");
    }
    // Over TLS the password is protected anyway, and USER/PASS works with
    // every kind of password the server knows.
    bool use_apop = found_security == SECURITY_NONE && has_time_stamp;
    if (!has_time_stamp)
        log_line("このサーバーは APOP に対応していません。「APOPを使用する」は外しました。");
    else if (use_apop)
        log_line("APOP に対応しています。パスワードを伏せて送るため「APOPを使用する」を入れました。");
    else
        log_line("APOP にも対応していますが、暗号化するので「APOPを使用する」は外しました。");
    if (!capa_answered)
        log_line("CAPA に応答がないため、UIDL に対応しているかはわかりません。");
    else {
        char line[CAPABILITIES_CAPACITY + 32];
        snprintf(line, sizeof line, "サーバーの機能: %s", capabilities);
        log_line(line);
        log_line(offers_uidl ? "UIDL に対応しています: 「メールをサーバーに残す」が使えます。"
                             : "UIDL に対応していません: 「メールをサーバーに残す」は使えません。");
    }
    log_line("次に、ユーザー名とパスワードを入れて「通信テスト」を押してください。");
    account_show_found(found_security, use_apop);
}
