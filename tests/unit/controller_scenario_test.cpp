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
#include "tests/fakes/pop3_peer.h"
#include "tests/unit/temp_dir.h"
#include "tray/popup.h"

namespace
{

const char TIP_CHECKING[] = "サーバーとの通信中...";

Pop3Peer mailbox(int count, int64_t size_each = 1000)
{
    Pop3Peer peer;
    for (int i = 0; i < count; i++)
        peer.messages.push_back({"uid-" + std::to_string(i), size_each});
    return peer;
}

class CheckScenario : public testing::Test
{
  protected:
    void SetUp() override
    {
        fakes_reset();
        uidl_free();
        settings_reset();
        strcpy(settings.SERVER, "pop.example.com");
        strcpy(settings.ACCOUNT, "bob");
        strcpy(settings.plain_password, "secret");
        settings.USEAPOP = 0;
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

    void TearDown() override
    {
        uidl_free();
    }

    static void ticks(int count)
    {
        for (int i = 0; i < count; i++)
            dispatch_event(Tick);
    }

    static void minutes(int count)
    {
        for (int i = 0; i < count; i++)
            dispatch_event(MinuteTick);
    }

    // The server answers, then closes the connection: the session is over.
    static void session_ends(const Pop3Peer& peer)
    {
        ASSERT_TRUE(controller.state == Checking || controller.state == Testing)
            << "state " << controller.state;
        pop3_peer_serve(peer);
        dispatch_event(SessionOver);
    }

    // The first check, at the first tick, finds this mailbox.
    static void first_check_finds(const Pop3Peer& peer)
    {
        ticks(1);
        session_ends(peer);
    }
};

TEST_F(CheckScenario, StartupWaitOfThreeSecondsChecksOnTheSixthTick)
{
    settings.STARTUP_WAIT = 3;
    enter_startup_wait();
    EXPECT_EQ("起動時ウェイト中...", fake.tip);
    EXPECT_TRUE(fake.tick_timer_running);
    EXPECT_FALSE(fake.minute_timer_running);
    ticks(5);
    EXPECT_EQ(StartupWait, controller.state);
    EXPECT_EQ(0, fake.net_starts);
    ticks(1);
    EXPECT_EQ(Checking, controller.state);
    EXPECT_EQ(1, fake.net_starts);
    EXPECT_EQ(CHECK_ICON, fake.icon);
    EXPECT_EQ(TIP_CHECKING, fake.tip);
    EXPECT_EQ(Checking, fake.menu_state);
    EXPECT_FALSE(fake.popup_enabled);
}

TEST_F(CheckScenario, CheckWithMailShowsCountAndSizeAndBlinks)
{
    first_check_finds(mailbox(3, 4000));
    EXPECT_EQ(Idle, controller.state);
    EXPECT_EQ("3 通のメール (12Kバイト)", fake.tip);
    EXPECT_EQ(ARRIVE_ICON, fake.icon);
    EXPECT_TRUE(controller.blinking);
    EXPECT_TRUE(fake.minute_timer_running);
    EXPECT_TRUE(fake.tick_timer_running); // for the blinking
    EXPECT_EQ(1, fake.main_window_hides);
    EXPECT_EQ(1, fake.net_closes);

    dispatch_event(CheckCommand);
    session_ends(mailbox(0));
    EXPECT_EQ("新着メールはありません", fake.tip);
    EXPECT_EQ(NORMAL_ICON, fake.icon);
    EXPECT_FALSE(fake.tick_timer_running);
    EXPECT_TRUE(fake.minute_timer_running);
}

TEST_F(CheckScenario, IntervalCountsAfreshOnEveryEntryIntoIdle)
{
    settings.INTERVAL = 5;
    first_check_finds(mailbox(0));
    minutes(4);
    EXPECT_EQ(1, fake.net_starts);
    minutes(1);
    EXPECT_EQ(2, fake.net_starts);
    session_ends(mailbox(0));

    minutes(3);
    dispatch_event(CheckCommand);
    session_ends(mailbox(0));
    minutes(4);
    EXPECT_EQ(3, fake.net_starts);
    toggle_pause(); // enters Idle twice
    toggle_pause();
    minutes(4);
    EXPECT_EQ(3, fake.net_starts);
    minutes(1);
    EXPECT_EQ(4, fake.net_starts);
}

TEST_F(CheckScenario, FailingPeriodicSeriesMakesOnePlusRetryMaxAttempts)
{
    settings.RETRY_MAX = 3;
    settings.RETRY_INTERVAL = 10;
    settings.INTERVAL = 5;
    Pop3Peer refusing = mailbox(1);
    refusing.refuse = "PASS";

    first_check_finds(refusing);
    for (int attempt = 2; attempt <= 4; attempt++) {
        SCOPED_TRACE(attempt);
        EXPECT_EQ(RetryWait, controller.state);
        EXPECT_EQ(ERROR_ICON, fake.icon);
        EXPECT_EQ("-ERR PASS refused\r\n", fake.tip);
        EXPECT_TRUE(fake.tick_timer_running);
        EXPECT_FALSE(fake.minute_timer_running);
        ticks(19);
        EXPECT_EQ(attempt - 1, fake.net_starts);
        ticks(1);
        EXPECT_EQ(attempt, fake.net_starts);
        session_ends(refusing);
    }
    EXPECT_EQ(Idle, controller.state);
    EXPECT_EQ(ERROR_ICON, fake.icon);
    ticks(100);
    minutes(4);
    EXPECT_EQ(4, fake.net_starts);

    // The next periodic check starts a new series.
    minutes(1);
    EXPECT_EQ(5, fake.net_starts);
    EXPECT_EQ(0u, controller.retry_count);
}

TEST_F(CheckScenario, AttemptsThatCannotStartCountAsFailures)
{
    settings.RETRY_MAX = 1;
    settings.RETRY_INTERVAL = 10;
    fake.net_start_error = "ｻｰﾊﾞIPｱﾄﾞﾚｽの取得失敗";
    ticks(1);
    EXPECT_EQ(RetryWait, controller.state);
    EXPECT_EQ("ｻｰﾊﾞIPｱﾄﾞﾚｽの取得失敗", fake.tip);
    EXPECT_EQ(ERROR_ICON, fake.icon);
    ticks(20);
    EXPECT_EQ(2, fake.net_starts);
    EXPECT_EQ(2, fake.net_closes);
    EXPECT_EQ(Idle, controller.state);
}

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
            ticks(1);
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
    first_check_finds(mailbox(1));
    EXPECT_TRUE(fake.popup_visible);
    ticks(1);
    EXPECT_FALSE(fake.popup_visible);
}

TEST_F(CheckScenario, SessionTimesOutAtTheSixtiethTick)
{
    settings.RETRY_MAX = 0;
    ticks(1);
    ticks(59);
    EXPECT_EQ(Checking, controller.state);
    ticks(1);
    EXPECT_EQ(Idle, controller.state);
    EXPECT_EQ("タイムアウト発生", fake.tip);
    EXPECT_EQ(ERROR_ICON, fake.icon);
    EXPECT_EQ(2, fake.net_closes); // the time-out and the controller both close
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

TEST_F(CheckScenario, CheckCommandWhileCheckingAborts)
{
    settings.RETRY_MAX = 3;
    ticks(1);
    dispatch_event(CheckCommand);
    EXPECT_EQ(Idle, controller.state);
    EXPECT_EQ("処理を中止しました", fake.tip);
    EXPECT_EQ(ERROR_ICON, fake.icon);
    EXPECT_EQ(ERROR_ABORTED, session.error_kind);
    ticks(100);
    EXPECT_EQ(1, fake.net_starts);
}

TEST_F(CheckScenario, PauseSkipsPeriodicChecksButNotManualOnes)
{
    settings.INTERVAL = 3;
    first_check_finds(mailbox(0));
    toggle_pause();
    EXPECT_TRUE(controller.paused);
    EXPECT_TRUE(fake.menu_paused);
    EXPECT_EQ("定期ﾁｪｯｸ停止中", fake.tip);
    EXPECT_EQ(WAIT_ICON, fake.icon);
    minutes(10);
    EXPECT_EQ(1, fake.net_starts);

    dispatch_event(CheckCommand);
    EXPECT_EQ(2, fake.net_starts);
    session_ends(mailbox(0));
    EXPECT_EQ(WAIT_ICON, fake.icon); // resting while paused

    toggle_pause();
    EXPECT_FALSE(fake.menu_paused);
    EXPECT_EQ("定期ﾁｪｯｸ再開", fake.tip);
    EXPECT_EQ(NORMAL_ICON, fake.icon);
    minutes(3);
    EXPECT_EQ(3, fake.net_starts);
}

TEST_F(CheckScenario, StopIfMsgHoldsPeriodicChecksUntilTheCountIsZero)
{
    settings.STOP_IF_MSG = 1;
    settings.INTERVAL = 3;
    first_check_finds(mailbox(2));
    minutes(9);
    EXPECT_EQ(1, fake.net_starts);

    dispatch_event(CheckCommand); // manual checks still run
    session_ends(mailbox(0));
    EXPECT_EQ(0, session.message_count);
    minutes(3);
    EXPECT_EQ(3, fake.net_starts);
}

TEST_F(CheckScenario, BlinkingAlternatesFromTheRestingIconAndThePopupClosesItself)
{
    settings.USE_POPUPDLG = 1;
    settings.AUTO_POPUP_CLOSE = 1;
    settings.AUTO_POPUP_CLOSE_TIME = 2; // 4 ticks
    popup_create();
    first_check_finds(mailbox(1));
    EXPECT_TRUE(fake.popup_visible);
    EXPECT_EQ("新着メールがあります。", fake.popup_heading);
    EXPECT_EQ("1 通のメール (1000 バイト)", fake.popup_text);

    const int expected[] = {NORMAL_ICON, ARRIVE_ICON, NORMAL_ICON};
    for (int icon : expected) {
        ticks(1);
        EXPECT_EQ(icon, fake.icon);
        EXPECT_TRUE(fake.popup_visible);
    }
    ticks(1); // the fourth tick closes the popup and leaves the icon
    EXPECT_FALSE(fake.popup_visible);
    EXPECT_EQ(NORMAL_ICON, fake.icon);
    EXPECT_FALSE(controller.popup_close_pending);
    ticks(1);
    EXPECT_EQ(NORMAL_ICON, fake.icon);
    ticks(1);
    EXPECT_EQ(ARRIVE_ICON, fake.icon);
    EXPECT_TRUE(controller.blinking);
}

TEST_F(CheckScenario, AcknowledgeInIdleStopsTheBlinking)
{
    settings.USE_POPUPDLG = 1;
    popup_create();
    first_check_finds(mailbox(2));
    dispatch_event(Acknowledge);
    EXPECT_FALSE(controller.blinking);
    EXPECT_FALSE(fake.tick_timer_running);
    EXPECT_EQ(NORMAL_ICON, fake.icon);
    EXPECT_EQ("corvina", fake.tip);
    EXPECT_FALSE(fake.popup_visible);
    EXPECT_EQ(2, controller.notified_count);
    EXPECT_EQ(2000, controller.notified_size);
}

TEST_F(CheckScenario, AcknowledgeInRetryWaitLeavesIconAndTip)
{
    settings.USE_POPUPDLG = 1;
    settings.INTERVAL = 3;
    popup_create();
    first_check_finds(mailbox(2));
    minutes(3);
    Pop3Peer refusing = mailbox(2);
    refusing.refuse = "PASS";
    session_ends(refusing);
    ASSERT_EQ(RetryWait, controller.state);
    EXPECT_TRUE(controller.blinking);
    dispatch_event(Acknowledge);
    EXPECT_FALSE(controller.blinking);
    EXPECT_FALSE(fake.popup_visible);
    EXPECT_EQ(ERROR_ICON, fake.icon);
    EXPECT_EQ("-ERR PASS refused\r\n", fake.tip);
    EXPECT_EQ(RetryWait, controller.state);
}

TEST_F(CheckScenario, SettingsAcknowledgeFirstAndReturnToIdle)
{
    settings.USE_POPUPDLG = 1;
    popup_create();
    first_check_finds(mailbox(1));
    fake.while_sheet_open = [] {
        EXPECT_EQ(SettingsOpen, controller.state);
        EXPECT_FALSE(controller.blinking);
        EXPECT_FALSE(fake.popup_visible);
        EXPECT_EQ(WAIT_ICON, fake.icon);
        EXPECT_EQ(SettingsOpen, fake.menu_state);
        EXPECT_FALSE(fake.popup_enabled);
        EXPECT_TRUE(fake.tick_timer_running);
        EXPECT_FALSE(fake.minute_timer_running);
        ticks(10); // no blinking while the sheet is open
        EXPECT_EQ(WAIT_ICON, fake.icon);
        settings.USE_POPUPDLG = 0; // the user turns the popup off
    };
    dispatch_event(SettingsCommand);
    EXPECT_EQ(1, fake.sheet_shows);
    EXPECT_EQ(Idle, controller.state);
    EXPECT_EQ("corvina", fake.tip);
    EXPECT_EQ(NORMAL_ICON, fake.icon);
    EXPECT_FALSE(fake.popup_exists);
    EXPECT_EQ(1, fake.heap_compactions);
    EXPECT_EQ(2, fake.main_window_hides); // hidden again behind the sheet
    EXPECT_TRUE(fake.minute_timer_running);
    EXPECT_FALSE(fake.tick_timer_running);
    fake.while_sheet_open = [] { settings.USE_POPUPDLG = 1; };
    dispatch_event(SettingsCommand);
    EXPECT_TRUE(fake.popup_exists);
}

TEST_F(CheckScenario, ConnectionTestShowsButNeverAnnounces)
{
    settings.USE_POPUPDLG = settings.USE_BALOON = settings.USE_SOUND = 1;
    strcpy(settings.SOUND_FILE, "ding.wav");
    popup_create();
    first_check_finds(mailbox(2, 1500));
    fake.while_sheet_open = [] {
        dispatch_event(CheckCommand); // the account page's test button
        EXPECT_EQ(Testing, controller.state);
        EXPECT_EQ(TIP_CHECKING, fake.tip);
        EXPECT_EQ(0, fake.account_controls_enabled);
        EXPECT_EQ(0, fake.sheet_buttons_enabled);
        session_ends(mailbox(2, 1500));
        EXPECT_EQ(SettingsOpen, controller.state);
        EXPECT_EQ(1, fake.account_controls_enabled);
        EXPECT_EQ(1, fake.sheet_buttons_enabled);
        EXPECT_EQ("2 通のメール (3Kバイト)", fake.tip);
        EXPECT_EQ(ARRIVE_ICON, fake.icon);
        EXPECT_EQ("+OK ready <1.2@test>\r\nUSER bob\r\n+OK\r\nPASS *****\r\n+OK\r\nSTAT\r\n"
                  "+OK 2 3000\r\nQUIT\r\n+OK bye\r\n2 通のメール (3Kバイト)",
                  fake.log);
    };
    dispatch_event(SettingsCommand);
    EXPECT_EQ(1, fake.popup_shows);
    EXPECT_EQ(1u, fake.balloons.size());
    EXPECT_EQ(2u, fake.sounds.size()); // the one at start and the first check's
    EXPECT_FALSE(controller.blinking);
    EXPECT_EQ(2, fake.net_closes);

    // The test zeroed what was announced, so the next check announces the same mail.
    minutes(5);
    session_ends(mailbox(2, 1500));
    EXPECT_EQ(2, fake.popup_shows);
}

TEST_F(CheckScenario, ConnectionTestAbortedOrTimedOut)
{
    fake.while_sheet_open = [] {
        dispatch_event(CheckCommand);
        dispatch_event(CheckCommand); // "中止"
        EXPECT_EQ(SettingsOpen, controller.state);
        EXPECT_EQ("処理を中止しました", fake.tip);
        EXPECT_EQ("処理を中止しました", fake.log);
        EXPECT_EQ(1, fake.account_controls_enabled);

        dispatch_event(CheckCommand);
        ticks(60);
        EXPECT_EQ(SettingsOpen, controller.state);
        EXPECT_EQ("タイムアウト発生", fake.tip);
    };
    dispatch_event(SettingsCommand);
    EXPECT_EQ(Idle, controller.state);
    EXPECT_EQ(3, fake.net_closes); // the time-out closes, and so does the controller
}

TEST_F(CheckScenario, ConnectionTestWithoutPasswordEndsAtOnce)
{
    fake.while_sheet_open = [] {
        settings.plain_password[0] = '\0';
        dispatch_event(CheckCommand);
        EXPECT_EQ(SettingsOpen, controller.state);
        EXPECT_EQ(1, fake.account_controls_enabled);
        EXPECT_EQ("ﾊﾟｽﾜｰﾄﾞを設定してください。", fake.log);
    };
    dispatch_event(SettingsCommand);
    EXPECT_EQ(0, fake.net_starts);
    EXPECT_EQ(1, fake.net_closes);
}

TEST_F(CheckScenario, SessionOverAfterTheSheetClosedIsIgnored)
{
    fake.while_sheet_open = [] {
        dispatch_event(CheckCommand);
        ASSERT_EQ(Testing, controller.state);
    }; // the sheet closes while the test runs
    dispatch_event(SettingsCommand);
    ASSERT_EQ(Idle, controller.state);
    pop3_peer_serve(mailbox(3));
    dispatch_event(SessionOver);
    EXPECT_EQ(Idle, controller.state);
    EXPECT_EQ("corvina", fake.tip);
    EXPECT_EQ(NORMAL_ICON, fake.icon);
    EXPECT_FALSE(controller.blinking);
}

// With unique ids, acknowledging makes the listing the seen set and ends a
// STOP_IF_MSG hold; later mail counts from there, announced afresh.
TEST_F(CheckScenario, AcknowledgeWithUniqueIdsCommitsTheListing)
{
    settings.USEUIDL = settings.STOP_IF_MSG = settings.USE_BALOON = 1;
    settings.INTERVAL = 3;
    text_copy(program_directory, sizeof program_directory, make_temp_dir("ack").c_str());
    uidl_load();
    first_check_finds(mailbox(2));
    dispatch_event(Acknowledge);
    minutes(3);
    session_ends(mailbox(2));
    EXPECT_EQ("新着メールはありません", fake.tip);
    minutes(3);
    session_ends(mailbox(4)); // two new ones, as many bytes as the first two
    EXPECT_EQ("2 通のメール (2000 バイト)", fake.tip);
    EXPECT_EQ(2u, fake.balloons.size());
}

TEST_F(CheckScenario, AnnouncedOnceForTheSameCountAndSizeAgainWhenTheyChange)
{
    settings.INTERVAL = 3;
    settings.USE_POPUPDLG = settings.USE_BALOON = settings.USE_SOUND = 1;
    strcpy(settings.SOUND_FILE, "%CORVINA_TEST%\\new.wav");
    popup_create();

    first_check_finds(mailbox(2));
    EXPECT_EQ(1, fake.popup_shows);
    EXPECT_EQ(std::vector<std::string>{"2 通のメール (2000 バイト)"}, fake.balloons);
    EXPECT_EQ((std::vector<std::string>{"", "C:\\test dir\\new.wav"}), fake.sounds);

    minutes(3);
    session_ends(mailbox(2)); // the same two, not acknowledged
    EXPECT_EQ(1, fake.popup_shows);
    EXPECT_EQ(1u, fake.balloons.size());
    EXPECT_EQ("2 通のメール (2000 バイト)", fake.tip);
    EXPECT_EQ(ARRIVE_ICON, fake.icon);

    minutes(3);
    session_ends(mailbox(3)); // a third arrives
    EXPECT_EQ(2, fake.popup_shows);
    EXPECT_EQ(2u, fake.balloons.size());
    EXPECT_EQ(3u, fake.sounds.size());
}

TEST_F(CheckScenario, AfterAFailureTheNextSuccessComparesWithWhatTheFailureLeft)
{
    settings.INTERVAL = 3;
    settings.RETRY_MAX = 0;
    settings.USE_BALOON = 1;
    first_check_finds(mailbox(2));
    EXPECT_EQ(1u, fake.balloons.size());

    // Fails at login: the figures stay those of the last success.
    minutes(3);
    Pop3Peer refusing = mailbox(2);
    refusing.refuse = "PASS";
    session_ends(refusing);
    EXPECT_EQ(1u, fake.balloons.size());
    minutes(3);
    session_ends(mailbox(2));
    EXPECT_EQ(1u, fake.balloons.size());

    // Fails after STAT: the failure leaves the new figures, which count as told.
    minutes(3);
    Pop3Peer quit_refused = mailbox(4);
    quit_refused.refuse = "QUIT";
    session_ends(quit_refused);
    EXPECT_EQ(ERROR_ICON, fake.icon);
    EXPECT_EQ(4, controller.notified_count);
    minutes(3);
    session_ends(mailbox(4));
    EXPECT_EQ(1u, fake.balloons.size());
}

TEST_F(CheckScenario, NoMailAfterBlinkingStopsIt)
{
    settings.INTERVAL = 3;
    settings.USE_POPUPDLG = 1;
    popup_create();
    first_check_finds(mailbox(1));
    minutes(3);
    session_ends(mailbox(0)); // fetched elsewhere
    EXPECT_FALSE(controller.blinking);
    EXPECT_FALSE(fake.popup_visible);
    EXPECT_EQ(NORMAL_ICON, fake.icon);
    EXPECT_EQ("新着メールはありません", fake.tip);
    EXPECT_FALSE(fake.tick_timer_running);
}

// The main window is hidden by whatever ends the first check or takes its
// place, and only once.
TEST_F(CheckScenario, MainWindowIsHiddenOnceWhateverComesFirst)
{
    void (*const firsts[])() = {
        [] { first_check_finds(mailbox(0)); },
        [] { // a series without retries ends
            settings.RETRY_MAX = 0;
            fake.net_start_error = "x";
            ticks(1);
        },
        [] { // a manual check that cannot start
            settings.SERVER[0] = '\0';
            dispatch_event(CheckCommand);
        },
        [] { // aborted
            ticks(1);
            dispatch_event(CheckCommand);
        },
        [] { toggle_pause(); },
        [] { dispatch_event(SettingsCommand); },
    };
    for (auto first : firsts) {
        SetUp();
        first();
        fake.net_start_error = nullptr;
        strcpy(settings.SERVER, "pop.example.com");
        int hides = fake.main_window_hides; // the sheet hides it once more behind itself
        EXPECT_LE(1, hides);
        EXPECT_EQ(Idle, controller.state);
        int unclosed = fake.net_starts - fake.net_closes;
        dispatch_event(CheckCommand);
        session_ends(mailbox(0));
        dispatch_event(CheckCommand);
        dispatch_event(CheckCommand); // aborts
        EXPECT_EQ(hides, fake.main_window_hides);
        EXPECT_EQ(unclosed, fake.net_starts - fake.net_closes);
    }
}

// The mail program.

TEST_F(CheckScenario, MailProgramHoldsCheckingUntilItEnds)
{
    settings.INTERVAL = 3;
    strcpy(settings.MAILER, "\"C:\\Mail\\mail.exe\" /check");
    first_check_finds(mailbox(2));
    dispatch_event(MailProgramRequest);
    EXPECT_EQ(MailProgramRunning, controller.state);
    EXPECT_EQ("\"C:\\Mail\\mail.exe\" /check", fake.mail_program_command);
    EXPECT_EQ("メールソフトを起動中です", fake.tip);
    EXPECT_EQ(WAIT_ICON, fake.icon);
    EXPECT_FALSE(controller.blinking);
    EXPECT_EQ(MailProgramRunning, fake.menu_state);
    EXPECT_EQ(0, session.message_count);

    ticks(100);
    minutes(10);
    dispatch_event(CheckCommand);
    EXPECT_EQ(1, fake.net_starts);
    EXPECT_EQ(MailProgramRunning, controller.state);

    fake.mail_program_running = false;
    ticks(1);
    EXPECT_EQ(Idle, controller.state);
    EXPECT_EQ("corvina", fake.tip);
    EXPECT_EQ(NORMAL_ICON, fake.icon);
    EXPECT_EQ(1, fake.mail_program_handle_closes);
    EXPECT_EQ(1, fake.heap_compactions);
    minutes(2);
    EXPECT_EQ(1, fake.net_starts);
    minutes(1);
    EXPECT_EQ(2, fake.net_starts);
}

TEST_F(CheckScenario, MailProgramLaunchFailures)
{
    const struct {
        const char* mailer;
        bool fails;
        const char* tip;
        const char* box;
    } rows[] = {
        {"", false, "ﾒｰﾙｿﾌﾄが指定されていません",
         "corvina エラー: メールソフトが設定されていません。"},
        {"missing.exe", true, "ﾒｰﾙｿﾌﾄが起動できません",
         "corvina エラー: メールソフトが起動できません。"},
    };
    first_check_finds(mailbox(0));
    for (const auto& row : rows) {
        fake.error_boxes.clear();
        strcpy(settings.MAILER, row.mailer);
        fake.mail_program_fails_to_start = row.fails;
        dispatch_event(MailProgramRequest);
        EXPECT_EQ(Idle, controller.state);
        EXPECT_EQ(row.tip, fake.tip);
        EXPECT_EQ(ERROR_ICON, fake.icon);
        EXPECT_EQ(std::vector<std::string>{row.box}, fake.error_boxes);
    }
}

TEST_F(CheckScenario, MailProgramFromRetryWaitDropsTheRetry)
{
    settings.RETRY_MAX = 3;
    strcpy(settings.MAILER, "mail.exe");
    Pop3Peer refusing = mailbox(0);
    refusing.refuse = "PASS";
    first_check_finds(refusing);
    ASSERT_EQ(RetryWait, controller.state);
    dispatch_event(MailProgramRequest);
    fake.mail_program_running = false;
    ticks(1);
    EXPECT_EQ(Idle, controller.state);
    ticks(100);
    EXPECT_EQ(1, fake.net_starts);
}

} // namespace
