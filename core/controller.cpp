// The check controller's action table and its actions.
//
// Time is counted in ticks of two window timers: 500 ms and 60 s. In Idle
// only the minute timer runs (and the tick timer while new mail blinks); in
// every other state only the tick timer. Timer messages stop while the
// system sleeps, so the interval also reads the clock, which does not.
// Settings are compared unsigned, so N seconds are N * 2 ticks in 32-bit
// arithmetic. A negative time or count (an INI file edited by hand, an
// entry the sheet let through) counts as zero: read unsigned, it would wait
// some 50 days or retry without end.
#include "core/controller.h"

#include <string.h>

#include "core/clock.h"
#include "core/mail_program.h"
#include "core/main_window.h"
#include "core/report.h"
#include "core/sound.h"
#include "core/text.h"
#include "pop3/failure_hint.h"
#include "pop3/finder.h"
#include "pop3/net.h"
#include "pop3/session.h"
#include "pop3/top.h"
#include "pop3/uidl_store.h"
#include "settings/settings.h"
#include "tray/menu.h"
#include "tray/popup.h"
#include "tray/tray.h"
#include "ui/session_log.h"
#include "ui/sheet.h"

Controller controller;
bool main_window_not_yet_hidden;

static const char TIP_IDLE[] = "corvina";
static const char TIP_CHECKING[] = "サーバーとの通信中...";
static const char TEXT_ABORTED[] = "処理を中止しました";

static uint32_t not_negative(int32_t value)
{
    return value < 0 ? 0 : (uint32_t)value;
}

static uint32_t seconds_to_ticks(int32_t seconds)
{
    return not_negative(seconds) * 1000u / TICK_TIMER_MS;
}

static void start_tick_timer(void)
{
    if (controller.tick_timer == 0)
        controller.tick_timer = main_window_set_timer(TICK_TIMER_ID, TICK_TIMER_MS);
}

static void stop_tick_timer(void)
{
    if (controller.tick_timer != 0) {
        main_window_kill_timer(controller.tick_timer);
        controller.tick_timer = 0;
    }
}

static void start_minute_timer(void)
{
    if (controller.minute_timer == 0)
        controller.minute_timer = main_window_set_timer(MINUTE_TIMER_ID, MINUTE_TIMER_MS);
}

static void stop_minute_timer(void)
{
    if (controller.minute_timer != 0) {
        main_window_kill_timer(controller.minute_timer);
        controller.minute_timer = 0;
    }
}

static void restart_interval(void)
{
    controller.minute_count = 0;
    controller.interval_start_ms = clock_ms();
}

// Whole minutes since the interval started: the timer's count, or the
// clock's when the system slept meanwhile.
static uint32_t interval_minutes(void)
{
    uint64_t minutes = (clock_ms() - controller.interval_start_ms) / MINUTE_TIMER_MS;
    if (minutes > controller.minute_count)
        return minutes > UINT32_MAX ? UINT32_MAX : (uint32_t)minutes;
    return controller.minute_count;
}

void enter_state(CheckState state)
{
    menu_update_for_state(state);
    popup_enable_for_state(state);
    // Stopped first, so every entry into Idle restarts the minute's phase.
    stop_minute_timer();
    if (state == Idle) {
        start_minute_timer();
        if (controller.blinking)
            start_tick_timer();
        else
            stop_tick_timer();
    } else {
        start_tick_timer();
    }
    controller.tick_count = 0;
    restart_interval();
    controller.state = state;
}

void enter_idle(void)
{
    enter_state(Idle);
}

void show_resting_icon(void)
{
    tray_set_icon(controller.paused ? WAIT_ICON : NORMAL_ICON);
}

void hide_main_window_once(void)
{
    if (main_window_not_yet_hidden) {
        main_window_not_yet_hidden = false;
        main_window_hide();
    }
}

