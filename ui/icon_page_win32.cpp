// The icon page: an icon file, a browse button and a live preview for each
// of the six state icons.
//
// The previews are real icon handles owned by the page, loaded at the size
// the tray uses for the slot. On OK they become the program's state icons
// (copies of them; the old ones are destroyed), so the change shows without
// reloading; the page's own are destroyed with the page.
#include <windows.h>

#include <prsht.h>
#include <string.h>

#include "core/app_win32.h"
#include "core/text.h"
#include "core/wide_win32.h"
#include "res/sheet_resource.h"
#include "settings/settings.h"
#include "tray/tray_win32.h"
#include "ui/pages_win32.h"

static const char ICON_FILTER[] = "アイコン(*.ico)\0*.ico\0";

// The longest file path the platform accepts, and its NUL.
enum { ICON_PATH_READ = MAX_PATH };

static const int PREVIEW_IDS[ICON_SLOT_COUNT] = {
    IDC_ICON_PREVIEW_POPUP,  IDC_ICON_PREVIEW_NORMAL, IDC_ICON_PREVIEW_CHECK,
    IDC_ICON_PREVIEW_ARRIVE, IDC_ICON_PREVIEW_ERROR,  IDC_ICON_PREVIEW_WAIT,
};

static HICON previews[ICON_SLOT_COUNT];                     // owned by the page until OK
static char preview_paths[ICON_SLOT_COUNT][ICON_PATH_READ]; // what each preview was loaded from
static HWND preview_controls[ICON_SLOT_COUNT];
static HWND path_edits[ICON_SLOT_COUNT];
static bool initialised;

static void on_init(HWND page)
{
    initialised = false;
    for (int slot = 0; slot < ICON_SLOT_COUNT; slot++) {
        preview_controls[slot] = GetDlgItem(page, PREVIEW_IDS[slot]);
        path_edits[slot] = GetDlgItem(page, IDC_ICON_PATH_FIRST + slot);
        previews[slot] = state_icons[slot] ? CopyIcon(state_icons[slot]) : NULL;
        text_copy(preview_paths[slot], ICON_PATH_READ, settings.icon_file[slot]);
        SendMessageW(preview_controls[slot], STM_SETICON, (WPARAM)state_icons[slot], 0);
        sheet_limit_text(page, IDC_ICON_PATH_FIRST + slot, PATH_CAPACITY - 1);
        window_set_text(path_edits[slot], settings.icon_file[slot]);
    }
    initialised = true;
}

// An empty path or a file that is not an icon gives the built-in icon.
static void reload_preview(int slot)
{
    char path[ICON_PATH_READ];
    window_get_text(path_edits[slot], path, sizeof path);
    text_copy(preview_paths[slot], ICON_PATH_READ, path);
    IconSlot icon_slot = (IconSlot)slot;
    int size = icon_size(icon_slot);
    wchar_t wide_path[ICON_PATH_READ];
    wide_from_cp932(path, wide_path, ICON_PATH_READ);
    HICON icon = (HICON)LoadImageW(NULL, wide_path, IMAGE_ICON, size, size,
                                   LR_LOADFROMFILE | LR_DEFAULTSIZE);
    if (!icon)
        icon = (HICON)LoadImageW(app_instance, MAKEINTRESOURCEW(icon_resource(icon_slot)),
                                 IMAGE_ICON, size, size, LR_DEFAULTSIZE);
    if (previews[slot])
        DestroyIcon(previews[slot]);
    previews[slot] = icon;
    SendMessageW(preview_controls[slot], STM_SETICON, (WPARAM)icon, 0);
}

void icon_page_reload_previews(void)
{
    if (!initialised)
        return;
    for (int slot = 0; slot < ICON_SLOT_COUNT; slot++)
        reload_preview(slot);
}

static void on_command(HWND page, int id, int code)
{
    int browse_slot = id - IDC_ICON_BROWSE_FIRST;
    int path_slot = id - IDC_ICON_PATH_FIRST;
    if (browse_slot >= 0 && browse_slot < ICON_SLOT_COUNT && code == BN_CLICKED) {
        if (choose_file(path_edits[browse_slot], ICON_FILTER)) {
            reload_preview(browse_slot);
            sheet_page_changed(page);
        }
    } else if (path_slot >= 0 && path_slot < ICON_SLOT_COUNT) {
        if (code == EN_KILLFOCUS)
            reload_preview(path_slot);
        else if (code == EN_CHANGE && initialised)
            sheet_page_changed(page);
    }
}

static INT_PTR on_apply(HWND page)
{
    settings_applied = 1;
    for (int slot = 0; slot < ICON_SLOT_COUNT; slot++) {
        window_get_text(path_edits[slot], settings.icon_file[slot], PATH_CAPACITY);
        // A path typed and confirmed with Enter never lost the focus: the
        // icon handed over must be the one the stored path names.
        if (strcmp(settings.icon_file[slot], preview_paths[slot]) != 0)
            reload_preview(slot);
    }
    // Copies: the page keeps its previews, so OK pressed again after a save
    // that failed hands over the same icons.
    for (int slot = 0; slot < ICON_SLOT_COUNT; slot++) {
        HICON icon = previews[slot] ? CopyIcon(previews[slot]) : NULL;
        if (state_icons[slot])
            DestroyIcon(state_icons[slot]);
        state_icons[slot] = icon;
    }
    return sheet_apply_succeeded(page);
}

static void on_destroy(void)
{
    for (int slot = 0; slot < ICON_SLOT_COUNT; slot++) {
        if (previews[slot])
            DestroyIcon(previews[slot]);
        previews[slot] = NULL;
        preview_controls[slot] = NULL;
        path_edits[slot] = NULL;
    }
    initialised = false;
}

INT_PTR CALLBACK icon_page_proc(HWND page, UINT message, WPARAM wparam, LPARAM lparam)
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
        on_destroy();
        return FALSE;
    }
    return FALSE;
}
