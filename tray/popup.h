// The always-on-top notification popup. Every call does nothing while there
// is no popup window.
#pragma once

#include "core/check_state.h"

void popup_create(void);
void popup_destroy(void);
void popup_show(const char* heading, const char* text);
void popup_hide(void);
void popup_refresh_colors(void);
// Disabled in Checking, SettingsOpen, Testing and MailProgramRunning.
void popup_enable_for_state(CheckState state);
