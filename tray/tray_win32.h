// The tray icon's Windows side: the loaded state icons, the shell
// registration and the shell's version.
#pragma once

#include <windows.h>

#include "tray/icon_slot.h"

// Owned here; a handle is destroyed when it is replaced and at exit. The
// icon page hands over its own handles when the user confirms it.
extern HICON state_icons[ICON_SLOT_COUNT];

// Major * 100 + minor of shell32.dll; 400 when it cannot be learned.
extern int shell_version;
int query_shell_version(void);

void load_default_icons(void);
void load_custom_icons(void);
void free_icons(void);

// Built-in resource id and size of each slot's icon, for the task bar's
// colour and the display's scale.
int icon_resource(IconSlot slot);
int icon_size(IconSlot slot);

// Registers the icon, retrying while the shell times out; tells the user
// and returns -1 when it cannot.
int tray_add(HICON icon);
// The task bar turned light or dark, or the display's scale changed: the
// state icons are loaded again for it and the tray shows the new image.
// True when they were.
bool tray_follow_theme(void);
bool tray_follow_dpi(int dpi);
void tray_readd(void);
void tray_remove(void);

// The icon's place on the screen, where the shell can tell (Windows 7 and
// later); false otherwise.
bool tray_icon_rect(RECT* rect);

// The new-mail balloon with a text already in UTF-16, cut to what the shell
// takes without splitting a character; tray_balloon converts the program's.
void tray_balloon_wide(const wchar_t* text);
