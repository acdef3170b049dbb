// What the settings sheet's pages share: their dialog procedures, the
// control helpers every page uses, and the choosers and picker that more
// than one page or file needs.
#pragma once

#include <windows.h>

#include <stdint.h>

// Reading integers: the shared helper takes at most 19 bytes of a control's
// text; the focus-loss checks of the timing and notification pages take 9.
enum { INT_READ_MAX = 19, FOCUS_READ_MAX = 9 };

// The longest limit any edit of the sheet has: a path of 260 bytes.
enum { BYTE_LIMIT_MAX = 260 };

INT_PTR CALLBACK notify_page_proc(HWND page, UINT message, WPARAM wparam, LPARAM lparam);
INT_PTR CALLBACK account_page_proc(HWND page, UINT message, WPARAM wparam, LPARAM lparam);
INT_PTR CALLBACK timing_page_proc(HWND page, UINT message, WPARAM wparam, LPARAM lparam);
INT_PTR CALLBACK icon_page_proc(HWND page, UINT message, WPARAM wparam, LPARAM lparam);
INT_PTR CALLBACK about_page_proc(HWND page, UINT message, WPARAM wparam, LPARAM lparam);

// The tray's icons were loaded again for another scale or task bar colour:
// the open icon page shows its previews at that scale, from what its path
// edits name. Nothing without the page.
void icon_page_reload_previews(void);

// Control helpers. Limits and lengths count bytes of code page 932.
void sheet_limit_text(HWND page, int id, int bytes);
// Called for every EN_CHANGE: holds a limited edit to its limit in bytes
// where the control itself counts characters.
void sheet_hold_byte_limit(HWND edit);
void sheet_set_int(HWND page, int id, int32_t value);
// Leading white space, one sign, the leading digits; 0 without digits.
// Reads at most max_bytes of the text and holds the value to 32 bits.
int32_t sheet_get_int(HWND page, int id, int max_bytes);
// A number edit's check on losing the focus: a value outside minimum to
// maximum gives way to the fallback text. OK pressed by Enter leaves the
// focus where it is, so the apply steps run the check on the focused edit.
// Only text the user changed is checked: the focus alone (a tab click gives
// it to the page's first edit on some systems) never rewrites a stored value.
void sheet_hold_in_range(HWND page, int id, int minimum, int maximum, const char* fallback);
bool sheet_get_check(HWND page, int id);
void sheet_set_check(HWND page, int id, int32_t value);
void sheet_set_updown_range(HWND page, int id, int minimum, int maximum);
void sheet_append_text(HWND edit, const char* text);

// Tells the sheet that the user edited a control of the page.
void sheet_page_changed(HWND page);

// The answer of a page's dialog procedure to the sheet's apply notice once
// the page has stored its values. The last page to store saves the INI
// file; when that fails the user is told why and the sheet stays open.
INT_PTR sheet_apply_succeeded(HWND page);

// The answer when a page could not write a file of its own (the startup
// shortcut): what failed, the file and the SaveResult are shown, and the
// sheet stays open.
INT_PTR save_failed(HWND page, const char* what, const char* file, int result);

// The common colour dialog with the program's custom-colour table. Returns
// true with *color updated when the user confirms.
bool choose_color(uint32_t* color);

// The common open-file dialog for one filter ("name\0pattern\0\0"). Returns
// true with the chosen path written into the edit when the user confirms.
bool choose_file(HWND edit, const char* filter);

// Runs the popup position picker modally under the notification page; it
// writes POPUPDLG_X and POPUPDLG_Y as the user clicks.
void position_picker_run(HWND page, HWND position_button);
