#include "core/wide_win32.h"

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

static int wide_from(UINT code_page, const char* text, wchar_t* out, int capacity)
{
    int length = MultiByteToWideChar(code_page, 0, text, -1, whole, WHOLE_CAPACITY);
    if (length == 0) { // longer than any field: keep what fits of the first part
        length = MultiByteToWideChar(code_page, 0, text, WHOLE_CAPACITY / 2, whole,
                                     WHOLE_CAPACITY - 1);
        whole[length++] = L'\0';
    }
    return cut_wide(whole, length - 1, out, capacity);
}

int wide_from_cp932(const char* text, wchar_t* out, int capacity)
{
    return wide_from(CP_SHIFT_JIS, text, out, capacity);
}

int wide_from_utf8(const char* text, wchar_t* out, int capacity)
{
    return wide_from(CP_UTF8, text, out, capacity);
}

int cp932_from_wide(const wchar_t* text, char* out, int capacity)
{
    if (capacity <= 0)
        return 0;
    int length = 0;
    for (; text[0] != L'\0'; text++) {
        char bytes[4];
        BOOL lost = FALSE;
        int size = WideCharToMultiByte(CP_SHIFT_JIS, 0, text, 1, bytes, sizeof bytes, nullptr,
                                       &lost);
        if (size <= 0) { // half of a surrogate pair: not in code page 932
            bytes[0] = '?';
            size = 1;
        }
        if (length + size > capacity - 1)
            break;
        CopyMemory(out + length, bytes, size);
        length += size;
    }
    out[length] = '\0';
    return length;
}
