// Starting the mail program counts as taking note of the news; checking
// rests until the program has ended, and the interval counts afresh then.
// Without a MAILER of its own the program starts the user's default mail
// program; only when there is none either does it ask the user to choose one.
#include "core/mail_program.h"

#include "core/controller.h"
#include "core/main_window.h"
#include "pop3/session.h"
#include "settings/settings.h"
#include "tray/tray.h"

static const char ERROR_CAPTION[] = "corvina エラー";
static const char NOT_STARTED_TIP[] = "ﾒｰﾙｿﾌﾄが起動できません";
static const char NOT_STARTED[] = "メールソフトが起動できません。";

static void launch_failed(const char* tip, const char* message)
{
    tray_set_tip(tip);
    tray_set_icon(ERROR_ICON);
    main_window_error_box(message, ERROR_CAPTION);
}

void launch_mail_program(void)
{
    dispatch_event(Acknowledge);
    // A STOP_IF_MSG hold ends, and mail found later is announced again.
    controller.notified_size = 0;
    session.total_size = 0;
    controller.notified_count = 0;
    session.message_count = 0;
    tray_set_tip("メールソフトを起動中です");
    tray_set_icon(WAIT_ICON);
    int started;
    if (settings.MAILER[0] == '\0')
        started = start_default_mail_program();
    else
        started = start_mail_program(settings.MAILER) ? DEFAULT_MAIL_STARTED : DEFAULT_MAIL_FAILED;
    if (started == DEFAULT_MAIL_STARTED)
        enter_state(MailProgramRunning);
    else if (started == DEFAULT_MAIL_NONE)
        launch_failed("ﾒｰﾙｿﾌﾄが指定されていません",
                      "メールソフトが設定されていません。"
                      "設定シートの「動作設定」のページの「メールソフト」で選んでください。");
    else
        launch_failed(NOT_STARTED_TIP, NOT_STARTED);
}

void mail_program_tick(void)
{
    if (poll_mail_program())
        return;
    tray_set_tip("corvina");
    show_resting_icon();
    main_window_hide();
    heap_compact();
    enter_idle();
}
