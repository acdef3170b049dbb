// The POP3 conversation, one accepted line at a time.
//
// Every command is sent first and logged after, the password and the APOP
// digest masked in the log. Listing lines (LIST and UIDL, up to their "."
// line) go to the seen-message store unlogged. With STLS the greeting's time
// stamp is kept while the connection layer runs the handshake, and the login
// follows it; a refused STLS ends the check, never falling back to clear text.
// TOP is optional: a server that refuses it ends the series, not the check,
// and the announcement is the count alone. When there are two headers or
// more to read, CAPA is asked first, and a server that offers PIPELINING gets
// every TOP and QUIT in one send: each would otherwise cost a wait for the
// server, and under Wine a wait for a notice as well. That server's later
// checks skip CAPA and send STAT, LIST and UIDL together too.
#include "pop3/session.h"

#include <stdio.h>
#include <string.h>

#include "core/text.h"
#include "pop3/finder.h"
#include "pop3/md5.h"
#include "pop3/net.h"
#include "pop3/receiver.h"
#include "pop3/top.h"
#include "pop3/uidl_store.h"
#include "settings/settings.h"
#include "ui/session_log.h"

SessionResult session;
PopState pop_state = POP_GREETING;
Conversation pop_conversation = CONVERSATION_CHECK;
const char STLS_REFUSED_TEXT[] = "サーバーがSTLSを受け付けません";

enum {
    APOP_INPUT_CAPACITY = 1500, // time stamp and password: 1499 bytes + NUL
    COMMAND_CAPACITY = 128,     // "APOP " + 64-byte user + " " + digest + CR LF
    SUMMARY_LOG_CAPACITY = 2 * HEADER_TEXT_CAPACITY + 32
};

// The greeting's APOP time stamp, "<" to ">" included.
static char time_stamp[APOP_INPUT_CAPACITY];
static bool quit_answered;
static bool pipelining;    // CAPA offered PIPELINING
static bool listing_ahead; // LIST and UIDL went with STAT
static bool quit_ahead;    // QUIT went with the TOPs

char pop_pipelining_server[POP_SERVER_KEY_CAPACITY];

static PopStep fail(const char* text)
{
    set_error_text(text);
    session.error_kind = ERROR_FAILED;
    return POP_STOP;
}

void set_error_text(const char* text)
{
    log_append(text);
    text_copy(session.error_text, sizeof session.error_text, text);
}

void pop_reset(void)
{
    line_length = 0;
    line_dropping = false;
    pop_state = POP_GREETING;
    top_reset();
    // Whatever ended the last conversation early, it may have been a server
    // that takes commands together no longer: the next asks again.
    if (!quit_answered)
        pop_pipelining_server[0] = '\0';
    quit_answered = false;
}

static void server_key(char* key)
{
    snprintf(key, POP_SERVER_KEY_CAPACITY, "%d %s", (int)settings.SECURITY, settings.SERVER);
}

// Known to take commands together, and they are to be sent so: never with
// SHOW_HEADERS off, whose conversation is always one command at a time.
static bool server_pipelines(void)
{
    char key[POP_SERVER_KEY_CAPACITY];
    server_key(key);
    return settings.SHOW_HEADERS && strcmp(key, pop_pipelining_server) == 0;
}

bool pop_quit_sent(void)
{
    if (pop_conversation == CONVERSATION_FIND)
        return find_quit_sent();
    return pop_state == POP_QUIT_SENT;
}

void pop_certificate_refused(const char* failure)
{
    if (pop_conversation == CONVERSATION_FIND)
        find_note_certificate(failure);
    else
        fail(failure);
}

bool pop_quit_answered(void)
{
    return quit_answered;
}

static PopStep send_command(const char* command, const char* logged, PopState next)
{
    net_send(command, (int)strlen(command));
    log_append(logged);
    pop_state = next;
    return POP_STOP;
}

// The time stamp and the password are joined in APOP_INPUT_CAPACITY bytes;
// both are known from the greeting on, so the limit is held there.
static bool keep_time_stamp(const char* greeting)
{
    const char* open = strchr(greeting, '<');
    const char* close = open ? strchr(open, '>') : nullptr;
    if (!close) {
        fail("APOP非対応ｻｰﾊﾞｰまたは受信ﾃﾞｰﾀｴﾗｰ");
        return false;
    }
    size_t stamp_length = (size_t)(close - open) + 1;
    if (stamp_length + strlen(settings.plain_password) > APOP_INPUT_CAPACITY - 1) {
        fail("受信データエラー");
        return false;
    }
    memcpy(time_stamp, open, stamp_length);
    time_stamp[stamp_length] = '\0';
    return true;
}

