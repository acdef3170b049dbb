// The tray icon as the check controller and outcome reporting use it.
#pragma once

#include "tray/icon_slot.h"

// Shows the loaded icon of the slot in the tray.
void tray_set_icon(IconSlot slot);

// The tool tip keeps the first 63 bytes of text up to its first line break.
void tray_set_tip(const char* text);

// The new-mail balloon; nothing on shells older than version 5.0. It
// begins with headline (UTF-8; may be empty), then text, cutting the
// headline where both do not fit.
void tray_balloon(const char* text, const char* headline);

// What the tray shows now: the slot set last and the tip as cut.
IconSlot tray_icon_shown(void);
const char* tray_tip_shown(void);
