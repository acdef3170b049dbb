// Finding a server's settings from its name alone: TLS on 995, then port
// 110 with STLS, or clear text when that is all the server offers. Each
// attempt is a short conversation (the greeting, CAPA, STLS where offered,
// QUIT) that never sends a user name or a password. The controller runs the
// attempts one after another, each a session of the connection layer.
#pragma once

#include "pop3/session.h"

// Before the first attempt: the settings the attempts change are kept.
void find_begin(void);
// Sets up the next attempt and logs what it tries; false when the search is
// over (a server answered, every port was tried, or the user stopped it).
bool find_next_attempt(void);
// The attempt's session has ended, as error_kind says.
void find_attempt_over(void);
// The user stopped the search; find_end then concludes nothing.
void find_stop(void);
// Logs what was found and what the user must still do, shows the choices
// on the account page, and puts the kept settings back.
void find_end(void);

// The conversation, driven by the receiver and the TLS layer while
// pop_conversation is CONVERSATION_FIND.
PopStep find_handle_line(const char* line);
void find_tls_ready(void);
bool find_quit_sent(void);
void find_note_certificate(const char* failure);
