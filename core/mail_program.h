// The user's mail program: started from the tray or the popup; checking
// rests until it has ended.
#pragma once

// Controller actions for MailProgramRequest and for Tick in MailProgramRunning.
void launch_mail_program(void);
void mail_program_tick(void);

// The process itself. start_mail_program expands the command's environment
// variables and creates the process; poll_mail_program reports whether it
// still runs and closes both handles once it has ended.
bool start_mail_program(const char* command);

// With MAILER empty: the mail program the user registered as Windows'
// default, started and watched as MAILER's would be.
enum DefaultMailProgram { DEFAULT_MAIL_STARTED, DEFAULT_MAIL_NONE, DEFAULT_MAIL_FAILED };
int start_default_mail_program(void);
bool poll_mail_program(void);
void close_mail_program_handles(void);
