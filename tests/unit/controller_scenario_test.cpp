// The check controller driven as the program drives it: timer ticks, menu
// commands, tray clicks and whole POP3 sessions played by an in-process
// server. Each test reads like what a user would do and see.
#include <gtest/gtest.h>

#include <string.h>

#include <string>

#include "core/controller.h"
#include "core/text.h"
#include "pop3/session.h"
#include "pop3/uidl_store.h"
#include "settings/settings.h"
#include "tests/fakes/fakes.h"
#include "tests/unit/temp_dir.h"
#include "tray/popup.h"

namespace
{

// A failed test's log ends with its advice; an aborted one's with "処理を中止しました".
#define ADVICE_TIME_OUT "対処: 暗号化の選択がサーバーのポートと合っているか確かめてください。"

Pop3Peer mailbox(int count, int64_t size_each = 1000)
{
    Pop3Peer peer;
    for (int i = 0; i < count; i++)
        peer.messages.push_back({"uid-" + std::to_string(i), size_each});
    return peer;
}

class CheckScenario : public testing::Test
{
  public:
    void SetUp() override
    {
        fakes_reset();
        settings.STARTUP_WAIT = 0;
        // Whatever an earlier run of the loop left, init_controller starts afresh.
        memset(&session, 0x5A, sizeof session);
        memset(&controller, 0x5A, sizeof controller);
        controller.tick_timer = controller.minute_timer = 0;
        controller.popup_close_pending = false;
        init_controller();
        main_window_not_yet_hidden = true;
        enter_startup_wait();
    }

