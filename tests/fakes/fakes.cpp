#include "tests/fakes/fakes.h"

#include <string.h>

#include "core/busy.h"
#include "core/clock.h"
#include "core/env.h"
#include "core/mail_program.h"
#include "core/main_window.h"
#include "core/sound.h"
#include "pop3/net.h"
#include "pop3/receiver.h"
#include "pop3/session.h"
#include "pop3/uidl_store.h"
#include "settings/settings.h"
#include "tray/menu.h"
#include "tray/popup.h"
#include "tray/tray.h"
#include "ui/session_log.h"
#include "ui/sheet.h"

FakeWorld fake;

void fakes_reset(void)
{
    fake = FakeWorld();
    fake.icon = -1;
    fake.menu_state = -1;
    fake.account_controls_enabled = -1;
    fake.sheet_buttons_enabled = -1;
    fake.found_security = fake.found_apop = -1;
    fake.popup_enabled = true;
    uidl_free();
    settings_reset();
    strcpy(settings.SERVER, "pop.example.com");
    strcpy(settings.ACCOUNT, "bob");
    strcpy(settings.plain_password, "secret");
    settings.USEAPOP = 0;
    session = SessionResult();
    pop_reset();
}

uint32_t clock_ticks(void)
{
    return fake.ticks;
}

uint64_t clock_ms(void)
{
    return fake.ms;
}

void log_append(const char* text)
{
    fake.log += text;
}

void log_append_utf8(const char* text)
{
    fake.log += text;
}

void log_clear(void)
{
    fake.log.clear();
}

// The connection layer: the wire is fake.sent; the time-out as the real one counts it.

int net_start(void)
{
    fake.net_starts++;
    fake.timeout_ticks = fake.quit_wait_ticks = 0;
    std::string error = fake.net_start_error ? fake.net_start_error : "";
    if (!fake.start_errors.empty()) {
        error = fake.start_errors.front();
        fake.start_errors.erase(fake.start_errors.begin());
    }
    if (!error.empty()) {
        set_error_text(error.c_str());
        session.error_kind = ERROR_FAILED;
        return -1;
    }
    pop_reset();
    return 0;
}

void net_close(void)
{
    fake.net_closes++;
}

int net_timeout_tick(void)
{
    if (pop_quit_answered() && ++fake.quit_wait_ticks >= QUIT_CLOSE_WAIT_TICKS) {
        net_close();
        return 1;
    }
    if (++fake.timeout_ticks < SESSION_TIMEOUT_TICKS)
        return 0;
    net_close();
    set_error_text("タイムアウト発生");
    session.error_kind = ERROR_FAILED;
    return 1;
}

int net_send(const char* bytes, int length)
{
    fake.sent.append(bytes, (size_t)length);
    fake.sends++;
    return length;
}

void net_start_tls(void)
{
    fake.tls_starts++;
}

void tray_set_icon(IconSlot slot)
{
    fake.icon = slot;
}

void tray_set_tip(const char* text)
{
    fake.tip = text;
}

IconSlot tray_icon_shown(void)
{
    return (IconSlot)fake.icon;
}

const char* tray_tip_shown(void)
{
    return fake.tip.c_str();
}

void tray_balloon(const char* text, const char* headline)
{
    fake.balloons.push_back(headline[0] != '\0' ? std::string(headline) + "\n" + text : text);
}

void popup_create(void)
{
    fake.popup_exists = true;
}

void popup_destroy(void)
{
    fake.popup_exists = false;
    fake.popup_visible = false;
}

void popup_show(const char* heading, const char* text, const PopupMail* mail)
{
    if (!fake.popup_exists)
        return;
    fake.popup_visible = true;
    fake.popup_heading = heading;
    fake.popup_text = text;
    fake.popup_lines.assign(mail->lines, mail->lines + mail->count);
    if (mail->rest[0] != '\0')
        fake.popup_lines.push_back(mail->rest);
    fake.popup_shows++;
}

void popup_hide(void)
{
    fake.popup_visible = false;
}

void popup_refresh_colors(void)
{
}

void popup_enable_for_state(CheckState state)
{
    fake.popup_enabled = state == StartupWait || state == Idle || state == RetryWait;
}