// A user name or password with CR or LF in it would end its command early
// and put what follows on the wire as commands of its own (such as DELE).
// The INI file can hold such a value: the decoded password may be any bytes.
static bool has_line_break(const char* text)
{
    return strpbrk(text, "\r\n") != nullptr;
}

// Returns error_kind: 0 when the session is under way. A start that failed
// is reported by the caller, once, as every other end of an attempt is.
static int32_t start_session(void)
{
    log_clear();
    session.error_kind = ERROR_NONE;
    const char* missing = nullptr;
    if (settings.SERVER[0] == '\0')
        missing = "ｻｰﾊﾞｰ名を設定してください。";
    else if (settings.ACCOUNT[0] == '\0')
        missing = "ﾕｰｻﾞｰ名を設定してください。";
    else if (settings.plain_password[0] == '\0')
        missing = "ﾊﾟｽﾜｰﾄﾞを設定してください。";
    else if (has_line_break(settings.ACCOUNT) || has_line_break(settings.plain_password))
        missing = "ﾕｰｻﾞｰ名かﾊﾟｽﾜｰﾄﾞに改行が含まれています。";
    if (missing) {
        set_error_text(missing);
        session.error_kind = ERROR_FAILED;
    }
    // The connection starts before the tray hears of it: telling the shell
    // takes a message to another process, and the server need not wait.
    if (session.error_kind == ERROR_NONE) {
        top_announced(controller.notified_count, controller.notified_size);
        net_start();
    }
    tray_set_tip(TIP_CHECKING);
    return session.error_kind;
}

// Returns true when the attempt failed to start.
static bool begin_check(void)
{
    controller.icon_before_check = tray_icon_shown();
    text_copy(controller.tip_before_check, sizeof controller.tip_before_check, tray_tip_shown());
    if (start_session() != ERROR_NONE) {
        net_close();
        return true;
    }
    tray_set_icon(CHECK_ICON);
    tray_set_tip(TIP_CHECKING);
    enter_state(Checking);
    return false;
}

// One series makes at most 1 + RETRY_MAX attempts.
static void retry_or_idle(void)
{
    controller.retry_count++;
    if (controller.retry_count <= not_negative(settings.RETRY_MAX)) {
        enter_state(RetryWait);
    } else {
        hide_main_window_once();
        enter_idle();
    }
}

static void end_test(void)
{
    hint_log();
    account_enable_controls(1);
    sheet_enable_buttons(1);
    report_outcome();
    enter_state(SettingsOpen);
}

// The user has taken note of the news.
static void acknowledge(void)
{
    controller.blinking = false;
    if (controller.state == Idle) {
        stop_tick_timer();
        show_resting_icon();
        tray_set_tip(TIP_IDLE);
    }
    popup_hide();
    controller.popup_close_pending = false;
    if (settings.USEUIDL) {
        uidl_commit();
        session.message_count = 0;
        controller.notified_count = 0;
        session.total_size = 0;
        controller.notified_size = 0;
    } else {
        controller.notified_count = session.message_count;
        controller.notified_size = session.total_size;
    }
}

static void startup_wait_tick(void)
{
    controller.tick_count++;
    if (controller.tick_count < seconds_to_ticks(settings.STARTUP_WAIT))
        return;
    controller.retry_count = 0;
    if (begin_check()) {
        report_outcome();
        retry_or_idle();
    }
}

// Blinks announced mail and closes the popup by itself; Idle and SettingsOpen.
static void idle_tick(void)
{
    if (!controller.blinking)
        return;
    controller.tick_count++;
    // A popup held back while the user was busy closes by itself counting
    // from when it is shown.
    HeldAnnouncement held = release_held_announcement();
    if (held == RELEASED)
        controller.tick_count = 0;
    if (settings.AUTO_POPUP_CLOSE && controller.popup_close_pending && held == NOTHING_HELD &&
        controller.tick_count >= seconds_to_ticks(settings.AUTO_POPUP_CLOSE_TIME)) {
        controller.popup_close_pending = false;
        popup_hide();
        return;
    }
    if (controller.tick_count % 2 == 1)
        show_resting_icon();
    else
        tray_set_icon(ARRIVE_ICON);
}

