// The check controller: seven states by seven events. Every timer tick, tray
// click, menu command, popup button and end of a session reaches it through
// dispatch_event, and the action in the table cell for the current state and
// the event decides what happens next.
#pragma once

#include <stdint.h>

#include "core/check_state.h"
#include "tray/icon_slot.h"

struct Controller {
    CheckState state;
    uint32_t tick_count;   // Tick events since the last state entry
    uint32_t minute_count; // minutes in Idle since the last entry or check, timer or clock
    uint32_t retry_count;  // failed attempts in the current series
    bool paused;           // periodic checking paused by the user
    bool blinking;         // new mail announced and not yet acknowledged
    bool popup_close_pending;
    int32_t notified_count; // what was last announced
    int64_t notified_size;
    unsigned tick_timer; // 0 when not running, else its id
    unsigned minute_timer;
    uint64_t interval_start_ms; // clock_ms when minute_count last started from 0
    bool asleep;                // between the system's suspend and its resume
    bool check_abandoned;       // a check was dropped at suspend
    IconSlot icon_before_check; // what the tray showed before the running check
    char tip_before_check[64];
};

extern Controller controller;

// True from start until the main window has been hidden the first time.
extern bool main_window_not_yet_hidden;

void dispatch_event(CheckEvent event);

void init_controller(void);
void enter_startup_wait(void);
void open_settings(void);
void toggle_pause(void);
// The account page's "自動設定": while the sheet is open and no test runs,
// searches the server for its settings.
void find_settings(void);
// The system is about to sleep, or has woken.
void controller_suspend(void);
void controller_resume(void);

// Shared steps, also used by outcome reporting and the mail program launch.
void enter_state(CheckState state);
void enter_idle(void);
void show_resting_icon(void);
void hide_main_window_once(void);
