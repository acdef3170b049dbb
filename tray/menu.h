// The tray icon's menu: 設定, チェック/中止, 一時停止, 終了.
#pragma once

#include "core/check_state.h"

enum { IDM_SETTINGS = 2000, IDM_CHECK = 2001, IDM_PAUSE = 2002, IDM_EXIT = 2003 };

void menu_create(void);
void menu_destroy(void);
// Opens the menu at the mouse pointer; the chosen item arrives as WM_COMMAND.
void menu_show(void);

void menu_update_for_state(CheckState state);
void menu_set_paused(bool paused);