static bool periodic_checks_held(void)
{
    return (settings.STOP_IF_MSG && session.message_count != 0) || controller.paused;
}

// The periodic check.
static void interval_tick(void)
{
    controller.minute_count++;
    controller.minute_count = interval_minutes();
    if (controller.minute_count < settings.INTERVAL)
        return;
    restart_interval();
    if (periodic_checks_held())
        return;
    controller.retry_count = 0;
    if (begin_check()) {
        report_outcome();
        retry_or_idle();
    }
}

// The user asks for a check: never retried, and mail found is announced again.
static void check_now(void)
{
    controller.notified_size = 0;
    controller.notified_count = 0;
    controller.retry_count = not_negative(settings.RETRY_MAX);
    if (begin_check()) {
        hide_main_window_once();
        report_outcome();
        enter_idle();
    }
}

static void check_over(void)
{
    net_close();
    hide_main_window_once();
    report_outcome();
    if (session.error_kind != ERROR_NONE)
        retry_or_idle();
    else
        enter_idle();
}

static void checking_tick(void)
{
    if (net_timeout_tick() != 1)
        return;
    if (session.error_kind == ERROR_NONE) { // QUIT answered, the server never closed
        check_over();
        return;
    }
    net_close();
    report_outcome();
    retry_or_idle();
}

static void abort_check(void)
{
    net_close();
    set_error_text(TEXT_ABORTED);
    session.error_kind = ERROR_ABORTED;
    hide_main_window_once();
    report_outcome();
    enter_idle();
}

static void retry_wait_tick(void)
{
    controller.tick_count++;
    if (controller.tick_count < seconds_to_ticks(settings.RETRY_INTERVAL))
        return;
    if (begin_check()) {
        report_outcome();
        retry_or_idle();
    }
}

// A search for the server's settings runs its attempts in Testing, one
// session each; the test button's "中止" stops it as it stops a test.
static bool finding;

static void run_find_attempts(void)
{
    while (find_next_attempt()) {
        session.error_kind = ERROR_NONE;
        if (net_start() == 0) {
            enter_state(Testing);
            return;
        }
        net_close();
        find_attempt_over();
    }
    finding = false;
    find_end();
    account_enable_controls(1);
    sheet_enable_buttons(1);
    enter_state(SettingsOpen);
}

static void find_attempt_ended(void)
{
    net_close();
    find_attempt_over();
    run_find_attempts();
}

void find_settings(void)
{
    if (controller.state != SettingsOpen)
        return;
    account_enable_controls(0);
    sheet_enable_buttons(0);
    log_clear();
    finding = true;
    find_begin();
    run_find_attempts();
}

// The account page has already stored its fields into the settings.
static void start_test(void)
{
    account_enable_controls(0);
    sheet_enable_buttons(0);
    controller.notified_size = 0;
    controller.notified_count = 0;
    if (start_session() == ERROR_NONE) {
        enter_state(Testing);
    } else {
        net_close();
        end_test();
    }
}

static void test_over(void)
{
    if (finding) {
        find_attempt_ended();
        return;
    }
    net_close();
    end_test();
}

static void testing_tick(void)
{
    if (net_timeout_tick() == 1)
        test_over();
}

static void abort_test(void)
{
    net_close();
    set_error_text(TEXT_ABORTED);
    session.error_kind = ERROR_ABORTED;
    if (finding) {
        find_stop();
        find_attempt_ended();
        return;
    }
    end_test();
}

// The sheet runs its own message loop: meanwhile events arrive in the
// SettingsOpen and Testing rows.
void open_settings(void)
{
    dispatch_event(Acknowledge);
    tray_set_icon(WAIT_ICON);
    hide_main_window_once();
    enter_state(SettingsOpen);
    sheet_show();
    // The sheet refuses to close during a connection test; should it close
    // all the same, the test goes with it rather than run on unowned.
    if (controller.state == Testing)
        abort_test();
    if (settings.USE_POPUPDLG)
        popup_create();
    else
        popup_destroy();
    tray_set_tip(TIP_IDLE);
    show_resting_icon();
    main_window_hide();
    heap_compact();
    enter_idle();
}

