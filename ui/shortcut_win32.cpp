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
#include "core/text.h"
#include "settings/ini.h"
#include "settings/save_result.h"
#include "ui/shortcut.h"

static const char LINK_FILE_NAME[] = "\\メールチェッカー.lnk";
static const char LINK_DESCRIPTION[] = "メールチェッカー";
static const char LINK_ARGUMENTS[] = "/s";

enum {
    PROGRAM_FILE_CAPACITY = MAX_PATH + 1,
    LINK_PATH_CAPACITY = MAX_PATH + sizeof LINK_FILE_NAME,
    WIDE_PATH_CAPACITY = MAX_PATH,
    TARGET_CAPACITY = MAX_PATH
};

static char last_link_path[LINK_PATH_CAPACITY]; // the file shortcut_set worked on

static void read_program_file(char* file)
{
    DWORD length = GetModuleFileNameA(NULL, file, PROGRAM_FILE_CAPACITY - 1);
    file[length < PROGRAM_FILE_CAPACITY - 1 ? length : PROGRAM_FILE_CAPACITY - 1] = '\0';
}

// The link file's full name; false when the Startup folder cannot be found.
static bool find_link_path(char* path)
{
    IMalloc* allocator = NULL;
    if (FAILED(SHGetMalloc(&allocator)))
        return false;
    LPITEMIDLIST folder = NULL;
    if (FAILED(SHGetSpecialFolderLocation(main_window, CSIDL_STARTUP, &folder))) {
        allocator->Release();
        return false;
    }
    char directory[MAX_PATH];
    BOOL found = SHGetPathFromIDListA(folder, directory);
    allocator->Free(folder);
    allocator->Release();
    if (!found)
        return false;
    text_copy(path, LINK_PATH_CAPACITY, directory);
    text_append(path, LINK_PATH_CAPACITY, LINK_FILE_NAME);
    return true;
}

// A name that does not convert is not used at all.
static bool to_wide(const char* path, WCHAR* wide)
{
    return MultiByteToWideChar(CP_ACP, 0, path, -1, wide, WIDE_PATH_CAPACITY) != 0;
}

// Only the letters A to Z match their lower-case forms; the second byte of
// a double-byte character is compared as it is.
static bool same_path(const char* a, const char* b)
{
    for (;; a++, b++) {
        unsigned char x = (unsigned char)*a;
        unsigned char y = (unsigned char)*b;
        if (text_is_lead_byte(x)) {
            if (x != y || a[1] != b[1])
                return false;
            if (a[1] == '\0')
                return true;
            a++;
            b++;
            continue;
        }
        if (x >= 'a' && x <= 'z')
            x = (unsigned char)(x - 'a' + 'A');
        if (y >= 'a' && y <= 'z')
            y = (unsigned char)(y - 'a' + 'A');
        if (x != y)
            return false;
        if (x == '\0')
            return true;
    }
}

// The reason behind a COM result from the file layer's own reading of it.
static int save_result_of(HRESULT result)
{
    if (HRESULT_FACILITY(result) == FACILITY_WIN32 || HRESULT_FACILITY(result) == FACILITY_STORAGE)
        SetLastError(HRESULT_CODE(result));
    else
        SetLastError(ERROR_GEN_FAILURE);
    return ini_last_failure();
}

static int write_link(const char* link_path)
{
    char program_file[PROGRAM_FILE_CAPACITY];
    read_program_file(program_file);
    IShellLinkA* link = NULL;
    HRESULT result = CoCreateInstance(CLSID_ShellLink, NULL, CLSCTX_INPROC_SERVER, IID_IShellLinkA,
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
    link->SetDescription(LINK_DESCRIPTION);
    link->SetArguments(LINK_ARGUMENTS);
    link->SetWorkingDirectory("");
    link->SetIconLocation("", 0);
    link->SetShowCmd(SW_HIDE); // 0: the program never shows a window at start
    WCHAR wide_path[WIDE_PATH_CAPACITY];
    result = to_wide(link_path, wide_path) ? file->Save(wide_path, TRUE) : E_INVALIDARG;
    file->Release();
    link->Release();
    return SUCCEEDED(result) ? SAVE_DONE : save_result_of(result);
}

int shortcut_set(bool create)
{
    last_link_path[0] = '\0';
    if (!find_link_path(last_link_path))
        return SAVE_NO_FOLDER;
    int refusal = ini_write_refusal(last_link_path); // a folder of its name, a read-only file
    if (refusal != SAVE_DONE)
        return refusal;
    if (!create) {
        if (DeleteFileA(last_link_path) || GetLastError() == ERROR_FILE_NOT_FOUND)
            return SAVE_DONE; // a missing file is no error
        return ini_last_failure();
    }
    HRESULT initialised = CoInitialize(NULL);
    if (FAILED(initialised))
        return save_result_of(initialised);
    int result = write_link(last_link_path);
    CoUninitialize();
    return result;
}

const char* shortcut_file(void)
{
    return last_link_path;
}

static bool read_link_target(const WCHAR* link_path, char* target)
{
    IShellLinkA* link = NULL;
    if (FAILED(CoCreateInstance(CLSID_ShellLink, NULL, CLSCTX_INPROC_SERVER, IID_IShellLinkA,
                                (void**)&link)))
        return false;
    bool read = false;
    IPersistFile* file = NULL;
    if (SUCCEEDED(link->QueryInterface(IID_IPersistFile, (void**)&file))) {
        read = SUCCEEDED(file->Load(link_path, STGM_READ)) &&
               SUCCEEDED(link->GetPath(target, TARGET_CAPACITY, NULL, 0));
        file->Release();
    }
    link->Release();
    return read;
}

bool shortcut_exists(void)
{
    char program_file[PROGRAM_FILE_CAPACITY];
    read_program_file(program_file);
    char link_path[LINK_PATH_CAPACITY];
    WCHAR wide_path[WIDE_PATH_CAPACITY];
    if (!find_link_path(link_path) || !to_wide(link_path, wide_path))
        return false;
    if (FAILED(CoInitialize(NULL)))
        return false;
    char target[TARGET_CAPACITY] = "";
    bool read = read_link_target(wide_path, target);
    CoUninitialize();
    return read && same_path(target, program_file);
}
