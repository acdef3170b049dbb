// Reading the controls of another process's dialogs as they are now: the
// text an edit holds, a button's check state, a tab strip's tabs, and the
// window that has the keyboard focus.
//
// Wine keeps a window's text in the server only when DefWindowProc sets
// it; an edit keeps its own buffer, so GetWindowTextW of another process's
// edit answers the text it was created with. These ask the control itself,
// with a message bounded by a time-out, so a busy program cannot hang the
// probe.
#pragma once

#include <windows.h>

#include <string>

#include "command.h"

// The control's text through WM_GETTEXTLENGTH and WM_GETTEXT; false when
// the program did not answer within the time-out.
bool control_text(HWND control, std::wstring* text);

// BM_GETCHECK of a button: 0 unchecked, 1 checked, 2 indeterminate; false
// when the program did not answer.
bool button_check(HWND button, LRESULT* state);

bool cmd_tabs(const Args& args, Json& reply, std::string* error);
bool cmd_focus(const Args& args, Json& reply, std::string* error);