void menu_update_for_state(CheckState state)
{
    fake.menu_state = state;
}

void menu_set_paused(bool paused)
{
    fake.menu_paused = paused;
}

unsigned main_window_set_timer(unsigned id, unsigned)
{
    (id == TICK_TIMER_ID ? fake.tick_timer_running : fake.minute_timer_running) = true;
    return id;
}

void main_window_kill_timer(unsigned id)
{
    (id == TICK_TIMER_ID ? fake.tick_timer_running : fake.minute_timer_running) = false;
}

void main_window_hide(void)
{
    fake.main_window_hides++;
}

void heap_compact(void)
{
    fake.heap_compactions++;
}

void main_window_error_box(const char* text, const char* caption)
{
    fake.error_boxes.push_back(std::string(caption) + ": " + text);
}

void sound_play(const char* file)
{
    fake.sounds.push_back(file);
}

bool user_is_busy(void)
{
    return fake.user_busy;
}

// %CORVINA_TEST% stands for a folder with a blank in its name; other texts stay as they are.
int env_expand(const char* text, char* out, int capacity)
{
    std::string expanded = text;
    const std::string name = "%CORVINA_TEST%";
    size_t at = expanded.find(name);
    if (at != std::string::npos)
        expanded.replace(at, name.size(), "C:\\test dir");
    strncpy(out, expanded.c_str(), (size_t)capacity - 1);
    out[capacity - 1] = '\0';
    return expanded.size() < (size_t)capacity ? 0 : -1;
}

int sheet_show(void)
{
    if (fake.while_sheet_open)
        fake.while_sheet_open();
    return 0;
}

void sheet_enable_buttons(int enable)
{
    fake.sheet_buttons_enabled = enable;
}

void account_enable_controls(int enable)
{
    fake.account_controls_enabled = enable;
}

void account_show_found(int security, int use_apop)
{
    fake.found_security = security;
    fake.found_apop = use_apop;
}

bool start_mail_program(const char* command)
{
    if (command[0] == '\0' || fake.mail_program_fails_to_start)
        return false;
    fake.mail_program_command = command;
    fake.mail_program_running = true;
    return true;
}

int start_default_mail_program(void)
{
    if (fake.default_mail_program.empty())
        return DEFAULT_MAIL_NONE;
    if (!start_mail_program(fake.default_mail_program.c_str()))
        return DEFAULT_MAIL_FAILED;
    return DEFAULT_MAIL_STARTED;
}

bool poll_mail_program(void)
{
    if (fake.mail_program_running)
        return true;
    close_mail_program_handles();
    return false;
}

void close_mail_program_handles(void)
{
    fake.mail_program_handle_closes++;
}

// The in-process server.

static std::string reply_to(const Pop3Peer& peer, const std::string& verb)
{
    if (verb == peer.refuse)
        return "-ERR " + verb + " refused\r\n";
    std::string listing = "+OK\r\n";
    uint64_t total = 0; // sizes may be any a server could claim: wrap, do not overflow
    for (size_t i = 0; i < peer.messages.size(); i++) {
        const PeerMessage& message = peer.messages[i];
        total += (uint64_t)message.size;
        listing += std::to_string(i + 1) + " " +
                   (verb == "LIST" ? std::to_string(message.size) : message.uid) + "\r\n";
    }
    if (verb == "STAT")
        return "+OK " + std::to_string(peer.messages.size()) + " " + std::to_string(total) + "\r\n";
    return verb == "LIST" || verb == "UIDL" ? listing + ".\r\n" : "+OK\r\n";
}

bool pop3_peer_serve(const Pop3Peer& peer)
{
    size_t answered = fake.sent.size();
    std::string reply = peer.greeting;
    for (;;) {
        pop_receive(reply.data(), (int)reply.size());
        if (session.error_kind != ERROR_NONE || fake.sent.size() == answered)
            return false;
        size_t end = fake.sent.find("\r\n", answered);
        std::string command = fake.sent.substr(answered, end + 2 - answered);
        answered = end + 2;
        reply = reply_to(peer, command.substr(0, command.find_first_of(" \r")));
        if (command == "QUIT\r\n") {
            pop_receive(reply.data(), (int)reply.size());
            return session.error_kind == ERROR_NONE;
        }
    }
}