static PopStep send_apop(void)
{
    char input[APOP_INPUT_CAPACITY];
    text_copy(input, sizeof input, time_stamp);
    text_append(input, sizeof input, settings.plain_password);
    char digest[MD5_HEX_CAPACITY];
    md5_hex(digest, input);

    char command[COMMAND_CAPACITY], logged[COMMAND_CAPACITY];
    snprintf(command, sizeof command, "APOP %s %s\r\n", settings.ACCOUNT, digest);
    snprintf(logged, sizeof logged, "APOP %s *****\r\n", settings.ACCOUNT);
    return send_command(command, logged, POP_AUTH_SENT);
}

static PopStep log_in(void)
{
    if (settings.USEAPOP)
        return send_apop();
    char command[COMMAND_CAPACITY];
    snprintf(command, sizeof command, "USER %s\r\n", settings.ACCOUNT);
    return send_command(command, command, POP_USER_SENT);
}

void pop_tls_ready(void)
{
    if (pop_conversation == CONVERSATION_FIND)
        find_tls_ready();
    else if (pop_state == POP_TLS_HANDSHAKE)
        log_in();
}

// QUIT's reply is next: every reply before it has been read, and with
// unique ids the listing is complete, ready to be taken as seen.
static void await_quit_reply(void)
{
    pop_state = POP_QUIT_SENT;
    if (settings.USEUIDL)
        uidl_end_listing();
}

// QUIT ends every check that has not failed.
static PopStep send_quit(void)
{
    send_command("QUIT\r\n", "QUIT\r\n", POP_QUIT_SENT);
    await_quit_reply();
    return POP_STOP;
}

static PopStep send_top_or_quit(void)
{
    int32_t number = top_next();
    if (number == 0)
        return send_quit();
    char command[COMMAND_CAPACITY];
    snprintf(command, sizeof command, "TOP %d 0\r\n", (int)number);
    return send_command(command, command, POP_TOP_SENT);
}

// Every TOP of the series and QUIT in one send; the replies come in the same order.
static PopStep send_tops_together(void)
{
    char commands[TOP_MESSAGES_MAX * sizeof "TOP 2147483647 0\r\n" + sizeof "QUIT\r\n"];
    int length = 0;
    for (int32_t number; (number = top_next()) != 0;)
        length += snprintf(commands + length, sizeof commands - (size_t)length, "TOP %d 0\r\n",
                           (int)number);
    text_append(commands, sizeof commands, "QUIT\r\n");
    quit_ahead = true;
    return send_command(commands, commands, POP_TOP_SENT);
}

// Once the count is known: the headers of what is about to be announced, if asked.
static PopStep after_count(void)
{
    if (!settings.SHOW_HEADERS)
        return send_quit();
    top_choose(session.message_count, session.total_size);
    pipelining = quit_ahead = false;
    if (top_series.wanted <= 1)
        return send_top_or_quit();
    if (server_pipelines())
        return send_tops_together();
    return send_command("CAPA\r\n", "CAPA\r\n", POP_CAPA_SENT);
}

bool pop_capability_is(const char* line, const char* name)
{
    size_t length = strlen(name);
    return strncmp(line, name, length) == 0 &&
           (line[length] == '\0' || line[length] == ' ' || line[length] == '\r');
}

// A capability line, logged as the server sent it; the terminator starts the headers.
static PopStep read_capability(const char* line, int length)
{
    log_append(line);
    if (length == 3 && line[0] == '.') {
        if (!pipelining)
            return send_top_or_quit();
        server_key(pop_pipelining_server);
        return send_tops_together();
    }
    pipelining |= pop_capability_is(line, "PIPELINING");
    return POP_CONTINUE;
}

// The log shows who wrote and about what, never the header's own lines.
static void log_summary(const HeaderSummary* summary)
{
    char text[SUMMARY_LOG_CAPACITY];
    snprintf(text, sizeof text, u8"差出人: %s\r\n件名: %s\r\n", summary->sender,
             summary->subject);
    log_append_utf8(text);
}

// A reply to TOP has ended: the next one of those sent together, QUIT's
// when that went with them, or the next command.
static PopStep after_top_reply(void)
{
    if (top_awaiting()) {
        pop_state = POP_TOP_SENT;
        return POP_CONTINUE;
    }
    if (!quit_ahead)
        return send_top_or_quit();
    await_quit_reply();
    return POP_CONTINUE;
}

static PopStep read_top_reply(const char* line)
{
    if (strncmp(line, "+OK", 3) == 0) {
        pop_state = POP_TOP_LIST;
        return POP_CONTINUE;
    }
    if (!top_series.refused)
        log_append("TOPが使えないため、差出人と件名は表示しません\r\n");
    top_refused();
    return after_top_reply();
}

// A header line: the terminator ends it, a leading dot is stuffing.
static PopStep read_header_line(const char* line, int length)
{
    if (length == 3 && line[0] == '.') {
        const HeaderSummary* summary = top_header_end();
        if (summary)
            log_summary(summary);
        return after_top_reply();
    }
    int stuffed = line[0] == '.';
    top_header_line(line + stuffed, length - stuffed);
    return POP_CONTINUE;
}

