// The always-on-top notification popup. Every call does nothing while there
// is no popup window.
#pragma once

#include <stdint.h>

#include "core/check_state.h"
#include "header/header.h"

enum {
    POPUP_MAIL_LINES = 5,
    POPUP_LINE_CAPACITY = 2 * HEADER_TEXT_CAPACITY + 2,
    POPUP_REST_CAPACITY = 32
};

// The new messages listed under the count line, newest first: sender then
// subject in UTF-8, and the line for the new ones not listed ("ほか N 通",
// code page 932), empty when every one is listed.
struct PopupMail {
    int32_t count;
    char lines[POPUP_MAIL_LINES][POPUP_LINE_CAPACITY];
    char rest[POPUP_REST_CAPACITY];
};

void popup_create(void);
void popup_destroy(void);
// mail may list nothing: the popup then has its heading, count line and
// buttons only.
void popup_show(const char* heading, const char* text, const PopupMail* mail);
void popup_hide(void);
void popup_refresh_colors(void);
// Disabled in Checking, SettingsOpen, Testing and MailProgramRunning.
void popup_enable_for_state(CheckState state);
