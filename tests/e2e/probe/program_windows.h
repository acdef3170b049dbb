// What the program under test shows outside the tray: its hidden main
// window, the notification popup, its message boxes and dialogs, and the
// resources its process holds.
#pragma once

#include <windows.h>

#include "command.h"

// The program's hidden main window (class "corvinaClass"), or null.
HWND program_main_window(void);

bool cmd_process(const Args& args, Json& reply, std::string* error);
bool cmd_command(const Args& args, Json& reply, std::string* error);
bool cmd_popup(const Args& args, Json& reply, std::string* error);
bool cmd_popup_click(const Args& args, Json& reply, std::string* error);
bool cmd_dialogs(const Args& args, Json& reply, std::string* error);
bool cmd_press(const Args& args, Json& reply, std::string* error);
bool cmd_resources(const Args& args, Json& reply, std::string* error);
