// The check controller's states and events; each value is an index of the
// action table (state row, event column).
#pragma once

enum CheckState {
    StartupWait,        // waiting STARTUP_WAIT seconds before the first check
    Idle,               // waiting for the next periodic check; new mail blinks here
    Checking,           // a check session runs
    RetryWait,          // the last attempt failed; waiting RETRY_INTERVAL seconds
    SettingsOpen,       // the settings sheet is open
    Testing,            // a connection test from the settings sheet runs
    MailProgramRunning, // the mail program was started and has not ended
    CHECK_STATE_COUNT
};

enum CheckEvent {
    Tick,               // tick timer, every 500 ms
    MinuteTick,         // minute timer, every 60 s
    SessionOver,        // the connection layer ended the session
    CheckCommand,       // menu "チェック"/"中止", or the account page's test button
    SettingsCommand,    // menu "設定"
    MailProgramRequest, // tray double-click, popup "メール確認"
    Acknowledge,        // tray click, popup "閉じる" or a click on the popup
    CHECK_EVENT_COUNT
};
