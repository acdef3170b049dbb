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

// "新着メールはありません", or "%d 通のメール" with the size in bytes, K or M.
void format_outcome(char* out, size_t capacity, int32_t count, int64_t size);
