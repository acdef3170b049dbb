// One POP3 conversation: STLS when asked for, log in (APOP or USER/PASS),
// STAT, with unique-id tracking LIST and UIDL, with SHOW_HEADERS the header
// of each message to announce (TOP n 0, after CAPA when there are several;
// together where the server takes commands together), then QUIT. Driven line
// by line by the response receiver; answers through net_send. Never
// retrieves or deletes a message.
#pragma once

#include <stdint.h>

// Numbered as the session's states have always been: the UIDL states come
// before the LIST states although LIST is asked first.
enum PopState {
    POP_GREETING = 1,
    POP_USER_SENT = 2,
    POP_AUTH_SENT = 3, // PASS or APOP
    POP_STAT_SENT = 4,
    POP_UIDL_SENT = 5,
    POP_UIDL_LIST = 6,
    POP_LIST_SENT = 7,
    POP_LIST_LIST = 8,
    POP_QUIT_SENT = 9,
    POP_STLS_SENT = 10,     // before logging in, with SECURITY_STLS only
    POP_TLS_HANDSHAKE = 11, // STLS accepted: the connection layer runs the handshake
    POP_TOP_SENT = 12,      // with SHOW_HEADERS only: the first line of the reply to TOP
    POP_TOP_LIST = 13,      // the header's lines up to the terminator
    POP_CAPA_SENT = 14,     // with SHOW_HEADERS and two headers or more to read
    POP_CAPA_LIST = 15      // its capability lines up to the terminator
};

enum ErrorKind {
    ERROR_NONE = 0,
    ERROR_FAILED = 1,
    ERROR_ABORTED = 2 // by the user; set only by the controller
};

enum { ERROR_TEXT_CAPACITY = 64 };

// What the last check found, or why it failed.
struct SessionResult {
    int32_t error_kind;
    char error_text[ERROR_TEXT_CAPACITY];
    int32_t message_count; // new messages
    int64_t total_size;    // their bytes; 64 bits, mailboxes exceed 2 GiB
};

extern SessionResult session;
extern PopState pop_state;

// Which conversation the session holds: a check, or a search for the
// server's settings (pop3/finder.h), which never logs in.
enum Conversation { CONVERSATION_CHECK, CONVERSATION_FIND };
extern Conversation pop_conversation;

enum PopStep {
    POP_CONTINUE, // the next line may follow in the same chunk
    POP_STOP      // a command was sent or the session failed: drop the rest of the chunk
};

// Empties the receiver's line and waits for a greeting. Called at every connect.
void pop_reset(void);

// One complete accepted line of `length` bytes, CR LF included, in line_buffer.
PopStep pop_handle_line(int length);

// The first `length` bytes of a header line too long for line_buffer, which
// holds them; the rest of the line is dropped.
void pop_handle_cut_line(int length);

bool pop_quit_sent(void);
// QUIT has had its "+OK": the check is complete, whether the server closes or not.
bool pop_quit_answered(void);

// The handshake that STLS began has succeeded: the login follows.
void pop_tls_ready(void);

// The server's certificate did not pass, for the reason given: a check
// fails with it; a search for the server's settings notes it and goes on.
void pop_certificate_refused(const char* failure);

// Why a check ends when the server answers STLS with anything but "+OK".
extern const char STLS_REFUSED_TEXT[];

enum { POP_SERVER_KEY_CAPACITY = 72 }; // the security's digit, a blank and a 64-byte name

// The server that offered PIPELINING when last asked, as "security server"
// from the settings, or empty. With SHOW_HEADERS its later checks send their
// commands together without asking again: STAT, LIST and UIDL, then the TOPs
// and QUIT. A check that ends before QUIT's answer forgets it.
extern char pop_pipelining_server[POP_SERVER_KEY_CAPACITY];

// Whether a CAPA line names the capability: its first word, upper case as
// RFC 2449 gives it.
bool pop_capability_is(const char* line, const char* name);

// Logs text as it stands and keeps its first 63 bytes as error_text.
// Leaves error_kind to the caller.
void set_error_text(const char* text);
