// Recording stand-ins for everything the portable core calls outside itself:
// the tray, popup and menu, the main window's timers, the connection layer,
// the settings sheet, the mail program process, sound and the clock. Tests
// read what was recorded, script what the platform answers, and start clean
// with fakes_reset, which also sets a mailbox account (bob, secret, USER/PASS
// at pop.example.com) with no session and no seen set.
#pragma once

#include <stdint.h>

#include <functional>
#include <string>
#include <vector>

#include "core/check_state.h"

struct FakeWorld {
    uint32_t ticks; // what clock_ticks answers
    uint64_t ms;    // what clock_ms answers

    // Session log and wire.
    std::string log;  // what log_append and log_append_utf8 received since the last log_clear
    std::string sent; // every byte given to net_send
    int sends;        // net_send calls: each but the last is a wait for the server

    // The tray as the user sees it.
    int icon; // IconSlot shown last, -1 before any
    std::string tip;
    std::vector<std::string> balloons;

    // The popup.
    bool popup_exists;
    bool popup_visible;
    bool popup_enabled;
    std::string popup_heading, popup_text;
    std::vector<std::string> popup_lines; // the listed messages, then "ほか N 通"
    int popup_shows;

    // The tray menu.
    int menu_state; // CheckState of the last update, -1 before any
    bool menu_paused;

    // Main window and process.
    bool tick_timer_running, minute_timer_running;
    int main_window_hides;
    int heap_compactions;
    std::vector<std::string> error_boxes; // "caption: text"
    std::vector<std::string> sounds;
    bool user_busy; // what user_is_busy answers

    // Connection layer.
    int net_starts, net_closes;
    int tls_starts;              // net_start_tls calls: STLS was accepted
    const char* net_start_error; // non-null: net_start fails at once with this text
    std::vector<std::string> start_errors; // first: one per start in turn, "" to connect
    int timeout_ticks, quit_wait_ticks;

    // Settings sheet and account page.
    std::function<void()> while_sheet_open; // runs inside sheet_show
    int account_controls_enabled;           // -1 before any call
    int sheet_buttons_enabled;
    int found_security, found_apop; // what a search showed on the page, -1 before

    // Mail program.
    bool mail_program_fails_to_start;
    std::string default_mail_program; // Windows' default; empty: none registered
    bool mail_program_running;
    std::string mail_program_command;
    int mail_program_handle_closes;
};

extern FakeWorld fake;

void fakes_reset(void);

// The server side of one POP3 session, played in-process: it answers each
// command corvina hands to net_send, through pop_receive, the way a real
// server would. Tests use it to run whole checks without a socket.
struct PeerMessage {
    std::string uid;
    int64_t size;
};

struct Pop3Peer {
    std::string greeting = "+OK ready <1.2@test>\r\n";
    std::vector<PeerMessage> messages;
    std::string refuse; // a command verb ("PASS", "LIST", ...) answered with -ERR
};

// Plays a session from the greeting until QUIT is answered or the session
// fails. Returns true when QUIT was answered.
bool pop3_peer_serve(const Pop3Peer& peer);
