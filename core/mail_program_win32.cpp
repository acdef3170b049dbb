// The mail program's process: created with this program's own startup
// settings and polled on every tick until it ends. Ending corvina never
// ends the mail program; it only closes the handles.
//
// The default mail program is the one Windows' own settings register: the
// name under Clients\Mail (the user's choice first, then the machine's),
// and that client's shell\open\command, read and started in UTF-16 so a
// path outside code page 932 starts too.
#include <windows.h>

#include "core/env.h"
#include "core/mail_program.h"
#include "core/wide_win32.h"

enum {
    COMMAND_LINE_CAPACITY = 781,
    CLIENT_NAME_CAPACITY = 256,    // a registry key name's limit
    REGISTERED_COMMAND_CAPACITY = 2048,
    CLIENT_KEY_CAPACITY = 320
};

static const wchar_t MAIL_CLIENTS[] = L"Software\\Clients\\Mail";
static const wchar_t OPEN_COMMAND[] = L"\\shell\\open\\command";

static PROCESS_INFORMATION mail_process;

bool start_mail_program(const char* command)
{
    if (command[0] == '\0')
        return false;
    STARTUPINFOW startup;
    GetStartupInfoW(&startup);
    startup.cb = sizeof startup;
    mail_process = PROCESS_INFORMATION();

    // A command line cut short would start the wrong thing: refuse it.
    char command_line[COMMAND_LINE_CAPACITY];
    if (env_expand(command, command_line, sizeof command_line) != 0)
        return false;
    wchar_t wide_command_line[COMMAND_LINE_CAPACITY];
    wide_from_cp932(command_line, wide_command_line, COMMAND_LINE_CAPACITY);
    return CreateProcessW(NULL, wide_command_line, NULL, NULL, FALSE, NORMAL_PRIORITY_CLASS, NULL,
                          NULL, &startup, &mail_process) != 0;
}

// A string value of the key, NUL-terminated; false when missing or empty.
static bool read_string(HKEY root, const wchar_t* key, wchar_t* out, DWORD capacity)
{
    DWORD bytes = (capacity - 1) * sizeof(wchar_t);
    if (RegGetValueW(root, key, NULL, RRF_RT_REG_SZ | RRF_RT_REG_EXPAND_SZ | RRF_NOEXPAND, NULL,
                     out, &bytes) != ERROR_SUCCESS)
        return false;
    out[bytes / sizeof(wchar_t)] = L'\0';
    return out[0] != L'\0';
}

// The command of the client named under either root: a per-user client
// first, as Windows looks it up.
static bool read_client_command(const wchar_t* client, wchar_t* command)
{
    wchar_t key[CLIENT_KEY_CAPACITY];
    lstrcpyW(key, MAIL_CLIENTS);
    lstrcatW(key, L"\\");
    lstrcatW(key, client);
    lstrcatW(key, OPEN_COMMAND);
    return read_string(HKEY_CURRENT_USER, key, command, REGISTERED_COMMAND_CAPACITY) ||
           read_string(HKEY_LOCAL_MACHINE, key, command, REGISTERED_COMMAND_CAPACITY);
}

int start_default_mail_program(void)
{
    wchar_t client[CLIENT_NAME_CAPACITY];
    if (!read_string(HKEY_CURRENT_USER, MAIL_CLIENTS, client, CLIENT_NAME_CAPACITY) &&
        !read_string(HKEY_LOCAL_MACHINE, MAIL_CLIENTS, client, CLIENT_NAME_CAPACITY))
        return DEFAULT_MAIL_NONE;
    wchar_t registered[REGISTERED_COMMAND_CAPACITY];
    if (!read_client_command(client, registered))
        return DEFAULT_MAIL_NONE;
    wchar_t command_line[REGISTERED_COMMAND_CAPACITY];
    DWORD length = ExpandEnvironmentStringsW(registered, command_line, REGISTERED_COMMAND_CAPACITY);
    if (length == 0 || length > REGISTERED_COMMAND_CAPACITY)
        return DEFAULT_MAIL_FAILED;

    STARTUPINFOW startup;
    GetStartupInfoW(&startup);
    startup.cb = sizeof startup;
    mail_process = PROCESS_INFORMATION();
    return CreateProcessW(NULL, command_line, NULL, NULL, FALSE, NORMAL_PRIORITY_CLASS, NULL, NULL,
                          &startup, &mail_process)
               ? DEFAULT_MAIL_STARTED
               : DEFAULT_MAIL_FAILED;
}

// A failed wait counts as the end of the program.
bool poll_mail_program(void)
{
    if (WaitForSingleObject(mail_process.hProcess, 0) == WAIT_TIMEOUT)
        return true;
    close_mail_program_handles();
    return false;
}

void close_mail_program_handles(void)
{
    if (mail_process.hThread) {
        CloseHandle(mail_process.hThread);
        mail_process.hThread = NULL;
    }
    if (mail_process.hProcess) {
        CloseHandle(mail_process.hProcess);
        mail_process.hProcess = NULL;
    }
}
