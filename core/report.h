// What a finished check looks like to the user: tool tip, icon, log line,
// and for mail not announced before, blinking, popup, balloon and sound.
#pragma once

#include <stddef.h>
#include <stdint.h>

enum { OUTCOME_TEXT_CAPACITY = 264 };

void report_outcome(void);

struct PopupMail;

// The lines the popup lists: who wrote and about what, from the headers the
// check read, and how many new ones are left out.
void format_popup_mail(PopupMail* mail);

// While the user is busy (core/busy.h) an announcement's popup and sound are
// held back; the icon blinks and the balloon goes to the shell, which keeps
// it for later by itself. Called on each tick while new mail blinks, this
// shows what was held once the user is free.
enum HeldAnnouncement { NOTHING_HELD, STILL_HELD, RELEASED };
HeldAnnouncement release_held_announcement(void);

// "新着メールはありません", or "%d 通のメール" with the size in bytes, K or M.
void format_outcome(char* out, size_t capacity, int32_t count, int64_t size);