static void ignore(void)
{
}

typedef void (*Action)(void);

// clang-format off
static const Action ACTIONS[CHECK_STATE_COUNT * CHECK_EVENT_COUNT] = {
    //                       Tick               MinuteTick     SessionOver  CheckCommand  SettingsCommand  MailProgramRequest   Acknowledge
    /* StartupWait */        startup_wait_tick, ignore,        ignore,      check_now,    open_settings,   launch_mail_program, acknowledge,
    /* Idle */               idle_tick,         interval_tick, ignore,      check_now,    open_settings,   launch_mail_program, acknowledge,
    /* Checking */           checking_tick,     ignore,        check_over,  abort_check,  ignore,          ignore,              ignore,
    /* RetryWait */          retry_wait_tick,   ignore,        ignore,      check_now,    open_settings,   launch_mail_program, acknowledge,
    /* SettingsOpen */       idle_tick,         ignore,        ignore,      start_test,   ignore,          ignore,              acknowledge,
    /* Testing */            testing_tick,      ignore,        test_over,   abort_test,   ignore,          ignore,              ignore,
    /* MailProgramRunning */ mail_program_tick, ignore,        ignore,      ignore,       ignore,          ignore,              acknowledge,
};
// clang-format on

void dispatch_event(CheckEvent event)
{
    // A timer message that slips in between suspend and sleep starts nothing.
    if (controller.asleep && (event == Tick || event == MinuteTick))
        return;
    ACTIONS[controller.state * CHECK_EVENT_COUNT + event]();
}

void toggle_pause(void)
{
    dispatch_event(Acknowledge);
    controller.paused = !controller.paused;
    menu_set_paused(controller.paused);
    tray_set_tip(controller.paused ? "定期ﾁｪｯｸ停止中" : "定期ﾁｪｯｸ再開");
    show_resting_icon();
    hide_main_window_once();
    enter_idle();
}

void init_controller(void)
{
    controller.state = Idle; // directly: no timer runs yet and there is no menu
    session.message_count = 0;
    session.total_size = 0;
    controller.notified_count = 0;
    controller.notified_size = 0;
    controller.blinking = false;
    controller.tick_count = 0;
    restart_interval();
    controller.paused = false;
    controller.asleep = false;
    controller.check_abandoned = false;
    sound_play(""); // loads the sound library before it is needed
}

void enter_startup_wait(void)
{
    tray_set_tip("起動時ウェイト中...");
    enter_state(StartupWait);
}

// A check in flight is dropped without a word: no failure shown, no retry
// counted, the tray as it was before the check. A connection test ends as
// if aborted, which its log then says.
void controller_suspend(void)
{
    controller.asleep = true;
    if (controller.state == Checking) {
        net_close();
        controller.check_abandoned = true;
        tray_set_icon(controller.icon_before_check);
        tray_set_tip(controller.tip_before_check);
        hide_main_window_once();
        enter_idle();
    } else if (controller.state == Testing) {
        abort_test();
    }
}

// The check that fell due asleep, or was dropped at suspend, runs once the
// start-up wait has given the network time to come back; the tray keeps
// what it shows. A paused program stays quiet. Only the first resume after
// a suspend counts; without one, the clock still counts the time asleep.
void controller_resume(void)
{
    if (!controller.asleep)
        return;
    controller.asleep = false;
    bool abandoned = controller.check_abandoned;
    controller.check_abandoned = false;
    if (controller.paused)
        return;
    bool due = !periodic_checks_held() && interval_minutes() >= settings.INTERVAL;
    if (controller.state == StartupWait || (controller.state == Idle && (abandoned || due)))
        enter_state(StartupWait);
}
