// The shortcut "メールチェッカー.lnk" in the user's Startup folder, written
// and read through the shell's link object.
//
// It counts as present only when it points at this very program file, so a
// shortcut left by another copy of the program reads as absent and is
// overwritten when the user asks for one. A shortcut that cannot be written
// or removed is reported to the settings sheet, which tells the user why;
// the existence test fails silently.
#include <windows.h>

#include <objbase.h>
#include <objidl.h>
#include <shlobj.h>

#include "core/app_win32.h"
#include "core/wide_win32.h"
#include "settings/save_failure_win32.h"
#include "settings/save_result.h"
#include "ui/shortcut.h"

static const char LINK_FILE_NAME[] = "\\メールチェッカー.lnk";
static const char LINK_DESCRIPTION[] = "メールチェッカー";
static const wchar_t LINK_ARGUMENTS[] = L"/s";

enum { PATH_MAX_UNITS = MAX_PATH, NAME_MAX_UNITS = 31, SHOWN_PATH_CAPACITY = 2 * MAX_PATH };

static char last_link_path[SHOWN_PATH_CAPACITY]; // the file shortcut_set worked on, to show

static void read_program_file(wchar_t* file)
{
    DWORD length = GetModuleFileNameW(NULL, file, PATH_MAX_UNITS);
    file[length < PATH_MAX_UNITS ? length : PATH_MAX_UNITS - 1] = L'\0';
}

// The link file's full name; false when the Startup folder cannot be found
// or the name would not fit.
static bool find_link_path(wchar_t* path)
{
    IMalloc* allocator = NULL;
    if (FAILED(SHGetMalloc(&allocator)))
        return false;
    LPITEMIDLIST folder = NULL;
    if (FAILED(SHGetSpecialFolderLocation(main_window, CSIDL_STARTUP, &folder))) {
        allocator->Release();
        return false;
    }
    BOOL found = SHGetPathFromIDListW(folder, path);
    allocator->Free(folder);
    allocator->Release();
    wchar_t name[NAME_MAX_UNITS + 1];
    int length = wide_from_cp932(LINK_FILE_NAME, name, NAME_MAX_UNITS + 1);
    if (!found || lstrlenW(path) + length >= PATH_MAX_UNITS)
        return false;
    lstrcatW(path, name);
    return true;
}

// Only the letters A to Z match their lower-case forms.
static bool same_path(const wchar_t* a, const wchar_t* b)
{
    for (;; a++, b++) {
        wchar_t x = *a >= L'a' && *a <= L'z' ? (wchar_t)(*a - L'a' + L'A') : *a;
        wchar_t y = *b >= L'a' && *b <= L'z' ? (wchar_t)(*b - L'a' + L'A') : *b;
        if (x != y)
            return false;
        if (x == L'\0')
            return true;
    }
}

// The reason behind a COM result, as for any other file call.
static int save_result_of(HRESULT result)
{
    if (HRESULT_FACILITY(result) == FACILITY_WIN32 || HRESULT_FACILITY(result) == FACILITY_STORAGE)
        return save_result_of_error(HRESULT_CODE(result));
    return SAVE_FAILED;
}

static int write_link(const wchar_t* link_path)
{
    wchar_t program_file[PATH_MAX_UNITS];
    read_program_file(program_file);
    wchar_t description[NAME_MAX_UNITS + 1];
    wide_from_cp932(LINK_DESCRIPTION, description, NAME_MAX_UNITS + 1);
    IShellLinkW* link = NULL;
    HRESULT result = CoCreateInstance(CLSID_ShellLink, NULL, CLSCTX_INPROC_SERVER, IID_IShellLinkW,
                                      (void**)&link);
    if (FAILED(result))
        return save_result_of(result);
    IPersistFile* file = NULL;
    result = link->QueryInterface(IID_IPersistFile, (void**)&file);
    if (FAILED(result)) {
        link->Release();
        return save_result_of(result);
    }
    link->SetPath(program_file);
    link->SetDescription(description);
    link->SetArguments(LINK_ARGUMENTS);
    link->SetWorkingDirectory(L"");
    link->SetIconLocation(L"", 0);
    link->SetShowCmd(SW_HIDE); // 0: the program never shows a window at start
    result = file->Save(link_path, TRUE);
    file->Release();
    link->Release();
    return SUCCEEDED(result) ? SAVE_DONE : save_result_of(result);
}

int shortcut_set(bool create)
{
    last_link_path[0] = '\0';
    wchar_t link_path[PATH_MAX_UNITS];
    if (!find_link_path(link_path))
        return SAVE_NO_FOLDER;
    cp932_from_wide(link_path, last_link_path, SHOWN_PATH_CAPACITY);
    int refusal = save_refusal_wide(link_path); // a folder of its name, a read-only file
    if (refusal != SAVE_DONE)
        return refusal;
    if (!create) {
        if (DeleteFileW(link_path) || GetLastError() == ERROR_FILE_NOT_FOUND)
            return SAVE_DONE; // a missing file is no error
        return save_result_of_error(GetLastError());
    }
    HRESULT initialised = CoInitialize(NULL);
    if (FAILED(initialised))
        return save_result_of(initialised);
    int result = write_link(link_path);
    CoUninitialize();
    return result;
}

const char* shortcut_file(void)
{
    return last_link_path;
}

static bool read_link_target(const wchar_t* link_path, wchar_t* target)
{
    IShellLinkW* link = NULL;
    if (FAILED(CoCreateInstance(CLSID_ShellLink, NULL, CLSCTX_INPROC_SERVER, IID_IShellLinkW,
                                (void**)&link)))
        return false;
    bool read = false;
    IPersistFile* file = NULL;
    if (SUCCEEDED(link->QueryInterface(IID_IPersistFile, (void**)&file))) {
        read = SUCCEEDED(file->Load(link_path, STGM_READ)) &&
               SUCCEEDED(link->GetPath(target, PATH_MAX_UNITS, NULL, 0));
        file->Release();
    }
    link->Release();
    return read;
}

bool shortcut_exists(void)
{
    wchar_t program_file[PATH_MAX_UNITS];
    read_program_file(program_file);
    wchar_t link_path[PATH_MAX_UNITS];
    if (!find_link_path(link_path))
        return false;
    if (FAILED(CoInitialize(NULL)))
        return false;
    wchar_t target[PATH_MAX_UNITS] = L"";
    bool read = read_link_target(link_path, target);
    CoUninitialize();
    return read && same_path(target, program_file);
}
