// The mail program's process: created with this program's own startup
// settings and polled on every tick until it ends. Ending corvina never
// ends the mail program; it only closes the handles.
#include <windows.h>

#include "core/env.h"
#include "core/mail_program.h"
#include "core/wide_win32.h"

enum { COMMAND_LINE_CAPACITY = 781 };

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