void pop_handle_cut_line(int length)
{
    if (pop_state != POP_TOP_LIST || length <= 0)
        return;
    // Kept as one line with a line end of its own; room for it is made at
    // the buffer's end.
    int kept = length - (line_buffer[length - 1] == '\r');
    if (kept > RECEIVE_LINE_MAX - 2)
        kept = RECEIVE_LINE_MAX - 2;
    line_buffer[kept] = '\r';
    line_buffer[kept + 1] = '\n';
    int stuffed = line_buffer[0] == '.';
    top_header_line(line_buffer + stuffed, kept + 2 - stuffed);
}

// "+OK count size": tokens split at spaces and LF, runs counting as one.
static PopStep read_stat(const char* line)
{
    const char* token[3];
    int found = 0;
    for (const char* p = line; *p != '\0' && found < 3;) {
        while (*p == ' ' || *p == '\n')
            p++;
        if (*p == '\0')
            break;
        token[found++] = p;
        while (*p != '\0' && *p != ' ' && *p != '\n')
            p++;
    }
    if (found < 3)
        return fail("受信データエラー");
    session.message_count = text_parse_decimal32(token[1]);
    session.total_size = text_parse_decimal(token[2]);
    // A mailbox holds no fewer than no messages: shown, "-1 通のメール"
    // would read as news.
    if (session.message_count < 0 || session.total_size < 0)
        return fail("受信データエラー");
    return after_count();
}

// The listing's next command, unless it went with STAT: then its reply is next.
static PopStep send_listing_command(const char* command, PopState next)
{
    if (!listing_ahead)
        return send_command(command, command, next);
    pop_state = next;
    return POP_CONTINUE;
}

// A listing line without its CR LF, as the store reads it.
static char* listing_line(int length)
{
    if (length >= 2)
        line_buffer[length - 2] = '\0';
    return line_buffer;
}

PopStep pop_handle_line(int length)
{
    const char* line = line_buffer;
    switch (pop_state) {
    case POP_GREETING:
        if (settings.USEAPOP && !keep_time_stamp(line))
            return POP_STOP;
        if (settings.SECURITY == SECURITY_STLS)
            return send_command("STLS\r\n", "STLS\r\n", POP_STLS_SENT);
        return log_in();
    case POP_STLS_SENT:
        // What follows the "+OK" in its chunk is dropped: only TLS comes next.
        pop_state = POP_TLS_HANDSHAKE;
        net_start_tls();
        return POP_STOP;
    case POP_TLS_HANDSHAKE:
        return POP_STOP;
    case POP_USER_SENT: {
        char command[COMMAND_CAPACITY];
        snprintf(command, sizeof command, "PASS %s\r\n", settings.plain_password);
        return send_command(command, "PASS *****\r\n", POP_AUTH_SENT);
    }
    case POP_AUTH_SENT:
        listing_ahead = settings.USEUIDL && server_pipelines();
        if (listing_ahead)
            return send_command("STAT\r\nLIST\r\nUIDL\r\n", "STAT\r\nLIST\r\nUIDL\r\n",
                                POP_STAT_SENT);
        return send_command("STAT\r\n", "STAT\r\n", POP_STAT_SENT);
    case POP_STAT_SENT:
        if (!settings.USEUIDL)
            return read_stat(line);
        session.message_count = 0;
        session.total_size = 0;
        uidl_begin_listing();
        return send_listing_command("LIST\r\n", POP_LIST_SENT);
    case POP_LIST_SENT:
        pop_state = POP_LIST_LIST;
        return POP_CONTINUE;
    case POP_LIST_LIST:
        if (line[0] == '.')
            return send_listing_command("UIDL\r\n", POP_UIDL_SENT);
        if (uidl_on_list_line(listing_line(length)) != 0)
            return fail("LISTエラー");
        return POP_CONTINUE;
    case POP_UIDL_SENT:
        pop_state = POP_UIDL_LIST;
        return POP_CONTINUE;
    case POP_UIDL_LIST:
        if (line[0] == '.')
            return after_count();
        if (uidl_on_uidl_line(listing_line(length)) != 0)
            return fail("UIDLエラー");
        return POP_CONTINUE;
    case POP_CAPA_SENT:
        // Without CAPA the server cannot be known to take commands together.
        if (strncmp(line, "+OK", 3) != 0)
            return send_top_or_quit();
        pop_state = POP_CAPA_LIST;
        return POP_CONTINUE;
    case POP_CAPA_LIST:
        return read_capability(line, length);
    case POP_TOP_SENT:
        return read_top_reply(line);
    case POP_TOP_LIST:
        return read_header_line(line, length);
    case POP_QUIT_SENT:
        quit_answered = true; // the receiver let only "+OK" through
        return POP_CONTINUE;
    }
    return POP_CONTINUE;
}
