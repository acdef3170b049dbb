// Every cell of the action table: each state is prepared so that each
// action leaves a fingerprint of its own, the event is dispatched, and the
// action is recognised by what it did.
#include <gtest/gtest.h>

#include <string.h>

#include <string>

#include "core/controller.h"
#include "pop3/session.h"
#include "pop3/uidl_store.h"
#include "settings/settings.h"
#include "tests/fakes/fakes.h"

namespace
{

void prepare(CheckState state)
{
    fakes_reset();
    strcpy(settings.MAILER, "mail.exe");
    settings.STARTUP_WAIT = 0;   // its tick starts a check with retry_count 0
    settings.RETRY_INTERVAL = 0; // its tick starts a check keeping retry_count 1
    settings.RETRY_MAX = 3;      // check_now starts one with retry_count 3
    settings.INTERVAL = 2;       // the first minute only counts
    session.message_count = 2;
    session.total_size = 100;
    controller = Controller();
    controller.state = state;
    controller.blinking = true;
    controller.retry_count = 1;
    controller.notified_count = 7;
    fake.timeout_ticks = 59; // the next time-out tick ends the session
}

std::string action_seen(CheckState before)
{
    CheckState now = controller.state;
    if (fake.sheet_shows == 1)
        return "open_settings";
    if (!fake.mail_program_command.empty())
        return "launch_mail_program";
    if (fake.mail_program_handle_closes == 1)
        return "mail_program_tick";
    if (fake.account_controls_enabled == 0 && now == Testing)
        return "start_test";
    if (fake.account_controls_enabled == 1 && now == SettingsOpen) {
        if (session.error_kind == ERROR_ABORTED)
            return "abort_test";
        if (fake.tip == "タイムアウト発生")
            return "testing_tick";
        return "test_over";
    }
    if (session.error_kind == ERROR_ABORTED && now == Idle)
        return "abort_check";
    if (fake.tip == "タイムアウト発生" && now == RetryWait)
        return "checking_tick";
    if (fake.net_starts == 1 && now == Checking) {
        if (controller.retry_count == 0)
            return "startup_wait_tick";
        if (controller.retry_count == 1)
            return "retry_wait_tick";
        if (controller.retry_count == 3 && controller.notified_count == 0)
            return "check_now";
    }
    if (fake.net_closes == 1 && now == Idle && fake.tip == "2 通のメール (100 バイト)")
        return "check_over";
    if (controller.minute_count == 1)
        return "interval_tick";
    if (controller.tick_count == 1 && fake.icon == NORMAL_ICON)
        return "idle_tick";
    if (!controller.blinking && now == before && controller.notified_count == 2)
        return "acknowledge";
    if (now == before && controller.blinking && fake.net_starts == 0 && fake.icon == -1 &&
        fake.tip.empty() && fake.log.empty() && controller.tick_count == 0)
        return "ignore";
    return "unrecognised";
}

TEST(ControllerTable, EveryCellRunsItsAction)
{
    // clang-format off
    const char* const expected[CHECK_STATE_COUNT][CHECK_EVENT_COUNT] = {
        /* Tick, MinuteTick, SessionOver, CheckCommand, SettingsCommand, MailProgramRequest, Acknowledge */
        {"startup_wait_tick", "ignore", "ignore", "check_now", "open_settings", "launch_mail_program", "acknowledge"},
        {"idle_tick", "interval_tick", "ignore", "check_now", "open_settings", "launch_mail_program", "acknowledge"},
        {"checking_tick", "ignore", "check_over", "abort_check", "ignore", "ignore", "ignore"},
        {"retry_wait_tick", "ignore", "ignore", "check_now", "open_settings", "launch_mail_program", "acknowledge"},
        {"idle_tick", "ignore", "ignore", "start_test", "ignore", "ignore", "acknowledge"},
        {"testing_tick", "ignore", "test_over", "abort_test", "ignore", "ignore", "ignore"},
        {"mail_program_tick", "ignore", "ignore", "ignore", "ignore", "ignore", "acknowledge"},
    };
    // clang-format on
    for (int state = 0; state < CHECK_STATE_COUNT; state++) {
        for (int event = 0; event < CHECK_EVENT_COUNT; event++) {
            prepare((CheckState)state);
            dispatch_event((CheckEvent)event);
            EXPECT_EQ(expected[state][event], action_seen((CheckState)state))
                << "state " << state << ", event " << event;
        }
    }
}

} // namespace
