#include "core/wide_win32.h"

#include <string.h>

enum { CP_SHIFT_JIS = 932 };

// Windows' conversions either fit the whole text or fail, so a text is
// converted whole into room enough for any field the program shows, then cut.
enum { WHOLE_CAPACITY = 8192 };
static wchar_t whole[WHOLE_CAPACITY];

static int cut_wide(const wchar_t* from, int length, wchar_t* out, int capacity)
{
    if (capacity <= 0)
        return 0;
    if (length > capacity - 1) {
        length = capacity - 1;
        if (length > 0 && IS_HIGH_SURROGATE(from[length - 1]))
            length--;
    }
    CopyMemory(out, from, length * sizeof(wchar_t));
    out[length] = L'\0';
    return length;
}

// The bytes of text up to its end or limit that hold whole characters.
static int whole_characters(UINT code_page, const char* text, int limit)
{
    int length = 0;
    while (length < limit && text[length] != '\0') {
        int size =
            code_page == CP_SHIFT_JIS && IsDBCSLeadByteEx(CP_SHIFT_JIS, (BYTE)text[length]) ? 2 : 1;
        if (size == 2 && (length + 1 >= limit || text[length + 1] == '\0'))
            break;
        length += size;
    }
    if (code_page == CP_UTF8 && length == limit) // never the first bytes of a character alone
        while (length > 0 && ((BYTE)text[length] & 0xC0) == 0x80)
            length--;
    return length;
}

static int wide_from(UINT code_page, const char* text, wchar_t* out, int capacity)
{
    // Longer than any field: what fits of the first part.
    int bytes = whole_characters(code_page, text, WHOLE_CAPACITY / 2);
    int length =
        bytes == 0 ? 0 : MultiByteToWideChar(code_page, 0, text, bytes, whole, WHOLE_CAPACITY - 1);
    return cut_wide(whole, length, out, capacity);
}

int wide_from_cp932(const char* text, wchar_t* out, int capacity)
{
    return wide_from(CP_SHIFT_JIS, text, out, capacity);
}

int wide_from_utf8(const char* text, wchar_t* out, int capacity)
{
    return wide_from(CP_UTF8, text, out, capacity);
}

// Writes the first character of text in code page 932 into bytes.
static int cp932_character(const wchar_t* text, char* bytes, int* units)
{
    *units = IS_HIGH_SURROGATE(text[0]) && IS_LOW_SURROGATE(text[1]) ? 2 : 1;
    int size = WideCharToMultiByte(CP_SHIFT_JIS, 0, text, *units, bytes, 2, nullptr, nullptr);
    if (size <= 0 || *units == 2) { // outside code page 932: one sign for one character
        bytes[0] = '?';
        size = 1;
    }
    return size;
}

int cp932_character_size(const wchar_t* text, int* units)
{
    char bytes[2];
    return cp932_character(text, bytes, units);
}

int cp932_from_wide(const wchar_t* text, char* out, int capacity)
{
    if (capacity <= 0)
        return 0;
    int length = 0;
    while (text[0] != L'\0') {
        char bytes[2];
        int units = 0;
        int size = cp932_character(text, bytes, &units);
        if (length + size > capacity - 1)
            break;
        CopyMemory(out + length, bytes, size);
        length += size;
        text += units;
    }
    out[length] = '\0';
    return length;
}

enum { ALIAS_MAX = MAX_PATH };
static wchar_t alias_wide[ALIAS_MAX + 1];
static char alias_cp932[2 * ALIAS_MAX + 1];

void wide_path_alias(const wchar_t* folder)
{
    lstrcpynW(alias_wide, folder, ALIAS_MAX + 1);
    cp932_from_wide(alias_wide, alias_cp932, sizeof alias_cp932);
}

int wide_from_path(const char* path, wchar_t* out, int capacity)
{
    int prefix = lstrlenA(alias_cp932);
    if (prefix == 0 || strncmp(path, alias_cp932, (size_t)prefix) != 0)
        return wide_from_cp932(path, out, capacity);
    int length = lstrlenW(alias_wide);
    if (length >= capacity)
        return wide_from_cp932(path, out, capacity);
    CopyMemory(out, alias_wide, length * sizeof(wchar_t));
    return length + wide_from_cp932(path + prefix, out + length, capacity - length);
}

void window_set_text(HWND window, const char* text)
{
    wchar_t wide[WINDOW_TEXT_MAX + 1];
    wide_from_cp932(text, wide, WINDOW_TEXT_MAX + 1);
    SetWindowTextW(window, wide);
}

int window_get_text(HWND window, char* out, int capacity)
{
    wchar_t wide[WINDOW_TEXT_MAX + 1];
    if (GetWindowTextW(window, wide, WINDOW_TEXT_MAX + 1) == 0)
        wide[0] = L'\0';
    return cp932_from_wide(wide, out, capacity);
}

void dialog_set_text(HWND dialog, int id, const char* text)
{
    window_set_text(GetDlgItem(dialog, id), text);
}

int dialog_get_text(HWND dialog, int id, char* out, int capacity)
{
    return window_get_text(GetDlgItem(dialog, id), out, capacity);
}

int message_box(HWND owner, const char* text, const char* caption, UINT type)
{
    wchar_t wide_text[WINDOW_TEXT_MAX + 1];
    wchar_t wide_caption[WINDOW_TEXT_MAX + 1];
    wide_from_cp932(text, wide_text, WINDOW_TEXT_MAX + 1);
    wide_from_cp932(caption, wide_caption, WINDOW_TEXT_MAX + 1);
    return MessageBoxW(owner, wide_text, wide_caption, type);
}
