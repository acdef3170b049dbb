// The timing page: check interval, start-up wait, retry count and retry
// interval, each an edit with an up-down, and the stop-on-new-mail switch.
//
// A number the user typed outside its range is replaced by the field's
// default when its edit loses the focus, and on OK in the edit that still
// has it (Enter), so what is stored is what the user would have seen on
// leaving the box. A stored value beyond the range that nobody edited stays
// as it is, wherever the focus went.
#include <windows.h>

#include <prsht.h>

#include "core/wide_win32.h"
#include "res/sheet_resource.h"
#include "settings/settings.h"
#include "ui/pages_win32.h"

struct TimingField {
    int edit;
    int updown;
    int length_limit; // digits
    int minimum, maximum;
    const char* fallback; // the INI default of the same key
};

enum { TIMING_FIELD_COUNT = 4 };

// In the order the page fills them.
static const TimingField FIELDS[TIMING_FIELD_COUNT] = {
    {IDC_TIMING_STARTUP_WAIT, IDC_TIMING_STARTUP_SPIN, 3, 1, 120, "3"},
    {IDC_TIMING_INTERVAL, IDC_TIMING_INTERVAL_SPIN, 2, 3, 60, "5"},
    {IDC_TIMING_RETRY_MAX, IDC_TIMING_RETRY_MAX_SPIN, 1, 0, 9, "3"},
    {IDC_TIMING_RETRY_INTERVAL, IDC_TIMING_RETRY_INTERVAL_SPIN, 2, 10, 60, "10"},
};

static bool initialised;

static const TimingField* field_of_edit(int id)
{
    for (const TimingField& field : FIELDS) {
        if (field.edit == id)
            return &field;
    }
    return nullptr;
}

static void on_init(HWND page)
{
    const int32_t values[TIMING_FIELD_COUNT] = {settings.STARTUP_WAIT, (int32_t)settings.INTERVAL,
                                                settings.RETRY_MAX, settings.RETRY_INTERVAL};
    for (int i = 0; i < TIMING_FIELD_COUNT; i++) {
        sheet_limit_text(page, FIELDS[i].edit, FIELDS[i].length_limit);
        sheet_set_int(page, FIELDS[i].edit, values[i]);
        sheet_set_updown_range(page, FIELDS[i].updown, FIELDS[i].minimum, FIELDS[i].maximum);
    }
    sheet_set_check(page, IDC_TIMING_STOP_IF_MSG, settings.STOP_IF_MSG);
    initialised = true;
}

static void on_edit_event(HWND page, const TimingField& field, int code)
{
    if (code == EN_CHANGE && initialised) {
        sheet_page_changed(page);
    } else if (code == EN_KILLFOCUS) {
        sheet_hold_in_range(page, field.edit, field.minimum, field.maximum, field.fallback);
    }
}

static void restore_defaults(HWND page)
{
    for (const TimingField& field : FIELDS)
        dialog_set_text(page, field.edit, field.fallback);
    sheet_page_changed(page);
}

static void on_command(HWND page, int id, int code)
{
    if (const TimingField* field = field_of_edit(id)) {
        on_edit_event(page, *field, code);
    } else if (code == BN_CLICKED) {
        if (id == IDC_TIMING_DEFAULTS)
            restore_defaults(page);
        else if (id == IDC_TIMING_STOP_IF_MSG)
            sheet_page_changed(page);
    }
}

static INT_PTR on_apply(HWND page)
{
    settings_applied = 1;
    for (const TimingField& field : FIELDS) {
        if (GetFocus() == GetDlgItem(page, field.edit)) // OK by Enter
            sheet_hold_in_range(page, field.edit, field.minimum, field.maximum, field.fallback);
    }
    settings.INTERVAL = (uint32_t)sheet_get_int(page, IDC_TIMING_INTERVAL, INT_READ_MAX);
    settings.STARTUP_WAIT = sheet_get_int(page, IDC_TIMING_STARTUP_WAIT, INT_READ_MAX);
    settings.RETRY_MAX = sheet_get_int(page, IDC_TIMING_RETRY_MAX, INT_READ_MAX);
    settings.RETRY_INTERVAL = sheet_get_int(page, IDC_TIMING_RETRY_INTERVAL, INT_READ_MAX);
    settings.STOP_IF_MSG = sheet_get_check(page, IDC_TIMING_STOP_IF_MSG);
    return sheet_apply_succeeded(page);
}

INT_PTR CALLBACK timing_page_proc(HWND page, UINT message, WPARAM wparam, LPARAM lparam)
{
    switch (message) {
    case WM_INITDIALOG:
        on_init(page);
        return TRUE;
    case WM_COMMAND:
        if (HIWORD(wparam) == EN_CHANGE)
            sheet_hold_byte_limit((HWND)lparam);
        on_command(page, LOWORD(wparam), HIWORD(wparam));
        return FALSE;
    case WM_NOTIFY:
        if (((NMHDR*)lparam)->code == PSN_APPLY)
            return on_apply(page);
        return FALSE;
    case WM_DESTROY:
        initialised = false;
        return FALSE;
    }
    return FALSE;
}