    // The server answers, then closes the connection: the session is over.
    static void session_ends(const Pop3Peer& peer)
    {
        ASSERT_TRUE(controller.state == Checking || controller.state == Testing)
            << "state " << controller.state;
        pop3_peer_serve(peer);
        dispatch_event(SessionOver);
    }
};

std::string sheet_world; // the worlds seen while the settings sheet was open

// What the user sees and what the program asked of the platform, in one line:
// state, icon, tip and connections started, then only what differs from rest.
std::string world()
{
    static const char* const STATES[] = {"StartupWait",  "Idle",    "Checking",   "RetryWait",
                                         "SettingsOpen", "Testing", "MailProgram"};
    static const char* const ICONS[] = {"-", "POPUP", "NORMAL", "CHECK", "ARRIVE", "ERROR", "WAIT"};
    std::string text = std::string(STATES[controller.state]) + " " + ICONS[fake.icon + 1] + " '" +
                       fake.tip + "' starts=" + std::to_string(fake.net_starts);
    auto add = [&text](bool shown, const std::string& what) {
        if (shown)
            text += " " + what;
    };
    CheckState state = controller.state;
    add(fake.net_closes != fake.net_starts, "closes=" + std::to_string(fake.net_closes));
    add(fake.menu_state != state, "menu=" + std::to_string(fake.menu_state));
    add(fake.popup_enabled != (state == StartupWait || state == Idle || state == RetryWait),
        "popup-enabled-wrong");
    add(fake.main_window_hides != 1, "hides=" + std::to_string(fake.main_window_hides));
    add(controller.blinking, "blink");
    add(fake.tick_timer_running, "tick");
    add(fake.minute_timer_running, "minute");
    add(fake.menu_paused, "paused");
    add(fake.popup_shows > 0,
        "popup=" + std::to_string(fake.popup_shows) + (fake.popup_visible ? "+" : ""));
    add(fake.popup_visible &&
            (fake.popup_text != fake.tip || fake.popup_heading != "新着メールがあります。"),
        "popup-text='" + fake.popup_heading + fake.popup_text + "'");
    add(!fake.balloons.empty(), "balloons=" + std::to_string(fake.balloons.size()));
    add(fake.sounds.size() > 1, "sounds=" + std::to_string(fake.sounds.size() - 1) + ":" +
                                    (fake.sounds.empty() ? "" : fake.sounds.back()));
    add(!fake.mail_program_command.empty(), "ran=" + fake.mail_program_command);
    add(fake.mail_program_handle_closes > 0,
        "handles-closed=" + std::to_string(fake.mail_program_handle_closes));
    add(fake.heap_compactions > 0, "compacted=" + std::to_string(fake.heap_compactions));
    add(fake.popup_exists, "popup-window");
    add(fake.account_controls_enabled != -1 || fake.sheet_buttons_enabled != -1,
        "controls=" + std::to_string(fake.account_controls_enabled) +
            std::to_string(fake.sheet_buttons_enabled));
    std::string log = fake.log; // its last line
    if (log.size() >= 2 && log.compare(log.size() - 2, 2, "\r\n") == 0)
        log.resize(log.size() - 2);
    size_t line_end = log.rfind("\r\n");
    log = log.substr(line_end == std::string::npos ? 0 : line_end + 2);
    std::string tip = fake.tip.substr(0, fake.tip.find("\r\n"));
    add(!log.empty() && log != tip, "log='" + log + "'"); // shown when it is not the tip
    add(!fake.error_boxes.empty(),
        "box='" + (fake.error_boxes.empty() ? "" : fake.error_boxes.back()) + "'");
    add(!sheet_world.empty(), "sheet=[" + sheet_world + "]");
    return text;
}

// Steps: "tick", "minute" (either "*N" for N of them, each moving the clock
// on by its time), "suspend", "resume", "sleep:N" (N minutes asleep: the
// clock moves, no timer fires), "check", "ack",
// "pause", "mail", "mail-ends", "launch-fails" (the mail program's),
// "default-mailer" (Windows' default mail program registered),
// "net-fails" (every connect), "busy" and "free" (the user), "popup-off",
// "no-password", "serve:N" for the server's answer of N messages ("serve:NxS"
// of S bytes each; "serve:N!VERB" refusing VERB), "open:N" for that answer
// with the connection left open after QUIT's "+OK", "late:N" for that answer
// arriving only if the connection
// is still open, and "sheet:A+B" for the settings sheet, open while steps
// A, B... run.
void run_steps(const std::string& steps)
{
    size_t at = 0;
    while (at < steps.size()) {
        size_t end = steps.find(' ', at);
        std::string step = steps.substr(at, end == std::string::npos ? end : end - at);
        at = end == std::string::npos ? steps.size() : end + 1;
        std::string verb = step.substr(0, step.find_first_of(":*"));
        size_t star = verb == "sheet" ? std::string::npos : step.find('*');
        int count = star == std::string::npos ? 1 : std::stoi(step.substr(star + 1));
        for (int i = 0; i < count; i++) {
            if (verb == "tick") {
                fake.ms += 500;
                dispatch_event(Tick);
            } else if (verb == "minute") {
                fake.ms += 60000;
                dispatch_event(MinuteTick);
            } else if (verb == "suspend")
                controller_suspend();
            else if (verb == "resume")
                controller_resume();
            else if (verb == "sleep")
                fake.ms += 60000ull * std::stoull(step.substr(6));
            else if (verb == "check")
                dispatch_event(CheckCommand);
            else if (verb == "ack")
                dispatch_event(Acknowledge);
            else if (verb == "pause")
                toggle_pause();
            else if (verb == "mail")
                dispatch_event(MailProgramRequest);
            else if (verb == "mail-ends")
                fake.mail_program_running = false;
            else if (verb == "launch-fails")
                fake.mail_program_fails_to_start = true;
            else if (verb == "default-mailer")
                fake.default_mail_program = "\"C:\\Mozilla Thunderbird\\thunderbird.exe\" -mail";
            else if (verb == "net-fails")
                fake.net_start_error = "ｻｰﾊﾞIPｱﾄﾞﾚｽの取得失敗";
            else if (verb == "busy" || verb == "free")
                fake.user_busy = verb == "busy";
            else if (verb == "popup-off")
                settings.USE_POPUPDLG = 0;
            else if (verb == "no-password")
                settings.plain_password[0] = '\0';
            else if (verb == "sheet") {
                static std::string inner;
                inner = step.substr(6);
                fake.while_sheet_open = [] {
                    std::string seen;
                    for (size_t from = 0, plus; from <= inner.size(); from = plus + 1) {
                        plus = std::min(inner.find('+', from), inner.size());
                        run_steps(inner.substr(from, plus - from));
                        seen += (from == 0 ? "" : " | ") + world();
                    }
                    sheet_world = seen;
                };
                dispatch_event(SettingsCommand);
            } else if (verb == "open") {
                pop3_peer_serve(mailbox(std::stoi(step.substr(5))));
            } else if (verb == "late") {
                if (fake.net_starts > fake.net_closes) {
                    pop3_peer_serve(mailbox(std::stoi(step.substr(5))));
                    dispatch_event(SessionOver);
                }
            } else if (verb == "serve") {
                size_t by = step.find('x'), refuse = step.find('!');
                Pop3Peer peer =
                    mailbox(std::stoi(step.substr(6)),
                            by == std::string::npos ? 1000 : std::stoll(step.substr(by + 1)));
                if (refuse != std::string::npos)
                    peer.refuse = step.substr(refuse + 1);
                CheckScenario::session_ends(peer);
            } else
                FAIL() << "unknown step " << step;
        }
    }
}

struct Scenario {
    const char* name;
    const char* ini; // the [CONFIG] keys that differ from the fixture's, "KEY=value;..."
    std::vector<std::pair<std::string, std::string>> steps; // steps, then the world after them
};

const Scenario SCENARIOS[] = {
    {"startup_wait_of_three_seconds",
     "STARTUP_WAIT=3",
     {{"", "StartupWait - '起動時ウェイト中...' starts=0 hides=0 tick"},
      {"tick*5", "StartupWait - '起動時ウェイト中...' starts=0 hides=0 tick"},
      {"tick", "Checking CHECK 'サーバーとの通信中...' starts=1 closes=0 hides=0 tick"}}},
    {"mail_then_none",
     "",
     {{"tick serve:3x4000", "Idle ARRIVE '3 通のメール (12Kバイト)' starts=1 blink tick minute"},
      {"minute*5 serve:0", "Idle NORMAL '新着メールはありません' starts=2 minute"}}},
    // The interval counts afresh at every entry into Idle.
    {"interval",
     "INTERVAL=5",
     {{"tick serve:0 minute*4", "Idle NORMAL '新着メールはありません' starts=1 minute"},
      {"minute", "Checking CHECK 'サーバーとの通信中...' starts=2 closes=1 tick"},
      {"serve:0 minute*3 check serve:0 minute*4",
       "Idle NORMAL '新着メールはありません' starts=3 minute"},
      {"pause pause minute*4",
       "Idle NORMAL '定期ﾁｪｯｸ再開' starts=3 minute log='新着メールはありません'"},
      {"minute", "Checking CHECK 'サーバーとの通信中...' starts=4 closes=3 tick"}}},
    // One series makes at most 1 + RETRY_MAX attempts.
    {"failing_series",
     "RETRY_MAX=3;RETRY_INTERVAL=10;INTERVAL=5",
     {{"tick serve:1!PASS tick*19", "RetryWait ERROR '-ERR PASS refused\r\n' starts=1 tick"},
      {"tick", "Checking CHECK 'サーバーとの通信中...' starts=2 closes=1 tick"},
      {"serve:1!PASS tick*20 serve:1!PASS tick*20 serve:1!PASS",
       "Idle ERROR '-ERR PASS refused\r\n' starts=4 minute"},
      {"tick*100 minute*4", "Idle ERROR '-ERR PASS refused\r\n' starts=4 minute"},
      {"minute", "Checking CHECK 'サーバーとの通信中...' starts=5 closes=4 tick"}}},
    {"attempts_that_cannot_start",
     "RETRY_MAX=1",
     {{"net-fails tick", "RetryWait ERROR 'ｻｰﾊﾞIPｱﾄﾞﾚｽの取得失敗' starts=1 hides=0 tick"},
      {"tick*20", "Idle ERROR 'ｻｰﾊﾞIPｱﾄﾞﾚｽの取得失敗' starts=2 minute"},
      {"minute*5", "RetryWait ERROR 'ｻｰﾊﾞIPｱﾄﾞﾚｽの取得失敗' starts=3 tick"}}},
    // The check is over with QUIT's "+OK": a server that never closes is closed
    // after 2 s, the check a success that is not retried.
    {"quit_answered_but_never_closed",
     "RETRY_MAX=3",
     {{"tick open:2 tick*3",
       "Checking CHECK 'サーバーとの通信中...' starts=1 closes=0 hides=0 tick log='+OK'"},
      {"tick", "Idle ARRIVE '2 通のメール (2000 バイト)' starts=1 closes=2 blink tick minute"}}},
    {"time_out_at_the_sixtieth_tick",
     "RETRY_MAX=0",
     {{"tick*60", "Checking CHECK 'サーバーとの通信中...' starts=1 closes=0 hides=0 tick"},
      {"tick", "Idle ERROR 'タイムアウト発生' starts=1 closes=2 minute"}}},
    {"check_command_while_checking_aborts",
     "RETRY_MAX=3",
     {{"tick check", "Idle ERROR '処理を中止しました' starts=1 minute"},
      {"tick*100", "Idle ERROR '処理を中止しました' starts=1 minute"}}},
    {"pause_holds_periodic_checks_only",
     "INTERVAL=3",
     {{"tick serve:0 pause minute*10",
       "Idle WAIT '定期ﾁｪｯｸ停止中' starts=1 minute paused log='新着メールはありません'"},
      {"check serve:0", "Idle WAIT '新着メールはありません' starts=2 minute paused"},
      {"pause", "Idle NORMAL '定期ﾁｪｯｸ再開' starts=2 minute log='新着メールはありません'"},
      {"minute*3", "Checking CHECK 'サーバーとの通信中...' starts=3 closes=2 tick"}}},
    {"pause_drops_a_retry",
     "",
     {{"tick serve:0!PASS", "RetryWait ERROR '-ERR PASS refused\r\n' starts=1 tick"},
      {"pause tick*100",
       "Idle WAIT '定期ﾁｪｯｸ停止中' starts=1 minute paused log='-ERR PASS refused'"}}},
    {"mail_program_ends_a_stop_if_msg_hold",
     "STOP_IF_MSG=1;INTERVAL=3;MAILER=mail.exe",
     {{"tick serve:2 mail mail-ends tick minute*3",
       "Checking CHECK 'サーバーとの通信中...' starts=2 closes=1 hides=2 tick ran=mail.exe "
       "handles-closed=1 compacted=1"}}},
    // Blinking alternates from the resting icon; the popup closes itself
    // after AUTO_POPUP_CLOSE_TIME and leaves the blinking.
    {"blinking_and_popup_closing_itself",
     "USE_POPUPDLG=1;AUTO_POPUP_CLOSE=1;AUTO_POPUP_CLOSE_TIME=2;SOUND_FILE=off.wav",
     {{"tick serve:1",
       "Idle ARRIVE '1 通のメール (1000 バイト)' starts=1 blink tick minute popup=1+ popup-window"},
      {"tick",
       "Idle NORMAL '1 通のメール (1000 バイト)' starts=1 blink tick minute popup=1+ popup-window"},
      {"tick",
       "Idle ARRIVE '1 通のメール (1000 バイト)' starts=1 blink tick minute popup=1+ popup-window"},
      {"tick",
       "Idle NORMAL '1 通のメール (1000 バイト)' starts=1 blink tick minute popup=1+ popup-window"},
      {"tick",
       "Idle NORMAL '1 通のメール (1000 バイト)' starts=1 blink tick minute popup=1 popup-window"},
      {"tick",
       "Idle NORMAL '1 通のメール (1000 バイト)' starts=1 blink tick minute popup=1 popup-window"},
      {"tick", "Idle ARRIVE '1 通のメール (1000 バイト)' starts=1 blink tick minute popup=1 "
               "popup-window"}}},
    {"acknowledge_in_idle",
     "USE_POPUPDLG=1",
     {{"tick serve:2 ack", "Idle NORMAL 'corvina' starts=1 minute popup=1 popup-window log='2 "
                           "通のメール (2000 バイト)'"},
      {"minute*5 serve:2",
       "Idle ARRIVE '2 通のメール (2000 バイト)' starts=2 minute popup=1 popup-window"},
      {"minute*5 serve:2x1001", "Idle ARRIVE '2 通のメール (2002 バイト)' starts=3 blink tick "
                                "minute popup=2+ popup-window"},
      {"minute*5 serve:0", "Idle NORMAL '新着メールはありません' starts=4 minute popup=2 popup-window"}}},
    {"acknowledge_in_retry_wait",
     "USE_POPUPDLG=1;INTERVAL=3",
     {{"tick serve:2 minute*3 serve:2!PASS",
       "RetryWait ERROR '-ERR PASS refused\r\n' starts=2 blink tick popup=1+ "
       "popup-text='新着メールがあります。2 通のメール (2000 バイト)' popup-window"},
      {"ack", "RetryWait ERROR '-ERR PASS refused\r\n' starts=2 tick popup=1 popup-window"}}},
    // Announced once for the same count and size, again when they change.
    {"announced_once",
     "INTERVAL=3;USE_POPUPDLG=1;USE_BALOON=1;USE_SOUND=1;SOUND_FILE=%CORVINA_TEST%\\new.wav",
     {{"tick serve:2", "Idle ARRIVE '2 通のメール (2000 バイト)' starts=1 blink tick minute "
                       "popup=1+ balloons=1 sounds=1:C:\\test dir\\new.wav popup-window"},
      {"minute*3 serve:2", "Idle ARRIVE '2 通のメール (2000 バイト)' starts=2 blink tick minute "
                           "popup=1+ balloons=1 sounds=1:C:\\test dir\\new.wav popup-window"},
      {"minute*3 serve:3", "Idle ARRIVE '3 通のメール (3Kバイト)' starts=3 blink tick minute "
                           "popup=2+ balloons=2 sounds=2:C:\\test dir\\new.wav popup-window"}}},
    // While the user is busy the icon blinks and the balloon goes to the
    // shell; popup and sound wait for the first tick the user is free, and
    // the popup closes by itself counting from then. Mail taken note of
    // while busy is never shown late.
    {"quiet_while_busy",
     "USE_POPUPDLG=1;USE_BALOON=1;USE_SOUND=1;SOUND_FILE=new.wav;AUTO_POPUP_CLOSE=1;"
     "AUTO_POPUP_CLOSE_TIME=1",
     {{"busy tick serve:2 tick*9", "Idle NORMAL '2 通のメール (2000 バイト)' starts=1 blink tick "
                                   "minute balloons=1 popup-window"},
      {"minute*5 serve:3 tick", "Idle NORMAL '3 通のメール (3Kバイト)' starts=2 blink tick "
                                "minute balloons=2 popup-window"},
      {"free tick*2", "Idle NORMAL '3 通のメール (3Kバイト)' starts=2 blink tick minute popup=1+ "
                      "balloons=2 sounds=1:new.wav popup-window"},
      {"tick", "Idle NORMAL '3 通のメール (3Kバイト)' starts=2 blink tick minute popup=1 "
               "balloons=2 sounds=1:new.wav popup-window"},
      {"ack busy minute*5 serve:1 ack free tick*4", "Idle NORMAL 'corvina' starts=3 minute "
                                                   "popup=1 balloons=3 sounds=1:new.wav "
                                                   "popup-window log='1 通のメール (1000 バイト)'"}}},
    // A failure at login leaves the figures of the last success; a failure
    // after STAT leaves the new ones, which count as told.
    {"after_a_failure",
     "INTERVAL=3;RETRY_MAX=0;USE_BALOON=1",
     {{"tick serve:2 minute*3 serve:2!PASS",
       "Idle ERROR '-ERR PASS refused\r\n' starts=2 blink tick minute balloons=1"},
      {"minute*3 serve:2",
       "Idle ARRIVE '2 通のメール (2000 バイト)' starts=3 blink tick minute balloons=1"},
      {"minute*3 serve:4!QUIT",
       "Idle ERROR '-ERR QUIT refused\r\n' starts=4 blink tick minute balloons=1"},
      {"minute*3 serve:4",
       "Idle ARRIVE '4 通のメール (4Kバイト)' starts=5 blink tick minute balloons=1"}}},
    // The mail program counts as taking note, and holds checking until it ends.
    {"mail_program",
     "INTERVAL=3;MAILER=\"C:\\Mail\\mail.exe\" /check",
     {{"tick serve:2 mail", "MailProgram WAIT 'メールソフトを起動中です' starts=1 tick "
                            "ran=\"C:\\Mail\\mail.exe\" /check log='2 通のメール (2000 バイト)'"},
      {"tick*100 minute*10 check",
       "MailProgram WAIT 'メールソフトを起動中です' starts=1 tick ran=\"C:\\Mail\\mail.exe\" "
       "/check log='2 通のメール (2000 バイト)'"},
      {"mail-ends tick minute*2",
       "Idle NORMAL 'corvina' starts=1 hides=2 minute ran=\"C:\\Mail\\mail.exe\" /check "
       "handles-closed=1 compacted=1 log='2 通のメール (2000 バイト)'"},
      {"minute", "Checking CHECK 'サーバーとの通信中...' starts=2 closes=1 hides=2 tick "
                 "ran=\"C:\\Mail\\mail.exe\" /check handles-closed=1 compacted=1"}}},
    // After the mail program even the same mail is news, empty messages too.
    {"mail_program_then_the_same_mail",
     "MAILER=mail.exe;USE_BALOON=1",
     {{"tick serve:1x0 mail mail-ends tick minute*5 serve:1x0",
       "Idle ARRIVE '1 通のメール (0 バイト)' starts=2 hides=2 blink tick minute balloons=2 "
       "ran=mail.exe handles-closed=1 compacted=1"}}},
    {"mail_program_not_set",
     "",
     {{"tick serve:0 mail",
       "Idle ERROR 'ﾒｰﾙｿﾌﾄが指定されていません' starts=1 minute log='新着メールはありません' "
       "box='corvina エラー: メールソフトが設定されていません。設定シートの「動作設定」のページの"
       "「メールソフト」で選んでください。'"}}},
    // Without MAILER, Windows' default mail program, watched the same way.
    {"default_mail_program",
     "",
     {{"tick serve:0 default-mailer mail",
       "MailProgram WAIT 'メールソフトを起動中です' starts=1 tick "
       "ran=\"C:\\Mozilla Thunderbird\\thunderbird.exe\" -mail log='新着メールはありません'"},
      {"mail-ends tick", "Idle NORMAL 'corvina' starts=1 hides=2 minute "
                         "ran=\"C:\\Mozilla Thunderbird\\thunderbird.exe\" -mail "
                         "handles-closed=1 compacted=1 log='新着メールはありません'"}}},
    {"default_mail_program_cannot_start",
     "",
     {{"default-mailer launch-fails tick serve:0 mail",
       "Idle ERROR 'ﾒｰﾙｿﾌﾄが起動できません' starts=1 minute log='新着メールはありません' "
       "box='corvina エラー: メールソフトが起動できません。'"}}},
    {"mail_program_cannot_start",
     "MAILER=missing.exe",
     {{"launch-fails tick serve:0 mail",
       "Idle ERROR 'ﾒｰﾙｿﾌﾄが起動できません' starts=1 minute log='新着メールはありません' "
       "box='corvina エラー: メールソフトが起動できません。'"}}},
    {"settings_sheet",
     "USE_POPUPDLG=1",
     {{"tick serve:1 sheet:tick*10+popup-off",
       "Idle NORMAL 'corvina' starts=1 hides=2 minute popup=1 compacted=1 log='1 通のメール (1000 "
       "バイト)' sheet=[SettingsOpen WAIT 'corvina' starts=1 tick popup=1 popup-window log='1 "
       "通のメール (1000 バイト)' | SettingsOpen WAIT 'corvina' starts=1 tick popup=1 popup-window "
       "log='1 通のメール (1000 バイト)']"},
      {"sheet:", "Idle NORMAL 'corvina' starts=1 hides=3 minute popup=1 compacted=2 log='1 "
                 "通のメール (1000 バイト)' sheet=[SettingsOpen WAIT 'corvina' starts=1 hides=2 "
                 "tick popup=1 compacted=1 log='1 通のメール (1000 バイト)']"}}},
    // A connection test shows what it finds but never announces it, and
    // leaves nothing counted as told.
    {"connection_test",
     "USE_POPUPDLG=1;USE_BALOON=1;USE_SOUND=1;SOUND_FILE=ding.wav",
     {{"tick serve:2x1500 sheet:check+serve:2x1500",
       "Idle NORMAL 'corvina' starts=2 hides=2 minute popup=1 balloons=1 sounds=1:ding.wav "
       "compacted=1 popup-window controls=11 log='2 通のメール (3Kバイト)' sheet=[Testing WAIT "
       "'サーバーとの通信中...' starts=2 closes=1 tick popup=1 balloons=1 sounds=1:ding.wav "
       "popup-window controls=00 | SettingsOpen ARRIVE '2 通のメール (3Kバイト)' starts=2 tick "
       "popup=1 balloons=1 sounds=1:ding.wav popup-window controls=11]"},
      {"minute*5 serve:2x1500",
       "Idle ARRIVE '2 通のメール (3Kバイト)' starts=3 hides=2 blink tick minute popup=2+ "
       "balloons=2 sounds=2:ding.wav compacted=1 popup-window controls=11"}}},
    // Acknowledged while the sheet is open, what the test found counts as told.
    {"connection_test_acknowledged",
     "USE_BALOON=1",
     {{"sheet:check+serve:2x1500+ack",
       "Idle NORMAL 'corvina' starts=1 hides=2 minute compacted=1 controls=11 log='2 通のメール "
       "(3Kバイト)' sheet=[Testing WAIT 'サーバーとの通信中...' starts=1 closes=0 tick controls=00 "
       "| SettingsOpen ARRIVE '2 通のメール (3Kバイト)' starts=1 tick controls=11 | SettingsOpen "
       "ARRIVE '2 通のメール (3Kバイト)' starts=1 tick controls=11]"},
      {"minute*5 serve:2x1500",
       "Idle ARRIVE '2 通のメール (3Kバイト)' starts=2 hides=2 minute compacted=1 controls=11"}}},
    {"connection_test_aborted_or_timed_out",
     "",
     {{"sheet:check+check+check+tick*60",
       "Idle NORMAL 'corvina' starts=2 closes=3 hides=2 minute compacted=1 controls=11 "
       "log='" ADVICE_TIME_OUT "' sheet=[Testing WAIT 'サーバーとの通信中...' starts=1 closes=0 "
       "tick controls=00 | SettingsOpen ERROR '処理を中止しました' starts=1 tick controls=11 | "
       "Testing ERROR 'サーバーとの通信中...' starts=2 closes=1 tick controls=00 | SettingsOpen "
       "ERROR 'タイムアウト発生' starts=2 closes=3 tick controls=11 log='" ADVICE_TIME_OUT "']"}}},
    // The sheet closed under a running test: the test goes with it, and what
    // its server would still send is never taken as seen.
    {"sheet_closed_during_a_connection_test",
     "USEUIDL=1",
     {{"sheet:check", "Idle NORMAL 'corvina' starts=1 hides=2 minute compacted=1 controls=11 "
                      "log='処理を中止しました' sheet=[Testing WAIT 'サーバーとの通信中...' "
                      "starts=1 closes=0 tick controls=00]"},
      {"late:2 ack minute*5 serve:2", "Idle ARRIVE '2 通のメール (2000 バイト)' starts=2 hides=2 "
                                      "blink tick minute compacted=1 controls=11"}}},
    // Whatever takes the first check's place hides the main window too.
    {"manual_check_that_cannot_start",
     "STOP_IF_MSG=1;INTERVAL=3", // no mail was found, so the periodic check runs
     {{"no-password check minute*3",
       "RetryWait ERROR 'ﾊﾟｽﾜｰﾄﾞを設定してください。' starts=0 closes=2 tick"}}},
    {"pause_before_the_first_check", "", {{"pause", "Idle WAIT '定期ﾁｪｯｸ停止中' starts=0 minute paused"}}},
    {"connection_test_without_password",
     "",
     {{"sheet:no-password+check",
       "Idle NORMAL 'corvina' starts=0 closes=1 hides=2 minute compacted=1 controls=11 "
       "log='対処: 「アカウント設定」でパスワードを入れてください。' sheet=[SettingsOpen WAIT "
       "'起動時ウェイト中...' starts=0 tick | SettingsOpen ERROR 'ﾊﾟｽﾜｰﾄﾞを設定してください。' "
       "starts=0 closes=1 tick controls=11 log='対処: 「アカウント設定」でパスワードを入れてください。']"}}},
    // Sleep: a check in flight is dropped without a word and runs again after
    // the start-up wait on waking; time asleep counts towards the interval.
    {"suspend_during_a_check",
     "INTERVAL=30;STARTUP_WAIT=1;RETRY_MAX=1",
     {{"tick*2 serve:2 minute*30",
       "Checking CHECK 'サーバーとの通信中...' starts=2 closes=1 blink tick"},
      {"suspend",
       "Idle ARRIVE '2 通のメール (2000 バイト)' starts=2 blink tick minute"},
      {"sleep:5 resume tick",
       "StartupWait ARRIVE '2 通のメール (2000 バイト)' starts=2 blink tick"},
      {"tick", "Checking CHECK 'サーバーとの通信中...' starts=3 closes=2 blink tick"},
      {"serve:0", "Idle NORMAL '新着メールはありません' starts=3 minute"}}},
    {"sleep_while_idle",
     "INTERVAL=30",
     {{"tick serve:0 minute suspend sleep:20 resume minute*8",
       "Idle NORMAL '新着メールはありません' starts=1 minute"},
      {"minute", "Checking CHECK 'サーバーとの通信中...' starts=2 closes=1 tick"},
      // A timer message may come before the resume: it starts nothing.
      {"serve:0 suspend sleep:29 minute resume",
       "StartupWait NORMAL '新着メールはありません' starts=2 tick"},
      {"tick", "Checking CHECK 'サーバーとの通信中...' starts=3 closes=2 tick"}}},
    {"pause_across_sleep",
     "INTERVAL=5",
     {{"tick serve:0 pause check suspend sleep:60 resume tick*10 minute",
       "Idle WAIT '定期ﾁｪｯｸ停止中' starts=2 minute paused"},
      {"pause suspend resume", "Idle NORMAL '定期ﾁｪｯｸ再開' starts=2 minute"}}},
    // A wake restarts the start-up wait; the second resume, after the user's
    // input, changes nothing.
    {"sleep_during_a_connection_test_or_the_start_up_wait",
     "STARTUP_WAIT=1",
     {{"tick suspend resume tick", "StartupWait - '起動時ウェイト中...' starts=0 hides=0 tick"},
      {"resume tick", "Checking CHECK 'サーバーとの通信中...' starts=1 closes=0 hides=0 tick"},
      {"serve:0 sheet:check+suspend+resume",
       "Idle NORMAL 'corvina' starts=2 hides=2 minute compacted=1 controls=11 "
       "log='処理を中止しました' sheet=[Testing WAIT 'サーバーとの通信中...' starts=2 closes=1 "
       "tick controls=00 | SettingsOpen ERROR '処理を中止しました' starts=2 tick controls=11 | "
       "SettingsOpen ERROR '処理を中止しました' starts=2 tick controls=11]"}}},
    // With unique ids, acknowledging makes the listing the seen set and ends a
    // STOP_IF_MSG hold mid-interval; later mail counts from there, afresh.
    {"acknowledge_with_unique_ids",
     "USEUIDL=1;STOP_IF_MSG=1;USE_BALOON=1;INTERVAL=3",
     {{"tick serve:2 minute*4 ack minute",
       "Idle NORMAL 'corvina' starts=1 minute balloons=1 log='2 通のメール (2000 バイト)'"},
      {"minute serve:3x0",
       "Idle ARRIVE '1 通のメール (0 バイト)' starts=2 blink tick minute balloons=2"}}},
};

void PrintTo(const Scenario& scenario, std::ostream* out)
{
    *out << scenario.name;
}

class Scenarios : public CheckScenario, public testing::WithParamInterface<Scenario>
{
};

TEST_P(Scenarios, WorldAfterEachStep)
{
    const Scenario& scenario = GetParam();
    std::string text = "[CONFIG]\n"; // the first of two equal keys counts
    for (const char* c = scenario.ini; *c != '\0'; c++)
        text += *c == ';' ? '\n' : *c;
    text += "\nSERVER=pop.example.com\nACCOUNT=bob\nUSEAPOP=0\nSTARTUP_WAIT=0\n";
    std::string path = make_temp_dir("scenario") + "corvina.ini";
    write_file(path, text);
    text_copy(ini_path, sizeof ini_path, path.c_str());
    settings_load();
    strcpy(settings.plain_password, "secret");
    text_copy(program_directory, sizeof program_directory, make_temp_dir("scenario").c_str());
    if (settings.USEUIDL)
        uidl_load();
    if (settings.USE_POPUPDLG)
        popup_create();
    enter_startup_wait();
    for (const auto& step : scenario.steps) {
        sheet_world.clear();
        run_steps(step.first);
        EXPECT_EQ(step.second, world()) << "after " << step.first;
    }
}

INSTANTIATE_TEST_SUITE_P(Controller, Scenarios, testing::ValuesIn(SCENARIOS),
                         [](const testing::TestParamInfo<Scenario>& info) {
                             return std::string(info.param.name);
                         });

// A negative time or count, hand-written or let through by the sheet, never
// stalls checking and never retries without end.
TEST_F(CheckScenario, AttemptsOfAFailingSeries)
{
    const struct {
        bool manual;
        int32_t retry_max, retry_interval;
        int attempts;
    } rows[] = {
        {false, 0, 10, 1}, {false, -1, 10, 1}, {false, 2, 0, 3},  {false, 1, -1, 2},
        {true, 3, 10, 1},  {true, -1, 10, 1},  {true, -1, -1, 1},
    };
    for (const auto& row : rows) {
        SetUp();
        settings.RETRY_MAX = row.retry_max;
        settings.RETRY_INTERVAL = row.retry_interval;
        Pop3Peer refusing = mailbox(0);
        refusing.refuse = "PASS";
        dispatch_event(row.manual ? CheckCommand : Tick);
        for (int tick = 0; tick < 100; tick++) {
            if (controller.state == Checking)
                session_ends(refusing);
            dispatch_event(Tick);
        }
        EXPECT_EQ(row.attempts, fake.net_starts)
            << "RETRY_MAX " << row.retry_max << ", RETRY_INTERVAL " << row.retry_interval;
        EXPECT_EQ(Idle, controller.state);
        EXPECT_EQ(ERROR_ICON, fake.icon);
    }
}

TEST_F(CheckScenario, NegativeStartupWaitAndPopupTimeActAtTheFirstTick)
{
    settings.STARTUP_WAIT = -1;
    settings.USE_POPUPDLG = settings.AUTO_POPUP_CLOSE = 1;
    settings.AUTO_POPUP_CLOSE_TIME = -1;
    popup_create();
    enter_startup_wait();
    run_steps("tick serve:1");
    EXPECT_TRUE(fake.popup_visible);
    dispatch_event(Tick);
    EXPECT_FALSE(fake.popup_visible);
}

TEST_F(CheckScenario, IncompleteOrUnsafeSettingsNeverConnect)
{
    const struct {
        const char* server;
        const char* account;
        const char* password;
        const char* text;
    } rows[] = {
        {"", "", "", "ｻｰﾊﾞｰ名を設定してください。"},
        {"pop", "", "", "ﾕｰｻﾞｰ名を設定してください。"},
        {"pop", "bob", "", "ﾊﾟｽﾜｰﾄﾞを設定してください。"},
        // A line break would let the rest of the value reach the server as commands.
        {"pop", "bob\r\nDELE 1", "secret", "ﾕｰｻﾞｰ名かﾊﾟｽﾜｰﾄﾞに改行が含まれています。"},
        {"pop", "bob", "x\nDELE 1", "ﾕｰｻﾞｰ名かﾊﾟｽﾜｰﾄﾞに改行が含まれています。"},
        {"pop", "bob", "x\r", "ﾕｰｻﾞｰ名かﾊﾟｽﾜｰﾄﾞに改行が含まれています。"},
    };
    for (const auto& row : rows) {
        strcpy(settings.SERVER, row.server);
        strcpy(settings.ACCOUNT, row.account);
        strcpy(settings.plain_password, row.password);
        dispatch_event(CheckCommand);
        EXPECT_EQ(row.text, fake.tip);
        EXPECT_STREQ(row.text, session.error_text);
        EXPECT_EQ(row.text, fake.log);
        EXPECT_EQ(ERROR_ICON, fake.icon);
    }
    EXPECT_EQ(0, fake.net_starts);
    EXPECT_EQ("", fake.sent);
}

} // namespace
